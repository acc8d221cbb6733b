#include "platform/ServerAddress.h"

#include <cstring>
#include <utility>

#include "platform/Text.h"

namespace palisor {
namespace {

constexpr std::string_view kDefaultSshPort = "22";

// Keeps only the characters a URL path segment may hold as they are; every other byte is
// percent-encoded so that spaces and any other character in a name reach the server intact.
std::string EncodePathSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : segment) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

std::string EncodePath(std::string_view path) {
  std::string encoded;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    if (!segment.empty()) {
      if (!encoded.empty()) {
        encoded += '/';
      }
      encoded += EncodePathSegment(segment);
    }
  }
  return encoded;
}

std::string_view SchemeOf(ServerProtocol protocol) {
  switch (protocol) {
    case ServerProtocol::kFtps:
      return "ftps://";
    case ServerProtocol::kSftp:
      return "sftp://";
    case ServerProtocol::kFtp:
    case ServerProtocol::kFtpes:
      break;
  }
  return "ftp://";
}

// A host name or address, with an optional port; characters that would change the URL's
// meaning (a path, a query, credentials) make it unusable.
bool IsUsableHostAndPort(std::string_view server) {
  if (server.empty()) {
    return false;
  }
  for (const char c : server) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::strchr("/\\?#@", c) != nullptr) {
      return false;
    }
  }
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port" as host and port (empty when none is given).
std::pair<std::string_view, std::string_view> HostAndPort(std::string_view text) {
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    const std::string_view rest = text.substr(close + 1);
    return {text.substr(1, close - 1), rest.starts_with(':') ? rest.substr(1) : rest};
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    return {text, {}};  // no port, or a bare IPv6 address
  }
  return {text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace

std::optional<ServerAddress> ParseServerName(std::string_view name) {
  static constexpr std::pair<std::string_view, ServerProtocol> kSchemes[] = {
      {"ftp://", ServerProtocol::kFtp},
      {"ftpes://", ServerProtocol::kFtpes},
      {"ftps://", ServerProtocol::kFtps},
      {"sftp://", ServerProtocol::kSftp},
  };
  ServerAddress server;
  for (const auto& [scheme, protocol] : kSchemes) {
    if (StartsWithNoCase(name, scheme)) {
      server.protocol = protocol;
      name.remove_prefix(scheme.size());
      break;
    }
  }
  if (!IsUsableHostAndPort(name)) {
    return std::nullopt;
  }
  server.hostAndPort = name;
  return server;
}

std::string KnownHostsName(const ServerAddress& server) {
  const auto [host, port] = HostAndPort(server.hostAndPort);
  if (port.empty() || port == kDefaultSshPort) {
    return std::string(host);
  }
  return "[" + std::string(host) + "]:" + std::string(port);
}

ServerPath SplitServerPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return {{}, std::string(path)};
  }
  return {std::string(path.substr(0, slash == 0 ? 1 : slash)), std::string(path.substr(slash + 1))};
}

std::string JoinPath(const ServerPath& path) {
  if (path.folder.empty()) {
    return path.name;
  }
  return path.folder.ends_with('/') ? path.folder + path.name : path.folder + "/" + path.name;
}

bool IsSafeInCommands(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string ServerUrl(const ServerAddress& server, std::string_view path) {
  std::string url(SchemeOf(server.protocol));
  url += server.hostAndPort;
  url += '/';
  const bool fromRoot = path.starts_with('/');
  if (server.protocol == ServerProtocol::kSftp) {
    url += fromRoot ? "" : "~/";
  } else if (fromRoot) {
    url += "%2F";
  }
  return url + EncodePath(path);
}

std::string FolderUrl(const ServerAddress& server, std::string_view folder) {
  std::string url = ServerUrl(server, folder);
  if (!url.ends_with('/')) {
    url += '/';
  }
  return url;
}

std::string DisplayUrl(const ServerAddress& server, std::string_view remotePath) {
  const std::string_view scheme =
      server.protocol == ServerProtocol::kFtpes ? "ftpes://" : SchemeOf(server.protocol);
  return std::string(scheme) + server.hostAndPort + (remotePath.starts_with('/') ? "" : "/") +
         std::string(remotePath);
}

std::string WithoutCredentials(std::string_view address) {
  // A "://" after the path began (in a query, say) is no scheme.
  const std::size_t scheme = address.find("://");
  const bool hasScheme = scheme != std::string_view::npos && scheme < address.find_first_of("/?#");
  const std::size_t host = hasScheme ? scheme + 3 : 0;
  const std::size_t authorityEnd = address.find_first_of("/?#", host);
  const std::size_t at = address.substr(0, authorityEnd).rfind('@');
  if (at == std::string_view::npos || at < host) {
    return std::string(address);
  }
  return std::string(address.substr(0, host)) + std::string(address.substr(at + 1));
}

}  // namespace palisor
