#include "dialogs/ListDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialogs/ControlLook.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "settings/SettingsFile.h"
#include "update/ListTry.h"

namespace palisor {
namespace {

// As the settings dialog and 国別制御 name them, in kListSources rows.
constexpr std::array<const char*, kListCount> kListCaptions = {
    QT_TRANSLATE_NOOP("palisor::ListDialog", "日本"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "中国"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "香港"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "台湾"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "韓国"),
    "Anonymous",
    "Non-Anonymous",
    "Squid",
    QT_TRANSLATE_NOOP("palisor::ListDialog", "ロシア１"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "ロシア２"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "カナダ"),
};

// The country modes in their order: the index is the mode.
constexpr std::array<const char*, 3> kModeNames = {
    QT_TRANSLATE_NOOP("palisor::ListDialog", "未指定"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "許可する"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "拒否する")};

constexpr std::array<const char*, 3> kOtherLinesNames = {
    QT_TRANSLATE_NOOP("palisor::ListDialog", "毎回尋ねる"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "残す (keep)"),
    QT_TRANSLATE_NOOP("palisor::ListDialog", "置き換える (replace)")};
constexpr std::array<OtherLines, 3> kOtherLinesChoices = {OtherLines::kAsk, OtherLines::kKeep,
                                                          OtherLines::kReplace};

constexpr std::array<const char*, 5> kLineSeparatorCodes = {"\\n", "\\N", "\\t", "\\,", "\\|"};

// Every address has a slot for its try; CHECKURL's comes after the lists'.
constexpr std::size_t kDenySlots = kListCount;
constexpr std::size_t kCheckSlot = kListCount + kCountryCount;
constexpr std::size_t kSlotCount = kCheckSlot + 1;

QString KeyName(std::string_view key) {
  return QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
}

template <typename Control>
Control* Named(Control* control, std::string_view key) {
  control->setObjectName(KeyName(key));
  return control;
}

QLabel* AnswerLabel(std::string_view key) {
  auto* answer = Named(new QLabel, "Result_" + std::string(key));
  answer->setWordWrap(true);
  answer->setTextFormat(Qt::PlainText);  // a list's "<html>" line must show as it is
  answer->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return answer;
}

// A box and its button on one row.
QHBoxLayout* Beside(QWidget* box, QWidget* button) {
  auto* row = new QHBoxLayout;
  row->addWidget(box);
  row->addWidget(button);
  return row;
}

QLabel* Note(const QString& text) {
  auto* note = new QLabel(text);
  note->setWordWrap(true);
  return note;
}

}  // namespace

ListDialog::ListDialog(Settings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), tryNumbers_(kSlotCount), tries_(kSlotCount) {
  setObjectName(QStringLiteral("ListDialog"));
  setWindowTitle(tr("リスト設定"));
  // Laid out by Qt, it keeps the desktop's font: the Gothic face of the fixed dialogs draws a
  // backslash as a yen sign, and LINESEP's codes and paths are written with backslashes.
  auto* tabs = new QTabWidget;
  auto* lists = new QScrollArea;
  lists->setWidgetResizable(true);
  lists->setWidget(BuildListsPage());
  tabs->addTab(lists, tr("リスト"));
  tabs->addTab(BuildOutputPage(), tr("確認と出力"));

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(tr("キャンセル"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    StoreIntoSettings();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  // The lists scroll, so a small or highly scaled screen still shows the buttons.
  resize(QSize(760, 600).boundedTo(screen()->availableGeometry().size()));
  FillFromSettings();
  urls_[kAnonymousList]->setFocus();  // the list on by default
}

// The tries still under way are stopped and joined here, before the labels they answer to go.
ListDialog::~ListDialog() = default;

QWidget* ListDialog::BuildListsPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);

  auto* proxies = new QGroupBox(tr("PROXYと海外のリスト (チェックで使用)"));
  auto* proxyGrid = new QGridLayout(proxies);
  for (std::size_t row = kCountryCount; row < kListCount; ++row) {
    const ListSource& source = kListSources[row];
    const int at = 2 * static_cast<int>(row - kCountryCount);
    auto* check = Named(new QCheckBox(tr(kListCaptions[row])), source.modeKey);
    listChecks_[row - kCountryCount] = check;
    proxyGrid->addWidget(check, at, 0);
    urls_[row] = AddAddressRow(proxyGrid, at, source.urlKey, row, ListForm::kAddress);
  }
  layout->addWidget(proxies);

  auto* countries = new QGroupBox(tr("国別のリスト (国別制御の選択で使用)"));
  auto* countryGrid = new QGridLayout(countries);
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    const ListSource& source = kListSources[c];
    const int at = 4 * static_cast<int>(c);
    countryGrid->addWidget(new QLabel(tr(kListCaptions[c])), at, 0);
    auto* mode = Named(new QComboBox, source.modeKey);
    for (const char* name : kModeNames) {
      mode->addItem(tr(name));
    }
    countryModes_[c] = mode;
    countryGrid->addWidget(mode, at + 1, 0, Qt::AlignTop);
    countryGrid->addWidget(new QLabel(tr("許可リスト")), at, 1);
    urls_[c] = AddAddressRow(countryGrid, at, source.urlKey, c, ListForm::kCountry);
    countryGrid->addWidget(new QLabel(tr("拒否リスト")), at + 2, 1);
    denyUrls_[c] =
        AddAddressRow(countryGrid, at + 2, source.denyUrlKey, kDenySlots + c, ListForm::kCountry);
  }
  layout->addWidget(countries);
  layout->addStretch();
  return page;
}

