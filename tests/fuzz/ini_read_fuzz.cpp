// Reads values from an arbitrary settings file, one key directly and then the whole record.
// Input: section "@@\n" key "@@\n" file bytes; without markers the whole input is the file.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/IniFile.h"
#include "settings/SettingsFile.h"

namespace palisor::fuzz {
namespace {

// Never a value of the file: no file holds a line end inside a value.
constexpr std::string_view kFallback = "fallback\n";

bool HoldsLineEnd(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

void CheckOneKey(std::string_view section, std::string_view key, std::string_view contents,
                 const std::filesystem::path& file) {
  const std::string value = GetProfileString(section, key, kFallback, file);
  if (value != kFallback) {
    FUZZ_CHECK(!HoldsLineEnd(value));
    // A value is a piece of one line of the file, never bytes from elsewhere.
    FUZZ_CHECK(contents.find(value) != std::string_view::npos);
  }
  FUZZ_CHECK(ReadIniValue(section, key, file.string(), kFallback) == value);
  // The load's one-pass reading agrees with the reading of one key.
  FUZZ_CHECK(IniSnapshot(file).Get(section, key, kFallback) == value);
}

// Whatever the file holds, the record meets its clamps.
void CheckWholeRecord(const std::filesystem::path& file) {
  const Settings s = LoadSettings(file.string());
  FUZZ_CHECK(s.TMINT >= 60 && s.TMINT <= 32767);
  FUZZ_CHECK(s.MASK >= 16 && s.MASK <= 32);
  FUZZ_CHECK(s.LISTMAX >= 1);
  for (const ListSettings& list : s.lists) {
    FUZZ_CHECK(!HoldsLineEnd(list.url) && !HoldsLineEnd(list.denyUrl));
  }
  for (const std::string* text : {&s.SVNAME, &s.SVUSER, &s.SVPSWD, &s.SVPATH, &s.SVFILE, &s.LCFILE,
                                  &s.CHARBF, &s.CHARAF, &s.LINESEP}) {
    FUZZ_CHECK(!HoldsLineEnd(*text) || text == &s.LINESEP);
  }
}

}  // namespace
}  // namespace palisor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace palisor::fuzz;
  const auto parts = SplitParts(AsText(data, size));
  const bool named = parts.size() >= 3;
  const std::string_view section = named ? parts[0] : "URL";
  const std::string_view key = named ? parts[1] : "MASK";
  const std::string_view contents = named ? parts[2] : AsText(data, size);

  const std::filesystem::path file = ScratchWorkingDirectory() / "palisor.ini";
  WriteBytes(file, contents);
  CheckOneKey(section, key, contents, file);
  CheckWholeRecord(file);
  return 0;
}
