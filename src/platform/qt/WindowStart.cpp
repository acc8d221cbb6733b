#include "platform/qt/WindowStart.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include "platform/CommandLine.h"
#include "update/SampleFiles.h"

namespace palisor {
namespace {

constexpr std::string_view kWindowLockFile = "palisor.window.lock";

constexpr std::string_view kUsage =
    "Usage: palisor [-h|--help] [--version] [--init] [--dir DIR]\n"
    "\n"
    "Opens the Palisor window, which keeps the .htaccess of an Apache site up to date from\n"
    "published proxy and country lists. Palisor works in the current folder (or DIR); one\n"
    "window runs per folder. Without a desktop, palisor-update makes one update run.\n"
    "\n"
    "Options:\n";

void PrintLine(std::string_view text) {
  PrintError("palisor", text);
}

std::string NoDisplayLine() {
  const char* display = std::getenv("DISPLAY");
  const std::string which = display == nullptr || *display == '\0'
                                ? std::string("no display (DISPLAY is not set)")
                                : "cannot open display \"" + std::string(display) + "\"";
  return "cannot open the window: " + which +
         "; without a desktop, use palisor-update for update runs";
}

// Qt ends the process with abort() and several lines of its own when it finds no display.
// Its messages are held while the application is built: on that failure the program says
// one line instead and exits 1; otherwise they are passed on as they came.
struct HeldMessage {
  QtMsgType type;
  QByteArray file;
  int line;
  QByteArray function;
  QByteArray category;
  QString text;
};

std::vector<HeldMessage>& HeldMessages() {
  static std::vector<HeldMessage> held;
  return held;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    PrintLine(NoDisplayLine());
    std::_Exit(kExitFailed);
  }
  HeldMessages().push_back(
      {type, context.file, context.line, context.function, context.category, text});
}

void PassOnHeldMessages() {
  for (const HeldMessage& m : HeldMessages()) {
    const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(),
                                     m.category.constData());
    qt_message_output(m.type, context, m.text);
  }
  HeldMessages().clear();
}

// Local to the machine and the user: a socket only its owner may open, named after the folder.
QString SummonName() {
  std::error_code ignored;
  const std::string folder = std::filesystem::current_path(ignored).string();
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha256);
  return QStringLiteral("palisor-%1-%2")
      .arg(::getuid())
      .arg(QString::fromLatin1(digest.toHex().left(32)));
}

constexpr int kSummonWaitMs = 2000;

constexpr int kSummonRetryMs = 50;

// Asks the window running in the folder to show itself; false when it could not be reached.
// A window that has just taken the folder's lock may not be listening yet.
bool SummonRunningWindow() {
  QLocalSocket socket;
  for (int waited = 0; waited < kSummonWaitMs; waited += kSummonRetryMs) {
    socket.connectToServer(SummonName());
    // The connection is the whole message: the window shows itself when one arrives.
    if (socket.waitForConnected(kSummonWaitMs)) {
      socket.disconnectFromServer();
      return true;
    }
    QThread::msleep(kSummonRetryMs);
  }
  return false;
}

}  // namespace

WindowStart::WindowStart(int argc, char** argv) {
  exitCode_ = Prepare(argc, argv);
  if (!exitCode_) {
    // The display first: a start that cannot show a window leaves nothing in the folder.
    qtArgv_[0] = argv[0];
    OpenDisplay();
    exitCode_ = TakeWindowLock();
  }
}

WindowStart::~WindowStart() = default;

std::optional<int> WindowStart::Prepare(int argc, char** argv) {
  OwnOptions own{{"--init"}, {}};
  const std::string usage = std::string(kUsage) + std::string(kInitOptionHelp);
  if (const auto exitCode = TakeCommandLine("palisor", argc, argv, usage, {}, &own)) {
    return exitCode;
  }
  if (own.given.empty()) {
    return std::nullopt;
  }
  if (own.given.front().value) {
    PrintLine("--init takes no value");
    return kExitUsage;
  }
  return InitWorkingFolder("palisor");
}

std::optional<int> WindowStart::TakeWindowLock() {
  bool busy = false;
  std::string error;
  auto lock = LockFile::TryTake(std::filesystem::path(kWindowLockFile), busy, error);
  if (lock) {
    windowLock_.emplace(std::move(*lock));
  }
  if (busy) {
    std::error_code ignored;
    PrintLine("Palisor already runs in " + std::filesystem::current_path(ignored).string() +
              "; one window per folder");
    return SummonRunningWindow() ? kExitOk : kExitFailed;
  }
  if (windowLock_) {
    ListenForSummons();
  }
  // A folder where the lock file cannot be made (read-only, say) still gets its window.
  return std::nullopt;
}

// The folder's lock is held, so a socket of the same name is one a killed window left behind.
void WindowStart::ListenForSummons() {
  summons_ = std::make_unique<QLocalServer>();
  summons_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(SummonName());
  summons_->listen(SummonName());
}

void WindowStart::OnSummoned(std::function<void()> show) {
  if (!summons_) {
    return;
  }
  QObject::connect(summons_.get(), &QLocalServer::newConnection, summons_.get(),
                   [server = summons_.get(), show = std::move(show)] {
                     while (QLocalSocket* caller = server->nextPendingConnection()) {
                       caller->deleteLater();
                       show();
                     }
                   });
}

void WindowStart::OpenDisplay() {
  const QtMessageHandler previous = qInstallMessageHandler(HoldMessage);
  application_ = std::make_unique<QApplication>(qtArgc_, qtArgv_);
  qInstallMessageHandler(previous);
  PassOnHeldMessages();
}

}  // namespace palisor
