#include "mainwindow/Form1.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "dialogs/ControlLook.h"
#include "dialogs/Dialog.h"
#include "platform/Paths.h"
#include "platform/qt/Fonts.h"
#include "platform/qt/SystemTray.h"
#include "platform/qt/Twips.h"
#include "platform/qt/language/Captions.h"
#include "settings/SaveSettings.h"
#include "settings/SettingsFile.h"
#include "update/RunLog.h"

// The icon lives in this static library; registering it here pulls it into every program
// that uses the window. Q_INIT_RESOURCE must stand outside any namespace.
static void InitPalisorResources() {
  Q_INIT_RESOURCE(palisor);
}

namespace palisor {
namespace {

// The window's client area and its row of buttons, in twips.
constexpr int kClientWidthTwips = 3840;
constexpr int kClientHeightTwips = 390;
constexpr int kButtonHeightTwips = 375;
// How often the window checks that the notification area holding it is still there.
constexpr int kTrayCheckMs = 1000;

// The usual icon, or its variant that warns of a failed run.
QIcon ProgramIcon(bool warning) {
  InitPalisorResources();
  const QString name = warning ? QStringLiteral(":/palisor/palisor-warning-%1.png")
                               : QStringLiteral(":/palisor/palisor-%1.png");
  QIcon icon;
  for (const int size : {32, 16}) {
    icon.addFile(name.arg(size), QSize(size, size));
  }
  return icon;
}

// "ＭＳ Ｐゴシック" 8.25 pt where it is installed, else the desktop's Japanese Gothic face.
QFont ButtonFont() {
  QFont font;
  font.setFamilies(JapaneseGothicFaces());
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace

Form1::Form1(Module1& state, UpdateRun run, std::unique_ptr<Tray> tray)
    : state_(state),
      run_(std::move(run)),
      tray_(tray ? std::move(tray)
                 : std::make_unique<SystemTray>(ProgramIcon(false), ProgramIcon(true),
                                                QString::fromUtf8(kProductName))),
      countdown_(*this),
      dock_(*tray_, *this),
      runThread_(*this) {
  BuildControls();
  ConnectControls();

  // The load handling, in its order: the tray, the settings, the countdown.
  tray_->OnPress([this](TrayPress press) { dock_.IconPressed(press); });
  state_.settings = LoadSettings();
  countdown_.Restart(state_.settings.TMINT);
  SetTimerInterval(kTimerTicking);
}

Form1::~Form1() = default;

void Form1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kProductName));
  setWindowIcon(ProgramIcon(false));

  // Created from left to right, which is also the tab order.
  command3_ = AddButton("Command3", 0, 600, tr("開始"), tr("タイマーを開始します"));
  command4_ = AddButton("Command4", 600, 600, tr("停止"), tr("タイマーを停止します。"));
  command1_ = AddButton("Command1", 1200, 835, tr("手動実行"), tr("すぐに実行します"));
  command5_ = AddButton("Command5", 2040, 600, tr("設定"), tr("FTPやPROXYの設定を行います"));
  command2_ = AddButton("Command2", 2640, 600, tr("終了"), tr("プログラムを終了します"));
  command6_ =
      AddButton("Command6", 3240, 600, QStringLiteral("▼"), tr("ウィンドウを最小化します。"));
  command6_->setFont(font());  // the window's default font, unlike the other five
  setFixedSize(TwipsToPixels(kClientWidthTwips, logicalDpiX()) + rowGrowth_,
               TwipsToPixels(kClientHeightTwips, logicalDpiY()));

  setTabOrder(command3_, command4_);
  setTabOrder(command4_, command1_);
  setTabOrder(command1_, command5_);
  setTabOrder(command5_, command2_);
  setTabOrder(command2_, command6_);

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(kTimerStopped);
  trayWatch_ = new QTimer(this);
  trayWatch_->setInterval(kTrayCheckMs);
}

QPushButton* Form1::AddButton(const char* name, int leftTwips, int widthTwips,
                              const QString& caption, const QString& toolTip) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(toolTip);
  buttonToolTips_.emplace_back(button, toolTip);
  button->setFont(ButtonFont());
  const int laidOut = TwipsToPixels(widthTwips, logicalDpiX());
  const int width = std::max(laidOut, WidthForCaption(button));
  button->setGeometry(TwipsToPixels(leftTwips, logicalDpiX()) + rowGrowth_, 0, width,
                      TwipsToPixels(kButtonHeightTwips, logicalDpiY()));
  rowGrowth_ += width - laidOut;
  return button;
}

void Form1::ConnectControls() {
  connect(command1_, &QPushButton::clicked, this, [this] { RunUpdateNow(); });
  connect(command2_, &QPushButton::clicked, this, [this] { EndProgram(); });
  connect(command3_, &QPushButton::clicked, this, [this] { countdown_.Start(); });
  connect(command4_, &QPushButton::clicked, this, [this] { countdown_.Stop(); });
  connect(command5_, &QPushButton::clicked, this, [this] { OpenSettings(); });
  connect(command6_, &QPushButton::clicked, this,
          [this] { setWindowState(windowState() | Qt::WindowMinimized); });
  connect(timer1_, &QTimer::timeout, this, [this] {
    if (!ending_) {
      countdown_.Tick();
    }
  });
  connect(trayWatch_, &QTimer::timeout, this, [this] { dock_.CheckTray(); });
  trayWatch_->start();
}

void Form1::SetCaption(std::string_view caption) {
  setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  lastRun_.CaptionShown(caption);
  tray_->SetToolTip(lastRun_.TrayToolTip());
}

void Form1::EnableRunButtons(bool enabled) {
  for (QPushButton* button : {command1_, command3_, command4_, command5_}) {
    button->setEnabled(enabled);
  }
}

