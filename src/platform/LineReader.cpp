#include "platform/LineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace palisor {

std::optional<LineReader> LineReader::Open(const std::filesystem::path& path, int& error,
                                           std::size_t chunkSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return std::nullopt;
  }
  LineReader reader(fd, std::max<std::size_t>(chunkSize, 1));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = errno;
    return std::nullopt;
  }
  // A folder opens for reading here but is no text file to copy.
  if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
    return std::nullopt;
  }
  return reader;
}

LineReader::LineReader(int fd, std::size_t chunkSize)
    : fd_(fd), chunkSize_(chunkSize), buffer_(2 * chunkSize, '\0') {}

LineReader::LineReader(LineReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      chunkSize_(other.chunkSize_),
      buffer_(std::move(other.buffer_)),
      begin_(other.begin_),
      end_(other.end_),
      atEof_(other.atEof_),
      error_(other.error_) {}

LineReader::~LineReader() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

// The next byte at or after `from` that ends a line: a CR, alone or before an LF.
std::size_t LineReader::FindLineEnd(std::string_view data, std::size_t from) const {
  return data.find('\r', from);
}

LineReader::Result LineReader::Next(std::string_view& line) {
  std::size_t scanFrom = begin_;
  for (;;) {
    const std::string_view data(buffer_.data(), end_);
    const std::size_t stop = FindLineEnd(data, scanFrom);
    if (stop != std::string_view::npos) {
      // A CR at the end of what was read may be the first half of a CR LF.
      const bool mayBeCrLf = data[stop] == '\r' && stop + 1 == end_ && !atEof_;
      if (!mayBeCrLf) {
        line = data.substr(begin_, stop - begin_);
        begin_ = stop + 1;
        if (data[stop] == '\r' && begin_ < end_ && data[begin_] == '\n') {
          ++begin_;
        }
        return Result::kLine;
      }
      scanFrom = stop;
    } else if (atEof_) {
      if (begin_ == end_) {
        return Result::kEnd;
      }
      line = data.substr(begin_);
      begin_ = end_;
      return Result::kLine;
    } else {
      scanFrom = end_;
    }
    if (!Fill(scanFrom)) {
      return Result::kError;
    }
  }
}

bool LineReader::Fill(std::size_t& scanFrom) {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    scanFrom -= begin_;
    begin_ = 0;
  }
  // Only a line longer than a chunk makes the buffer grow.
  if (buffer_.size() - end_ < chunkSize_) {
    buffer_.resize(std::max(2 * buffer_.size(), end_ + chunkSize_));
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n >= 0) {
      end_ += static_cast<std::size_t>(n);
      atEof_ = n == 0;
      return true;
    }
    if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

}  // namespace palisor
