#include "desktop/retrieval_dialog.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "deployment/status.h"
#include "desktop/qt_host.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx::ui {

RetrievalDialog::RetrievalDialog(Session& session, std::unique_ptr<Retrieval> retrieval,
                                 QWidget* parent)
    : QDialog(parent), session_(session), retrieval_(std::move(retrieval)) {
  setWindowTitle("KLX Logger - Data Retrieval");
  // A logger with wave bursts gets the tide-and-wave variant: the tide period, the wave plan and
  // the logger height the wave analysis will use.
  waves_ = session_.logger.state.waves;
  setObjectName(waves_ ? "NMJDownloadProc" : "DownloadProc");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  identity_ = new QLabel(this);
  details_ = new QLabel(this);
  details_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  usage_ = new QLabel(this);
  usage_->setObjectName("memoryUsage");
  polled_ = new QLabel(this);
  polled_->setObjectName("polledStatus");
  statusLine_ = new QLabel(this);
  statusLine_->setObjectName("statusLine");
  statusLine_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusLine_->setMinimumHeight(22);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  layout->addWidget(identity_);
  layout->addWidget(details_);
  layout->addWidget(usage_);
  layout->addWidget(polled_);
  layout->addWidget(progress_);
  layout->addWidget(statusLine_);
  auto* row = new QHBoxLayout;
  retrieve_ = new QPushButton("Retrieve Data", this);
  retrieveAll_ = new QPushButton("Retrieve 100%", this);
  append_ = new QPushButton("Append to file", this);
  cancel_ = new QPushButton("Cancel", this);
  for (QPushButton* b : {retrieve_, retrieveAll_, append_, cancel_}) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  layout->addLayout(row);
  connect(retrieve_, &QPushButton::clicked, this, [this] { Start(false); });
  connect(retrieveAll_, &QPushButton::clicked, this, [this] { Start(true); });
  connect(append_, &QPushButton::clicked, this, &RetrievalDialog::Append);
  connect(cancel_, &QPushButton::clicked, this, &RetrievalDialog::reject);
  session_.host.SetProgress(0, 100);
  ShowState();
  setMinimumWidth(520);
}

RetrievalDialog::~RetrievalDialog() = default;

std::string RetrievalDialog::WavePlanText(const DeploymentParameters& d) {
  std::string text = d.waveEnabled && d.burstLength > 0
                         ? Format("Wave bursts:   %d samples at %dHz every %02d:%02d:%02d",
                                  d.burstLength, d.waveRateHz, d.burstInterval.hours,
                                  d.burstInterval.minutes, d.burstInterval.seconds)
                         : std::string("Wave sampling not enabled");
  text += Format("\nLogger height: %.2f m", d.loggerHeight);
  return text;
}

void RetrievalDialog::ShowState() {
  const Retrieval& r = *retrieval_;
  const auto lines =
      DescribeLogger(session_.logger, session_.link.loggerPort, session_.link.currentBaudRate);
  identity_->setText(FromLatin1(lines.empty() ? std::string() : lines[0]));
  const DeploymentParameters& d = session_.deployment;
  std::string details = Format(
      "Logger status: %s\nLogger time:   %s\nStart:         %s\nEnd:           %s\n%s "
      "%02d:%02d:%02d",
      r.statusName.c_str(), DateDisplayText(session_.logger.loggerClock).c_str(),
      DateDisplayText(d.startTime).c_str(), DateDisplayText(d.endTime).c_str(),
      session_.logger.state.ModelHas("NMJ") ? "Tide period:  " : "Sampling period:",
      d.samplePeriod.hours, d.samplePeriod.minutes, d.samplePeriod.seconds);
  if (waves_) details += "\n" + WavePlanText(d);
  details_->setText(FromLatin1(details));
  usage_->setText(FromLatin1("Memory usage: " + r.memoryUsage));
  // Nothing to fetch from a running logger: the button stops it instead.
  retrieve_->setText(r.stopButton ? "STOP logger" : "Retrieve Data");
  const TransferState& t = r.transfer().state;
  progress_->setValue(std::clamp(static_cast<int>(t.progress), 0, 100));
  if (t.downloading) statusLine_->setText(FromLatin1(r.transfer().RemainingText()));
}

void RetrievalDialog::Start(bool all) {
  retrieve_->hide();
  retrieveAll_->hide();
  append_->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool started = retrieval_->Begin(all);
  QApplication::restoreOverrideCursor();
  if (!started || !retrieval_->Downloading()) {
    End();
    return;
  }
  Transfer();
}

void RetrievalDialog::Append() {
  const std::optional<std::string> file = session_.host.ChooseFile(retrieval_->AppendFileChoice());
  if (!file) return;  // the dialog stays as it was
  retrieve_->hide();
  retrieveAll_->hide();
  append_->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool started = retrieval_->BeginAppend(*file);
  QApplication::restoreOverrideCursor();
  if (!started || !retrieval_->Downloading()) {
    End();
    return;
  }
  Transfer();
}

void RetrievalDialog::Transfer() {
  statusLine_->setText("Retrieving data");
  transferring_ = true;
  if (transferRunning) transferRunning(true);
  if (setTickPeriod) setTickPeriod(std::max(retrieval_->TimerPeriodMs(), 1));
}

void RetrievalDialog::Poll() {
  if (ended_) return;
  if (transferring_)
    Step();
  else
    PollLogger();
}

void RetrievalDialog::PollLogger() {
  LoggerLink& logger = session_.logger;
  std::string text = "Logger status: ";
  text += logger.CommGet(9) == 1 ? StatusName(logger.status.code) : "no answer";
  if (logger.state.reportsBatteryVoltage) {
    text += "    Battery: ";
    text += logger.CommGet(21) == 1 ? logger.batteryVoltage : std::string("no answer");
  }
  polled_->setText(FromLatin1(text));
}

void RetrievalDialog::Step() {
  const bool more = retrieval_->Tick();
  ShowState();
  if (afterBlock) afterBlock();
  if (!more) End();
}

void RetrievalDialog::End() {
  if (ended_) return;
  ended_ = true;
  const bool wasTransferring = transferring_;
  if (transferring_ && setTickPeriod) setTickPeriod(1000);
  transferring_ = false;
  if (wasTransferring && transferRunning) transferRunning(false);
  const bool data = session_.held.image.unsaved && !session_.held.data.Empty();
  statusLine_->setText(data ? "Retrieval complete" : "No data were retrieved");
  if (data) progress_->setValue(100);
  if (finished) finished(data);
  close();
}

void RetrievalDialog::reject() {
  if (ended_) {
    QDialog::reject();
    return;
  }
  if (transferring_) {
    retrieval_->Cancel();  // keeps and decodes what has arrived
    End();
    return;
  }
  End();
}

}  // namespace klx::ui