void Form1::RunStarted() {
  SetTimerInterval(kTimerStopped);
  EnableRunButtons(false);
}

void Form1::StageStarted(const StageReached& stage) {
  SetCaption(CaptionText(StageName(stage)));
}

void Form1::LinesWritten(std::uint64_t count) {
  SetCaption(WritingCaption(count));
}

void Form1::SetTimerInterval(int milliseconds) {
  if (milliseconds == kTimerStopped) {
    timer1_->stop();
    timer1_->setInterval(kTimerStopped);
    return;
  }
  // Setting the running interval again must not push the next tick back.
  if (!timer1_->isActive() || timer1_->interval() != milliseconds) {
    timer1_->start(milliseconds);
  }
}

int Form1::TimerInterval() const {
  return timer1_->interval();
}

void Form1::RunUpdateNow() {
  if (!ending_ && !runThread_.Running()) {
    // Logged on the run's thread, so a run that 終了 abandons is logged too, after the
    // window has gone; logError_ is read only once the thread has been joined.
    runThread_.Start(state_.settings, [this](Settings& settings, RunEvents& events,
                                             std::stop_token stop, const RunOptions& options) {
      const RunReport report = run_(settings, events, std::move(stop), options);
      logError_ = RecordRun(report);
      return report;
    });
  }
}

// Built afresh from the settings at each opening, without an owner window. Its OK restarts
// the countdown but leaves the timer as it was; a run going on takes the settings at its next
// stage.
void Form1::OpenSettings() {
  Dialog dialog(state_.settings);
  if (dialog.exec() != QDialog::Accepted) {
    return;
  }
  countdown_.Restart(state_.settings.TMINT);
  if (runThread_.Running()) {
    runThread_.PublishSettings(state_.settings);
  }
}

void Form1::OpenSettingsWhenNoFile() {
  std::error_code ignored;
  if (!std::filesystem::exists(NativePath(kSettingsFile), ignored)) {
    QTimer::singleShot(0, this, [this] { OpenSettings(); });
  }
}

void Form1::AskAboutOwnerLines(std::size_t lines, const std::string& reason) {
  if (ending_) {
    return;
  }
  QMessageBox question;
  question.setWindowTitle(QString::fromUtf8(kProductName));
  question.setIcon(QMessageBox::Question);
  question.setTextFormat(Qt::PlainText);
  question.setText(
      tr("サイトの%1に、Palisorが書いたのではない行が%2行あります。まだ何も送っていません。\n\n"
         "残す: Palisorは「# BEGIN Palisor」から「# END Palisor」までだけを書き、"
         "ほかの行はそのまま残します。\n置き換える: ファイル全体を新しいものに置き換えます。")
          .arg(QString::fromStdString(state_.settings.SVFILE))
          .arg(lines));
  question.setInformativeText(QString::fromStdString(reason));
  QPushButton* keep = question.addButton(tr("残す"), QMessageBox::AcceptRole);
  QPushButton* replace = question.addButton(tr("置き換える"), QMessageBox::DestructiveRole);
  QPushButton* cancel = question.addButton(tr("キャンセル"), QMessageBox::RejectRole);
  question.setDefaultButton(keep);
  question.setEscapeButton(cancel);
  question.exec();
  const QAbstractButton* chosen = question.clickedButton();
  if (chosen != keep && chosen != replace) {
    return;
  }
  Result<Settings> saved =
      SaveSetting("FTP", "OTHERLINES",
                  OtherLinesText(chosen == keep ? OtherLines::kKeep : OtherLines::kReplace));
  if (!saved.ok()) {
    QMessageBox::warning(
        nullptr, QString::fromUtf8(kProductName),
        tr("設定を保存できませんでした。\n") + QString::fromStdString(saved.error));
    return;
  }
  state_.settings = std::move(saved.value);
  RunUpdateNow();
}

void Form1::RunEnded(const RunReport& report) {
  if (const auto caption = ClosingCaption(report)) {
    SetCaption(CaptionText(*caption));
  }
  EnableRunButtons(true);
  countdown_.Restart(state_.settings.TMINT);
  SetTimerInterval(kTimerTicking);
  lastRun_.Ended(report, LocalTimeText(std::chrono::system_clock::now()), logError_);
  const QString summary = QString::fromStdString(lastRun_.Summary());
  setToolTip(summary);
  for (const auto& [button, own] : buttonToolTips_) {
    button->setToolTip(own + QStringLiteral("\n\n") + summary);
  }
  tray_->SetToolTip(lastRun_.TrayToolTip());
  setWindowIcon(ProgramIcon(lastRun_.Warns()));
  tray_->SetWarning(lastRun_.Warns());
  if (report.outcome == Outcome::kFailed && dock_.InTray()) {
    tray_->ShowMessage(kProductName, RunReason(report));
  }
  if (report.ownerLinesRefused > 0) {
    // Asked once the run's end has been shown, outside the run's own event.
    QTimer::singleShot(0, this,
                       [this, lines = report.ownerLinesRefused, reason = RunReason(report)] {
                         AskAboutOwnerLines(lines, reason);
                       });
  }
}

void Form1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Hidden once the state change has been handled: hiding from inside it confuses some
    // window managers.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (isMinimized()) {
            dock_.WindowMinimised();
          }
        },
        Qt::QueuedConnection);
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  EndProgram();
  event->accept();
}

void Form1::HideWindow() {
  hide();
}

void Form1::ShowWindowNormal() {
  showNormal();
  raise();
  activateWindow();
}

void Form1::EndProgram() {
  if (ending_) {
    return;
  }
  ending_ = true;
  runThread_.Stop();
  hide();
  QCoreApplication::exit(0);
}

}  // namespace palisor
