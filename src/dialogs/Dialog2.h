#pragma once

#include <QDialog>
#include <array>

#include "settings/Settings.h"

class QButtonGroup;
class QPushButton;

namespace palisor {

// The country access dialog: for each of the five countries, whether its allow list, its
// deny list or neither goes into the output. OK stores the five modes into the settings in
// memory only; the settings dialog's OK saves them later.
//
// Object names: "OKButton", "CancelButton", "Frame1" ... "Frame5" (Japan to Korea), and the
// option-button arrays "OPT_JP", "OPT_CN", "OPT_HK", "OPT_TW", "OPT_KR": each member carries
// its array's name as objectName and its index (0, 1, 2) in the dynamic property "index",
// which is also its id in the frame's exclusive QButtonGroup.
class Dialog2 final : public QDialog {
  Q_OBJECT

 public:
  explicit Dialog2(Settings& settings, QWidget* parent = nullptr);

 private:
  void BuildControls();
  void SelectHeldModes();
  void StoreSelectedModes();

  Settings& settings_;
  std::array<QButtonGroup*, kCountryCount> modeGroups_{};
};

}  // namespace palisor