// Enter in a box means OK, whichever try was pressed last.
QPushButton* ListDialog::TryButton(std::string_view key) {
  auto* button = Named(new QPushButton(tr("試す")), "Try_" + std::string(key));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* ListDialog::AddAddressRow(QGridLayout* grid, int row, std::string_view key,
                                     std::size_t slot, ListForm form) {
  auto* box = Named(new QLineEdit, key);
  QPushButton* tryButton = TryButton(key);
  QLabel* answer = AnswerLabel(key);
  grid->addWidget(box, row, 2);
  grid->addWidget(tryButton, row, 3);
  grid->addWidget(answer, row + 1, 2, 1, 2);
  grid->setColumnStretch(2, 1);
  connect(tryButton, &QPushButton::clicked, this, [this, box, answer, slot, form] {
    const std::string address = ToBytes(box->text());
    const TrialTls tls{TrialCaFile()};
    StartTry(slot, answer, [address, form, tls](std::stop_token stop) {
      return DescribeTrial(TryList(address, form, tls, std::move(stop)));
    });
  });
  return box;
}

QWidget* ListDialog::BuildOutputPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);

  checkUrl_ = Named(new QLineEdit, "CHECKURL");
  QPushButton* tryCheck = TryButton("CHECKURL");
  form->addRow(tr("確認するページ (CHECKURL)"), Beside(checkUrl_, tryCheck));
  form->addRow(
      Note(tr("サイトのページを指定します (例: https://www.mysite.example/)。送信の前後に"
              "このページを要求し、新しいファイルでサーバエラー (500番台) になったときは"
              "元のファイルに戻します。空なら確認しません。")));
  QLabel* checkAnswer = AnswerLabel("CHECKURL");
  form->addRow(checkAnswer);
  connect(tryCheck, &QPushButton::clicked, this, [this, checkAnswer] {
    const std::string url = ToBytes(checkUrl_->text());
    const TrialTls tls{TrialCaFile()};
    StartTry(kCheckSlot, checkAnswer, [url, tls](std::stop_token stop) {
      return DescribeCheck(TryCheckUrl(url, tls, std::move(stop)));
    });
  });

  caFile_ = Named(new QLineEdit, "CAFILE");
  auto* browse = Named(new QPushButton(tr("参照…")), "CAFILEBrowse");
  form->addRow(tr("追加の証明書 (CAFILE, PEM)"), Beside(caFile_, browse));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("証明書ファイル"), caFile_->text(), tr("PEM (*.pem *.crt);;すべてのファイル (*)"));
    if (!chosen.isEmpty()) {
      caFile_->setText(chosen);
    }
  });

  perLine_ = Named(new QSpinBox, "PERLINE");
  perLine_->setRange(0, kPerLineMax);
  perLine_->setSpecialValueText(tr("自動 (CHARBF の形による)"));
  form->addRow(tr("1行のアドレス数 (PERLINE)"), perLine_);

  merge_ = Named(new QCheckBox(tr("重なるアドレスをまとめて書く (MERGE)")), "MERGE");
  form->addRow(merge_);

  otherLines_ = Named(new QComboBox, "OTHERLINES");
  for (const char* name : kOtherLinesNames) {
    otherLines_->addItem(tr(name));
  }
  form->addRow(tr("サイトのファイルにある自分の行 (OTHERLINES)"), otherLines_);

  lcFile_ = Named(new QLineEdit, "LCFILE");
  form->addRow(tr("出力ファイル (LCFILE)"), lcFile_);

  lineSep_ = Named(new QComboBox, "LINESEP");
  lineSep_->setEditable(true);
  for (const char* code : kLineSeparatorCodes) {
    lineSep_->addItem(QString::fromLatin1(code));
  }
  form->addRow(tr("行の区切り (LINESEP)"), lineSep_);
  form->addRow(
      Note(tr("\\n: LF、\\N: CR LF、\\t: タブ、\\,: カンマ、\\|: 縦線。"
              "改行のない区切りのファイルは送信しません。")));
  return page;
}

