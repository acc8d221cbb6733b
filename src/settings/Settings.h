#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace palisor {

// The settings file, relative to the working directory as the program has always kept it.
inline constexpr const char* kSettingsFile = ".\\palisor.ini";

// The five countries, in the order they are fetched, stored and shown.
enum Country : int { kJapan, kChina, kHongKong, kTaiwan, kKorea, kCountryCount };

// Country modes: the index into a country's row of countryListUrls.
inline constexpr std::int16_t kModeUnspecified = 0;
inline constexpr std::int16_t kModeAllow = 1;
inline constexpr std::int16_t kModeDeny = 2;

// PERLINE's range, and its value when absent for the native "Require" form: one "Require not
// ip" a line costs Apache the square of the line count on every request.
inline constexpr std::int32_t kPerLineMin = 1;
inline constexpr std::int32_t kPerLineMax = 500;
inline constexpr std::int32_t kPerLineForRequire = 100;

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
  // [EDIT]
  std::string CHARBF;
  std::string CHARAF;
  std::string LINESEP;  // the decoded separator, not its code
  // Proxy and overseas addresses, and a country list's bare addresses, to a line: 1 ... 500;
  // 0 when absent, which leaves the choice to the form of CHARBF (see PerLineFor).
  std::int32_t PERLINE = 0;
  bool MERGE = false;  // written as the fewest networks that cover the same addresses
  // [ETC]
  bool HOST2IP = false;
  bool SPC_PREV = false;
  bool SPC_NEXT = false;
  std::int32_t TMINT = 0;
  // [URL]
  std::string URL1, URL2, URL3, URL4, URL5, URL6;
  bool MODE1 = false, MODE2 = false, MODE3 = false, MODE4 = false, MODE5 = false, MODE6 = false;
  std::int32_t LISTMAX = 0;
  std::int32_t MASK = 0;
  // [CNT]
  std::int16_t IPG_JP = 0, IPG_CN = 0, IPG_HK = 0, IPG_TW = 0, IPG_KR = 0;
  // Per country: index 0 unused (mode 0 fetches nothing), 1 the allow list, 2 the deny list.
  std::array<std::array<std::string, 3>, kCountryCount> countryListUrls;

  std::int16_t& CountryMode(Country c);
  std::int16_t CountryMode(Country c) const;
};

// Whether CHARBF begins with the word "Require" (any case): Apache 2.4's native form.
bool IsRequireForm(std::string_view charbf);

// PERLINE as given, or when absent 1 (one address a line), or kPerLineForRequire for the
// Require form.
std::int32_t PerLineFor(const Settings& s);

// The program-wide shared state: the settings and the countdown to the next automatic run.
struct Module1 {
  Settings settings;
  std::int32_t secondsLeft = 0;
};

}  // namespace palisor
