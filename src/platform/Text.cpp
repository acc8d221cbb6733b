#include "platform/Text.h"

#include <algorithm>

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

bool StartsWithNoCase(std::string_view text, std::string_view lower) {
  return text.size() >= lower.size() && std::equal(lower.begin(), lower.end(), text.begin(),
                                                   [](char l, char c) { return (c | 0x20) == l; });
}

}  // namespace palisor
