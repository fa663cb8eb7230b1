#include "gui/settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "core/queue/download_manager.h"
#include "core/settings/settings.h"
#include "gui/name_template_dialog.h"
#include "gui/shutdown_dialog.h"
#include "torvane/shared_access.hpp"

namespace torvane::gui {

namespace {

// The existing-file policies in ExistFile order.
constexpr const char* kExistFileTexts[] = {"上書き", "エラー", "別名称", "元ファイルの名称変更"};

// A check box's setting: 1 ticked, else 0.
void follow(QCheckBox* box, DownloadManager& manager, int ProgramSettings::*field) {
  QObject::connect(box, &QCheckBox::toggled, box, [&manager, field](bool on) {
    manager.with_settings([&](ProgramSettings& s) { s.*field = on ? 1 : 0; });
  });
}

}  // namespace

SettingsDialog::SettingsDialog(DownloadManager& manager, QWidget* parent)
    : QDialog(parent), manager_(manager) {
  setWindowTitle(QString::fromUtf8("Torvane GUI 設定 (リアルタイムで更新)"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(build_thread_wait());
  layout->addWidget(build_speed());
  write_log_ = new QCheckBox(QString::fromUtf8("簡易ログ出力"), this);
  strict_info_ = new QCheckBox(QString::fromUtf8("厳密なダウンロード情報(負荷増)"), this);
  save_to_dir_ = new QCheckBox(QString::fromUtf8("保存先を常にディレクトリとする"), this);
  for (QCheckBox* box : {write_log_, strict_info_, save_to_dir_}) layout->addWidget(box);
  layout->addWidget(build_exist_file());

  power_ = new QPushButton(QString::fromUtf8("電源と回線"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(power_);
  buttons->addStretch(1);
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  load();
  connect_changes();
}

QWidget* SettingsDialog::build_thread_wait() {
  auto* group = new QGroupBox(QStringLiteral("Thread Wait"), this);
  auto* column = new QVBoxLayout(group);
  thread_wait_ = new QSlider(Qt::Horizontal, group);
  thread_wait_->setRange(kMinThreadWait, kMaxThreadWait);
  thread_wait_->setPageStep(50);
  thread_wait_->setTickPosition(QSlider::TicksBelow);
  thread_wait_->setTickInterval(100);
  // Wide enough that one step of the mouse is a few milliseconds.
  thread_wait_->setMinimumWidth(thread_wait_->fontMetrics().averageCharWidth() * 40);
  thread_wait_text_ = new QLabel(group);
  thread_wait_text_->setAlignment(Qt::AlignCenter);
  column->addWidget(thread_wait_);
  column->addWidget(thread_wait_text_);
  return group;
}

QWidget* SettingsDialog::build_speed() {
  auto* group = new QGroupBox(QString::fromUtf8("速度表示"), this);
  auto* row = new QHBoxLayout(group);
  bytes_ = new QRadioButton(QStringLiteral("byte/s"), group);
  bits_ = new QRadioButton(QStringLiteral("bps"), group);
  row->addWidget(bytes_);
  row->addWidget(bits_);
  row->addStretch(1);
  return group;
}

QWidget* SettingsDialog::build_exist_file() {
  auto* group = new QGroupBox(QString::fromUtf8("既にファイルが存在する場合の処理"), this);
  auto* grid = new QGridLayout(group);
  exist_group_ = new QButtonGroup(group);
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(kExistFileTexts[i]), group);
    exist_file_[static_cast<std::size_t>(i)] = button;
    exist_group_->addButton(button, i);
    grid->addWidget(button, i / 2, i % 2);
  }
  templates_ = new QPushButton(QString::fromUtf8("詳細設定"), group);
  grid->addWidget(templates_, 2, 1, Qt::AlignRight);
  return group;
}

void SettingsDialog::load() {
  const ProgramSettings shown = manager_.with_settings([this](ProgramSettings& s) {
    // An unset pause opens at the engine's and is kept as the setting.
    s.thread_wait = opening_thread_wait(s.thread_wait, load_relaxed(manager_.context().wait_ms));
    return s;
  });
  thread_wait_->setValue(shown.thread_wait);
  show_thread_wait(shown.thread_wait);
  (shown.bps == 0 ? bytes_ : bits_)->setChecked(true);
  write_log_->setChecked(shown.write_log != 0);
  strict_info_->setChecked(shown.strict_dl_info != 0);
  save_to_dir_->setChecked(shown.save_to_dir != 0);
  // Another value selects no policy, and stays until one is chosen.
  if (shown.exist_file >= 0 && shown.exist_file < 4) exist_file(shown.exist_file).setChecked(true);
}

void SettingsDialog::connect_changes() {
  connect(thread_wait_, &QSlider::valueChanged, this, [this](int ms) {
    show_thread_wait(ms);
    if (ms > 0) manager_.set_thread_wait(ms);
  });
  connect(bytes_, &QRadioButton::toggled, this, [this](bool bytes) {
    manager_.with_settings([bytes](ProgramSettings& s) { s.bps = bytes ? 0 : 1; });
  });
  follow(write_log_, manager_, &ProgramSettings::write_log);
  follow(strict_info_, manager_, &ProgramSettings::strict_dl_info);
  follow(save_to_dir_, manager_, &ProgramSettings::save_to_dir);
  connect(exist_group_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (on) manager_.with_settings([id](ProgramSettings& s) { s.exist_file = id; });
  });
  connect(templates_, &QPushButton::clicked, this, [this] { open_templates(); });
  connect(power_, &QPushButton::clicked, this, [this] { open_power(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
}

void SettingsDialog::show_thread_wait(int ms) {
  thread_wait_text_->setText(QString::asprintf("%dms", ms));
}

QDialog* SettingsDialog::open_templates() {
  return open_child(new NameTemplateDialog(manager_, this));
}

QDialog* SettingsDialog::open_power() {
  return open_child(new ShutdownDialog(manager_, this));
}

QDialog* SettingsDialog::open_child(QDialog* child) {
  child->setAttribute(Qt::WA_DeleteOnClose);
  child->show();
  return child;
}

}  // namespace torvane::gui
