#include "mainwindow/Countdown.h"

#include "platform/qt/language/Captions.h"

namespace palisor {

void Countdown::Tick() {
  --secondsLeft_;
  if (secondsLeft_ <= 0) {
    window_.SetTimerInterval(kTimerStopped);
    // The run resets the count to TMINT and restarts the timer at each of its ends.
    window_.RunUpdateNow();
  }
  // A stopped timer means the caption belongs to someone else ("停止中" or a run's last word).
  if (window_.TimerInterval() != kTimerStopped) {
    window_.SetCaption(WaitingCaption(secondsLeft_));
  }
}

void Countdown::Start() {
  window_.SetTimerInterval(kTimerTicking);
}

void Countdown::Stop() {
  window_.SetTimerInterval(kTimerStopped);
  window_.SetCaption(StoppedCaption());
}

}  // namespace palisor
