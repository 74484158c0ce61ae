#include "microsal/ui/microsal_panel.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "session/session.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx::ui {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// A field read as "%lf": the number, or nothing when the text is not one.
std::optional<double> Number(const QLineEdit* field) {
  bool ok = false;
  const double v = field->text().trimmed().toDouble(&ok);
  if (!ok) return std::nullopt;
  return v;
}

}  // namespace

MicrosalGraph::MicrosalGraph(const MicrosalMeasurement& m, QWidget* parent)
    : QWidget(parent), m_(m) {
  setMinimumSize(300, 140);
}

void MicrosalGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(Qt::gray);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  struct Trace {
    MicrosalMeasurement::GraphChannel channel;
    const char* label;
    QColor colour;
  };
  const Trace traces[] = {{MicrosalMeasurement::kGraphSalinity, "Salinity", Qt::black},
                          {MicrosalMeasurement::kGraphStandard, "Stand", Qt::blue},
                          {MicrosalMeasurement::kGraphSample, "Sample", Qt::darkGreen},
                          {MicrosalMeasurement::kGraphTemperature, "Temp", Qt::red}};
  const size_t first = m_.GraphViewStart();
  const double w = width() - 2, h = height() - 20;
  int labelX = 4;
  for (const Trace& t : traces) {
    const std::vector<float>& v = m_.Graph(t.channel);
    p.setPen(t.colour);
    p.drawText(labelX, height() - 4, t.label);
    labelX += 70;
    if (v.size() <= first) continue;
    // "Auto": each trace between its own minimum and maximum over the span shown.
    const auto [lo, hi] = std::minmax_element(v.begin() + static_cast<long>(first), v.end());
    const double span = *hi > *lo ? *hi - *lo : 1.0;
    const size_t n = v.size() - first;
    QPolygonF line;
    for (size_t i = 0; i < n; ++i) {
      const double x = 1 + (n > 1 ? w * static_cast<double>(i) / static_cast<double>(n - 1) : 0);
      const double y = 2 + h - h * (v[first + i] - *lo) / span;
      line << QPointF(x, y);
    }
    p.drawPolyline(line);
  }
}

MicrosalPanel::MicrosalPanel(LoggerLink& logger, Clock& clock, Host& host,
                             CalibrationCoefficients& calibration, std::filesystem::path dataFolder,
                             int averageSeconds, QWidget* parent)
    : QDialog(parent),
      run_(logger, clock, calibration),
      host_(host),
      clock_(clock),
      dataFolder_(std::move(dataFolder)) {
  setWindowTitle("Micro-Salinometer");
  run_.SetAveragingSeconds(averageSeconds);

  auto* left = new QVBoxLayout;
  identity_ = new QLabel(this);
  left->addWidget(identity_);
  text_ = new QLabel(this);
  text_->setMinimumHeight(90);
  left->addWidget(text_);
  details_ = new QLabel(this);
  details_->hide();
  left->addWidget(details_);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  left->addWidget(progress_);
  salinity_ = new QLabel(this);
  QFont large("Arial");
  large.setPointSize(16);
  large.setBold(true);
  salinity_->setFont(large);
  left->addWidget(salinity_);
  indicator_ = new QLabel(this);
  left->addWidget(indicator_);

  auto* averagingRow = new QHBoxLayout;
  averagingRow->addWidget(new QLabel("Averaged over:", this));
  averaging_ = new QLineEdit(QString::number(run_.measurement.AveragingSeconds()), this);
  averaging_->setMaximumWidth(50);
  averagingRow->addWidget(averaging_);
  averagingRow->addWidget(new QLabel("seconds", this));
  k15Shown_ = new QLabel(this);
  averagingRow->addWidget(k15Shown_);
  left->addLayout(averagingRow);

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(new QLabel("Sample information:", this));
  information_ = new QLineEdit(this);
  information_->setMaxLength(30);
  fileRow->addWidget(information_);
  fileButton_ = new QPushButton("Open", this);
  saveNow_ = new QPushButton("Save now", this);
  fileRow->addWidget(fileButton_);
  fileRow->addWidget(saveNow_);
  left->addLayout(fileRow);

  graph_ = new MicrosalGraph(run_.measurement, this);
  left->addWidget(graph_, 1);

  auto* buttons = new QHBoxLayout;
  standardize_ = new QPushButton("Standardize>>", this);
  more_ = new QPushButton("More information >>", this);
  auto* close = new QPushButton("Close", this);
  buttons->addWidget(standardize_);
  buttons->addWidget(more_);
  buttons->addStretch();
  buttons->addWidget(close);
  left->addLayout(buttons);

  box_ = new QGroupBox("Standardization", this);
  auto* grid = new QGridLayout(box_);
  grid->addWidget(new QLabel("Bottle number:", box_), 0, 0);
  batch_ = new QLineEdit(box_);
  batch_->setMaxLength(static_cast<int>(kMicrosalBatchLength));
  grid->addWidget(batch_, 0, 1);
  grid->addWidget(new QLabel("K15:", box_), 1, 0);
  k15_ = new QLineEdit(box_);
  grid->addWidget(k15_, 1, 1);
  const char* names[4] = {"Vstandard(0):", "Vsample(0):", "Vstandard(1):", "Vsample(1):"};
  for (int i = 0; i < 4; ++i) {
    grid->addWidget(new QLabel(names[i], box_), 2 + i, 0);
    readings_[i] = new QLineEdit(box_);
    grid->addWidget(readings_[i], 2 + i, 1);
    connect(readings_[i], &QLineEdit::textEdited, this, [this] { StandardizationEdited(); });
  }
  auto* captureStandardZero = new QPushButton("Capture", box_);
  auto* captureSampleZero = new QPushButton("Capture", box_);
  auto* captureStandard = new QPushButton("Capture", box_);
  grid->addWidget(captureStandardZero, 2, 2);
  grid->addWidget(captureSampleZero, 3, 2);
  grid->addWidget(captureStandard, 4, 2, 2, 1);
  grid->addWidget(new QLabel("New alpha:", box_), 6, 0);
  newAlpha_ = new QLabel(box_);
  grid->addWidget(newAlpha_, 6, 1);
  grid->addWidget(new QLabel("Current alpha:", box_), 7, 0);
  alpha_ = new QLabel(box_);
  grid->addWidget(alpha_, 7, 1);
  auto* accept = new QPushButton("Accept New Values", box_);
  grid->addWidget(accept, 8, 0, 1, 3);
  box_->hide();

  auto* top = new QHBoxLayout(this);
  top->addLayout(left, 1);
  top->addWidget(box_);

  connect(averaging_, &QLineEdit::editingFinished, this, [this] { AveragingEdited(); });
  connect(fileButton_, &QPushButton::clicked, this, [this] { OpenOrCloseCapture(); });
  connect(saveNow_, &QPushButton::clicked, this, [this] { SaveNow(); });
  connect(standardize_, &QPushButton::clicked, this, [this] { ToggleStandardization(); });
  connect(more_, &QPushButton::clicked, this, [this] { ToggleInformation(); });
  connect(close, &QPushButton::clicked, this, [this] { reject(); });
  connect(captureStandardZero, &QPushButton::clicked, this, [this] { Capture(0); });
  connect(captureSampleZero, &QPushButton::clicked, this, [this] { Capture(1); });
  connect(captureStandard, &QPushButton::clicked, this, [this] { Capture(2); });
  connect(k15_, &QLineEdit::textEdited, this, [this] { StandardizationEdited(); });
  connect(accept, &QPushButton::clicked, this, [this] { AcceptNewValues(); });
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  resize(400 * logicalDpiX() / 96, 480);
}

