#include "mainwindow/TrayDock.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/qt/SystemTray.h"

namespace palisor {
namespace {

// Records every call of the tray and the window in one list, so the order shows.
class Recorder final : public Tray, public TrayWindow {
 public:
  bool Available() const override { return available; }
  void ShowIcon() override {
    calls.push_back("show icon");
    ++icons;
  }
  void HideIcon() override {
    calls.push_back("hide icon");
    --icons;
  }
  void OnPress(PressHandler) override {}
  void SetWarning(bool) override {}
  void SetToolTip(std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}
  void HideWindow() override {
    calls.push_back("hide window");
    windowVisible = false;
  }
  void ShowWindowNormal() override {
    calls.push_back("show window");
    windowVisible = true;
  }

  bool available = true;
  bool windowVisible = true;
  int icons = 0;
  std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(TrayDockTest, MinimisingHidesTheWindowFirstThenAddsOneIcon) {
  Recorder r;
  TrayDock dock(r, r);
  dock.WindowMinimised();
  EXPECT_EQ(r.calls, (Calls{"hide window", "show icon"}));
  EXPECT_TRUE(dock.InTray());

  dock.WindowMinimised();  // a second state change while away adds nothing
  EXPECT_EQ(r.icons, 1);
}

TEST(TrayDockTest, WithoutANotificationAreaTheWindowStaysWhereItIs) {
  Recorder r;
  r.available = false;
  TrayDock dock(r, r);
  dock.WindowMinimised();
  EXPECT_TRUE(r.calls.empty()) << "no icon attempted and the window not hidden";
  EXPECT_FALSE(dock.InTray());
}

TEST(TrayDockTest, WhichPressesBringTheWindowBack) {
  const struct {
    TrayPress press;
    bool restores;
  } cases[] = {
      {TrayPress::kLeft, true},
      {TrayPress::kRight, true},
      {TrayPress::kDoubleClick, true},
      {TrayPress::kOther, false},
  };
  for (const auto& c : cases) {
    Recorder r;
    TrayDock dock(r, r);
    dock.WindowMinimised();
    r.calls.clear();
    dock.IconPressed(c.press);
    const Calls expected = c.restores ? Calls{"hide icon", "show window"} : Calls{};
    EXPECT_EQ(r.calls, expected) << static_cast<int>(c.press);
    EXPECT_EQ(dock.InTray(), !c.restores);
  }
}

TEST(TrayDockTest, EveryTripAddsOneIconAndRemovesIt) {
  Recorder r;
  TrayDock dock(r, r);
  for (int trip = 0; trip < 3; ++trip) {
    dock.WindowMinimised();
    EXPECT_EQ(r.icons, 1);
    dock.IconPressed(TrayPress::kRight);
    dock.IconPressed(TrayPress::kLeft);  // a late press after the restore does nothing
    EXPECT_EQ(r.icons, 0);
    EXPECT_TRUE(r.windowVisible);
  }
  EXPECT_EQ(r.calls.size(), 12u);
}

TEST(TrayDockTest, ANotificationAreaThatWentAwayGivesTheWindowBack) {
  const struct {
    const char* name;
    bool inTray;
    bool trayStays;
    Calls expected;
  } cases[] = {
      {"in the tray, the tray ends", true, false, {"hide icon", "show window"}},
      {"in the tray, the tray stays", true, true, {}},
      {"shown, the tray ends", false, false, {}},
  };
  for (const auto& c : cases) {
    Recorder r;
    TrayDock dock(r, r);
    if (c.inTray) {
      dock.WindowMinimised();
    }
    r.calls.clear();
    r.available = c.trayStays;
    dock.CheckTray();
    EXPECT_EQ(r.calls, c.expected) << c.name;
    EXPECT_FALSE(dock.InTray() && !c.trayStays) << c.name;
  }
}

TEST(TrayDockTest, PressWhileTheWindowIsShownDoesNothing) {
  Recorder r;
  TrayDock dock(r, r);
  dock.IconPressed(TrayPress::kLeft);
  EXPECT_TRUE(r.calls.empty());
}

TEST(SystemTrayTest, QtActivationsMapToPresses) {
  EXPECT_EQ(TrayPressFrom(QSystemTrayIcon::Trigger), TrayPress::kLeft);
  EXPECT_EQ(TrayPressFrom(QSystemTrayIcon::Context), TrayPress::kRight);
  EXPECT_EQ(TrayPressFrom(QSystemTrayIcon::DoubleClick), TrayPress::kDoubleClick);
  EXPECT_EQ(TrayPressFrom(QSystemTrayIcon::MiddleClick), TrayPress::kOther);
  EXPECT_EQ(TrayPressFrom(QSystemTrayIcon::Unknown), TrayPress::kOther);
}

}  // namespace
}  // namespace palisor
