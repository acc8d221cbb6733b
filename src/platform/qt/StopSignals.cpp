#include "platform/qt/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>
#include <utility>

#include "platform/StopSignals.h"

namespace palisor {
namespace {

// The handler may only write to a pipe; the event loop reads the other end.
int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
}

}  // namespace

StopSignals::StopSignals(std::function<void()> stop) : stop_(std::move(stop)) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Deliver(); });
  CatchStopSignals(OnStopSignal);
}

StopSignals::~StopSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal, SIG_DFL);
  }
  for (int& fd : signalPipe) {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
}

void StopSignals::Deliver() {
  unsigned char number = 0;
  while (::read(signalPipe[0], &number, 1) == 1) {
    if (received_ == 0) {
      received_ = number;
      stop_();
    }
  }
}

}  // namespace palisor
