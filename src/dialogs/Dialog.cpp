#include "dialogs/Dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QProxyStyle>
#include <QPushButton>
#include <QVariant>
#include <string>

#include "dialogs/ControlLook.h"
#include "dialogs/Dialog2.h"
#include "dialogs/ListDialog.h"

namespace palisor {
namespace {

// The password box has always masked with "*"; Qt styles pick a bullet of their own.
class AsteriskPasswordStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) {
      return '*';
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Two wordings, as the boxes have always shown them.
const char* const kNoNeedToChangeThis =
    QT_TRANSLATE_NOOP("palisor::Dialog", "通常は変更する必要はありません。");
const char* const kNoNeedToChangeThese =
    QT_TRANSLATE_NOOP("palisor::Dialog", "通常は変更する必要がありません。");

QLineEdit* MakeTextBox(QWidget* frame, const char* name, int left, int top, int width,
                       const QString& toolTip = {}, int maxLength = 0) {
  auto* box = MakeControl<QLineEdit>(frame, name, QString(), left, top, width, 264);
  box->setToolTip(toolTip);
  if (maxLength > 0) {
    box->setMaxLength(maxLength);
  }
  return box;
}

void SetTicked(QCheckBox* box, bool ticked) {
  box->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

// The save step takes the classic states: 0 clear, anything else ticked.
int StateOf(const QCheckBox* box) {
  return box->checkState() == Qt::Unchecked ? 0 : 1;
}

}  // namespace

Dialog::Dialog(Settings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), draft_(settings) {
  setObjectName(QStringLiteral("Dialog"));
  setWindowTitle(tr("設定"));
  setFont(GothicFont(9));
  SizeClientInTwips(this, 8280, 7365);
  BuildProxyKinds();
  BuildFtpServer();
  BuildOutputForm();
  BuildOther();
  BuildButtonsAndBanner();
  SetTabOrder();
  KeepCaptionsWhole(this);
  FillFromSettings();
  shown_ = CurrentInputs();
  connect(check4_, &QCheckBox::toggled, this, &Dialog::ApplyFtpEnablingRule);
  listChecks_[0]->setFocus();
}

void Dialog::BuildProxyKinds() {
  auto* frame4 =
      MakeControl<QGroupBox>(this, "Frame4", tr("制限をかけるPROXYの種類"), 120, 120, 6735, 1695);
  auto* cyber =
      MakeControl<QGroupBox>(frame4, "Frame5", tr("サイバーシンドローム様"), 240, 240, 6375, 615);
  cyber->setProperty("index", 0);
  listChecks_[0] = MakeControl<QCheckBox>(cyber, "Check1", "Anonymous", 480, 240, 1575, 255);
  listChecks_[1] = MakeControl<QCheckBox>(cyber, "Check2", "Non-Anonymous", 2280, 240, 1575, 255);
  listChecks_[2] = MakeControl<QCheckBox>(cyber, "Check3", "Squid", 4320, 240, 1575, 255);
  auto* overseas =
      MakeControl<QGroupBox>(frame4, "Frame5", tr("海外のリスト"), 240, 960, 6375, 615);
  overseas->setProperty("index", 1);
  listChecks_[3] = MakeControl<QCheckBox>(overseas, "Check5", tr("ロシア１"), 480, 240, 1575, 255);
  listChecks_[4] = MakeControl<QCheckBox>(overseas, "Check6", tr("ロシア２"), 2280, 240, 1575, 255);
  listChecks_[5] = MakeControl<QCheckBox>(overseas, "Check7", tr("カナダ"), 4320, 240, 1575, 255);
}

void Dialog::BuildFtpServer() {
  auto* frame1 = MakeControl<QGroupBox>(this, "Frame1", tr("FTPサーバ(制限をかけたいApacheサーバ)"),
                                        120, 1920, 6732, 2055);
  MakeControl<QLabel>(frame1, "Label1", tr("FTPサーバ (例: ftp.mysite.example )"), 360, 240, 3255,
                      255);
  text1_ = MakeTextBox(frame1, "Text1", 360, 480, 2895, tr(".htaccessを置きたいサーバの名前"));
  MakeControl<QLabel>(frame1, "Label3", "UserID", 3480, 240, 1332, 252);
  text3_ = MakeTextBox(frame1, "Text3", 3480, 480, 1332);
  MakeControl<QLabel>(frame1, "Label4", tr("パスワード"), 4920, 240, 1332, 252);
  text4_ = MakeTextBox(frame1, "Text4", 4920, 480, 1692);
  text4_->setEchoMode(QLineEdit::Password);
  auto* asterisk = new AsteriskPasswordStyle;
  asterisk->setParent(text4_);
  text4_->setStyle(asterisk);
  MakeControl<QLabel>(frame1, "Label2",
                      tr("格納ディレクトリ (例: /usr/home/hogehoge/public_html )"), 120, 840, 6492,
                      252);
  text2_ = MakeTextBox(frame1, "Text2", 360, 1080, 6255);
  MakeControl<QLabel>(frame1, "Label8", tr("格納ファイル名 (通常は変更しません) (例: .htaccess )"),
                      120, 1440, 6495, 255);
  text8_ = MakeTextBox(frame1, "Text8", 360, 1680, 3255);
  // On the frame's top edge, right of its caption: made after the frame so it stays on top.
  check4_ = MakeControl<QCheckBox>(this, "Check4", tr("FTP有効"), 5520, 1920, 1215, 255);
}

void Dialog::BuildOutputForm() {
  auto* frame3 =
      MakeControl<QGroupBox>(this, "Frame3", tr("編集(通常は変更しません)"), 120, 4080, 6735, 1695);
  MakeControl<QLabel>(frame3, "Label11", tr("ファイルへの出力様式"), 120, 240, 6375, 255);
  text11_ = MakeTextBox(frame3, "Text11", 360, 480, 2175, tr(kNoNeedToChangeThis));
  auto* label9 = MakeControl<QLabel>(frame3, "Label9", tr("{PROXYアドレス}"), 2640, 480, 1590, 225);
  label9->setFont(GothicFont(11.25));
  text12_ = MakeTextBox(frame3, "Text12", 4320, 480, 1935, tr(kNoNeedToChangeThis));
  MakeControl<QLabel>(frame3, "Label10", tr("制限プロクシ範囲(bit、通常32、16～32)"), 120, 960,
                      3495, 255);
  text9_ = MakeTextBox(frame3, "Text9", 360, 1200, 495, tr(kNoNeedToChangeThese), 2);
  MakeControl<QLabel>(frame3, "Label6", tr("制限プロクシの最大数(通常:9999)"), 3480, 960, 2775,
                      255);
  text6_ = MakeTextBox(frame3, "Text6", 3720, 1200, 735, tr(kNoNeedToChangeThese), 4);
}

void Dialog::BuildOther() {
  auto* frame2 = MakeControl<QGroupBox>(this, "Frame2", tr("その他(通常は変更しません)"), 120, 5880,
                                        6735, 915);
  MakeControl<QLabel>(frame2, "Label5", tr("更新間隔(秒)"), 120, 300, 1095, 255);
  text7_ = MakeTextBox(
      frame2, "Text7", 360, 540, 735,
      tr("PROXYは１時間おきに更新されるので３６００以下ではあまり意味がありません。"), 5);
}

void Dialog::BuildButtonsAndBanner() {
  auto* ok = MakeControl<QPushButton>(this, "OKButton", "OK", 6960, 240, 1215, 375);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &Dialog::SaveAndClose);
  auto* cancel = MakeControl<QPushButton>(this, "CancelButton", tr("ｷｬﾝｾﾙ"), 6960, 720, 1215, 375);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* command1 =
      MakeControl<QPushButton>(this, "Command1", tr("国別制御"), 6960, 1320, 1215, 375);
  command1->setFont(GothicFont(9, true));
  connect(command1, &QPushButton::clicked, this, &Dialog::ShowCountryControl);
  auto* command2 =
      MakeControl<QPushButton>(this, "Command2", tr("リスト設定"), 6960, 1800, 1215, 375);
  connect(command2, &QPushButton::clicked, this, &Dialog::ShowListSettings);
  okButton_ = ok;
  cancelButton_ = cancel;
  command1_ = command1;
  command2_ = command2;

