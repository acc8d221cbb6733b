#include "platform/KnownHosts.h"

#include <cstdint>
#include <vector>

namespace palisor {
namespace {

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) {
      group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    if (left > 2) {
      group |= static_cast<unsigned char>(bytes[i + 2]);
    }
    text += kDigits[group >> 18 & 63];
    text += kDigits[group >> 12 & 63];
    text += left > 1 ? kDigits[group >> 6 & 63] : '=';
    text += left > 2 ? kDigits[group & 63] : '=';
  }
  return text;
}

// The key type a key in SSH wire format names first ("ssh-ed25519", ...): a 32-bit
// big-endian length and that many bytes.
std::string_view KeyType(std::string_view key) {
  if (key.size() < 4) {
    return {};
  }
  std::size_t length = 0;
  for (int i = 0; i < 4; ++i) {
    length = length << 8 | static_cast<unsigned char>(key[i]);
  }
  return length <= key.size() - 4 ? key.substr(4, length) : std::string_view{};
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (!line.empty()) {
    const std::size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) {
      break;
    }
    line.remove_prefix(start);
    const std::size_t end = line.find_first_of(" \t\r");
    fields.push_back(line.substr(0, end));
    line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  }
  return fields;
}

bool NamesHost(std::string_view hosts, std::string_view hostName) {
  while (!hosts.empty()) {
    const std::size_t comma = hosts.find(',');
    if (hosts.substr(0, comma) == hostName) {
      return true;
    }
    hosts.remove_prefix(comma == std::string_view::npos ? hosts.size() : comma + 1);
  }
  return false;
}

}  // namespace

HostKeyMatch MatchHostKey(std::string_view knownHosts, std::string_view hostName,
                          std::string_view key) {
  const std::string_view type = KeyType(key);
  const std::string encoded = Base64(key);
  HostKeyMatch match = HostKeyMatch::kUnknown;
  while (!knownHosts.empty()) {
    const std::size_t end = knownHosts.find('\n');
    const std::vector<std::string_view> fields = Fields(knownHosts.substr(0, end));
    knownHosts.remove_prefix(end == std::string_view::npos ? knownHosts.size() : end + 1);
    if (fields.size() < 3 || fields[0].starts_with('#') || fields[0].starts_with('@') ||
        !NamesHost(fields[0], hostName)) {
      continue;
    }
    if (fields[1] == type && fields[2] == encoded) {
      return HostKeyMatch::kKnown;
    }
    match = HostKeyMatch::kChanged;
  }
  return match;
}

std::string KnownHostsLine(std::string_view hostName, std::string_view key) {
  return std::string(hostName) + " " + std::string(KeyType(key)) + " " + Base64(key) + "\n";
}

}  // namespace palisor
