#include "platform/qt/StopSignals.h"

#include <unistd.h>

#include <utility>

#include "platform/StopSignals.h"

namespace palisor {

StopSignals::StopSignals(std::function<void()> stop) : stop_(std::move(stop)) {
  fd_ = CatchStopSignalsInPipe();
  if (fd_ < 0) {
    return;
  }
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Deliver(); });
}

StopSignals::~StopSignals() {
  ReleaseStopSignals();
}

void StopSignals::Deliver() {
  unsigned char number = 0;
  while (::read(fd_, &number, 1) == 1) {
    if (received_ == 0) {
      received_ = number;
      stop_();
    }
  }
}

}  // namespace palisor
