#include "update/AccessFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/LineReader.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace palisor {
namespace {

std::string Describe(const std::filesystem::path& path, int err) {
  return path.string() + ": " + std::strerror(err);
}

// A group's temporary file, deleted however the group ends.
class TemporaryFile final {
 public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { ::unlink(path_.c_str()); }

  const std::filesystem::path& path() const { return path_; }

  // Truncates first, so a longer file left by an interrupted run adds no lines.
  bool Fill(std::string_view bytes, int& err) const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      err = errno;
      return false;
    }
    bool ok = true;
    while (ok && !bytes.empty()) {
      const ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n >= 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (errno != EINTR) {
        err = errno;
        ok = false;
      }
    }
    if (::close(fd) != 0 && ok) {
      err = errno;
      ok = false;
    }
    return ok;
  }

 private:
  std::filesystem::path path_;
};

enum class LineFormat {
  kCountry,  // a complete line of the access file, only its spaces trimmed
  kAddress,  // an address wrapped between CHARBF + ... + maskSuffix + CHARAF
};

std::string NormalisedPrefix(std::string_view charbf, bool joinWithoutSpace) {
  const std::string_view text = TrimSpaces(charbf);
  if (text.empty() || joinWithoutSpace) {
    return std::string(text);
  }
  return std::string(text) + ' ';
}

std::string NormalisedSuffix(std::string_view charaf, bool joinWithoutSpace) {
  const std::string_view text = TrimSpaces(charaf);
  if (text.empty() || joinWithoutSpace) {
    return std::string(text);
  }
  return ' ' + std::string(text);
}

bool CountryGroupEnabled(const Settings& s) {
  // The sum, not "any non-zero", decides, as it always has; int avoids 16-bit overflow.
  const int sum = int{s.IPG_JP} + s.IPG_CN + s.IPG_HK + s.IPG_TW + s.IPG_KR;
  return sum > 0;
}

// One generation: the output being written and the list-line count shared by all groups.
class Generation final {
 public:
  // The settings are copied: the settings dialog stays usable during a run, and confirming
  // it must not change the format halfway through the file.
  Generation(AtomicFile& out, Settings& record, Host& host)
      : out_(out), record_(record), settings_(record), host_(host) {}

  StageResult Run(std::string countryText, std::string proxyText, std::string overseasText) {
    if (StageResult head = CopyUserFile(kHeadFile); !head.ok()) {
      return head;
    }
    PrepareAffixes();
    if (CountryGroupEnabled(settings_)) {
      StageResult country = WriteGroup(std::move(countryText), kCountryTemp, LineFormat::kCountry);
      if (!country.ok()) {
        return country;
      }
    }
    if (settings_.MODE1 || settings_.MODE2 || settings_.MODE3) {
      StageResult proxy = WriteGroup(std::move(proxyText), kProxyTemp, LineFormat::kAddress);
      if (!proxy.ok()) {
        return proxy;
      }
    }
    if (!overseasText.empty() && (settings_.MODE4 || settings_.MODE5 || settings_.MODE6)) {
      StageResult overseas =
          WriteGroup(std::move(overseasText), kOverseasTemp, LineFormat::kAddress);
      if (!overseas.ok()) {
        return overseas;
      }
    }
    return CopyUserFile(kTailFile);
  }

 private:
  // Copies a user file line by line; a file that cannot be opened is left out silently.
  StageResult CopyUserFile(const char* name) {
    const std::filesystem::path path = NativePath(name);
    int err = 0;
    auto reader = LineReader::Open(path, LineReader::Ends::kCrOrCrLf, err);
    if (!reader) {
      return StageResult::Ok();
    }
    std::string_view line;
    for (;;) {
      const LineReader::Result got = reader->Next(line);
      if (got == LineReader::Result::kEnd) {
        return StageResult::Ok();
      }
      if (got == LineReader::Result::kError) {
        return StageResult::Failed(Describe(path, reader->error()));
      }
      if (!host_.ProcessEvents()) {
        return StageResult::Abandoned();
      }
      if (!(out_.Write(line) && out_.Write(settings_.LINESEP))) {
        return OutputFailed();
      }
    }
  }

