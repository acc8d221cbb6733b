#pragma once

#include <functional>

namespace palisor {

// The interface's two languages: Japanese, as the program was written, and English.
enum class Language { kJapanese, kEnglish };

// The locale variables' values, as getenv gives them (nullptr for one not set).
using EnvironmentLookup = std::function<const char*(const char*)>;

// The first of LANGUAGE (its first entry), LC_ALL, LC_MESSAGES and LANG that is set decides:
// Japanese for a Japanese locale, for the C and POSIX locales and when none is set; English
// for any other.
Language LanguageOf(const EnvironmentLookup& lookup);

// The language of this process's environment.
Language DesktopLanguage();

}  // namespace palisor
