// A sequence of writes into an arbitrary settings file, each followed by reads: every value
// written reads back as written (less its surrounding blanks and one pair of quotes), every
// key not written reads back as before, and a refused write (a CR or LF in a name or value)
// leaves the file byte for byte as it was.
// Input: the file's bytes, then per write "@@\n" + section byte + key byte + value.

#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "FuzzSupport.h"
#include "platform/IniFile.h"

namespace palisor::fuzz {
namespace {

// Names in a few spellings, so that case-blind matching is exercised; the last of each
// holds a line end and must be refused.
constexpr std::array<std::string_view, 6> kSections = {"FTP", "ftp", "A", "a", "Sec2", "A\r"};
constexpr std::array<std::string_view, 6> kKeys = {"k", "K", "SVNAME", "x_1", "svname", "k\n"};

// Never a value of the file: no value holds a line end.
constexpr std::string_view kAbsent = "absent\n";

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

using Name = std::pair<std::string, std::string>;  // section and key, lower case

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// What reading gives back for a written value.
std::string AsRead(std::string_view value) {
  while (!value.empty() && IsBlank(value.front()))
    value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back()))
    value.remove_suffix(1);
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\'')) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

bool HoldsLineEnd(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The value of every probe name, as read now.
std::map<Name, std::string> ReadAll(const std::filesystem::path& file) {
  std::map<Name, std::string> values;
  for (const auto section : kSections) {
    for (const auto key : kKeys) {
      const std::string value = GetProfileString(section, key, kAbsent, file);
      const Name name{Lower(section), Lower(key)};
      // Two spellings of one name must agree.
      const auto [where, added] = values.emplace(name, value);
      FUZZ_CHECK(added || where->second == value);
    }
  }
  return values;
}

}  // namespace
}  // namespace palisor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace palisor::fuzz;
  const auto parts = SplitParts(AsText(data, size));
  const std::filesystem::path file = ScratchWorkingDirectory() / "palisor.ini";
  WriteBytes(file, parts[0]);

  const auto before = ReadAll(file);
  std::map<Name, std::string> written;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view write = parts[i];
    if (write.size() < 2) {
      continue;
    }
    const std::string_view section = kSections[static_cast<unsigned char>(write[0]) % 6];
    const std::string_view key = kKeys[static_cast<unsigned char>(write[1]) % 6];
    const std::string_view value = write.substr(2);
    const std::string bytesBefore = ReadBytes(file);

    std::string error;
    auto document = palisor::IniDocument::Read(file, error);
    FUZZ_CHECK(document.has_value());
    const bool ok = document->Set(section, key, value) && document->Save(error);
    if (HoldsLineEnd(section) || HoldsLineEnd(key) || HoldsLineEnd(value)) {
      FUZZ_CHECK(!ok);
      FUZZ_CHECK(ReadBytes(file) == bytesBefore);
      continue;
    }
    FUZZ_CHECK(ok);
    written[{Lower(section), Lower(key)}] = AsRead(value);

    for (const auto& [name, now] : ReadAll(file)) {
      const auto wasWritten = written.find(name);
      FUZZ_CHECK(now == (wasWritten != written.end() ? wasWritten->second : before.at(name)));
    }
  }
  return 0;
}
