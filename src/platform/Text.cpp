#include "platform/Text.h"

#include <algorithm>
#include <new>
#include <string>

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

// A fresh string takes the room asked for exactly; reserve() on a used one would double it.
void GrowTo(std::string& text, std::size_t room) {
  std::string grown;
  grown.reserve(room);
  grown.append(text);
  text.swap(grown);
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

// ASCII letters only: the locale, which Qt sets, must not change what a key or a
// directive means.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [&lower](char a, char b) { return lower(a) == lower(b); });
}

std::string EscapeBytes(std::string_view text, std::string_view alsoEscaped) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '\\' || alsoEscaped.find(c) != std::string_view::npos) {
      escaped += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    } else {
      escaped += c;
    }
  }
  return escaped;
}

Appended AppendWithin(std::string& text, std::string_view piece, std::size_t limit) {
  if (piece.size() > limit - text.size()) {
    return Appended::kPastLimit;
  }
  const std::size_t needed = text.size() + piece.size();
  try {
    if (needed > text.capacity()) {
      GrowTo(text, std::min(limit, std::max(needed, 2 * text.capacity())));
    }
    text.append(piece);
  } catch (const std::bad_alloc&) {
    return Appended::kOutOfMemory;
  }
  return Appended::kOk;
}

}  // namespace palisor
