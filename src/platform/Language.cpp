#include "platform/Language.h"

#include <cstdlib>
#include <string_view>

namespace palisor {
namespace {

// The locale's language code: "en" of "en_US.UTF-8", "C" of "C.UTF-8", "sr" of "sr@latin".
std::string_view LanguageCode(std::string_view locale) {
  return locale.substr(0, locale.find_first_of("_.@"));
}

bool KeepsJapanese(std::string_view locale) {
  const std::string_view code = LanguageCode(locale);
  return code == "ja" || code == "C" || code == "POSIX";
}

// The first variable set to a value, as gettext reads them; LANGUAGE is a list of choices.
std::string_view ChosenLocale(const EnvironmentLookup& lookup) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = lookup(name);
    if (value == nullptr || *value == '\0') {
      continue;
    }
    std::string_view locale(value);
    if (std::string_view(name) == "LANGUAGE") {
      locale = locale.substr(0, locale.find(':'));
      if (locale.empty()) {
        continue;
      }
    }
    return locale;
  }
  return "C";
}

}  // namespace

Language LanguageOf(const EnvironmentLookup& lookup) {
  return KeepsJapanese(ChosenLocale(lookup)) ? Language::kJapanese : Language::kEnglish;
}

Language DesktopLanguage() {
  return LanguageOf([](const char* name) { return std::getenv(name); });
}

}  // namespace palisor
