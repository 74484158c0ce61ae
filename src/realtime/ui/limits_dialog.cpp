#include "realtime/ui/limits_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "session/session.h"
#include "shell/messages.h"
#include "shell/status.h"

namespace klx::ui {

namespace {
// Whole numbers either side of every limit a sensor can reach.
constexpr int kLimitRange = 1000000;

QString L1(const char* text) {
  return QString::fromLatin1(text);
}
}  // namespace

const std::vector<LimitsEntry>& LimitsEntries() {
  static const std::vector<LimitsEntry> kEntries = {
      {"Temperature", "Temperature"},
      {"Pressure", "Pressure"},
      {"Conductivity", "Conductivity"},
      {"Dissolved O2 Saturation (%)", "DissolvedO2"},
      // The oxygen concentration channels (optode and derived) scale by this pair.
      {"Dissolved O2 Concentration(\xB5Mol/l)", "DerivedO2"},
      {"Voltage", "Voltage"},
      {"Turbidity", "Turbidity"},
      {"PAR", "PAR"},
      {"pH", "pH"},
      {"Fluorometry-C", "Fluorometry-C"},
      {"Fluorometry-R", "Fluorometry-R"},
      {"Fluorometry-UV", "Fluorometry-UV"},
      {"Depth", "Depth"},
      {"Salinity", "Salinity"},
      {"Speed of Sound", "SOS"},
      {"Significant Wave Height", "Significant Wave Height"},
      {"Tidal Slope", "Tidal Slope"},
      {"Transmissometer", "Transmissometer"},
  };
  return kEntries;
}

LimitsDialog::LimitsDialog(const RealTimeLimits& limits, QWidget* parent)
    : QDialog(parent), limits_(limits) {
  setWindowTitle("Real-time Limits Control Panel");
  auto* top = new QVBoxLayout(this);
  auto* note = new QLabel(
      "These limits are used to scale the values obtained during real-time data capture.  See "
      "the Manual .",
      this);
  note->setWordWrap(true);
  top->addWidget(note);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("min", this), 0, 1, Qt::AlignHCenter);
  grid->addWidget(new QLabel("max", this), 0, 2, Qt::AlignHCenter);
  int line = 1;
  for (const LimitsEntry& entry : LimitsEntries()) {
    const RealTimeLimit* limit = limits_.Find(entry.key);
    if (limit == nullptr) continue;
    auto* minimum = new QSpinBox(this);
    auto* maximum = new QSpinBox(this);
    for (QSpinBox* box : {minimum, maximum}) box->setRange(-kLimitRange, kLimitRange);
    minimum->setObjectName(QString("min:") + entry.key);
    maximum->setObjectName(QString("max:") + entry.key);
    minimum->setValue(limit->lower);
    maximum->setValue(limit->upper);
    connect(minimum, &QSpinBox::valueChanged, maximum, [maximum](int value) {
      if (value > maximum->value()) maximum->setValue(value);
    });
    connect(maximum, &QSpinBox::valueChanged, minimum, [minimum](int value) {
      if (value < minimum->value()) minimum->setValue(value);
    });
    grid->addWidget(new QLabel(L1(entry.label), this), line, 0);
    grid->addWidget(minimum, line, 1);
    grid->addWidget(maximum, line, 2);
    rows_.push_back({entry.key, minimum, maximum});
    ++line;
  }
  top->addLayout(grid);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(buttons);
}

RealTimeLimits LimitsDialog::Limits() const {
  RealTimeLimits out = limits_;
  for (const Row& row : rows_) {
    if (RealTimeLimit* limit = out.Find(row.key)) {
      limit->lower = row.minimum->value();
      limit->upper = row.maximum->value();
    }
  }
  return out;
}

QSpinBox* LimitsDialog::MinimumBox(const std::string& key) const {
  for (const Row& row : rows_)
    if (row.key == key) return row.minimum;
  return nullptr;
}

QSpinBox* LimitsDialog::MaximumBox(const std::string& key) const {
  for (const Row& row : rows_)
    if (row.key == key) return row.maximum;
  return nullptr;
}

void RunRealTimeLimitsCommand(QWidget* parent, Session& session) {
  LimitsDialog dialog(session.limits, parent);
  if (dialog.exec() != QDialog::Accepted) return;
  session.limits = dialog.Limits();
  const auto& directory = session.settings.ProgramDirectory();
  if (!WriteRealTimeLimits(directory, session.limits))
    session.host.Tell(MessageText(Msg::Error),
                      Format(MessageText(Msg::UnableToOpenFile).c_str(),
                             LimitsFilePath(directory).string().c_str()),
                      BoxIcon::Warning);
}

}  // namespace klx::ui
