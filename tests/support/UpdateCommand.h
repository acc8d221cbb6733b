#pragma once

// palisor-update as a process of its own, in a working folder given by the test, its outputs
// read through pipes (or a terminal) until it ends.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#ifndef PALISOR_UPDATE_EXE
#error "the build names the palisor-update binary in PALISOR_UPDATE_EXE"
#endif

extern char** environ;

namespace palisor::test {

// Bound on a whole run, so a hanging command fails its test instead of the suite.
inline constexpr std::chrono::seconds kRunLimit{60};

struct Finished {
  int exitStatus = -1;  // 128 + n when ended by signal n
  std::string out;
  std::string err;
  long peakKilobytes = 0;  // the most resident memory the process had
};

// Where the command's standard output goes.
enum class Output {
  kPipe,
  kTerminal,
  kClosedPipe,  // a pipe whose reader has gone away
};

// The locale a run gets unless a test chooses one: the stage lines in Japanese, whatever the
// machine's.
inline constexpr std::string_view kJapaneseLocale = "C.UTF-8";

// This process's environment with the locale `locale` alone deciding the language.
inline std::vector<std::string> EnvironmentWithLocale(std::string_view locale) {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view entry(*variable);
    const std::string_view name = entry.substr(0, entry.find('='));
    if (name != "LANGUAGE" && name != "LC_ALL" && name != "LC_MESSAGES" && name != "LANG") {
      environment.emplace_back(entry);
    }
  }
  environment.push_back("LANG=" + std::string(locale));
  return environment;
}

// One palisor-update process in `workDir`, its standard error a pipe.
class Command final {
 public:
  Command(const std::filesystem::path& workDir, const std::vector<std::string>& arguments,
          Output output = Output::kPipe, std::string_view locale = kJapaneseLocale) {
    int outEnds[2];
    int errEnds[2];
    if (output == Output::kTerminal) {
      EXPECT_EQ(openpty(&outEnds[0], &outEnds[1], nullptr, nullptr, nullptr), 0);
    } else {
      EXPECT_EQ(pipe(outEnds), 0);
    }
    EXPECT_EQ(pipe(errEnds), 0);
    outFd_ = outEnds[0];
    errFd_ = errEnds[0];

    std::vector<std::string> argvText = {PALISOR_UPDATE_EXE};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvText) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environmentText = EnvironmentWithLocale(locale);
    std::vector<char*> environment;
    for (std::string& variable : environmentText) {
      environment.push_back(variable.data());
    }
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_adddup2(&actions, outEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, outFd_);
    posix_spawn_file_actions_addclose(&actions, errFd_);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environment.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(outEnds[1]);
    close(errEnds[1]);
    if (output == Output::kClosedPipe) {
      close(outFd_);
      outFd_ = -1;
      outOpen_ = false;
    }
  }

  ~Command() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {outFd_, errFd_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // Reads output until standard output holds `text`; false when the run ends or the limit
  // passes first.
  bool WaitForOutput(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    while (out_.find(text) == std::string::npos) {
      if (!ReadSome(deadline)) {
        return false;
      }
    }
    return true;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Reads both outputs to their end and waits for the exit.
  Finished Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    while (ReadSome(deadline)) {
    }
    EXPECT_FALSE(outOpen_ || errOpen_) << "palisor-update did not finish within the limit";
    Finished finished;
    int status = 0;
    if (outOpen_ || errOpen_) {
      kill(pid_, SIGKILL);
    }
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    finished.peakKilobytes = usage.ru_maxrss;
    finished.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    finished.out = out_;
    finished.err = err_;
    return finished;
  }

 private:
  // One read from whichever output has data; false once both are at their end or time is up.
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    if (!outOpen_ && !errOpen_) {
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fds[2] = {{outOpen_ ? outFd_ : -1, POLLIN, 0}, {errOpen_ ? errFd_ : -1, POLLIN, 0}};
    if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    Drain(fds[0], outFd_, out_, outOpen_);
    Drain(fds[1], errFd_, err_, errOpen_);
    return true;
  }

  // A terminal reports its end as an error once the command has closed it.
  static void Drain(const pollfd& ready, int fd, std::string& into, bool& open) {
    if (ready.revents == 0) {
      return;
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      open = false;
      return;
    }
    into.append(buffer, static_cast<std::size_t>(got));
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool outOpen_ = true;
  bool errOpen_ = true;
  std::string out_;
  std::string err_;
};

inline Finished RunIn(const std::filesystem::path& workDir,
                      const std::vector<std::string>& arguments = {}) {
  Command command(workDir, arguments);
  return command.Finish();
}

}  // namespace palisor::test