  auto* label13 = MakeControl<QLabel>(this, "Label13", "  PALISOR ver " PALISOR_VERSION "  ", 120,
                                      6900, 8055, 375);
  label13->setFont(ArialFont(14.25, true));
  label13->setAutoFillBackground(true);
  QPalette banner = label13->palette();
  banner.setColor(QPalette::WindowText, QColor(192, 192, 0));
  banner.setColor(QPalette::Window, QColor(64, 64, 0));
  label13->setPalette(banner);
}

void Dialog::SetTabOrder() {
  QWidget* const order[] = {listChecks_[0], listChecks_[1], listChecks_[2], listChecks_[3],
                            listChecks_[4], listChecks_[5], check4_,        text1_,
                            text3_,         text4_,         text2_,         text8_,
                            text11_,        text12_,        text9_,         text6_,
                            text7_,         okButton_,      cancelButton_,  command1_,
                            command2_};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    setTabOrder(order[i - 1], order[i]);
  }
}

void Dialog::FillFromSettings() {
  const Settings& s = settings_;
  text1_->setText(FromBytes(s.SVNAME));
  text3_->setText(FromBytes(s.SVUSER));
  text4_->setText(FromBytes(s.SVPSWD));
  text2_->setText(FromBytes(s.SVPATH));
  // A box limited in length cuts what it is given: LISTMAX 50000 shows, and saves, as 5000.
  text6_->setText(QString::number(s.LISTMAX));
  text7_->setText(QString::number(s.TMINT));
  text9_->setText(QString::number(s.MASK));
  text8_->setText(FromBytes(s.SVFILE));
  text11_->setText(FromBytes(s.CHARBF));
  text12_->setText(FromBytes(s.CHARAF));
  SetTicked(check4_, s.FTPSW);
  for (std::size_t i = 0; i < listChecks_.size(); ++i) {
    SetTicked(listChecks_[i], s.lists[kCountryCount + i].mode != 0);
  }
  ApplyFtpEnablingRule();
}

