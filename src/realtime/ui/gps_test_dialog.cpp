#include "realtime/ui/gps_test_dialog.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/serial_link.h"
#include "platform/host.h"
#include "realtime/collection.h"
#include "session/session.h"
#include "shell/messages.h"
#include "shell/status.h"

namespace klx::ui {

GpsTestDialog::GpsTestDialog(SerialLink& link, Host& host, QWidget* parent)
    : QDialog(parent), link_(link), host_(host) {
  setWindowTitle(QString::fromStdString(MessageText(Msg::GpsTestCaption)));
  auto* top = new QVBoxLayout(this);
  line_ = new QLineEdit(this);
  line_->setReadOnly(true);
  line_->setMinimumWidth(360);
  top->addWidget(line_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  close_ = new QPushButton("Close", this);
  row->addWidget(close_);
  top->addLayout(row);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &GpsTestDialog::Tick);
  timer_.start();
}

void GpsTestDialog::Tick() {
  if (!link_.IsOpen(PortSlot::Gps)) return;
  uint8_t buffer[GpsReader::kBufferSize + 1];
  const int n = link_.LinkRead(PortSlot::Gps, buffer, static_cast<int>(reader_.ReadSize()));
  if (n > 0) reader_.Append(buffer, static_cast<size_t>(n));
  if (reader_.Parse())
    line_->setText(QString::fromLatin1(
        Format("Message %s: %s", reader_.sentenceType.c_str(), reader_.text.c_str())));
  if (reader_.warn && !warned_) {
    warned_ = true;
    // The box runs its own event loop: no ticks meanwhile.
    timer_.stop();
    host_.Tell(kGpsCaption, kGpsNoFixSentencesText, BoxIcon::Warning);
    if (isVisible()) timer_.start();
  }
}

void RunGpsTestCommand(QWidget* parent, Session& session, Host& host) {
  SerialLink& link = session.link;
  if (link.gpsPort < 1 ||
      !link.OpenSerialPort(PortSlot::Gps, link.gpsPort, link.gpsBaudRate, RtsControl::Disable)) {
    host.Tell(MessageText(Msg::GpsTestCaption), MessageText(Msg::UnableToConnectGps),
              BoxIcon::Warning);
    return;
  }
  if (SerialPort* port = link.Port(PortSlot::Gps)) port->SetTimeouts(PollingTimeouts());
  {
    GpsTestDialog dialog(link, host, parent);
    dialog.exec();
  }
  link.CloseSerialPort(PortSlot::Gps);
}

}  // namespace klx::ui
