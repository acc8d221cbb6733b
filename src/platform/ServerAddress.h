#pragma once

// File-server names and paths, and the URLs libcurl is given for them.

#include <optional>
#include <string>
#include <string_view>

namespace palisor {

// How a server name reaches its server.
enum class ServerProtocol {
  kFtp,    // "host[:port]" or "ftp://host[:port]": password and file in clear text
  kFtpes,  // "ftpes://host[:port]": FTP that must switch to TLS before the login
  kFtps,   // "ftps://host[:port]": FTP inside TLS from the first byte
  kSftp,   // "sftp://host[:port]": SSH
};

struct ServerAddress {
  ServerProtocol protocol = ServerProtocol::kFtp;
  std::string hostAndPort;
};

// The server name's protocol and host, or nothing when it is not one of the forms above
// (characters that would change a URL's meaning, such as a path or credentials, included).
std::optional<ServerAddress> ParseServerName(std::string_view name);

// How an SSH known-hosts file names the server: the bare host on port 22, "[host]:port"
// on any other, as OpenSSH writes it.
std::string KnownHostsName(const ServerAddress& server);

// A server path split into its folder and its file name: "/a/.htaccess" is "/a" and
// ".htaccess", "/.htaccess" is "/" and ".htaccess", a bare name lives in the login folder.
// A folder beginning with "/" starts at the server's root, any other at the login folder.
struct ServerPath {
  std::string folder;
  std::string name;

  // Another file in the same folder.
  ServerPath Beside(std::string other) const { return {folder, std::move(other)}; }
};
ServerPath SplitServerPath(std::string_view path);
std::string JoinPath(const ServerPath& path);

// A line break or NUL in a name would end the command that carries it and start another.
bool IsSafeInCommands(std::string_view text);

// The URL of a server path. A path beginning with "/" starts at the server's root (FTP:
// "%2F" as the first directory); otherwise at the login directory (SFTP: "~/"). Every
// segment is percent-encoded; empty segments ("a//b") are dropped, as a file system would.
std::string ServerUrl(const ServerAddress& server, std::string_view path);
// The URL of a folder: libcurl changes into it (or lists it) and transfers no file.
std::string FolderUrl(const ServerAddress& server, std::string_view folder);

// "ftp://host/folder/file" and the like, as failures name a server file: with the scheme the
// user wrote, so a failure over TLS never reads like one over plain FTP.
std::string DisplayUrl(const ServerAddress& server, std::string_view remotePath);

// An address as messages and the log show it: without the "user:password@" an address
// may carry before its host, with or without a scheme.
std::string WithoutCredentials(std::string_view address);

}  // namespace palisor
