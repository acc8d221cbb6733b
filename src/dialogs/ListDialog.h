#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "settings/Settings.h"
#include "update/ListLines.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace palisor {

// The list dialog: the eleven lists (on/off or country mode, addresses), the check around an
// upload and the output keys. OK stores its values into `settings` in memory only (the
// settings dialog's working copy, which its OK saves); Cancel stores nothing.
//
// Each address box, mode control and output field is named by its key ("URL1",
// "IPG_JP_URL2", "MODE1", "IPG_JP", "CHECKURL", "PERLINE" ...); a list's try button is
// "Try_" and its answer "Result_" followed by the address key ("Try_CHECKURL" for the check).
// A try downloads on a thread of its own and writes nothing; a second try of the same address,
// or closing the dialog, stops the one under way.
class ListDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit ListDialog(Settings& settings, QWidget* parent = nullptr);
  ~ListDialog() override;

 private:
  QWidget* BuildListsPage();
  QWidget* BuildOutputPage();
  QPushButton* TryButton(std::string_view key);
  // An address box with its try button at `row`, its answer on the row below.
  QLineEdit* AddAddressRow(QGridLayout* grid, int row, std::string_view key, std::size_t slot,
                           ListForm form);
  void StartTry(std::size_t slot, QLabel* answer,
                std::function<std::string(std::stop_token)> attempt);
  void FillFromSettings();
  void StoreIntoSettings();
  std::filesystem::path TrialCaFile() const;

  Settings& settings_;
  std::array<QCheckBox*, kListCount - kCountryCount> listChecks_{};
  std::array<QComboBox*, kCountryCount> countryModes_{};
  std::array<QLineEdit*, kListCount> urls_{};
  std::array<QLineEdit*, kCountryCount> denyUrls_{};
  QLineEdit* checkUrl_ = nullptr;
  QLineEdit* caFile_ = nullptr;
  QLineEdit* lcFile_ = nullptr;
  QSpinBox* perLine_ = nullptr;
  QCheckBox* merge_ = nullptr;
  QComboBox* otherLines_ = nullptr;
  QComboBox* lineSep_ = nullptr;
  // One try at a time per address; the newest one's answer is shown.
  std::vector<unsigned> tryNumbers_;
  std::vector<std::jthread> tries_;
};

}  // namespace palisor
