#include "display/ui/graph_panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <algorithm>

#include "decoding/channel_types.h"
#include "shell/command_ids.h"

namespace klx::ui {

namespace {

QString Latin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// The channel's short name from its type row ("Temp", "Pres").
QString ShortName(const DataSet& data, int channel) {
  const char* code = kChannelTypeTable[TypeRowOfChannel(data, channel)].code;
  return Latin1(std::string(code + 1, 9)).trimmed();
}

constexpr int kZoomButtonsTop = 190;

}  // namespace

QColor ChannelColour(int channel) {
  static const QColor kColours[8] = {QColor(200, 0, 0),   QColor(0, 0, 200),   QColor(0, 140, 0),
                                     QColor(170, 0, 170), QColor(0, 140, 140), QColor(220, 120, 0),
                                     QColor(0, 0, 0),     QColor(130, 80, 30)};
  return kColours[((channel % 8) + 8) % 8];
}

// The plot itself: traces, markers, the cursor and the zoom rectangle.
class PlotArea : public QWidget {
 public:
  PlotArea(GraphPanel& panel) : QWidget(&panel), panel_(panel) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    const GraphView& v = panel_.view_;
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // Division grid: a line every 5 divisions each way, the middle row stronger.
    p.setPen(QColor(225, 225, 225));
    for (int x = 0; x < width(); x += 5 * kPixelsPerDivision) p.drawLine(x, 0, x, height());
    for (int y = kPlotMiddleRow % 50; y < height(); y += 50) p.drawLine(0, y, width(), y);
    p.setPen(QColor(190, 190, 190));
    p.drawLine(0, kPlotMiddleRow, width(), kPlotMiddleRow);
    if (!v.Data() || v.Samples() <= 0) return;
    const int left = event->rect().left(), right = event->rect().right();
    PaintHighlights(p);
    for (int c = 0; c < v.Channels(); ++c) {
      if (!v.Shown(c)) continue;
      const int unit = v.UnitOf(c);
      QPen pen(ChannelColour(c), unit == kDepthUnit || unit == 15 ? 3 : 1);
      p.setPen(pen);
      if (v.DepthPlot()) {
        for (const PlotPoint& pt : v.DepthPoints(c)) {
          p.drawLine(pt.x - 2, pt.y, pt.x + 2, pt.y);
          p.drawLine(pt.x, pt.y - 2, pt.x, pt.y + 2);
        }
        continue;
      }
      const std::vector<PlotPoint> points = v.TracePoints(c, left, right);
      if (points.size() == 1) p.drawPoint(points[0].x, points[0].y);
      QPolygon line;
      line.reserve(static_cast<int>(points.size()));
      for (const PlotPoint& pt : points) line << QPoint(pt.x, pt.y);
      p.drawPolyline(line);
    }
    for (const StampMarker& m : v.StampMarkers(left, right)) {
      QColor colour = Qt::darkGray;
      if (m.kind == MarkerKind::Burst) colour = Qt::blue;
      if (m.kind == MarkerKind::GainOne || m.kind == MarkerKind::GainAllShown) colour = Qt::red;
      if (m.kind == MarkerKind::GainSomeShown) colour = QColor(255, 150, 150);
      p.setPen(QPen(colour, 1, m.kind == MarkerKind::Stamp ? Qt::DotLine : Qt::SolidLine));
      p.drawLine(m.x, m.yTop, m.x, m.yBottom);
    }
    if (v.CursorColumn() >= 0) {
      p.setPen(QPen(Qt::black, 1, Qt::DashLine));
      p.drawLine(v.CursorColumn(), 0, v.CursorColumn(), height());
      const std::vector<std::string> lines = v.CursorReadout();
      if (!lines.empty()) {
        QFont f = font();
        f.setPointSizeF(8);
        p.setFont(f);
        const QFontMetrics fm(f);
        int w = 0;
        for (const auto& l : lines) w = std::max(w, fm.horizontalAdvance(Latin1(l)));
        const int h = fm.height() * static_cast<int>(lines.size()) + 4;
        int x = v.CursorColumn() + 6;
        if (x + w + 8 > width()) x = v.CursorColumn() - w - 14;
        QRect box(x, 4, w + 8, h);
        p.fillRect(box, QColor(255, 255, 225));
        p.setPen(Qt::black);
        p.drawRect(box);
        for (size_t i = 0; i < lines.size(); ++i) {
          p.setPen(i == 0 ? QColor(Qt::black) : ChannelColour(ChannelOfLine(i)));
          p.drawText(x + 4, 6 + fm.ascent() + fm.height() * static_cast<int>(i), Latin1(lines[i]));
        }
      }
    }
  }

