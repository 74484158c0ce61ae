#pragma once
// "&GPS test": the sentences of the GPS receiver on the GPS port, shown as they arrive.
#include <QDialog>
#include <QTimer>

#include "realtime/gps.h"

class QLineEdit;
class QPushButton;

namespace klx {
class Host;
class Session;
class SerialLink;

namespace ui {

// "GPS Test": one read-only line with the last position ("Message %s: %s", the sentence type and
// the GPS text) and "Close". Every 150 ms the open GPS port is read and its sentences parsed.
class GpsTestDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPeriodMs = 150;

  GpsTestDialog(SerialLink& link, Host& host, QWidget* parent = nullptr);

  QLineEdit* MessageLine() const { return line_; }
  QPushButton* CloseButton() const { return close_; }
  QTimer& Timer() { return timer_; }
  // One period's work: read the port, parse, show a new position.
  void Tick();

 private:
  SerialLink& link_;
  Host& host_;
  GpsReader reader_;
  QLineEdit* line_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer timer_;
  bool warned_ = false;
};

// Command 127: opens the GPS port (the GPS message of the message table when it cannot be
// opened), shows the dialog, and closes the port afterwards.
void RunGpsTestCommand(QWidget* parent, Session& session, Host& host);

}  // namespace ui
}  // namespace klx
