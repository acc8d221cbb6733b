#pragma once

// Addresses and networks gathered from lists, written back as the fewest networks that cover
// exactly the same addresses. Apache parses an access file on every request, so each entry
// left out is time saved on every page the site serves.

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "update/ListLines.h"

namespace palisor {

// The broadest networks written: no broader than a list may give (ListLines.h), so merging
// never makes a network Apache or the list rules would not take.
inline constexpr int kWidestIpv4Prefix = 8;
inline constexpr int kWidestIpv6Prefix = 16;

class NetworkSet final {
 public:
  // An address or network the list rules accepted. `ipv4Bits` below 32 widens a single IPv4
  // address into its network of that many bits (MASK); a network keeps its own length.
  void Add(const ListedAddress& address, int ipv4Bits = 32);

  bool empty() const { return ipv4_.empty() && ipv6_.empty(); }

  // Hands `each` the fewest networks covering what was added, IPv4 before IPv6, each in
  // ascending order, a single address without "/32" or "/128", until it returns false (and
  // then returns false). Empties the set.
  using EachNetwork = std::function<bool(std::string_view network)>;
  bool TakeMerged(const EachNetwork& each);

  // A span of addresses, both ends included. IPv4 spans are kept at 8 bytes: a list of a
  // million addresses is held alongside its own text.
  template <typename Value>
  struct Span {
    Value first;
    Value last;
  };
  __extension__ using Ipv6Value = unsigned __int128;

 private:
  std::vector<Span<std::uint32_t>> ipv4_;
  std::vector<Span<Ipv6Value>> ipv6_;
};

}  // namespace palisor