  void mousePressEvent(QMouseEvent* e) override {
    const QPoint at = e->position().toPoint();
    if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier)) {
      // Shift and drag: highlight a range of samples instead of moving the cursor.
      if (panel_.view_.BeginHighlight(at.x())) HighlightMoved();
    } else if (e->button() == Qt::LeftButton) {
      tracking_ = true;
      MoveCursor(at.x());
    } else if (e->button() == Qt::RightButton && panel_.view_.RectangleZoomOffered()) {
      corner_ = at;
      if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, this);
      band_->setGeometry(QRect(corner_, QSize()));
      band_->show();
    }
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const QPoint at = e->position().toPoint();
    if (panel_.view_.Highlighting() && panel_.view_.ExtendHighlight(at.x())) HighlightMoved();
    if (tracking_) MoveCursor(at.x());
    if (band_ && band_->isVisible()) band_->setGeometry(QRect(corner_, at).normalized());
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && panel_.view_.Highlighting()) {
      panel_.view_.EndHighlight();
      HighlightMoved();
    }
    if (e->button() == Qt::LeftButton) tracking_ = false;
    if (e->button() == Qt::RightButton && band_ && band_->isVisible()) {
      band_->hide();
      const QPoint at = e->position().toPoint();
      if (panel_.view_.ZoomRectangle(corner_.x() + kPlotLeft, corner_.y() + kPlotTop,
                                     at.x() + kPlotLeft, at.y() + kPlotTop))
        panel_.Refresh();
    }
  }

 private:
  // The highlighted ranges as shaded bands in the highlighted channel's colour, numbered at
  // the top; the range the next drag fills has a solid edge.
  void PaintHighlights(QPainter& p) {
    const GraphView& v = panel_.view_;
    const QColor colour = ChannelColour(v.HighlightChannel());
    for (int i = 0; i < kHighlightRanges; ++i) {
      int l = 0, r = 0;
      if (!v.HighlightColumns(i, l, r)) continue;
      QColor fill = colour;
      fill.setAlpha(i == 0 ? 45 : 75);
      p.fillRect(QRect(l, 0, r - l + 1, height()), fill);
      p.setPen(QPen(colour, 1, i == v.ActiveHighlight() ? Qt::SolidLine : Qt::DotLine));
      p.drawLine(l, 0, l, height());
      p.drawLine(r, 0, r, height());
      p.drawText(QRect(l, 2, std::max(r - l + 1, 12), 14), Qt::AlignHCenter,
                 QString::number(i + 1));
    }
  }
  void HighlightMoved() {
    update();
    if (panel_.highlightChanged) panel_.highlightChanged();
  }
  // The channel of read-out line i (line 0 is the sample and its time).
  int ChannelOfLine(size_t line) const {
    size_t seen = 0;
    for (int c = 0; c < panel_.view_.Channels(); ++c)
      if (panel_.view_.Shown(c) && ++seen == line) return c;
    return 0;
  }
  void MoveCursor(int x) {
    GraphView& v = panel_.view_;
    if (v.Samples() <= 0 || v.DepthPlot()) return;
    v.SetCursor(x);
    update();  // the read-out box can stand on either side of the cursor
  }

  GraphPanel& panel_;
  bool tracking_ = false;
  QPoint corner_;
  QRubberBand* band_ = nullptr;
};

GraphPanel::GraphPanel(GraphView& view, QWidget* parent) : QWidget(parent), view_(view) {
  const int w = view_.PlotWidth();
  plot_ = new PlotArea(*this);
  plot_->setObjectName("plot");
  plot_->setGeometry(kPlotLeft, kPlotTop, w, kPlotHeight);
  hbar_ = new QScrollBar(Qt::Horizontal, this);
  hbar_->setGeometry(kPlotLeft, kPlotTop + kPlotHeight, w, 20);
  vbar_ = new QScrollBar(Qt::Vertical, this);
  vbar_->setGeometry(kPlotLeft - 20, kPlotTop, 20, kPlotHeight);
  connect(hbar_, &QScrollBar::valueChanged, this, [this](int value) {
    if (updatingBars_) return;
    view_.ScrollHorizontal(value);
    plot_->update();
    update();
  });
  connect(vbar_, &QScrollBar::valueChanged, this, [this](int value) {
    if (updatingBars_) return;
    view_.ScrollVertical(value);
    Refresh();
  });
  // The up-down control left of the horizontal scroll bar: one division per step.
  upDown_ = new QSpinBox(this);
  upDown_->setObjectName("upDown");
  upDown_->setGeometry(kPlotLeft - 40, kPlotTop + kPlotHeight, 20, 20);
  upDown_->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  upDown_->setFocusPolicy(Qt::NoFocus);
  upDown_->setStyleSheet("QSpinBox{color:transparent;background:transparent;border:none}");
  connect(upDown_, &QSpinBox::valueChanged, this, [this](int value) {
    if (updatingBars_) return;
    view_.ScrollVertical(value);
    Refresh();
  });
  for (int i = 0; i < 24; ++i)
    AddButton(cmd::kChannelButtonFirst + i, QString::number(i + 1),
              QRect((i % 12) * 53 + 90, (i / 12) * 24 + 365, 53, 24));
  AddButton(cmd::kAllChannels, "ALL", QRect(10, 365, 80, 24));
  AddButton(cmd::kDepthPlot, "Depth Plot", QRect(10, 341, 80, 24));
  // Zoom buttons in the left column below the unit texts; the narrow page buttons right of
  // the plot.
  AddButton(136, "ZoomIn", QRect(6, kZoomButtonsTop, 80, 24));
  AddButton(137, "ZoomOut", QRect(6, kZoomButtonsTop + 26, 80, 24));
  AddButton(138, "Reset", QRect(6, kZoomButtonsTop + 52, 80, 24));
  AddButton(139, "<", QRect(kPlotLeft + w + 2, kPlotTop, 30, 40));
  AddButton(140, ">", QRect(kPlotLeft + w + 2, kPlotTop + 45, 30, 40));
  Refresh();
}