void ListDialog::StartTry(std::size_t slot, QLabel* answer,
                          std::function<std::string(std::stop_token)> attempt) {
  const unsigned number = ++tryNumbers_[slot];
  answer->setText(tr("試しています…"));
  // Replacing the thread stops and joins the try before it, which gives up within moments.
  tries_[slot] = std::jthread(
      [this, slot, number, answer, attempt = std::move(attempt)](std::stop_token stop) {
        std::string text = attempt(stop);
        if (stop.stop_requested()) {
          return;
        }
        QMetaObject::invokeMethod(
            answer,
            [this, slot, number, answer, text = std::move(text)] {
              if (tryNumbers_[slot] == number) {
                answer->setText(FromBytes(text));
              }
            },
            Qt::QueuedConnection);
      });
}

// The CA file as the box holds it now, so a file just chosen serves the tries.
std::filesystem::path ListDialog::TrialCaFile() const {
  return NativePath(TrimSpaces(ToBytes(caFile_->text())));
}

void ListDialog::FillFromSettings() {
  const Settings& s = settings_;
  for (std::size_t row = 0; row < kListCount; ++row) {
    urls_[row]->setText(FromBytes(s.lists[row].url));
  }
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    denyUrls_[c]->setText(FromBytes(s.lists[c].denyUrl));
    // A hand-edited mode outside 0 ... 2 shows none, and stays as it was unless chosen.
    const std::int16_t mode = s.lists[c].mode;
    countryModes_[c]->setCurrentIndex(mode >= 0 && mode < 3 ? mode : -1);
  }
  for (std::size_t i = 0; i < listChecks_.size(); ++i) {
    listChecks_[i]->setChecked(s.lists[kCountryCount + i].mode != 0);
  }
  checkUrl_->setText(FromBytes(s.CHECKURL));
  caFile_->setText(FromBytes(s.CAFILE));
  lcFile_->setText(FromBytes(s.LCFILE));
  perLine_->setValue(s.PERLINE);
  merge_->setChecked(s.MERGE);
  for (std::size_t i = 0; i < kOtherLinesChoices.size(); ++i) {
    if (kOtherLinesChoices[i] == s.OTHERLINES) {
      otherLines_->setCurrentIndex(static_cast<int>(i));
    }
  }
  lineSep_->setCurrentText(FromBytes(EncodeLineSeparator(s.LINESEP)));
}

void ListDialog::StoreIntoSettings() {
  Settings& s = settings_;
  for (std::size_t row = 0; row < kListCount; ++row) {
    s.lists[row].url = ToBytes(urls_[row]->text());
  }
  for (std::size_t c = 0; c < kCountryCount; ++c) {
    s.lists[c].denyUrl = ToBytes(denyUrls_[c]->text());
    if (const int mode = countryModes_[c]->currentIndex(); mode >= 0) {
      s.lists[c].mode = static_cast<std::int16_t>(mode);
    }
  }
  for (std::size_t i = 0; i < listChecks_.size(); ++i) {
    s.lists[kCountryCount + i].mode = listChecks_[i]->isChecked() ? 1 : 0;
  }
  s.CHECKURL = ToBytes(checkUrl_->text());
  s.CAFILE = ToBytes(caFile_->text());
  s.LCFILE = ToBytes(lcFile_->text());
  s.PERLINE = perLine_->value();
  s.MERGE = merge_->isChecked();
  s.OTHERLINES = kOtherLinesChoices[static_cast<std::size_t>(otherLines_->currentIndex())];
  s.LINESEP = DecodeLineSeparator(ToBytes(lineSep_->currentText()));
}

}  // namespace palisor
