#include "mainwindow/RunThread.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <utility>

#include <QTimer>

namespace palisor {
namespace {

constexpr int kWakeSignal = SIGUSR1;
constexpr std::chrono::milliseconds kWakeInterval{20};

extern "C" void IgnoreWake(int) {}

// A handler without SA_RESTART: the signal makes a waiting poll() return early, and
// libcurl then asks whether to go on.
void InstallWakeHandler() {
  static const bool installed = [] {
    struct sigaction action = {};
    action.sa_handler = IgnoreWake;
    sigemptyset(&action.sa_mask);
    return sigaction(kWakeSignal, &action, nullptr) == 0;
  }();
  static_cast<void>(installed);
}

}  // namespace

RunThread::RunThread(Host& window, Finished finished)
    : window_(window), finished_(std::move(finished)) {
  InstallWakeHandler();
  waker_.setInterval(kWakeInterval);
  QObject::connect(&waker_, &QTimer::timeout, &relay_, [this] { Wake(); });
}

RunThread::~RunThread() {
  Stop();
  while (thread_.joinable() && !returned_) {
    std::this_thread::sleep_for(kWakeInterval);
    Wake();
  }
  if (thread_.joinable()) {
    thread_.join();
  }
}

void RunThread::Stop() {
  stopping_ = true;
  if (running_) {
    Wake();
    waker_.start();
  }
}

void RunThread::Wake() {
  if (thread_.joinable() && !returned_) {
    pthread_kill(thread_.native_handle(), kWakeSignal);
  }
}

void RunThread::Start(const Module1& state, Run run) {
  runState_ = state;
  {
    const std::lock_guard lock(mutex_);
    takenGeneration_ = publishedGeneration_;
  }
  stopping_ = false;
  returned_ = false;
  running_ = true;
  thread_ = std::thread([this, run = std::move(run)] {
    const RunReport report = run(runState_, *this);
    returned_ = true;
    Post([this, report] { End(report); });
  });
}

void RunThread::End(const RunReport& report) {
  thread_.join();
  waker_.stop();
  running_ = false;
  finished_(report);
}

void RunThread::PublishSettings(const Settings& settings) {
  const std::lock_guard lock(mutex_);
  published_ = settings;
  ++publishedGeneration_;
}

void RunThread::RefreshSettings(Settings& settings) {
  const std::lock_guard lock(mutex_);
  if (takenGeneration_ != publishedGeneration_) {
    settings = published_;
    takenGeneration_ = publishedGeneration_;
  }
}

void RunThread::SetCaption(std::string_view caption) {
  CaptionPacer::Action action;
  CaptionPacer::Clock::time_point due;
  {
    const std::lock_guard lock(mutex_);
    // Reading the clock for each of a million lines would cost more than all else here.
    const auto now =
        pacer_.holding() ? CaptionPacer::Clock::time_point{} : CaptionPacer::Clock::now();
    action = pacer_.Offer(caption, now);
    due = pacer_.due();
  }
  switch (action) {
    case CaptionPacer::Action::kShowNow:
      Post([this, text = std::string(caption)] { window_.SetCaption(text); });
      return;
    case CaptionPacer::Action::kHeldFirst:
      Post([this, due] {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(due - CaptionPacer::Clock::now());
        QTimer::singleShot(std::max(wait, std::chrono::milliseconds(0)), &relay_,
                           [this] { ShowHeldCaption(); });
      });
      return;
    case CaptionPacer::Action::kHeld:
      return;
  }
}

void RunThread::ShowHeldCaption() {
  std::optional<std::string> held;
  {
    const std::lock_guard lock(mutex_);
    held = pacer_.Release(CaptionPacer::Clock::now());
  }
  if (held) {
    window_.SetCaption(*held);
  }
}

void RunThread::EnableButton(RunButton button, bool enabled) {
  Post([this, button, enabled] { window_.EnableButton(button, enabled); });
}

void RunThread::SetTimerInterval(int milliseconds) {
  Post([this, milliseconds] { window_.SetTimerInterval(milliseconds); });
}

void RunThread::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(&relay_, std::move(call), Qt::QueuedConnection);
}

}  // namespace palisor
