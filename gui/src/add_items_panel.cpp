#include "gui/add_items_panel.h"

#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>

#include "core/queue/add_items_panel.h"
#include "core/queue/item_settings.h"
#include "core/settings/settings.h"
#include "core/text/pattern_expand.h"
#include "gui/qt_text.h"
#include "gui/up_down_widget.h"

namespace torvane::gui {

namespace {

constexpr std::uint32_t kDropAnswer = kDropEffectCopy | kDropEffectLink;

// The clipboard's text with "\r\n" line ends, as the core reads lines;
// nothing when it holds no text.
std::optional<std::string> clipboard_text() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.isEmpty()) return std::nullopt;
  return with_crlf(text);
}

// A push button as wide as its caption: the pane beside the item list is
// narrow, and the style's least button width would leave the boxes no room.
class CaptionButton final : public QPushButton {
 public:
  CaptionButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setAutoDefault(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  }
  QSize sizeHint() const override {
    return {fontMetrics().horizontalAdvance(text()) + 2 * kPadding,
            QPushButton::sizeHint().height()};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 private:
  static constexpr int kPadding = 7;
};

QFrame* sunken_line(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setFixedHeight(2);
  return line;
}

QComboBox* history_box(QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setEditable(true);
  // The list is the history's to keep; Enter adds nothing of its own.
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(8);
  box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // Drops go to the panel, whichever box is under them.
  box->lineEdit()->setAcceptDrops(false);
  return box;
}

void set_list(QComboBox& box, const std::vector<std::string>& list) {
  const QString typed = box.currentText();
  box.clear();
  for (const std::string& entry : list) box.addItem(qt_text(entry));
  box.setEditText(typed);
}

}  // namespace

AddItemsPanel::AddItemsPanel(DownloadManager& manager, const IniAccess& ini, QWidget* parent)
    : QWidget(parent),
      manager_(manager),
      ini_(ini),
      history_(read_add_items_history(ini)),
      save_box_(history_box(this)),
      url_box_(history_box(this)),
      division_box_(new QLineEdit(this)),
      up_down_(new UpDownWidget(this)),
      text_box_(new QPlainTextEdit(this)) {
  build();
  refresh_lists();
  save_box_->setEditText(qt_text(history_.save_text.value_or("")));
  url_box_->setEditText(qt_text(history_.url_text.value_or("http://")));
  division_box_->setText(qt_text(history_.division));
  up_down_->setRange(1, kMaxDivisions);
  // The number stored, as the up-down control reads it; 0 when there is none.
  up_down_->setPosition(ini_.read_int(kSettingSection, "Div", 0));

  connect(division_box_, &QLineEdit::textEdited, this, [this](const QString& typed) {
    up_down_->setPosition(division_position(typed.toStdString()));
  });
  connect(up_down_, &UpDownWidget::moved, this,
          [this](int position) { division_box_->setText(QString::number(position)); });
  register_drop_target(this, [this](int code, DropEvent& event) { on_drop(code, event); });
}

AddItemsPanel::~AddItemsPanel() {
  write_history();
}

void AddItemsPanel::build() {
  const auto button = [this](const char* caption, void (AddItemsPanel::*action)()) {
    auto* b = new CaptionButton(QString::fromUtf8(caption), this);
    if (action != nullptr) connect(b, &QPushButton::clicked, this, action);
    buttons_.push_back(b);
    return b;
  };
  const auto label = [this](const char* caption) {
    return new QLabel(QString::fromUtf8(caption), this);
  };

  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(label("保存先"));
  folder_row->addWidget(save_box_, 1);
  folder_row->addWidget(button("参照", &AddItemsPanel::browse_folder));
  folder_row->addWidget(button("開く", &AddItemsPanel::open_folder));
  folder_row->addWidget(label("分割"));
  division_box_->setFixedWidth(
      division_box_->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 12);
  division_box_->setAcceptDrops(false);
  folder_row->addWidget(division_box_);
  folder_row->addWidget(up_down_);
  QPushButton* details = button("詳細", nullptr);
  connect(details, &QPushButton::clicked, this, &AddItemsPanel::details_requested);
  folder_row->addWidget(details);

  auto* url_row = new QHBoxLayout;
  url_row->addWidget(label("URL"));
  url_row->addWidget(url_box_, 1);
  url_row->addWidget(button("展開", &AddItemsPanel::expand_url));
  url_row->addWidget(button("登録", &AddItemsPanel::register_url));

  text_box_->setAcceptDrops(false);
  text_box_->viewport()->setAcceptDrops(false);

  auto* button_row = new QHBoxLayout;
  button_row->addStretch(1);
  button_row->addWidget(button("展開して登録", &AddItemsPanel::register_clipboard));
  button_row->addWidget(button("貼り付け", &AddItemsPanel::paste_clipboard));
  button_row->addWidget(button("URL抽出", &AddItemsPanel::extract_clipboard_urls));
  button_row->addWidget(button("展開して貼り付け", &AddItemsPanel::expand_clipboard));
  button_row->addWidget(button("登録", &AddItemsPanel::register_text));

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->addLayout(folder_row);
  column->addWidget(sunken_line(this));
  column->addLayout(url_row);
  column->addWidget(sunken_line(this));
  column->addWidget(text_box_, 1);
  column->addLayout(button_row);
  column->addWidget(sunken_line(this));
}

