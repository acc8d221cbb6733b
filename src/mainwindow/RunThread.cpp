#include "mainwindow/RunThread.h"

#include <algorithm>
#include <utility>

#include <QTimer>

namespace palisor {

RunThread::RunThread(RunEvents& window) : window_(window) {}

RunThread::~RunThread() = default;  // the thread is asked to stop and joined

void RunThread::Stop() {
  thread_.request_stop();
}

void RunThread::Start(const Settings& settings, Run run) {
  runSettings_ = settings;
  {
    const std::lock_guard lock(mutex_);
    takenGeneration_ = publishedGeneration_;
  }
  running_ = true;
  thread_ = std::jthread([this, run = std::move(run)](std::stop_token stop) {
    RunOptions options;
    options.confirmedSettings = [this](Settings& s) { TakeConfirmedSettings(s); };
    const RunReport report = run(runSettings_, *this, std::move(stop), options);
    Post([this, report] { End(report); });
  });
}

void RunThread::End(const RunReport& report) {
  thread_.join();
  running_ = false;
  window_.RunEnded(report);
}

void RunThread::PublishSettings(const Settings& settings) {
  const std::lock_guard lock(mutex_);
  published_ = settings;
  ++publishedGeneration_;
}

void RunThread::TakeConfirmedSettings(Settings& settings) {
  const std::lock_guard lock(mutex_);
  if (takenGeneration_ != publishedGeneration_) {
    settings = published_;
    takenGeneration_ = publishedGeneration_;
  }
}

void RunThread::RunStarted() {
  Post([this] { window_.RunStarted(); });
}

void RunThread::StageStarted(const StageReached& stage) {
  {
    const std::lock_guard lock(mutex_);
    pacer_.OfferStage();
  }
  Post([this, stage] { window_.StageStarted(stage); });
}

void RunThread::LinesWritten(std::uint64_t count) {
  CaptionPacer::Action action;
  CaptionPacer::Clock::time_point due;
  {
    const std::lock_guard lock(mutex_);
    // Reading the clock for each of a million entries would cost more than all else here.
    const auto now =
        pacer_.holding() ? CaptionPacer::Clock::time_point{} : CaptionPacer::Clock::now();
    action = pacer_.OfferCount(count, now);
    due = pacer_.due();
  }
  switch (action) {
    case CaptionPacer::Action::kShowNow:
      Post([this, count] { window_.LinesWritten(count); });
      return;
    case CaptionPacer::Action::kHeldFirst:
      Post([this, due] {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(due - CaptionPacer::Clock::now());
        QTimer::singleShot(std::max(wait, std::chrono::milliseconds(0)), &relay_,
                           [this] { ShowHeldCount(); });
      });
      return;
    case CaptionPacer::Action::kHeld:
      return;
  }
}

// The window hears of the end once the thread is done (End); the caption left standing
// replaces any count not yet shown.
void RunThread::RunEnded(const RunReport& report) {
  if (ClosingCaption(report)) {
    const std::lock_guard lock(mutex_);
    pacer_.OfferStage();
  }
}

void RunThread::ShowHeldCount() {
  std::optional<std::uint64_t> held;
  {
    const std::lock_guard lock(mutex_);
    held = pacer_.Release(CaptionPacer::Clock::now());
  }
  if (held) {
    window_.LinesWritten(*held);
  }
}

void RunThread::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(&relay_, std::move(call), Qt::QueuedConnection);
}

}  // namespace palisor
