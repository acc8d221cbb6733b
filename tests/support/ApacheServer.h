#pragma once

// A real Apache 2.4 (Debian's apache2) for tests that check what the site does with a
// generated access file. Apache resolves host-name entries of an access file, so it only ever
// runs inside a network namespace where loopback is the only interface: a test executable that
// uses it calls EnterLoopbackOnlyNetwork() first thing in main().

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "support/TestServers.h"

namespace palisor::test {

// Moves this process (and everything it starts later) into a new network namespace and brings
// its loopback interface up. Must run before any thread is started. Throws std::runtime_error.
void EnterLoopbackOnlyNetwork();

// Whether the loopback interface is the only network interface this process can see.
bool InLoopbackOnlyNetwork();

// apache2 in the foreground on a free 127.0.0.1 port, serving docroot() with AllowOverride All
// and mod_access_compat loaded; started by the constructor (which waits until it answers) and
// stopped by the destructor. Throws std::runtime_error when it cannot start, and refuses to
// start outside a loopback-only network namespace.
class ApacheServer final {
 public:
  ApacheServer();
  ~ApacheServer();
  ApacheServer(const ApacheServer&) = delete;
  ApacheServer& operator=(const ApacheServer&) = delete;

  // The document root, readable by the server's user; holds "index.html".
  std::filesystem::path docroot() const { return dir_ / "htdocs"; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path` (which starts with "/").
  std::string Url(std::string_view path) const;
  // What the server has logged so far (the reason for a 500 is there).
  std::string ErrorLog() const;

 private:
  void WriteConfig() const;
  void Stop();

  ScratchDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// The HTTP status of a GET of `url` made from the local source address `source` (127.0.0.x);
// 0 when no answer came.
long StatusFrom(const std::string& url, const std::string& source);

}  // namespace palisor::test
