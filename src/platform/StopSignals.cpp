#include "platform/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>
#include <utility>

namespace palisor {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// How long the watcher waits at a time before it looks whether it is to end.
constexpr int kWatchSliceMs = 100;

int signalPipe[2] = {-1, -1};

extern "C" void WriteStopSignal(int signal) {
  const auto number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
}

}  // namespace

int CatchStopSignalsInPipe() {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return -1;
  }
  struct sigaction action = {};
  action.sa_handler = WriteStopSignal;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    sigaction(signal, &action, nullptr);
  }
  return signalPipe[0];
}

void ReleaseStopSignals() {
  for (const int signal : kStopSignals) {
    std::signal(signal, SIG_DFL);
  }
  for (int& fd : signalPipe) {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
}

StopOnSignals::StopOnSignals(std::stop_source source) : source_(std::move(source)) {
  const int fd = CatchStopSignalsInPipe();
  if (fd < 0) {
    return;
  }
  watcher_ = std::jthread([this, fd](std::stop_token ending) {
    pollfd signalled{fd, POLLIN, 0};
    unsigned char number = 0;
    while (!ending.stop_requested()) {
      if (::poll(&signalled, 1, kWatchSliceMs) > 0 && ::read(fd, &number, 1) == 1) {
        received_ = number;
        source_.request_stop();
        return;
      }
    }
  });
}

StopOnSignals::~StopOnSignals() {
  watcher_ = {};  // asks the watcher to end and joins it
  ReleaseStopSignals();
}

}  // namespace palisor