MicrosalPanel::~MicrosalPanel() {
  timer_.stop();
}

bool MicrosalPanel::StartRun() {
  if (!run_.Start()) return false;
  identity_->setText(Q(CFormat("HL-240 %06d", run_.Link().state.serial)));
  ShowStandardization();
  nextSecond_ = clock_.MonotonicMs() + 1000;
  timer_.start(100);
  Refresh();
  return true;
}

void MicrosalPanel::Tick() {
  run_.Poll();
  if (clock_.MonotonicMs() >= nextSecond_) {
    nextSecond_ += 1000;
    run_.SecondTick();
  }
  Refresh();
}

void MicrosalPanel::Refresh() {
  const bool setup = run_.state == MicrosalState::Setup || run_.state == MicrosalState::Stopped;
  progress_->setVisible(run_.state == MicrosalState::Setup);
  progress_->setValue(run_.setupProgress);
  if (setup) {
    text_->setText(Q(run_.setupText));
    salinity_->clear();
    indicator_->clear();
  } else {
    text_->setText(Q(run_.measurement.Text()));
    salinity_->setText(Q(run_.measurement.SalinityLine()));
    const bool settled = run_.measurement.Settled();
    indicator_->setText(settled ? "Settled" : "Settling");
    indicator_->setStyleSheet(settled ? "color: darkgreen" : "color: red");
  }
  k15Shown_->setText(Q(CFormat("K15: %.5f", run_.standardization.k15)));
  if (!details_->isHidden()) {
    const MicrosalMeasurement& m = run_.measurement;
    details_->setText(Q(CFormat("Standard:\t%.7f\nSample:\t\t%.7f\nSlope:\t\t%.6f\nRecords:\t%lld",
                                m.Means().standard, m.Means().sample, m.Fit().slope,
                                static_cast<long long>(m.Records()))));
  }
  fileButton_->setText(run_.capture.IsOpen() ? "Close" : "Open");
  saveNow_->setEnabled(run_.capture.IsOpen());
  run_.sampleInformation = information_->text().toStdString();
  graph_->update();
}

void MicrosalPanel::AveragingEdited() {
  const int seconds = ParseAveragingSeconds(averaging_->text().toStdString());
  averaging_->setText(QString::number(seconds));
  run_.SetAveragingSeconds(seconds);
  Refresh();
}

