#include "platform/Language.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace palisor {
namespace {

struct Row {
  std::map<std::string, std::string> environment;
  Language expected;
};

TEST(Language, FirstLocaleVariableSetDecides) {
  const Row rows[] = {
      {{}, Language::kJapanese},
      {{{"LANG", "ja_JP.UTF-8"}}, Language::kJapanese},
      {{{"LANG", "ja"}}, Language::kJapanese},
      {{{"LANG", "C"}}, Language::kJapanese},
      {{{"LANG", "C.UTF-8"}}, Language::kJapanese},
      {{{"LANG", "C.utf8"}}, Language::kJapanese},
      {{{"LANG", "POSIX"}}, Language::kJapanese},
      {{{"LANG", "en_US.UTF-8"}}, Language::kEnglish},
      {{{"LANG", "de_DE@euro"}}, Language::kEnglish},
      {{{"LANG", "jam"}}, Language::kEnglish},  // Jamaican Creole, not Japanese
      // Earlier variables win over later ones; an empty one is not set.
      {{{"LC_MESSAGES", "en_GB.UTF-8"}, {"LANG", "ja_JP.UTF-8"}}, Language::kEnglish},
      {{{"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}, Language::kJapanese},
      {{{"LC_ALL", ""}, {"LANG", "fr_FR.UTF-8"}}, Language::kEnglish},
      {{{"LANGUAGE", "en:ja"}, {"LC_ALL", "ja_JP.UTF-8"}}, Language::kEnglish},
      {{{"LANGUAGE", "ja:en"}, {"LANG", "en_US.UTF-8"}}, Language::kJapanese},
      {{{"LANGUAGE", ":en"}, {"LANG", "ja_JP.UTF-8"}}, Language::kJapanese},
  };
  for (const Row& row : rows) {
    const auto lookup = [&row](const char* name) -> const char* {
      const auto found = row.environment.find(name);
      return found == row.environment.end() ? nullptr : found->second.c_str();
    };
    std::string described;
    for (const auto& [name, value] : row.environment) {
      described += name + "=" + value + " ";
    }
    EXPECT_EQ(LanguageOf(lookup), row.expected) << described;
  }
}

}  // namespace
}  // namespace palisor
