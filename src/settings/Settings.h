#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace palisor {

// The settings file, relative to the working directory as the program has always kept it.
inline constexpr const char* kSettingsFile = ".\\palisor.ini";

// The access file when LCFILE names none.
inline constexpr const char* kDefaultOutputFile = ".\\htaccess.txt";

// The five countries, in the order they are fetched, stored and shown; a country's number is
// also its row of kListSources.
enum Country : int { kJapan, kChina, kHongKong, kTaiwan, kKorea, kCountryCount };

// The rows of kListSources after the countries.
enum AddressListRow : int {
  kAnonymousList = kCountryCount,
  kNonAnonymousList,
  kSquidList,
  kRussia1List,
  kRussia2List,
  kCanadaList,
};

// Country modes.
inline constexpr std::int16_t kModeUnspecified = 0;
inline constexpr std::int16_t kModeAllow = 1;
inline constexpr std::int16_t kModeDeny = 2;

// PERLINE's range, and its value when absent for the native "Require" form: one "Require not
// ip" a line costs Apache the square of the line count on every request.
inline constexpr std::int32_t kPerLineMin = 1;
inline constexpr std::int32_t kPerLineMax = 500;
inline constexpr std::int32_t kPerLineForRequire = 100;

enum class ListGroup { kCountry, kProxy, kOverseas };

// One of the eleven lists and its keys. A country has an allow list and a deny list and a
// mode choosing between them ([CNT]); the others have one address and an on/off flag ([URL]).
struct ListSource {
  std::string_view name;     // for messages: "Anonymous", "Japan", ...
  std::string_view caption;  // shown while the list downloads
  ListGroup group;
  std::string_view modeKey;          // "MODE1", "IPG_JP"
  std::string_view urlKey;           // "URL1"; a country's allow list, "IPG_JP_URL1"
  std::string_view denyUrlKey;       // a country's deny list, "IPG_JP_URL2"; empty for the others
  std::string_view defaultFile;      // under the placeholder list folder
  std::string_view defaultDenyFile;  // a country's deny list
  std::int16_t defaultMode;          // only Anonymous starts on; every country starts at 0
};

inline constexpr std::size_t kListCount = 11;

// The five countries (in Country order), then Anonymous, Non-Anonymous, Squid, Russia 1,
// Russia 2 and Canada: the order the lists are fetched and written in.
extern const std::array<ListSource, kListCount> kListSources;

// The section a list's keys live in: "CNT" for a country, "URL" for the others.
std::string_view SectionOf(const ListSource& source);

// One list's settings, in the row of its kListSources entry.
struct ListSettings {
  std::string url;      // the address; a country's allow list
  std::string denyUrl;  // a country's deny list
  // On (1) or off (0); a country's mode as read (kModeAllow, kModeDeny, or anything else).
  std::int16_t mode = 0;

  bool operator==(const ListSettings&) const = default;
};

// What an upload does with lines of the site owner's own in the live file: lines neither in
// what Palisor last published there nor in the new file.
enum class OtherLines {
  kAsk,      // absent or anything else: the upload is refused until the owner chooses
  kKeep,     // "keep": Palisor replaces only its own block and leaves every other byte
  kReplace,  // "replace": the whole file is replaced
};

// OTHERLINES as written: "keep" or "replace" in any case, around spaces; anything else asks.
OtherLines ReadOtherLines(std::string_view text);
// The word a choice is written as ("ask" for kAsk, which any other word means too).
std::string_view OtherLinesText(OtherLines choice);

// Every setting of palisor.ini, converted and clamped. Text is kept as the file's bytes.
struct Settings {
  // [FTP]
  std::string SVNAME;
  std::string SVUSER;
  std::string SVPSWD;
  std::string SVPATH;
  std::string SVFILE;
  std::string LCFILE;
  bool FTPSW = false;
  std::string CHECKURL;  // asked before and after an upload; empty: no check
  std::string CAFILE;    // PEM certificates trusted beside the system's store; empty: none
  OtherLines OTHERLINES = OtherLines::kAsk;
  // [EDIT]
  std::string CHARBF;
  std::string CHARAF;
  std::string LINESEP;  // the decoded separator, not its code
  // Proxy and overseas addresses, and a country list's bare addresses, to a line: 1 ... 500;
  // 0 when absent, which leaves the choice to the form of CHARBF (see PerLineFor).
  std::int32_t PERLINE = 0;
  bool MERGE = false;  // written as the fewest networks that cover the same addresses
  // [ETC]
  bool SPC_PREV = false;
  bool SPC_NEXT = false;
  std::int32_t TMINT = 0;
  // [URL]
  std::int32_t LISTMAX = 0;
  std::int32_t MASK = 0;
  // [URL] and [CNT]: the eleven lists, in kListSources order.
  std::array<ListSettings, kListCount> lists;

  bool operator==(const Settings&) const = default;
};

// Whether the list in row `row` is fetched: on, or a country with any mode but 0.
bool ListEnabled(const Settings& settings, std::size_t row);

// The address row `row` is fetched from, as held in the settings (not trimmed); empty for a
// country whose mode is neither allow nor deny.
const std::string& ListAddress(const Settings& settings, std::size_t row);

// Whether CHARBF begins with the word "Require" (any case): Apache 2.4's native form.
bool IsRequireForm(std::string_view charbf);

// PERLINE as given, or when absent 1 (one address a line), or kPerLineForRequire for the
// Require form.
std::int32_t PerLineFor(const Settings& s);

// The program-wide shared state: the settings the window, its dialogs and its runs share.
struct Module1 {
  Settings settings;
};

}  // namespace palisor