void MicrosalPanel::OpenOrCloseCapture(std::optional<std::string> file) {
  if (run_.capture.IsOpen()) {
    const std::string path = run_.capture.Path().string();
    if (host_.Ask(kCaptureCaption, CFormat("Do you want to close the file: %s?", path.c_str()),
                  Buttons::YesNo, BoxIcon::Question, Answer::No) == Answer::Yes)
      run_.capture.Close();
    Refresh();
    return;
  }
  std::filesystem::path& last = rememberedFolder ? *rememberedFolder : lastFolder_;
  const auto folder = SalFolder(host_, dataFolder_, last);
  if (!folder) return;
  if (!file) file = host_.ChooseFile(SalFileChoice(*folder, run_.Link().state.serial));
  if (!file || file->empty()) return;
  if (!MayOverwrite(host_, kCaptureCaption, *file)) return;
  std::string comment;
  if (commentDialog) comment = commentDialog().value_or(std::string());
  const std::string header = SalHeaderText(MicrosalIdentityLine(run_.Link().state), comment,
                                           clock_.LocalTime(), run_.standardization);
  if (!run_.capture.Open(*file, header)) {
    host_.Tell(kCaptureCaption, CFormat("Unable to write %s", file->c_str()), BoxIcon::Stop);
    return;
  }
  last = std::filesystem::path(*file).parent_path();
  Refresh();
}

void MicrosalPanel::SaveNow() {
  run_.sampleInformation = information_->text().toStdString();
  run_.SaveNow();
}

void MicrosalPanel::ToggleStandardization() {
  const double scale = logicalDpiX() / 96.0;
  if (box_->isHidden()) {
    ShowStandardization();
    box_->show();
    standardize_->setText("<<Hide");
    resize(static_cast<int>(810 * scale), height());
    if (run_.state == MicrosalState::Running) run_.state = MicrosalState::Standardizing;
  } else {
    box_->hide();
    standardize_->setText("Standardize>>");
    resize(static_cast<int>(400 * scale), height());
    if (run_.state == MicrosalState::Standardizing) run_.state = MicrosalState::Running;
  }
}

void MicrosalPanel::ToggleInformation() {
  const bool show = details_->isHidden();
  details_->setVisible(show);
  more_->setText(show ? "<< Default information" : "More information >>");
  Refresh();
}

void MicrosalPanel::ShowStandardization() {
  const MicrosalStandardization& s = run_.standardization;
  batch_->setText(Q(s.batch));
  k15_->setText(Q(CFormat("%.5f", s.k15)));
  const double values[4] = {s.standardZero, s.sampleZero, s.standardOne, s.sampleOne};
  for (int i = 0; i < 4; ++i) readings_[i]->setText(Q(CFormat("%.7f", values[i])));
  alpha_->setText(Q(NewAlphaText(s.alpha)));
  StandardizationEdited();
}

MicrosalStandardization MicrosalPanel::Edited() const {
  MicrosalStandardization s = run_.standardization;
  s.batch = batch_->text().toStdString().substr(0, kMicrosalBatchLength);
  s.k15 = Number(k15_).value_or(s.k15);
  double* fields[4] = {&s.standardZero, &s.sampleZero, &s.standardOne, &s.sampleOne};
  for (int i = 0; i < 4; ++i) *fields[i] = Number(readings_[i]).value_or(*fields[i]);
  s.alpha = NewAlpha(s);
  return s;
}

void MicrosalPanel::Capture(int which) {
  MicrosalStandardization s = Edited();
  if (which == 0) run_.CaptureZero(s, true);
  if (which == 1) run_.CaptureZero(s, false);
  if (which == 2) run_.CaptureStandard(s);
  const double values[4] = {s.standardZero, s.sampleZero, s.standardOne, s.sampleOne};
  for (int i = 0; i < 4; ++i) readings_[i]->setText(Q(CFormat("%.7f", values[i])));
  StandardizationEdited();
}

void MicrosalPanel::StandardizationEdited() {
  newAlpha_->setText(Q(NewAlphaText(Edited().alpha)));
}

bool MicrosalPanel::AcceptNewValues() {
  timer_.stop();
  const bool saved = run_.SaveStandardization(Edited());
  if (saved) {
    if (!box_->isHidden()) ToggleStandardization();
    ShowStandardization();
  }
  if (run_.state != MicrosalState::Stopped) {
    nextSecond_ = clock_.MonotonicMs() + 1000;
    timer_.start(100);
  }
  Refresh();
  return saved;
}

void MicrosalPanel::done(int result) {
  timer_.stop();
  if (!stopped_) {
    stopped_ = true;
    run_.Stop();
  }
  QDialog::done(result);
}

void RunMicrosalCommand(QWidget* parent, Session& session, Host& host) {
  // The panel is modal: the menus, saving included, wait until it closes.
  MicrosalPanel panel(session.logger, session.clock, host, session.calibration,
                      session.settings.ProgramDirectory(),
                      session.settings.microSalinometerAverage, parent);
  panel.rememberedFolder = &session.microsalFolder;
  if (session.commentDialog)
    panel.commentDialog = [&session] { return session.commentDialog(std::string()); };
  if (panel.StartRun()) {
    panel.exec();
    session.settings.microSalinometerAverage = panel.Run().measurement.AveragingSeconds();
  }
}

}  // namespace klx::ui
