#pragma once

// The SSH host keys trusted, in OpenSSH's known-hosts format: "[host]:port" on a port other
// than 22, so that two servers on one host keep a key each. libcurl's own check would find
// a port-less line for any port and records its lines without the port.

#include <string>
#include <string_view>

namespace palisor {

enum class HostKeyMatch {
  kKnown,    // the file holds this key for the host
  kUnknown,  // the file holds no key for the host
  kChanged,  // the file holds another key for the host
};

// `hostName` as KnownHostsName gives it; `key` the server's public key as sent (SSH wire
// format, which begins with the key type). Hashed host names and marked lines are not read.
HostKeyMatch MatchHostKey(std::string_view knownHosts, std::string_view hostName,
                          std::string_view key);

// The line that records `key` for the host, line end included.
std::string KnownHostsLine(std::string_view hostName, std::string_view key);

}  // namespace palisor
