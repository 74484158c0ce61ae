#include "waves/ui/wave_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "waves/wave_view.h"

namespace klx::ui {

namespace {

constexpr int kTextHeight = 150;  // the statistics above the plot box
constexpr int kMargin = 10;

}  // namespace

// The statistics and the plot box of the shown burst.
class WavePlot : public QWidget {
 public:
  explicit WavePlot(WaveWindow& window) : QWidget(&window), window_(window) {
    setObjectName("wavePlot");
    setMinimumSize(600, 380);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(Qt::black);
    p.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const QRect textBox(kMargin, kMargin, width() - 2 * kMargin, kTextHeight - kMargin);
    p.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs,
               QString::fromLatin1(window_.text_.c_str()));
    const QRect box(kMargin, kTextHeight, width() - 2 * kMargin, height() - kTextHeight - kMargin);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    const BurstSeries* burst = window_.Shown();
    if (!burst) return;
    const std::vector<float> y = WaveCurve(*burst, box.height());
    if (y.empty()) return;
    // An analysed burst in the data pen, one still arriving in the real-time pen.
    const bool analysed = burst->stats.analysed;
    p.setPen(QPen(analysed ? QColor(0, 0, 200) : QColor(200, 0, 0), 1));
    p.setClipRect(box);
    const double step = static_cast<double>(box.width()) / static_cast<double>(y.size());
    QPainterPath path;
    bool open = false;
    for (size_t i = 0; i < y.size(); ++i) {
      if (std::isnan(y[i])) {
        open = false;
        continue;
      }
      const QPointF at(box.left() + step * static_cast<double>(i), box.top() + y[i]);
      if (open)
        path.lineTo(at);
      else
        path.moveTo(at);
      open = true;
    }
    p.drawPath(path);
  }

 private:
  WaveWindow& window_;
};

WaveWindow::WaveWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("WAVE");
  setWindowTitle("Wave measurements");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Wave", this));
  picker_ = new QSpinBox(this);
  picker_->setObjectName("wavePicker");
  picker_->setRange(0, 0);
  row->addWidget(picker_);
  count_ = new QLabel(this);
  row->addWidget(count_);
  row->addStretch(1);
  layout->addLayout(row);
  plot_ = new WavePlot(*this);
  layout->addWidget(plot_, 1);
  connect(picker_, &QSpinBox::valueChanged, this, [this](int value) {
    if (!picking_) ShowBurst(value - 1);
  });
}

QWidget* WaveWindow::Plot() const {
  return plot_;
}

void WaveWindow::Update(int64_t sample, bool newest) {
  const DataSet* data = Data();
  if (!data) {
    ShowBurst(-1);
    return;
  }
  ShowBurst(newest ? static_cast<int>(data->bursts.size()) - 1 : WaveBurstAtSample(*data, sample));
}

const BurstSeries* WaveWindow::Shown() const {
  const DataSet* data = Data();
  if (!data || burst_ < 0 || static_cast<size_t>(burst_) >= data->bursts.size()) return nullptr;
  return &data->bursts[static_cast<size_t>(burst_)];
}

void WaveWindow::ShowBurst(int burst) {
  const DataSet* data = Data();
  const int count = data ? static_cast<int>(data->bursts.size()) : 0;
  burst_ = count > 0 ? std::clamp(burst, 0, count - 1) : -1;
  picking_ = true;
  picker_->setRange(count > 0 ? 1 : 0, count);
  picker_->setValue(burst_ + 1);
  picking_ = false;
  count_->setText(QString("of %1").arg(count));
  const BurstSeries* shown = Shown();
  text_ = shown ? WaveStatisticsText(*shown, loggerHeight) : std::string();
  setWindowTitle(shown ? QString::fromLatin1(WaveWindowTitle(*data, burst_).c_str())
                       : QString("Wave measurements"));
  plot_->update();
}

}  // namespace klx::ui
