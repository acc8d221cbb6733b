#include "mainwindow/Form1.h"

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include <QDir>
#include <QFontMetrics>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Transfer.h"
#include "platform/qt/Twips.h"
#include "support/TestServers.h"
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

  int adds = 0;
  int removals = 0;
  bool iconShown = false;
  PressHandler press;

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
        [this](Module1& s, Host& host) {
          ++runs;
          lastRun = RunUpdate(s, host, transfer);
        },
        std::move(fakeTray));
    Settings& settings = state.settings;
    settings.MODE1 = settings.MODE2 = settings.MODE3 = false;
    settings.MODE4 = settings.MODE5 = settings.MODE6 = false;
    for (int c = 0; c < kCountryCount; ++c) {
      settings.CountryMode(static_cast<Country>(c)) = kModeUnspecified;
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

  QString startDir = QDir::currentPath();
  QTemporaryDir workDir;
  Module1 state;
  Transfer transfer;
  FakeTray* tray = nullptr;
  int runs = 0;
  RunReport lastRun;
  std::unique_ptr<Form1> form;
};

TEST_F(Form1Test, StartsCountingWithoutARunAndShowsTheProductName) {
  Make();
  EXPECT_EQ(form->objectName(), "Form1");
  EXPECT_EQ(Caption(), "Palisor");
  EXPECT_EQ(state.settings.TMINT, 3600) << "the settings were loaded";
  EXPECT_EQ(state.secondsLeft, 3600);
  EXPECT_EQ(Timer1()->interval(), 1000);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(tray->iconShown);
  EXPECT_EQ(form->windowState(), Qt::WindowNoState);

  const auto sizes = form->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

TEST(TwipsTest, FifteenTwipsToThePixelAt96Dpi) {
  EXPECT_EQ(TwipsToPixels(3840, 96), 256);
  EXPECT_EQ(TwipsToPixels(390, 96), 26);
  EXPECT_EQ(TwipsToPixels(835, 96), 56);
  EXPECT_EQ(TwipsToPixels(600, 144), 60);
  EXPECT_EQ(TwipsToPixels(0, 96), 0);
}

TEST_F(Form1Test, RowOfButtonsAsLaidOut) {
  Make();
  const struct {
    const char* name;
    int left;
    int width;
    const char* caption;
    const char* toolTip;
  } rows[] = {
      {"Command3", 0, 600, "開始", "タイマーを開始します"},
      {"Command4", 600, 600, "停止", "タイマーを停止します。"},
      {"Command1", 1200, 835, "手動実行", "すぐに実行します"},
      {"Command5", 2040, 600, "設定", "FTPやPROXYの設定を行います"},
      {"Command2", 2640, 600, "終了", "プログラムを終了します"},
      {"Command6", 3240, 600, "▼", "ウィンドウを最小化します。"},
  };
  const int dpiX = form->logicalDpiX();
  const int dpiY = form->logicalDpiY();
  EXPECT_EQ(form->size(), QSize(TwipsToPixels(3840, dpiX), TwipsToPixels(390, dpiY)));

  QWidget* previous = nullptr;
  for (const auto& row : rows) {
    QPushButton* button = Button(row.name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), QRect(TwipsToPixels(row.left, dpiX), 0,
                                        TwipsToPixels(row.width, dpiX), TwipsToPixels(375, dpiY)))
        << row.name;
    EXPECT_EQ(button->text(), QString::fromUtf8(row.caption));
    EXPECT_EQ(button->toolTip(), QString::fromUtf8(row.toolTip));
    if (previous != nullptr) {
      EXPECT_EQ(previous->nextInFocusChain(), button) << "tab order reaches " << row.name;
    }
    previous = button;
  }
}

TEST_F(Form1Test, TextButtonsUseTheGothicFaceAndItCanShowTheirCaptions) {
  Make();
  for (const char* name : {"Command3", "Command4", "Command1", "Command5", "Command2"}) {
    const QFont font = Button(name)->font();
    EXPECT_EQ(font.families().value(0), QStringLiteral("ＭＳ Ｐゴシック")) << name;
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25) << name;
    const QFontMetrics metrics(font);
    for (const QChar c : Button(name)->text()) {
      EXPECT_TRUE(metrics.inFont(c))
          << name << " lacks a glyph in " << QFontInfo(font).family().toStdString();
    }
  }
  EXPECT_EQ(Button("Command6")->font(), form->font());
}

TEST_F(Form1Test, FirstTickShowsTheCountAndStopStartKeepIt) {
  Make();
  Tick();
  EXPECT_EQ(Caption(), "待機中(3599秒)");

  Click("Command4");
  EXPECT_EQ(Caption(), "停止中");
  EXPECT_EQ(Timer1()->interval(), 0);
  EXPECT_FALSE(Timer1()->isActive());
  EXPECT_EQ(state.secondsLeft, 3599);

  Click("Command3");
  EXPECT_EQ(Timer1()->interval(), 1000);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(Caption(), "停止中");
  Tick();
  EXPECT_EQ(Caption(), "待機中(3598秒)");
  EXPECT_EQ(runs, 0);
}

