#include "support/TestServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#if !defined(PALISOR_PYTHON) || !defined(PALISOR_TEST_SERVERS)
#error "TestServers needs PALISOR_PYTHON and PALISOR_TEST_SERVERS defined by the build"
#endif

extern char** environ;

namespace palisor::test {
namespace {

// Long enough for a cold Python start on a loaded machine.
constexpr auto kStartTimeout = std::chrono::seconds(20);

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// Closes a file descriptor on every way out.
class Fd final {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

pid_t Spawn(const std::vector<std::string>& arguments, int stdoutFd, int stderrFd = -1) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  if (stderrFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  }
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    throw SystemError("cannot start " + arguments.front());
  }
  return pid;
}

// Reads the first line the server prints, within the start time-out.
std::string ReadFirstLine(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  std::string line;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waitFor{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&waitFor, 1, static_cast<int>(left.count())) <= 0) {
      return {};
    }
    char buffer[64];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      return {};
    }
    line.append(buffer, static_cast<std::size_t>(got));
  }
  return line.substr(0, line.find('\n'));
}

// Runs a program to its end, its standard output and error discarded; throws unless it
// exits with 0.
void RunToEnd(const std::vector<std::string>& arguments) {
  const Fd discard(open("/dev/null", O_WRONLY | O_CLOEXEC));
  const pid_t pid = Spawn(arguments, discard.get(), discard.get());
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments.front() + " failed");
  }
}

std::string Script(const char* name) {
  return std::string(PALISOR_TEST_SERVERS) + "/" + name;
}

}  // namespace

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "palisor-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw SystemError("cannot create a scratch directory");
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::Write(std::string_view name, std::string_view bytes) const {
  const std::filesystem::path file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    throw std::runtime_error("cannot write " + file.string());
  }
  return file;
}

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int UnusedPort() {
  const Fd socketFd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (socketFd.get() < 0 ||
      bind(socketFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(socketFd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw SystemError("cannot find an unused port");
  }
  return ntohs(address.sin_port);
}

int UnusedSteadyPort() {
  int lowest = 32768;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> lowest;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int port = 10000 + static_cast<int>(random() % static_cast<unsigned>(lowest - 10000));
    const Fd socketFd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (socketFd.get() >= 0 &&
        bind(socketFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      return port;
    }
  }
  throw SystemError("cannot find an unused port below the ephemeral range");
}

ServerProcess::ServerProcess(const std::vector<std::string>& arguments) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    throw SystemError("cannot create a pipe");
  }
  const Fd readEnd(ends[0]);
  {
    const Fd writeEnd(ends[1]);
    pid_ = Spawn(arguments, writeEnd.get());
  }
  const std::string line = ReadFirstLine(readEnd.get());
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    Stop();
    throw std::runtime_error(arguments[1] + " did not print its port");
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

void ServerProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

TestCertificate::TestCertificate() {
  RunToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
            "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
            "subjectAltName=IP:127.0.0.1", "-keyout", key().string(), "-out",
            certificate().string()});
}

HttpServer::HttpServer(const std::filesystem::path& root)
    : process_({PALISOR_PYTHON, Script("http_server.py"), root.string()}), scheme_("http") {}

HttpServer::HttpServer(const std::filesystem::path& root, const TestCertificate& identity)
    : process_({PALISOR_PYTHON, Script("http_server.py"), root.string(), "--tls",
                identity.certificate().string(), identity.key().string()}),
      scheme_("https") {}

std::string HttpServer::Url(std::string_view pathAndQuery) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port()) + std::string(pathAndQuery);
}

namespace {

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& home, const std::string& user,
                     const std::string& password, const std::vector<std::string>& options)
    : process_(Joined({PALISOR_PYTHON, Script("ftp_server.py"), user, password, home.string(),
                       (logDir_ / "commands.log").string()},
                      options)) {}

std::string FtpServer::Address() const {
  return "127.0.0.1:" + std::to_string(port());
}

std::string FtpServer::Commands() const {
  return ReadBytes(logDir_ / "commands.log");
}

SftpServer::SftpServer(const std::filesystem::path& home, const std::string& user,
                       const std::string& password, const std::filesystem::path& hostKey, int port)
    : process_({PALISOR_PYTHON, Script("sftp_server.py"), user, password, home.string(),
                hostKey.string(), std::to_string(port)}) {}

std::string SftpServer::Address() const {
  return "sftp://127.0.0.1:" + std::to_string(port());
}

}  // namespace palisor::test
