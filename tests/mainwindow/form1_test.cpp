#include "mainwindow/Form1.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Transfer.h"
#include "support/TestServers.h"
#include "update/RunLog.h"
#include "update/RunUpdate.h"

namespace palisor {
namespace {

// The notification area, with its availability chosen by the test and its presses sent by it.
class FakeTray final : public Tray {
 public:
  explicit FakeTray(bool available) : available_(available) {}
  bool Available() const override { return available_; }
  void ShowIcon() override {
    ++adds;
    iconShown = true;
  }
  void HideIcon() override {
    ++removals;
    iconShown = false;
  }
  void OnPress(PressHandler handler) override { press = std::move(handler); }
  void SetWarning(bool on) override { warning = on; }
  void SetToolTip(std::string_view text) override { toolTip = text; }
  void ShowMessage(std::string_view, std::string_view text) override {
    messages.emplace_back(text);
  }

  int adds = 0;
  int removals = 0;
  bool iconShown = false;
  PressHandler press;
  bool warning = false;
  std::string toolTip;
  std::vector<std::string> messages;

 private:
  bool available_;
};

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() {
    // No settings file here, so every setting takes its default.
    EXPECT_TRUE(workDir.isValid());
    QDir::setCurrent(workDir.path());
  }
  ~Form1Test() override { QDir::setCurrent(startDir); }

  // The window with the real update run; every list is switched off, so a run ends at once
  // with "待機中" unless a test enables one.
  void Make(bool trayAvailable = true) {
    auto fakeTray = std::make_unique<FakeTray>(trayAvailable);
    tray = fakeTray.get();
    form = std::make_unique<Form1>(
        state,
        [this](Settings& s, RunEvents& events, std::stop_token stop, const RunOptions& options) {
          ++runs;
          return lastRun = RunUpdate(s, events, transfer, std::move(stop), options);
        },
        std::move(fakeTray));
    for (ListSettings& list : state.settings.lists) {
      list.mode = 0;
    }
    form->show();
  }

  QPushButton* Button(const char* name) const {
    auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(button, nullptr) << name;
    return button;
  }
  QTimer* Timer1() const { return form->findChild<QTimer*>(QStringLiteral("Timer1")); }
  void Click(const char* name) const { QTest::mouseClick(Button(name), Qt::LeftButton); }
  // One tick of Timer1, delivered now instead of a second later.
  void Tick() const {
    ASSERT_TRUE(Timer1()->isActive()) << "a stopped timer delivers no ticks";
    QMetaObject::invokeMethod(Timer1(), "timeout");
  }
  std::string Caption() const { return form->windowTitle().toStdString(); }
  // A run goes on a thread of its own; this waits for its end while the window goes on.
  void AwaitRunEnd() const { QTRY_VERIFY_WITH_TIMEOUT(!form->RunInProgress(), 10000); }