QWidget* GraphPanel::Plot() const {
  return plot_;
}

QPushButton* GraphPanel::AddButton(int id, const QString& text, QRect where) {
  auto* b = new QPushButton(text, this);
  b->setObjectName(QString("cmd%1").arg(id));
  b->setGeometry(where);
  b->setFocusPolicy(Qt::NoFocus);
  b->hide();
  connect(b, &QPushButton::clicked, this, [this, id] { RunGraphCommand(id); });
  buttons_[id] = b;
  return b;
}

QPushButton* GraphPanel::Button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

bool GraphPanel::RunGraphCommand(int id) {
  if (id >= cmd::kChannelButtonFirst && id <= cmd::kChannelButtonLast) {
    view_.ToggleChannel(id - cmd::kChannelButtonFirst);
  } else if (id == cmd::kAllChannels) {
    view_.ShowAll();
  } else if (id == cmd::kDepthPlot) {
    if (!view_.ToggleDepthPlot()) {
      if (status)
        status("Depth Plot: there is no depth channel (choose depth under 'Derived units')");
      return true;
    }
  } else if (id == 136) {
    view_.ZoomIn();
  } else if (id == 137) {
    view_.ZoomOut();
  } else if (id == 138) {
    view_.ResetZoom();
    view_.AutoScaleChannels();
    view_.ScrollVertical(0);
  } else if (id == 139 || id == 140) {
    const int64_t page = std::llround(view_.ReadingsPerDivision() * view_.Divisions());
    view_.ScrollHorizontal(view_.FirstSample() + (id == 139 ? -page : page));
  } else {
    return false;
  }
  Refresh();
  return true;
}

void GraphPanel::UpdateScrollBars() {
  updatingBars_ = true;
  const ScrollRange h = view_.HorizontalScroll();
  const auto clampInt = [](int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, 2'000'000'000));
  };
  hbar_->setRange(0, clampInt(std::max<int64_t>(h.maximum - h.page + 1, 0)));
  hbar_->setPageStep(std::max(clampInt(h.page), 1));
  hbar_->setSingleStep(std::max(clampInt(h.page / 10), 1));
  hbar_->setValue(clampInt(h.position));
  const ScrollRange v = view_.VerticalScroll();
  // The thumb covers a page: the last position is maximum - page + 1, as for the horizontal bar.
  vbar_->setRange(static_cast<int>(v.minimum), static_cast<int>(v.LastPosition()));
  vbar_->setPageStep(static_cast<int>(v.page));
  vbar_->setValue(static_cast<int>(v.position));
  upDown_->setRange(static_cast<int>(v.minimum), static_cast<int>(v.LastPosition()));
  upDown_->setValue(static_cast<int>(v.position));
  const bool scrollable = view_.Samples() > 0 && !view_.DepthPlot();
  hbar_->setEnabled(scrollable);
  vbar_->setEnabled(scrollable);
  upDown_->setEnabled(scrollable && v.LastPosition() > v.minimum);
  updatingBars_ = false;
}

