#include "gui/shutdown_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/queue/download_manager.h"
#include "core/settings/settings.h"
#include "core/settings/shutdown.h"
#include "core/settings/shutdown_choices.h"
#include "core/text/set_time_text.h"
#include "gui/qt_text.h"

namespace torvane::gui {

namespace {

// What the set-time box takes.
constexpr int kSetTimeLength = 1023;

}  // namespace

ShutdownDialog::ShutdownDialog(DownloadManager& manager, QWidget* parent)
    : QDialog(parent), manager_(manager) {
  setWindowTitle(qt_text(kShutdownDialogTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(build_triggers());

  methods_ = new QListWidget(this);
  for (const std::string_view text : kShutdownMethodTexts) methods_->addItem(qt_text(text));
  // Every entry in view: the list is short and its order tells the choice.
  methods_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  methods_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  methods_->setFixedHeight(methods_->sizeHintForRow(0) * methods_->count() +
                           2 * methods_->frameWidth());
  methods_->setMinimumWidth(methods_->sizeHintForColumn(0) + 2 * methods_->frameWidth() + 8);
  layout->addWidget(methods_);

  force_ = new QCheckBox(qt_text(kShutdownForceText), this);
  hang_up_ = new QCheckBox(qt_text(kShutdownHangUpText), this);
  layout->addWidget(force_);
  layout->addWidget(hang_up_);

  // The test apart from OK and Cancel: it acts at once.
  test_ = new QPushButton(qt_text(kShutdownTestButton), this);
  test_->setAutoDefault(false);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &ShutdownDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(test_, &QPushButton::clicked, this, &ShutdownDialog::run_test);
  auto* row = new QHBoxLayout;
  row->addWidget(test_);
  row->addStretch(1);
  row->addWidget(buttons);
  layout->addLayout(row);

  load();
}

QWidget* ShutdownDialog::build_triggers() {
  auto* group = new QFrame(this);
  group->setFrameShape(QFrame::StyledPanel);
  auto* column = new QVBoxLayout(group);
  trigger_group_ = new QButtonGroup(group);
  for (int i = 0; i < 3; ++i) {
    auto* button =
        new QRadioButton(qt_text(kShutdownTriggerTexts[static_cast<std::size_t>(i)]), group);
    triggers_[static_cast<std::size_t>(i)] = button;
    trigger_group_->addButton(button, i);
    column->addWidget(button);
  }
  // The set time belongs to the last trigger: under it, indented.
  set_time_ = new QLineEdit(group);
  set_time_->setMaxLength(kSetTimeLength);
  set_time_->setPlaceholderText(QStringLiteral("y2001 mo12 d24 h23 mi30 s00"));
  auto* time_row = new QHBoxLayout;
  time_row->addSpacing(column->contentsMargins().left() + 16);
  time_row->addWidget(set_time_);
  column->addLayout(time_row);
  return group;
}

void ShutdownDialog::load() {
  const ProgramSettings stored = manager_.with_settings([](ProgramSettings& s) { return s; });
  trigger(shutdown_trigger_entry(stored.shut_down)).setChecked(true);
  methods_->setCurrentRow(shutdown_method_entry(stored.how_to_sd));
  force_->setChecked((stored.how_to_sd & kShutdownForce) != 0);
  hang_up_->setChecked((stored.how_to_sd & kShutdownHangUp) != 0);
  set_time_->setText(qt_text(format_set_time(stored.shutdown_time)));
}

void ShutdownDialog::apply() {
  const int shut_down = shutdown_trigger_entry(trigger_group_->checkedId());
  const int entry = methods_->currentRow();
  const bool force = force_->isChecked();
  const bool hang_up = hang_up_->isChecked();
  const LocalTime time = parse_set_time(set_time_->text().toStdString());
  manager_.with_settings([&](ProgramSettings& s) {
    s.shut_down = shut_down;
    s.how_to_sd = with_shutdown_method(with_shutdown_switches(s.how_to_sd, force, hang_up), entry);
    s.shutdown_time = time;
  });
}

void ShutdownDialog::accept() {
  apply();
  QDialog::accept();
}

void ShutdownDialog::run_test() {
  apply();
  if (!ask(QMessageBox::Question, kShutdownConfirmCaption, kShutdownConfirmText,
           QMessageBox::Yes | QMessageBox::No)) {
    return;
  }
  PowerBackend* power = manager_.power();
  // Without power services (a test's manager, say) there is nothing to run.
  if (power == nullptr) return;
  const int result = manager_.with_settings(
      [power](ProgramSettings& s) { return perform_shutdown(s.how_to_sd, *power); });
  if (result == -1) {
    ask(QMessageBox::Warning, kShutdownFailureCaption, kShutdownFailureText, QMessageBox::Ok);
  }
}

bool ShutdownDialog::ask(QMessageBox::Icon icon, std::string_view caption, std::string_view text,
                         QMessageBox::StandardButtons buttons) {
  // The dialog may go while its message waits (the main window closing
  // deletes it, and the message with it): nothing is touched after that.
  const QPointer<ShutdownDialog> alive(this);
  const QPointer<QMessageBox> box =
      new QMessageBox(icon, qt_text(caption), qt_text(text), buttons, this);
  // A shutdown is not what Enter should start.
  if (buttons.testFlag(QMessageBox::No)) box->setDefaultButton(QMessageBox::No);
  const int answer = box->exec();
  if (alive.isNull()) return false;
  delete box.data();
  return answer == QMessageBox::Yes;
}

}  // namespace torvane::gui