  // The record keeps the normalised forms, of what it holds now, so an edit made meanwhile
  // is not lost; a later save writes them.
  void PrepareAffixes() {
    maskSuffix_ = settings_.MASK == 32 ? std::string() : '/' + std::to_string(settings_.MASK);
    record_.CHARBF = NormalisedPrefix(record_.CHARBF, settings_.SPC_PREV);
    record_.CHARAF = NormalisedSuffix(record_.CHARAF, settings_.SPC_NEXT);
    settings_.CHARBF = record_.CHARBF;
    settings_.CHARAF = record_.CHARAF;
  }

  StageResult WriteGroup(std::string text, const char* tempName, LineFormat format) {
    if (CapReached()) {
      return StageResult::Ok();
    }
    // Splitting goes through a file so the group's text can be released before the lines
    // are written: a huge list is held once, not twice.
    const TemporaryFile temp(NativePath(tempName));
    int err = 0;
    if (!temp.Fill(text, err)) {
      return StageResult::Failed(Describe(temp.path(), err));
    }
    std::string().swap(text);
    auto reader = LineReader::Open(temp.path(), LineReader::Ends::kAny, err);
    if (!reader) {
      return StageResult::Failed(Describe(temp.path(), err));
    }
    std::string_view line;
    while (!CapReached()) {
      const LineReader::Result got = reader->Next(line);
      if (got == LineReader::Result::kEnd) {
        break;
      }
      if (got == LineReader::Result::kError) {
        return StageResult::Failed(Describe(temp.path(), reader->error()));
      }
      // "deny from" without an address makes Apache reject the whole file.
      if (format == LineFormat::kAddress && TrimBlanks(line).empty()) {
        continue;
      }
      if (!WriteListLine(TrimSpaces(line), format)) {
        return OutputFailed();
      }
      ++lineNo_;
      if (!host_.ProcessEvents()) {
        return StageResult::Abandoned();
      }
      host_.SetCaption(ProgressCaption());
    }
    return StageResult::Ok();
  }

  bool WriteListLine(std::string_view trimmed, LineFormat format) {
    if (format == LineFormat::kCountry) {
      return out_.Write(trimmed) && out_.Write(settings_.LINESEP);
    }
    return out_.Write(settings_.CHARBF) && out_.Write(trimmed) && out_.Write(maskSuffix_) &&
           out_.Write(settings_.CHARAF) && out_.Write(settings_.LINESEP);
  }

  bool CapReached() const { return lineNo_ > settings_.LISTMAX; }

  // "解析中(" n "件)", composed in place: it is shown after every one of maybe a million lines.
  std::string_view ProgressCaption() {
    static constexpr std::string_view kOpen = "解析中(";
    static constexpr std::string_view kClose = "件)";
    char* const first = caption_.data();
    char* const last = first + caption_.size();
    char* p = std::copy(kOpen.begin(), kOpen.end(), first);
    p = std::to_chars(p, last, lineNo_).ptr;
    p = std::copy(kClose.begin(), kClose.end(), p);
    return {first, static_cast<std::size_t>(p - first)};
  }

  // The write error sticks in the output file; committing reports it and removes the temporary.
  StageResult OutputFailed() {
    std::string error;
    out_.Commit(error);
    return out_.abandoned() ? StageResult::Abandoned() : StageResult::Failed(error);
  }

  AtomicFile& out_;
  Settings& record_;
  Settings settings_;
  Host& host_;
  // 64 bits: LISTMAX may be the largest 32-bit number, and the count goes one past it.
  std::int64_t lineNo_ = 1;
  std::string maskSuffix_;
  std::array<char, 48> caption_{};
};

}  // namespace

StageResult WriteAccessFile(std::string countryText, std::string proxyText,
                            std::string overseasText, Settings& settings, Host& host,
                            std::chrono::milliseconds outputStallLimit) {
  std::string error;
  auto out = AtomicFile::Open(NativePath(TrimSpaces(settings.LCFILE)), error);
  if (!out) {
    return StageResult::Failed(error);
  }
  out->LimitWaits(outputStallLimit, [&host] { return host.ProcessEvents(); });
  Generation generation(*out, settings, host);
  StageResult result =
      generation.Run(std::move(countryText), std::move(proxyText), std::move(overseasText));
  if (!result.ok()) {
    return result;
  }
  if (!out->Commit(error)) {
    return out->abandoned() ? StageResult::Abandoned() : StageResult::Failed(error);
  }
  return StageResult::Ok();
}

}  // namespace palisor
