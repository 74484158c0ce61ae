#pragma once
// The logger link's dialogs: the default baud rate and the latency.
#include <QDialog>

#include "link/logger_link.h"

class QListWidget;
class QSpinBox;

namespace klx::ui {

// "DefaultBaudrate": the baud-table rates from the logger's minimum upwards, the current
// default selected. OK writes the chosen rate (and reconnects at it); a failure keeps the
// dialog open after its message.
class DefaultBaudRateDialog : public QDialog {
  Q_OBJECT
 public:
  DefaultBaudRateDialog(LoggerLink& logger, int currentRate, QWidget* parent = nullptr);
  QListWidget* List() const { return list_; }
  int ChosenRate() const;
  // The OK button: true when the logger took the rate.
  bool Apply();

 private:
  LoggerLink& logger_;
  QListWidget* list_;
};

// "Latency": the latency in milliseconds, written into the configuration table on OK.
class LatencyDialog : public QDialog {
  Q_OBJECT
 public:
  LatencyDialog(LoggerLink& logger, int currentMs, QWidget* parent = nullptr);
  QSpinBox* Field() const { return field_; }
  bool Apply();

 private:
  LoggerLink& logger_;
  QSpinBox* field_;
};

}  // namespace klx::ui