QPushButton* AddItemsPanel::button(const QString& caption, bool second) const {
  bool skip = second;
  for (QPushButton* b : buttons_) {
    if (b->text() != caption) continue;
    if (!skip) return b;
    skip = false;
  }
  return nullptr;
}

int AddItemsPanel::write_history() const {
  AddItemsHistory stored = history_;
  stored.save_text = save_box_->currentText().toStdString();
  stored.url_text = url_box_->currentText().toStdString();
  stored.division = division_box_->text().toStdString();
  return write_add_items_history(ini_, stored);
}

PanelTarget AddItemsPanel::target(std::string& division, std::string& folder) const {
  division = division_box_->text().toStdString();
  folder = save_box_->currentText().toStdString();
  return {division, folder};
}

void AddItemsPanel::refresh_lists() {
  set_list(*save_box_, history_.save_list);
  set_list(*url_box_, history_.url_list);
}

void AddItemsPanel::set_text_box(const std::string& text) {
  text_box_->setPlainText(for_display(text));
}

void AddItemsPanel::browse_folder() {
  QString start = save_box_->currentText();
  if (start.size() > 1 && start.endsWith(QLatin1Char('/'))) start.chop(1);
  QString picked =
      QFileDialog::getExistingDirectory(this, QString::fromUtf8("ダウンロード先："), start);
  if (picked.isEmpty()) return;  // cancelled
  if (picked != QStringLiteral("/") && !picked.endsWith(QLatin1Char('/')))
    picked += QLatin1Char('/');
  save_box_->setEditText(picked);
}

void AddItemsPanel::open_folder() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(save_box_->currentText()));
}

void AddItemsPanel::expand_url() {
  set_text_box(expand_pattern(url_box_->currentText().toStdString()));
}

void AddItemsPanel::register_url() {
  std::string division, folder;
  register_url_box(manager_, history_, target(division, folder),
                   url_box_->currentText().toStdString());
  refresh_lists();
}

void AddItemsPanel::register_clipboard() {
  // The folder joins its history whatever the clipboard holds; the text
  // box is emptied only when there is text to read.
  const std::optional<std::string> clipboard = clipboard_text();
  if (clipboard) text_box_->clear();
  std::string division, folder;
  register_clipboard_urls(manager_, history_, target(division, folder), clipboard.value_or(""));
  refresh_lists();
}

void AddItemsPanel::paste_clipboard() {
  if (const std::optional<std::string> clipboard = clipboard_text()) set_text_box(*clipboard);
}

void AddItemsPanel::extract_clipboard_urls() {
  if (const std::optional<std::string> clipboard = clipboard_text())
    set_text_box(extracted_urls(*clipboard));
}

void AddItemsPanel::expand_clipboard() {
  if (const std::optional<std::string> clipboard = clipboard_text())
    set_text_box(expanded_lines(*clipboard));
}

void AddItemsPanel::register_text() {
  std::string division, folder;
  register_text_box(manager_, history_, target(division, folder),
                    with_crlf(text_box_->toPlainText()));
  refresh_lists();
}

void AddItemsPanel::on_drop(int code, DropEvent& event) {
  if (code == kDragEnter) {
    event.effect = event.data != nullptr ? kDropAnswer : kDropEffectNone;
  } else if (code == kDrop) {
    if (event.data == nullptr) {
      event.effect = kDropEffectNone;
      return;
    }
    set_text_box(event.data);
    event.effect = kDropAnswer;
  }
}

}  // namespace torvane::gui
