#include "link/ui/link_dialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include "link/serial_link.h"

namespace klx::ui {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog, std::function<bool()> apply) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog, apply] {
    if (apply()) dialog->accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

DefaultBaudRateDialog::DefaultBaudRateDialog(LoggerLink& logger, int currentRate, QWidget* parent)
    : QDialog(parent), logger_(logger) {
  setWindowTitle("Set Default Baud Rate");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Default baud rate:", this));
  list_ = new QListWidget(this);
  for (int rate : SerialLink::kBaudTable) {
    if (rate < logger.state.defaultBaudRateMinimum) continue;
    auto* item = new QListWidgetItem(QString::number(rate), list_);
    item->setData(Qt::UserRole, rate);
    if (rate == currentRate) list_->setCurrentItem(item);
  }
  if (!list_->currentItem() && list_->count() > 0) list_->setCurrentRow(0);
  list_->setMaximumHeight(list_->sizeHintForRow(0) * (list_->count() + 1) + 4);
  layout->addWidget(list_);
  layout->addWidget(OkCancel(this, [this] { return Apply(); }));
}

int DefaultBaudRateDialog::ChosenRate() const {
  const QListWidgetItem* item = list_->currentItem();
  return item ? item->data(Qt::UserRole).toInt() : 0;
}

bool DefaultBaudRateDialog::Apply() {
  const int rate = ChosenRate();
  return rate > 0 && logger_.SetDefaultBaudRate(rate);
}

LatencyDialog::LatencyDialog(LoggerLink& logger, int currentMs, QWidget* parent)
    : QDialog(parent), logger_(logger) {
  setWindowTitle("Set latency");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Required Latency (ms):", this));
  field_ = new QSpinBox(this);
  // Stored in units of 10 ms in two bytes.
  field_->setRange(0, 655350);
  field_->setSingleStep(10);
  field_->setValue(currentMs);
  layout->addWidget(field_);
  layout->addWidget(OkCancel(this, [this] { return Apply(); }));
}

bool LatencyDialog::Apply() {
  return logger_.SetLatency(field_->value());
}

}  // namespace klx::ui