TEST_F(Form1Test, ManualRunWhileStoppedLeavesTheCountdownRunningFromTheInterval) {
  Make();
  Tick();
  Click("Command4");
  Click("Command1");
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Timer1()->interval(), 1000);
  EXPECT_TRUE(Timer1()->isActive());
  EXPECT_EQ(state.secondsLeft, 3600);
  EXPECT_EQ(Caption(), "待機中") << "the run's closing caption stays until the next tick";
  Tick();
  EXPECT_EQ(Caption(), "待機中(3599秒)");
}

TEST_F(Form1Test, TickStartedRunShowsTheFullIntervalAtOnce) {
  Make();
  state.secondsLeft = 1;
  Tick();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Caption(), "待機中(3600秒)");
}

TEST_F(Form1Test, ShortestIntervalRunsOnTheSixtiethTick) {
  Make();
  state.settings.TMINT = 60;
  state.secondsLeft = 60;
  for (int tick = 1; tick < 60; ++tick) {
    Tick();
  }
  EXPECT_EQ(Caption(), "待機中(1秒)");
  EXPECT_EQ(runs, 0);
  Tick();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Caption(), "待機中(60秒)");
}

// While a download hangs, the run leaves only "終了" and "▼" usable; the window can go to
// the tray and come back, and "終了" ends the run at once.
TEST_F(Form1Test, DuringARunOnlyEndAndMinimiseWorkAndEndAbandonsTheRun) {
  test::ScratchDir lists;
  test::HttpServer server(lists.path());
  Make();
  state.settings.MODE1 = true;
  state.settings.URL1 = server.Url("/stall");

  struct Seen {
    bool command1 = true, command3 = true, command4 = true, command5 = true;
    bool command2 = false, command6 = false;
    bool wentToTray = false, cameBack = false;
    std::string caption;
  } seen;
  std::chrono::steady_clock::time_point endClicked;
  int step = 0;
  // Acts from inside the run, whenever the run lets events through.
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    switch (step) {
      case 0:
        seen.caption = Caption();
        seen.command1 = Button("Command1")->isEnabled();
        seen.command3 = Button("Command3")->isEnabled();
        seen.command4 = Button("Command4")->isEnabled();
        seen.command5 = Button("Command5")->isEnabled();
        seen.command2 = Button("Command2")->isEnabled();
        seen.command6 = Button("Command6")->isEnabled();
        Click("Command6");
        ++step;
        break;
      case 1:
        if (!form->isVisible() && tray->iconShown) {
          seen.wentToTray = true;
          tray->press(TrayPress::kLeft);
          ++step;
        }
        break;
      case 2:
        seen.cameBack = form->isVisible() && !tray->iconShown;
        endClicked = std::chrono::steady_clock::now();
        Click("Command2");
        ++step;
        break;
    }
  });
  probe.start(10);

  Click("Command1");
  const auto unwound = std::chrono::steady_clock::now() - endClicked;

  EXPECT_EQ(seen.caption, "PROXY情報の取得中[Anonymous]");
  EXPECT_FALSE(seen.command1);
  EXPECT_FALSE(seen.command3);
  EXPECT_FALSE(seen.command4);
  EXPECT_FALSE(seen.command5);
  EXPECT_TRUE(seen.command2);
  EXPECT_TRUE(seen.command6);
  EXPECT_TRUE(seen.wentToTray);
  EXPECT_TRUE(seen.cameBack);
  ASSERT_EQ(step, 3);
  EXPECT_EQ(lastRun.outcome, Outcome::kAbandoned);
  EXPECT_LT(unwound, std::chrono::seconds(2)) << "the hanging download was left at once";
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->ProcessEvents());
}

TEST_F(Form1Test, ClosingTheWindowEndsTheProgramLikeTheEndButton) {
  Make();
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->ProcessEvents());
  // A tick still queued when the program ends starts no run.
  state.secondsLeft = 1;
  QMetaObject::invokeMethod(Timer1(), "timeout");
  EXPECT_EQ(runs, 0);
}

TEST_F(Form1Test, MinimiseButtonSendsTheWindowToTheTrayAndAPressBringsItBack) {
  Make();
  for (int trip = 1; trip <= 2; ++trip) {
    Click("Command6");
    QTRY_VERIFY(!form->isVisible());
    EXPECT_TRUE(tray->iconShown);
    EXPECT_EQ(tray->adds, trip);

    tray->press(TrayPress::kOther);  // middle button, release or move
    EXPECT_FALSE(form->isVisible());

    tray->press(trip == 1 ? TrayPress::kLeft : TrayPress::kRight);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_FALSE(tray->iconShown);
    EXPECT_EQ(tray->removals, trip);
  }
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
  state.secondsLeft = 1;
  Tick();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Caption(), "待機中(3600秒)");
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(tray->iconShown);
  EXPECT_EQ(tray->adds, 1);
}

}  // namespace
}  // namespace palisor
