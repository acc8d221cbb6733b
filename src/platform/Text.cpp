#include "platform/Text.h"

#include <algorithm>
#include <cctype>

namespace palisor {
namespace {

std::string_view TrimAny(std::string_view text, std::string_view chars) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string_view TrimSpaces(std::string_view text) {
  return TrimAny(text, " ");
}

std::string_view TrimBlanks(std::string_view text) {
  return TrimAny(text, " \t");
}

bool IsBlank(std::string_view text) {
  return TrimSpaces(text).empty();
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace palisor
