#include "support/ApacheServer.h"

#include <curl/curl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace palisor::test {
namespace {

namespace fs = std::filesystem;

// Long enough for a cold start on a loaded machine.
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr auto kStopTimeout = std::chrono::seconds(10);
constexpr const char* kApache = "/usr/sbin/apache2";
constexpr const char* kModules = "/usr/lib/apache2/modules/";

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void BringLoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw SystemError("cannot open a socket to configure lo");
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                  (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
  const int err = errno;
  close(fd);
  if (!up) {
    errno = err;
    throw SystemError("cannot bring lo up");
  }
}

std::string Module(std::string_view name, std::string_view file) {
  return "LoadModule " + std::string(name) + " " + kModules + std::string(file) + "\n";
}

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

// Waits up to `limit` for the child to end; true when it has been reaped.
bool Reaped(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

void EnterLoopbackOnlyNetwork() {
  if (unshare(CLONE_NEWNET) != 0) {
    throw SystemError("cannot enter a new network namespace (needs root)");
  }
  BringLoopbackUp();
}

bool InLoopbackOnlyNetwork() {
  using Names = struct if_nameindex;
  std::unique_ptr<Names[], decltype(&if_freenameindex)> names(if_nameindex(), &if_freenameindex);
  if (!names) {
    return false;
  }
  bool loopbackSeen = false;
  for (const Names* entry = names.get(); entry->if_index != 0; ++entry) {
    if (std::string_view(entry->if_name) != "lo") {
      return false;
    }
    loopbackSeen = true;
  }
  return loopbackSeen;
}

ApacheServer::ApacheServer() {
  if (!InLoopbackOnlyNetwork()) {
    throw std::runtime_error(
        "Apache runs only in a loopback-only network namespace: call EnterLoopbackOnlyNetwork()");
  }
  // The server's own user must reach the document root through the scratch directory.
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  fs::create_directories(dir_ / "run");
  dir_.Write("htdocs/index.html", "ok\n");
  port_ = UnusedPort();
  WriteConfig();

  const std::string config = (dir_ / "apache2.conf").string();
  const char* argv[] = {kApache, "-f", config.c_str(), "-DFOREGROUND", nullptr};
  const int error =
      posix_spawn(&pid_, kApache, nullptr, nullptr, const_cast<char**>(argv), environ);
  if (error != 0) {
    errno = error;
    throw SystemError(std::string("cannot start ") + kApache);
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (StatusFrom(Url("/"), "127.0.0.1") != 200) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("Apache ended at start: " + ErrorLog());
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Stop();
      throw std::runtime_error("Apache did not answer: " + ErrorLog());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

ApacheServer::~ApacheServer() {
  Stop();
}

std::string ApacheServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string ApacheServer::ErrorLog() const {
  return ReadBytes(dir_ / "error.log");
}

void ApacheServer::WriteConfig() const {
  const std::string root = dir_.path().string();
  std::string config = "ServerRoot \"" + root + "\"\n" +             //
                       "DefaultRuntimeDir \"" + root + "/run\"\n" +  //
                       "PidFile \"" + root + "/run/httpd.pid\"\n" +  //
                       "ErrorLog \"" + root + "/error.log\"\n" +     //
                       "Listen 127.0.0.1:" + std::to_string(port_) + "\n" +
                       "ServerName 127.0.0.1\n";
  if (geteuid() == 0) {
    config += "User www-data\nGroup www-data\n";
  }
  config += Module("mpm_event_module", "mod_mpm_event.so") +
            Module("authz_core_module", "mod_authz_core.so") +
            Module("authz_host_module", "mod_authz_host.so") +
            Module("access_compat_module", "mod_access_compat.so") +
            Module("dir_module", "mod_dir.so") + Module("mime_module", "mod_mime.so");
  config +=
      "TypesConfig /etc/mime.types\n"
      "DirectoryIndex index.html\n"
      "AccessFileName .htaccess\n"
      "DocumentRoot \"" +
      root +
      "/htdocs\"\n"
      "<Directory />\n"
      "    AllowOverride None\n"
      "    Require all denied\n"
      "</Directory>\n"
      "<Directory \"" +
      root +
      "/htdocs\">\n"
      "    AllowOverride All\n"
      "    Require all granted\n"
      "</Directory>\n";
  dir_.Write("apache2.conf", config);
}

void ApacheServer::Stop() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  if (!Reaped(pid_, kStopTimeout)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

long StatusFrom(const std::string& url, const std::string& source) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    return 0;
  }
  const std::string interface = "host!" + source;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_INTERFACE, interface.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  }
  curl_easy_cleanup(curl);
  return status;
}

}  // namespace palisor::test
