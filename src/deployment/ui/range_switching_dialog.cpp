#include "deployment/ui/range_switching_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "decoding/channel_types.h"
#include "deployment/range_switching.h"
#include "session/session.h"
#include "shell/status.h"

namespace klx::ui {
namespace {

// "Channel 1: Turbidity" from the channel table's label (" 1 - Turbidity").
QString GroupTitle(const LoggerState& s, int channel) {
  std::string label = ChannelLabel(TypeRowOfChannel(s, channel), channel + 1);
  const size_t dash = label.find("- ");
  if (dash != std::string::npos) label = label.substr(dash + 2);
  while (!label.empty() && label.back() == ' ') label.pop_back();
  return QString::fromLatin1(Format("Channel %d: %s", channel + 1, label.c_str()).c_str());
}

}  // namespace

bool EditRangeSwitching(QWidget* parent, Session& session, RangeSwitching& r,
                        const std::function<void()>& beforeWrite) {
  LoggerState& s = session.logger.state;
  std::vector<int> offered;
  for (int c = 0; c < s.channelCount && c < 25; ++c)
    if (r.Offered(c)) offered.push_back(c);
  if (offered.empty()) return false;  // nothing switches: the dialog closes at once

  QDialog d(parent);
  d.setWindowTitle("KLX Logger - Range switching channel setup");
  auto* top = new QVBoxLayout(&d);
  auto* list = new QWidget;
  auto* column = new QVBoxLayout(list);
  column->setContentsMargins(0, 0, 0, 0);
  struct Row {
    int channel;
    QRadioButton* automatic;
    QRadioButton* fixed;
    QComboBox* gain;
  };
  std::vector<Row> rows;
  std::vector<QGroupBox*> boxes;
  for (int c : offered) {
    const uint8_t b = r.behaviour[static_cast<size_t>(c + 1)];
    auto* box = new QGroupBox(GroupTitle(s, c), list);
    auto* row = new QHBoxLayout(box);
    auto* automatic = new QRadioButton("Auto-ranging", box);
    auto* fixed = new QRadioButton("Fixed gain", box);
    auto* gain = new QComboBox(box);
    const char letter = c < static_cast<int>(s.channelTypes.size())
                            ? static_cast<char>(s.channelTypes[static_cast<size_t>(c)])
                            : ' ';
    if (const auto* names = GainNames(letter))
      for (const char* n : *names) gain->addItem(n);
    const int mode = RangeSwitching::Mode(b);
    (mode == kFullAutoRanging ? automatic : fixed)->setChecked(true);
    automatic->setEnabled(mode != kUserFixedGain);
    gain->setCurrentIndex(RangeSwitching::Gain(b));
    gain->setEnabled(mode != kFullAutoRanging);
    QObject::connect(fixed, &QRadioButton::toggled, gain, &QWidget::setEnabled);
    row->addWidget(automatic);
    row->addWidget(fixed);
    row->addWidget(gain);
    column->addWidget(box);
    boxes.push_back(box);
    rows.push_back({c, automatic, fixed, gain});
  }
  // Two channels in view; a scroll bar brings the others.
  auto* scroll = new QScrollArea(&d);
  scroll->setObjectName("channels");
  scroll->setWidget(list);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const int shown = std::min<int>(2, static_cast<int>(boxes.size()));
  int height = column->spacing() * (shown - 1) + 2 * scroll->frameWidth();
  for (int i = 0; i < shown; ++i) height += boxes[static_cast<size_t>(i)]->sizeHint().height();
  scroll->setFixedHeight(height);
  scroll->setMinimumWidth(list->sizeHint().width() + 24);
  top->addWidget(scroll);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  top->addWidget(buttons);
  if (d.exec() != QDialog::Accepted) return false;

  for (const Row& row : rows) {
    const uint8_t b = r.behaviour[static_cast<size_t>(row.channel + 1)];
    if (row.automatic->isChecked())
      SetChannelAutoRanging(r, row.channel);
    else
      SetChannelFixedGain(r, row.channel, row.gain->currentIndex(),
                          std::max(RangeSwitching::Mode(b), 1), RangeSwitching::SensorType(b));
  }
  if (beforeWrite) beforeWrite();
  if (!WriteRangeSwitching(session.logger, r)) {
    ReadRangeSwitching(session.logger, r);
    session.host.Tell("Range switching mode",
                      "Unable to set range switching mode as requested.\nTry again.",
                      BoxIcon::Warning);
  }
  ApplyRangeSwitching(r, s);
  return true;
}

}  // namespace klx::ui
