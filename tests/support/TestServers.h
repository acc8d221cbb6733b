#pragma once

// Real servers for the tests, on 127.0.0.1 and ephemeral ports, each started by its
// constructor and killed (and reaped) by its destructor. A server that cannot start throws
// std::runtime_error, which fails the test that wanted it.
//
// The sources that include this need the compile definitions PALISOR_PYTHON (an interpreter
// that sees python3-pyftpdlib) and PALISOR_TEST_SERVERS (the tests/servers directory).

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace palisor::test {

// A fresh, empty directory under the system's temporary directory, removed with all it
// holds on destruction.
class ScratchDir final {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory itself.
  const std::filesystem::path& path() const { return path_; }
  // A path inside the directory (nothing is created).
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  // Writes `bytes` to the file `name` inside the directory (creating subdirectories) and
  // returns its path.
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& file);

// A port on 127.0.0.1 where nothing listens (bound, read and released), for "unreachable".
int UnusedPort();
// A port no one listens on, below the range the system hands out to connections: one a test
// can free and bind again, which a connection elsewhere on the machine cannot take meanwhile.
int UnusedSteadyPort();

// One test server process: started with `arguments`, its port read from the first line it
// prints.
class ServerProcess final {
 public:
  explicit ServerProcess(const std::vector<std::string>& arguments);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The port the server listens on.
  int port() const { return port_; }

 private:
  void Stop();

  pid_t pid_ = -1;
  int port_ = 0;
};

// A self-signed certificate for 127.0.0.1 and its key, made afresh by the openssl command.
class TestCertificate final {
 public:
  TestCertificate();

  std::filesystem::path certificate() const { return dir_ / "certificate.pem"; }
  std::filesystem::path key() const { return dir_ / "key.pem"; }

 private:
  ScratchDir dir_;
};

// tests/servers/http_server.py serving the files of `root`; see that script for the special
// paths (/status/<code>, /redirect?to=, /loop, /stall, /headers-stall, /cut, ?gzip=1,
// ?delay=S, ?trickle=MS&chunk=N).
class HttpServer final {
 public:
  explicit HttpServer(const std::filesystem::path& root);
  // The same over HTTPS, with `identity` as the server's certificate.
  HttpServer(const std::filesystem::path& root, const TestCertificate& identity);

  int port() const { return process_.port(); }
  // "http://127.0.0.1:<port>" (or "https://...") followed by `pathAndQuery` (which starts
  // with "/").
  std::string Url(std::string_view pathAndQuery) const;

 private:
  ServerProcess process_;
  std::string scheme_;
};

// tests/servers/ftp_server.py: one user with full rights in `home`, passive mode on loopback.
// `options` are that script's options ("--tls", "--rename-over", "--upload-rate" and their
// values).
class FtpServer final {
 public:
  FtpServer(const std::filesystem::path& home, const std::string& user, const std::string& password,
            const std::vector<std::string>& options = {});

  int port() const { return process_.port(); }
  // "127.0.0.1:<port>", the form of a server name with a port.
  std::string Address() const;
  // The commands received so far, one per line ("PASS ***" for a password).
  std::string Commands() const;

 private:
  ScratchDir logDir_;
  ServerProcess process_;
};

// tests/servers/sftp_server.py: one user with a password, who sees `home` as "/"; the host key
// is `hostKey` (made when missing), on `port` when given.
class SftpServer final {
 public:
  SftpServer(const std::filesystem::path& home, const std::string& user,
             const std::string& password, const std::filesystem::path& hostKey, int port = 0);

  int port() const { return process_.port(); }
  // "sftp://127.0.0.1:<port>", the form of a server name.
  std::string Address() const;

 private:
  ServerProcess process_;
};

}  // namespace palisor::test