  QString startDir = QDir::currentPath();
  QTemporaryDir workDir;
  Module1 state;
  Transfer transfer;
  FakeTray* tray = nullptr;
  std::atomic<int> runs = 0;  // counted on the run's thread
  RunReport lastRun;          // read once the run has ended
  std::unique_ptr<Form1> form;
};

TEST_F(Form1Test, StartsCountingWithoutARun) {
  Make();
  EXPECT_EQ(state.settings.TMINT, 3600) << "the settings were loaded";
  EXPECT_EQ(form->countdown().secondsLeft(), 3600);
  EXPECT_EQ(Timer1()->interval(), 1000);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(tray->iconShown);
  EXPECT_EQ(form->windowState(), Qt::WindowNoState);

  const auto sizes = form->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

// The buttons stand left to right without overlapping inside the window, tab follows that
// order, and the face of the text buttons can draw every character of their captions.
TEST_F(Form1Test, ButtonsStandInARowTabFollowsItAndTheirFaceDrawsTheCaptions) {
  Make();
  QWidget* previous = nullptr;
  for (const char* name :
       {"Command3", "Command4", "Command1", "Command5", "Command2", "Command6"}) {
    QPushButton* button = Button(name);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(form->rect().contains(button->geometry())) << name;
    const QFontMetrics metrics(button->font());
    for (const QChar c : button->text()) {
      EXPECT_TRUE(metrics.inFont(c))
          << name << " lacks a glyph in " << QFontInfo(button->font()).family().toStdString();
    }
    if (previous != nullptr) {
      EXPECT_LE(previous->geometry().right(), button->geometry().left()) << name;
      EXPECT_EQ(previous->nextInFocusChain(), button) << "tab order reaches " << name;
    }
    previous = button;
  }
}

// Stop and start keep the count; a run, by hand while stopped or at the count's end, leaves
// the timer ticking and the count starting again from the interval.
TEST_F(Form1Test, ButtonsAndTimerDriveTheCountdown) {
  Make();
  Tick();
  EXPECT_EQ(Caption(), "待機中(3599秒)");

  Click("Command4");
  EXPECT_EQ(Caption(), "停止中");
  EXPECT_FALSE(Timer1()->isActive());
  Click("Command3");
  EXPECT_EQ(Timer1()->interval(), 1000);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(Caption(), "停止中");
  Tick();
  EXPECT_EQ(Caption(), "待機中(3598秒)");
  EXPECT_EQ(runs, 0);

  Click("Command4");
  Click("Command1");
  AwaitRunEnd();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(Caption(), "待機中") << "the run's closing caption stays until the next tick";
  Tick();
  EXPECT_EQ(Caption(), "待機中(3599秒)");

  form->countdown().Restart(1);
  Tick();
  AwaitRunEnd();
  EXPECT_EQ(runs, 2);
  Tick();
  EXPECT_EQ(Caption(), "待機中(3599秒)");
}

// While a download hangs, the run leaves only "終了" and "▼" usable; the window can go to
// the tray and come back, and "終了" ends the run at once.
TEST_F(Form1Test, DuringARunOnlyEndAndMinimiseWorkAndEndAbandonsTheRun) {
  test::ScratchDir lists;
  test::HttpServer server(lists.path());
  Make();
  state.settings.lists[kAnonymousList].mode = true;
  state.settings.lists[kAnonymousList].url = server.Url("/stall");

  Click("Command1");
  QTRY_COMPARE(Caption(), std::string("PROXY情報の取得中[Anonymous]"));
  QTRY_VERIFY(!Button("Command5")->isEnabled());
  EXPECT_FALSE(Button("Command1")->isEnabled());
  EXPECT_FALSE(Button("Command3")->isEnabled());
  EXPECT_FALSE(Button("Command4")->isEnabled());
  EXPECT_TRUE(Button("Command2")->isEnabled());
  EXPECT_TRUE(Button("Command6")->isEnabled());

  Click("Command6");
  QTRY_VERIFY(!form->isVisible() && tray->iconShown);
  tray->press(TrayPress::kLeft);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(tray->iconShown);

  const auto endClicked = std::chrono::steady_clock::now();
  Click("Command2");
  EXPECT_FALSE(form->isVisible());
  AwaitRunEnd();
  EXPECT_LT(std::chrono::steady_clock::now() - endClicked, std::chrono::seconds(1))
      << "the hanging download was left at once";
  EXPECT_EQ(lastRun.outcome, Outcome::kAbandoned);
  EXPECT_NE(test::ReadBytes("palisor.log").find("  abandoned  stage: PROXY情報の取得中"),
            std::string::npos);
}

// The window's and the tray's tooltips tell how the last run went, the run log gets its
// line, a failure while the window waits in the tray is announced from there, and the icons
// warn from a failure to the next good run.
TEST_F(Form1Test, EveryRunsOutcomeIsShownAndLogged) {
  test::ScratchDir lists;
  lists.Write("proxy_c1.txt", "1.2.3.4\n");
  test::HttpServer server(lists.path());
  const struct {
    const char* list;
    bool inTray;
    const char* outcome;
    bool announced;
  } rows[] = {
      {"/proxy_c1.txt", true, "ok", false},
      {"/status/404", false, "failed", false},
      {"/status/404", true, "failed", true},
      {"/proxy_c1.txt", false, "ok", false},
  };
  Make();
  const QImage usualIcon = form->windowIcon().pixmap(16, 16).toImage();
  int logLines = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.list) + (row.inTray ? " in the tray" : " shown"));
    state.settings.lists[kAnonymousList].mode = true;
    state.settings.lists[kAnonymousList].url = server.Url(row.list);
    state.settings.FTPSW = false;
    if (row.inTray) {
      Click("Command6");
      QTRY_VERIFY(tray->iconShown);
    }
    tray->messages.clear();
    form->RunUpdateNow();
    AwaitRunEnd();