std::array<QLineEdit*, 5> Dialog::FtpBoxes() const {
  return {text1_, text2_, text3_, text4_, text8_};
}

// Disabled boxes keep their texts, and OK stores them either way.
void Dialog::ApplyFtpEnablingRule() {
  const bool enabled = check4_->isChecked();
  const QColor background =
      QApplication::palette().color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button);
  for (QLineEdit* box : FtpBoxes()) {
    box->setEnabled(enabled);
  }
  for (QLineEdit* box : FtpBoxes()) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, background);
    box->setPalette(palette);
  }
}

// The notice offers no way out: the country dialog always follows it. Neither window has an
// owner, as both have always opened.
void Dialog::ShowCountryControl() {
  QMessageBox notice;
  notice.setWindowTitle(QStringLiteral("Palisor"));
  notice.setTextFormat(Qt::PlainText);
  notice.setText(tr(
      "注意！国別制御は出力されたファイルを「.htaccess」として使用する場合のみ指定してください。"));
  notice.setIcon(QMessageBox::NoIcon);
  notice.setStandardButtons(QMessageBox::Ok);
  // A plain notice: no picture on its button either, whatever the style's habit.
  notice.button(QMessageBox::Ok)->setIcon(QIcon());
  notice.exec();

  Dialog2 countries(draft_);
  countries.exec();
}

// The list dialog shows the six on/off boxes too: they travel both ways.
void Dialog::ShowListSettings() {
  for (std::size_t i = 0; i < listChecks_.size(); ++i) {
    draft_.lists[kCountryCount + i].mode = StateOf(listChecks_[i]) != 0 ? 1 : 0;
  }
  ListDialog lists(draft_, this);
  if (lists.exec() == QDialog::Accepted) {
    for (std::size_t i = 0; i < listChecks_.size(); ++i) {
      SetTicked(listChecks_[i], draft_.lists[kCountryCount + i].mode != 0);
    }
  }
}

SettingsDialogInputs Dialog::CurrentInputs() const {
  SettingsDialogInputs in;
  in.check4 = StateOf(check4_);
  for (std::size_t i = 0; i < listChecks_.size(); ++i) {
    in.listChecks[i] = StateOf(listChecks_[i]);
  }
  in.text1 = ToBytes(text1_->text());
  in.text3 = ToBytes(text3_->text());
  in.text4 = ToBytes(text4_->text());
  in.text2 = ToBytes(text2_->text());
  in.text8 = ToBytes(text8_->text());
  in.text11 = ToBytes(text11_->text());
  in.text12 = ToBytes(text12_->text());
  in.text6 = ToBytes(text6_->text());
  in.text9 = ToBytes(text9_->text());
  in.text7 = ToBytes(text7_->text());
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    in.countryModes[c] = draft_.lists[c].mode;
  }
  in.lists = ListInputsOf(draft_);
  return in;
}

void Dialog::SaveAndClose() {
  Result<Settings> saved = SaveSettings(shown_, CurrentInputs());
  if (!saved.ok()) {
    ShowSaveFailure(saved.error);
    return;
  }
  settings_ = std::move(saved.value);
  accept();
}

// The edits stay in the dialog, so the user can mend the file or folder and press OK again.
void Dialog::ShowSaveFailure(const std::string& error) {
  QMessageBox failure(this);
  failure.setWindowTitle(QStringLiteral("Palisor"));
  failure.setTextFormat(Qt::PlainText);
  failure.setIcon(QMessageBox::Warning);
  failure.setText(tr("設定を保存できませんでした。\n") + FromBytes(error));
  failure.setStandardButtons(QMessageBox::Ok);
  failure.exec();
}

}  // namespace palisor
