#include "dialogs/Dialog2.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVariant>
#include <vector>

#include "dialogs/ControlLook.h"

namespace palisor {
namespace {

struct CountryFrame {
  const char* frameName;
  const char* caption;
  const char* arrayName;
};

// Japan to Korea, top to bottom, in the order of the Country enum.
constexpr std::array<CountryFrame, kCountryCount> kCountryFrames{{
    {"Frame1", QT_TRANSLATE_NOOP("palisor::Dialog2", "日本 からのアクセスを"), "OPT_JP"},
    {"Frame2", QT_TRANSLATE_NOOP("palisor::Dialog2", "中国 からのアクセスを"), "OPT_CN"},
    {"Frame3", QT_TRANSLATE_NOOP("palisor::Dialog2", "香港 からのアクセスを"), "OPT_HK"},
    {"Frame4", QT_TRANSLATE_NOOP("palisor::Dialog2", "台湾 からのアクセスを"), "OPT_TW"},
    {"Frame5", QT_TRANSLATE_NOOP("palisor::Dialog2", "韓国 からのアクセスを"), "OPT_KR"},
}};

struct ModeButton {
  const char* caption;
  int left;
  QColor colour;  // invalid: the default text colour
};

const std::array<ModeButton, 3>& ModeButtons() {
  static const std::array<ModeButton, 3> buttons{{
      {QT_TRANSLATE_NOOP("palisor::Dialog2", "未指定"), 360, QColor()},
      {QT_TRANSLATE_NOOP("palisor::Dialog2", "許可する"), 1560, QColor(0, 0, 255)},
      {QT_TRANSLATE_NOOP("palisor::Dialog2", "拒否する"), 2880, QColor(255, 0, 0)},
  }};
  return buttons;
}

}  // namespace

Dialog2::Dialog2(Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("Dialog2"));
  setWindowTitle(tr("国別制御"));
  setFont(GothicFont(9));
  SizeClientInTwips(this, 6030, 3795);
  BuildControls();
  KeepCaptionsWhole(this);
  SelectHeldModes();
}

void Dialog2::BuildControls() {
  auto* ok = MakeControl<QPushButton>(this, "OKButton", "OK", 4680, 120, 1215, 375);
  auto* cancel = MakeControl<QPushButton>(this, "CancelButton", tr("ｷｬﾝｾﾙ"), 4680, 600, 1215, 375);
  connect(ok, &QPushButton::clicked, this, [this] {
    StoreSelectedModes();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  std::vector<QWidget*> tabOrder{ok, cancel};
  for (int c = 0; c < kCountryCount; ++c) {
    const CountryFrame& country = kCountryFrames[c];
    auto* frame = MakeControl<QGroupBox>(this, country.frameName, tr(country.caption), 120,
                                         120 + 720 * c, 4335, 615);

    modeGroups_[c] = new QButtonGroup(frame);
    for (int index = 0; index < 3; ++index) {
      const ModeButton& mode = ModeButtons()[index];
      auto* option = MakeControl<QRadioButton>(frame, country.arrayName, tr(mode.caption),
                                               mode.left, 240, 1200, 255);
      option->setProperty("index", index);
      option->setFont(GothicFont(9, true));
      if (mode.colour.isValid()) {
        SetTextColour(option, mode.colour);
      }
      modeGroups_[c]->addButton(option, index);
      tabOrder.push_back(option);
    }
  }
  for (std::size_t i = 1; i < tabOrder.size(); ++i) {
    setTabOrder(tabOrder[i - 1], tabOrder[i]);
  }
}

// A mode outside 0 ... 2 (a hand-edited file) matches no button: that frame opens with
// none selected, and OK leaves the mode as it was.
void Dialog2::SelectHeldModes() {
  for (int c = 0; c < kCountryCount; ++c) {
    if (QAbstractButton* held = modeGroups_[c]->button(settings_.lists[c].mode)) {
      held->setChecked(true);
    }
  }
}

void Dialog2::StoreSelectedModes() {
  for (int c = 0; c < kCountryCount; ++c) {
    const int selected = modeGroups_[c]->checkedId();
    if (selected >= 0) {
      settings_.lists[c].mode = static_cast<std::int16_t>(selected);
    }
  }
}

}  // namespace palisor
