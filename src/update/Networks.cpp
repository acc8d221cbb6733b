#include "update/Networks.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <utility>

namespace palisor {
namespace {

using Ipv6Value = NetworkSet::Ipv6Value;
template <typename Value>
using Span = NetworkSet::Span<Value>;

constexpr int kIpv4Width = 32;
constexpr int kIpv6Width = 128;

// The lowest `count` bits set, for 0 <= count < the width of Value.
template <typename Value>
constexpr Value LowBits(int count) {
  return count == 0 ? Value{0} : Value(~Value{0}) >> (int{sizeof(Value)} * 8 - count);
}

template <typename Value>
Span<Value> NetworkSpan(Value address, int width, int bits) {
  const Value host = bits == 0 ? Value(~Value{0}) : LowBits<Value>(width - bits);
  return {Value(address & ~host), Value(address | host)};
}

int TrailingZeros(std::uint32_t value) {
  return value == 0 ? kIpv4Width : __builtin_ctz(value);
}

int TrailingZeros(Ipv6Value value) {
  const auto low = static_cast<std::uint64_t>(value);
  if (low != 0) {
    return __builtin_ctzll(low);
  }
  const auto high = static_cast<std::uint64_t>(value >> 64);
  return high == 0 ? kIpv6Width : 64 + __builtin_ctzll(high);
}

// The address text the list rules accepted, as a number.
template <typename Value>
Value Parse(std::string_view text, int family) {
  std::array<char, INET6_ADDRSTRLEN> buffer{};
  std::copy(text.begin(), text.begin() + std::min(text.size(), buffer.size() - 1), buffer.begin());
  std::array<unsigned char, 16> bytes{};
  inet_pton(family, buffer.data(), bytes.data());
  Value value = 0;
  const std::size_t length = family == AF_INET ? 4 : 16;
  for (std::size_t i = 0; i < length; ++i) {
    value = Value(value << 8) | bytes[i];
  }
  return value;
}

int PrefixBits(std::string_view prefix, int whole) {
  int bits = whole;
  if (!prefix.empty()) {
    std::from_chars(prefix.data() + 1, prefix.data() + prefix.size(), bits);
  }
  return bits;
}

// Formats networks into one buffer: a merged list may hold a million of them.
class NetworkText final {
 public:
  std::string_view Of(std::uint32_t value, int bits) {
    char* p = text_.data();
    for (int shift = 24; shift >= 0; shift -= 8) {
      p = std::to_chars(p, End(), (value >> shift) & 0xFF).ptr;
      if (shift != 0) {
        *p++ = '.';
      }
    }
    return WithPrefix(p, bits, kIpv4Width);
  }

  std::string_view Of(Ipv6Value value, int bits) {
    std::array<unsigned char, 16> bytes{};
    for (int i = 15; i >= 0; --i, value >>= 8) {
      bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(value & 0xFF);
    }
    inet_ntop(AF_INET6, bytes.data(), text_.data(), INET6_ADDRSTRLEN);
    return WithPrefix(text_.data() + std::char_traits<char>::length(text_.data()), bits,
                      kIpv6Width);
  }

 private:
  char* End() { return text_.data() + text_.size(); }
  std::string_view WithPrefix(char* p, int bits, int width) {
    if (bits != width) {
      *p++ = '/';
      p = std::to_chars(p, End(), bits).ptr;
    }
    return {text_.data(), static_cast<std::size_t>(p - text_.data())};
  }

  std::array<char, INET6_ADDRSTRLEN + 8> text_{};
};

// Splits one span into the fewest aligned networks, each at most `widest` bits broad, from
// the lowest address up.
template <typename Value>
bool HandNetworks(Value first, Value last, int width, int widest,
                  const NetworkSet::EachNetwork& each, NetworkText& text) {
  for (;;) {
    int hostBits = std::min(TrailingZeros(first), width - widest);
    while (hostBits > 0 && Value(first | LowBits<Value>(hostBits)) > last) {
      --hostBits;
    }
    const Value blockLast = first | LowBits<Value>(hostBits);
    if (!each(text.Of(first, width - hostBits))) {
      return false;
    }
    if (blockLast >= last) {
      return true;
    }
    first = blockLast + 1;
  }
}

// Duplicates, networks inside others and neighbours all fall out of joining the spans that
// overlap or touch once they are sorted.
template <typename Value>
bool HandMerged(std::vector<Span<Value>> spans, int width, int widest,
                const NetworkSet::EachNetwork& each, NetworkText& text) {
  std::sort(spans.begin(), spans.end(),
            [](const Span<Value>& a, const Span<Value>& b) { return a.first < b.first; });
  constexpr Value kTop = Value(~Value{0});
  for (std::size_t i = 0; i < spans.size();) {
    const Value first = spans[i].first;
    Value last = spans[i].last;
    for (++i; i < spans.size() && (last == kTop || spans[i].first <= last + 1); ++i) {
      last = std::max(last, spans[i].last);
    }
    if (!HandNetworks(first, last, width, widest, each, text)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void NetworkSet::Add(const ListedAddress& address, int ipv4Bits) {
  if (address.ipv6) {
    ipv6_.push_back(NetworkSpan(Parse<Ipv6Value>(address.address, AF_INET6), kIpv6Width,
                                PrefixBits(address.prefix, kIpv6Width)));
  } else {
    ipv4_.push_back(NetworkSpan(Parse<std::uint32_t>(address.address, AF_INET), kIpv4Width,
                                PrefixBits(address.prefix, ipv4Bits)));
  }
}

bool NetworkSet::TakeMerged(const EachNetwork& each) {
  NetworkText text;
  auto ipv4 = std::exchange(ipv4_, {});
  auto ipv6 = std::exchange(ipv6_, {});
  return HandMerged(std::move(ipv4), kIpv4Width, kWidestIpv4Prefix, each, text) &&
         HandMerged(std::move(ipv6), kIpv6Width, kWidestIpv6Prefix, each, text);
}

}  // namespace palisor