    const std::string reason = RunReason(lastRun);
    EXPECT_EQ(OutcomeName(lastRun), row.outcome);
    EXPECT_EQ(reason.empty(), std::string(row.outcome) == "ok");
    // The buttons cover the window: each shows the summary under its own tip.
    EXPECT_TRUE(form->findChild<QPushButton*>("Command1")->toolTip().endsWith(form->toolTip()));
    // The tray's tooltip follows the countdown and keeps the outcome beside it.
    Tick();
    EXPECT_NE(tray->toolTip.find(Caption()), std::string::npos);
    for (const std::string& told : {std::string(": ") + row.outcome, reason}) {
      EXPECT_NE(form->toolTip().toStdString().find(told), std::string::npos);
      EXPECT_NE(tray->toolTip.find(told), std::string::npos);
    }
    const bool failed = std::string(row.outcome) == "failed";
    EXPECT_EQ(tray->warning, failed);
    EXPECT_EQ(form->windowIcon().pixmap(16, 16).toImage() == usualIcon, !failed);
    EXPECT_EQ(tray->messages,
              row.announced ? std::vector<std::string>{reason} : std::vector<std::string>{});
    const std::string log = test::ReadBytes("palisor.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), ++logLines);
    EXPECT_NE(log.rfind(std::string("  ") + row.outcome + "  "), std::string::npos);
    if (row.inTray) {
      tray->press(TrayPress::kLeft);
    }
  }
}

// A timer on the window's thread measures the gaps between turns of its event loop while
// a run uploads to a server that takes its time over the final reply, the moment a run
// that pumped events between calls of libcurl used to freeze the window.
TEST_F(Form1Test, WindowAnswersThroughoutASlowUploadAndEndStopsIt) {
  test::ScratchDir lists;
  lists.Write("proxy_c1.txt", "1.2.3.4\n");
  test::HttpServer http(lists.path());
  test::ScratchDir site;
  setenv("PALISOR_FTP_FINAL_REPLY_DELAY", "5", 1);
  test::FtpServer ftp(site.path(), "user", "secret");
  unsetenv("PALISOR_FTP_FINAL_REPLY_DELAY");
  Make();
  Settings& settings = state.settings;
  settings.lists[kAnonymousList].mode = true;
  settings.lists[kAnonymousList].url = http.Url("/proxy_c1.txt");
  settings.FTPSW = true;
  settings.SVNAME = ftp.Address();
  settings.SVUSER = "user";
  settings.SVPSWD = "secret";

  using Clock = std::chrono::steady_clock;
  Clock::duration longestGap{};
  Clock::time_point lastTurn = Clock::now();
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    longestGap = std::max(longestGap, now - lastTurn);
    lastTurn = now;
  });
  probe.start(5);

  Click("Command1");
  QTRY_VERIFY_WITH_TIMEOUT(ftp.Commands().find("STOR") != std::string::npos, 10000);
  QTest::qWait(1500);  // well into the wait for the final reply
  const auto endClicked = Clock::now();
  Click("Command2");
  AwaitRunEnd();
  const auto unwound = Clock::now() - endClicked;

  using std::chrono::milliseconds;
  EXPECT_LT(longestGap, milliseconds(100));
  EXPECT_LT(unwound, milliseconds(200));
  EXPECT_EQ(lastRun.outcome, Outcome::kAbandoned);
}

TEST_F(Form1Test, ClosingTheWindowEndsTheProgramLikeTheEndButton) {
  Make();
  form->close();
  EXPECT_FALSE(form->isVisible());
  // A tick still queued when the program ends starts no run.
  form->countdown().Restart(1);
  QMetaObject::invokeMethod(Timer1(), "timeout");
  EXPECT_EQ(runs, 0);
}

TEST_F(Form1Test, MinimiseButtonSendsTheWindowToTheTrayAndAPressBringsItBack) {
  Make();
  Click("Command6");
  QTRY_VERIFY(!form->isVisible());
  EXPECT_TRUE(tray->iconShown);

  tray->press(TrayPress::kLeft);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
  EXPECT_FALSE(tray->iconShown);
}

TEST_F(Form1Test, MinimisingThroughTheWindowSystemAlsoGoesToTheTray) {
  Make();
  form->setWindowState(Qt::WindowMinimized);
  QTRY_VERIFY(!form->isVisible());
  EXPECT_EQ(tray->adds, 1);
}

TEST_F(Form1Test, WithoutATrayTheMinimisedWindowStaysReachable) {
  Make(/*trayAvailable=*/false);
  Click("Command6");
  QCoreApplication::processEvents();
  EXPECT_TRUE(form->isMinimized());
  EXPECT_TRUE(form->isVisible()) << "hidden with no icon, it could never come back";
  EXPECT_EQ(tray->adds, 0);
}

TEST_F(Form1Test, CountdownAndRunsGoOnInTheTray) {
  Make();
  Click("Command6");
  QTRY_VERIFY(!form->isVisible());
  form->countdown().Restart(1);
  Tick();
  AwaitRunEnd();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(tray->iconShown);
  EXPECT_EQ(tray->adds, 1);
}

}  // namespace
}  // namespace palisor