void GraphPanel::Refresh() {
  const int channels = view_.Channels();
  const bool data = view_.Samples() > 0;
  for (int i = 0; i < 24; ++i) {
    QPushButton* b = buttons_[cmd::kChannelButtonFirst + i];
    const bool present = data && channels >= 2 && i < channels;
    b->setVisible(present);
    if (!present) continue;
    const bool depthAxis = view_.DepthPlot() && i == view_.DepthChannel();
    b->setText(QString("%1 %2").arg(i + 1).arg(ShortName(*view_.Data(), i)));
    const QColor c = ChannelColour(i);
    b->setStyleSheet(view_.Shown(i) || depthAxis
                         ? QString("QPushButton{background:%1;color:white;border:1px solid "
                                   "#404040;font-size:8pt}")
                               .arg(c.name())
                         : QString("QPushButton{background:#d8d8d8;color:%1;border:1px solid "
                                   "#a0a0a0;font-size:8pt}")
                               .arg(c.name()));
  }
  buttons_[cmd::kAllChannels]->setVisible(data && channels >= 2);
  buttons_[cmd::kDepthPlot]->setVisible(data);
  buttons_[cmd::kDepthPlot]->setText(view_.DepthPlot() ? "time Plot" : "Depth Plot");
  for (int id = 136; id <= 140; ++id) buttons_[id]->setVisible(data && !view_.DepthPlot());
  UpdateScrollBars();
  plot_->update();
  update();
}

void GraphPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const int w = view_.PlotWidth();
  if (view_.Samples() <= 0) return;
  QFont small = font();
  small.setPointSizeF(8);
  p.setFont(small);
  const QFontMetrics fm(small);
  const UnitTextContext context = unitContext ? unitContext() : UnitTextContext{};

  // Vertical scales: the reference unit's values beside the plot, every unit's text and
  // division value in the column on the left.
  const int ref = view_.ReferenceUnit();
  if (ref >= 0 && !view_.DepthPlot()) {
    const UnitScale& u = view_.Unit(ref);
    const double mid = (u.maximum + u.minimum) / 2 - view_.VerticalOffset() * u.division;
    p.setPen(Qt::black);
    for (int k = -10; k <= 10; k += 5) {
      const int y = kPlotTop + kPlotMiddleRow - k * kPixelsPerDivision;
      const double value = ref == kDepthUnit ? mid - k * u.division : mid + k * u.division;
      const QString text = QString::number(value, 'g', 6);
      p.drawText(QRect(90, y - 7, kPlotLeft - 20 - 92, 14), Qt::AlignRight | Qt::AlignVCenter,
                 text);
    }
  }
  int y = kPlotTop + 2;
  for (int unit = 0; unit < kUnitSlots && y < kZoomButtonsTop - 2 * fm.height(); ++unit) {
    const UnitScale& u = view_.Unit(unit);
    if (!u.used) continue;
    int firstChannel = 0;
    while (firstChannel < view_.Channels() && view_.UnitOf(firstChannel) != unit) ++firstChannel;
    p.setPen(ChannelColour(firstChannel));
    p.drawText(4, y + fm.ascent(), Latin1(ScaleUnitText(unit, context)));
    p.drawText(4, y + fm.ascent() + fm.height(), Latin1(DivisionLabel(u.division)).trimmed());
    y += 2 * fm.height() + 4;
  }

  // Time axis, white on grey: the first sample's texts start at the plot's left edge, the last
  // one's end at its right edge.
  const TimeAxisTexts t = view_.TimeAxis();
  const int bandLeft = kPlotLeft - 6, bandRight = std::min(width(), kPlotLeft + w + 6);
  p.fillRect(QRect(bandLeft, 290, bandRight - bandLeft, 60), QColor(128, 128, 128));
  p.setPen(Qt::white);
  p.setFont(font());
  const int rowY[3] = {290, 310, 330};
  auto row = [&](int i) { return QRect(kPlotLeft, rowY[i], w, 20); };
  p.drawText(row(0), Qt::AlignLeft | Qt::AlignVCenter, Latin1(t.leftDate));
  p.drawText(row(1), Qt::AlignLeft | Qt::AlignVCenter, Latin1(t.leftTime));
  p.drawText(row(2), Qt::AlignLeft | Qt::AlignVCenter, Latin1(t.leftNumber));
  p.drawText(row(0), Qt::AlignRight | Qt::AlignVCenter, Latin1(t.rightDate));
  p.drawText(row(1), Qt::AlignRight | Qt::AlignVCenter, Latin1(t.rightTime));
  p.drawText(row(2), Qt::AlignRight | Qt::AlignVCenter, Latin1(t.rightNumber));
  if (view_.DepthPlot()) {
    p.drawText(row(0), Qt::AlignHCenter | Qt::AlignVCenter, "Depth plot: depth downwards");
  } else {
    p.drawText(row(0), Qt::AlignHCenter | Qt::AlignVCenter, Latin1(t.readingsPerDivision));
    p.drawText(row(1), Qt::AlignHCenter | Qt::AlignVCenter, Latin1(t.timePerDivision));
  }
}

}  // namespace klx::ui
