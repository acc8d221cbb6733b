#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "settings/SaveSettings.h"
#include "settings/Settings.h"

class QCheckBox;
class QLineEdit;

namespace palisor {

// The settings dialog: a view over the settings, filled at each opening. OK saves what was
// changed through SaveSettings and accepts; when the file cannot be written it
// says which file and why, and stays open. Cancel, Esc and the close box store nothing. "国別制御"
// shows the country notice, then Dialog2; "リスト設定" (Command2) shows the list dialog. Both
// edit the dialog's working copy of the settings, which only OK saves.
//
// Every control's objectName is its name ("Check1", "Text7", "OKButton" ...). The two
// members of the frame array Frame5 are both named "Frame5" and carry their index (0, 1) in
// the dynamic property "index".
class Dialog final : public QDialog {
  Q_OBJECT

 public:
  explicit Dialog(Settings& settings, QWidget* parent = nullptr);

 private:
  void BuildProxyKinds();
  void BuildFtpServer();
  void BuildOutputForm();
  void BuildOther();
  void BuildButtonsAndBanner();
  void SetTabOrder();
  void FillFromSettings();
  void ApplyFtpEnablingRule();
  void ShowCountryControl();
  void ShowListSettings();
  void SaveAndClose();
  void ShowSaveFailure(const std::string& error);
  SettingsDialogInputs CurrentInputs() const;
  std::array<QLineEdit*, 5> FtpBoxes() const;

  Settings& settings_;
  Settings draft_;              // what the country and list dialogs chose
  SettingsDialogInputs shown_;  // as filled at the opening
  // MODE1 ... MODE6: Check1, Check2, Check3, Check5, Check6, Check7
  std::array<QCheckBox*, kListCount - kCountryCount> listChecks_{};
  QCheckBox* check4_ = nullptr;  // FTPSW
  QLineEdit* text1_ = nullptr;   // SVNAME
  QLineEdit* text3_ = nullptr;   // SVUSER
  QLineEdit* text4_ = nullptr;   // SVPSWD
  QLineEdit* text2_ = nullptr;   // SVPATH
  QLineEdit* text8_ = nullptr;   // SVFILE
  QLineEdit* text11_ = nullptr;  // CHARBF
  QLineEdit* text12_ = nullptr;  // CHARAF
  QLineEdit* text9_ = nullptr;   // MASK
  QLineEdit* text6_ = nullptr;   // LISTMAX
  QLineEdit* text7_ = nullptr;   // TMINT
  QWidget* okButton_ = nullptr;
  QWidget* cancelButton_ = nullptr;
  QWidget* command1_ = nullptr;
  QWidget* command2_ = nullptr;
};

}  // namespace palisor
