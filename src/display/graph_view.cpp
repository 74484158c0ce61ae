#include "display/graph_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "decoding/channel_types.h"
#include "decoding/decoder.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {

namespace {

int ClampToInt(double v, double lo, double hi) {
  if (!(v >= lo)) return static_cast<int>(lo);  // also NaN
  if (v > hi) return static_cast<int>(hi);
  return static_cast<int>(v);
}

// R = m x 10^e with 1 <= m < 10, tolerant of rounding in R.
void SplitDecade(double r, double& mantissa, double& power) {
  int e = static_cast<int>(std::floor(std::log10(r) + 1e-9));
  power = std::pow(10.0, e);
  mantissa = r / power;
}

}  // namespace

int PlotWidthFor(int windowWidth) {
  return ((std::max(windowWidth, 213) - 163) / 50) * 50 + 3;
}

std::string ScaleUnitText(int unitIndex, const UnitTextContext& c) {
  switch (unitIndex) {
    case 0:
      return "degrees C";
    case 1:
      return "deciBars";
    case 2:
      if (c.model.find("HL-240") != std::string::npos) return "volt ratio";
      return c.standardChannels ? "uS/cm" : "mS/cm";
    case 3:
    case 21:
      return "percent";
    case 4:
      return "\xB5Mol/l";
    case 5:
    case 17:
      return "Volts";
    case 6:
      return "NTU";
    case 7:
      return "\xB5Mol.m-2.s-1";
    case 8:
      return "pH units";
    case 9:
    case 10:
    case 11:
      return "ug/l";
    case 12:
      return "Depth m";
    case 13:
      return "PSU";
    case 14:
      return "m/sec";
    case 15:
      return "sig wv ht (m)";
    case 16:
      return "m/hour";
    case 18:
      return "generic";
    case 19:
      if (c.doUnitUMol) return "\xB5Mol/l";
      if (c.doUnitMgPerL) return "mg/l";
      if (c.doUnitMlPerL) return "ml/l";
      return "\xB5Mol/l";
    case 22:
      return "kg/m3";
    default:
      return "Unknown";
  }
}

std::string DivisionLabel(double division) {
  return division < 0.001 ? Format("%10.6f/div", division) : Format("%9.4f/div", division);
}

GraphView::GraphView(int plotWidth) : width_(std::max(plotWidth, kPixelsPerDivision)) {}

int GraphView::Channels() const {
  if (!data_) return 0;
  int n =
      std::min({data_->channelCount, kMaxShownChannels, static_cast<int>(data_->series.size())});
  // A series without its minimum and maximum cannot be drawn.
  for (int c = 0; c < n; ++c)
    if (data_->series[static_cast<size_t>(c)].size() <
        static_cast<size_t>(std::max(data_->samplesPerChannel, 0)) + 2)
      return c;
  return std::max(n, 0);
}

void GraphView::SetData(const DataSet* data, const TimeBase& time) {
  data_ = data;
  time_ = time;
  if (time_.periodSeconds <= 0) time_.periodSeconds = 1;
  const int n = Channels();
  shown_ = n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u);
  savedShown_ = shown_;
  depthPlot_ = false;
  offset_ = 0.0;
  ClearCursor();
  ClearHighlights();
  highlightChannel_ = std::clamp(highlightChannel_, 0, std::max(Channels() - 1, 0));
  ResetZoom();
  AutoScaleChannels();
}

int GraphView::UnitOf(int channel) const {
  if (!data_) return -1;
  const uint32_t u = UnitOfChannel(*data_, channel);
  return u < kUnitSlots ? static_cast<int>(u) : -1;
}

void GraphView::AutoScaleChannels() {
  for (UnitScale& u : units_) u = UnitScale{false, 30000.0, -30000.0, 0.0, 0.0, 0.0};
  const int channels = Channels();
  const int depth = depthPlot_ ? DepthChannel() : -1;
  for (int c = 0; c < channels; ++c) {
    if (!Shown(c) && c != depth) continue;
    const int u = UnitOf(c);
    if (u < 0) continue;
    UnitScale& s = units_[static_cast<size_t>(u)];
    s.used = true;
    s.minimum = std::min(s.minimum, static_cast<double>(data_->Minimum(c)));
    s.maximum = std::max(s.maximum, static_cast<double>(data_->Maximum(c)));
  }
  for (UnitScale& s : units_) {
    if (s.maximum < s.minimum) std::swap(s.maximum, s.minimum);
    if (s.maximum < s.minimum + 0.0009) s.maximum = s.minimum + 0.0009;
    if (!s.used) continue;
    const double step = (s.maximum - s.minimum) / kVerticalDivisions;
    if (realTimeScales) {
      // The ranges come from the real-time limits (widened by the samples): exactly them.
      s.division = std::max(step, kMinimumDivision);
      s.bottom = s.minimum;
      s.top = s.bottom + kVerticalDivisions * s.division;
      continue;
    }
    double division = 0.0;
    if (std::fabs(step) > 1e-7) {
      double mantissa = 0.0, power = 1.0;
      SplitDecade(step, mantissa, power);
      double chosen = 10.0;
      for (double candidate : {0.5, 1.0, 2.0, 5.0, 10.0})
        if (candidate >= mantissa - 1e-9) {
          chosen = candidate;
          break;
        }
      division = chosen * power;
    }
    if (division <= kMinimumDivision) division = kMinimumDivision;
    s.division = division;
    s.bottom = std::floor(s.minimum / division + 1e-9) * division;
    s.top = s.bottom + kVerticalDivisions * division;
  }
}

int GraphView::ReferenceUnit() const {
  for (int u = 0; u < kUnitSlots; ++u)
    if (units_[static_cast<size_t>(u)].used) return u;
  return -1;
}

void GraphView::SetShownMask(uint32_t mask) {
  const int n = Channels();
  shown_ = mask & (n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u));
  AutoScaleChannels();
}

void GraphView::ToggleChannel(int channel) {
  if (channel < 0 || channel >= Channels()) return;
  SetShownMask(shown_ ^ (1u << channel));
}

void GraphView::ShowAll() {
  if (depthPlot_) {
    const int d = DepthChannel();
    SetShownMask(0xFFFFFFFFu & ~(d >= 0 ? (1u << d) : 0u));
  } else {
    SetShownMask(0xFFFFFFFFu);
  }
}

int64_t GraphView::LastDisplayedSample() const {
  const int64_t last = first_ + std::llround(r_ * Divisions());
  return std::min(last, Samples() - 1);
}

void GraphView::SetHorizontal(int64_t first, double readingsPerDivision) {
  first_ = first;
  r_ = readingsPerDivision > 1e-6 ? readingsPerDivision : 1.0;
}

void GraphView::ResetZoom() {
  const int64_t n = Samples();
  first_ = 0;
  r_ = n > 1 ? static_cast<double>(n) / Divisions() : 1.0;
  ClearCursor();
}

void GraphView::ZoomOut() {
  const int64_t n = Samples();
  if (n <= 0) return;
  double mantissa = 0.0, power = 1.0;
  SplitDecade(r_, mantissa, power);
  r_ = mantissa < 3.0 - 1e-6 ? 3.0 * power : 10.0 * power;
  const double span = r_ * Divisions();
  const double whole = static_cast<double>(n) / Divisions();
  if (whole < r_) {
    r_ = whole;
    first_ = 0;
    return;
  }
  if (cursorSample_ >= 0) first_ = cursorSample_ - std::llround(span / 2);
  const int64_t latest = n - std::llround(span);
  first_ = std::clamp<int64_t>(first_, 0, std::max<int64_t>(latest, 0));
  if (cursorSample_ >= 0) cursorColumn_ = X(cursorSample_);
}

void GraphView::ZoomIn() {
  if (Samples() <= 0) return;
  double mantissa = 0.0, power = 1.0;
  SplitDecade(r_, mantissa, power);
  double r = mantissa > 3.0 + 1e-6 ? 3.0 * power : (mantissa > 1.0 + 1e-6 ? power : 0.3 * power);
  r = std::max(r, 1.0);
  const int64_t centre =
      cursorSample_ >= 0 ? cursorSample_ : first_ + std::llround(r_ * Divisions() / 2);
  r_ = r;
  first_ = std::max<int64_t>(0, centre - std::llround(r_ * Divisions() / 2));
  if (cursorSample_ >= 0) cursorColumn_ = X(cursorSample_);
}

bool GraphView::RectangleZoomOffered() const {
  constexpr uint32_t kBits1And3 = (1u << 1) | (1u << 3);
  return !data_ || (data_->logger.rsAdvancedWord & kBits1And3) != kBits1And3;
}

bool GraphView::ZoomRectangle(int x0, int y0, int x1, int y1) {
  if (!RectangleZoomOffered()) return false;
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  if (x0 == x1 || y0 == y1 || Samples() <= 0) return false;
  const double pps = PixelsPerSample();
  int64_t first = first_ + std::llround((x0 - kPlotLeft) / pps);
  const int64_t last = first_ + std::llround((x1 - kPlotLeft) / pps);
  double r = static_cast<double>(last - first) * kPixelsPerDivision / width_;
  if (r < 1.0) {
    r = 1.0;
    first -= width_ / 20 - (last - first) / 2;
  }
  const int ref = ReferenceUnit();
  const double before = ref >= 0 ? units_[static_cast<size_t>(ref)].division : 1.0;
  const double factor = static_cast<double>(y1 - y0) / 200.0;
  for (UnitScale& s : units_)
    if (s.used) s.division = std::max(s.division * factor, kMinimumZoomDivision);
  const double after = ref >= 0 ? units_[static_cast<size_t>(ref)].division : 1.0;
  // The rectangle's centre line moves to the plot's middle and keeps its value there.
  const double centreRow = (y0 + y1) / 2.0 - kPlotTop;
  offset_ = (offset_ + (centreRow - kPlotMiddleRow) / kPixelsPerDivision) * before / after;
  first_ = first;
  r_ = r;
  if (cursorSample_ >= 0) cursorColumn_ = X(cursorSample_);
  return true;
}

ScrollRange GraphView::HorizontalScroll() const {
  ScrollRange s;
  s.maximum = std::max<int64_t>(Samples() - 2, 0);
  s.page = std::llround(r_ * Divisions());
  s.position = first_;
  return s;
}

ScrollRange GraphView::VerticalScroll() const {
  ScrollRange s;
  int64_t k = 10;
  const int ref = ReferenceUnit();
  if (ref >= 0) {
    const UnitScale& u = units_[static_cast<size_t>(ref)];
    k = std::llround((u.Top() - u.bottom) / (2 * u.division));
  }
  // A scale that shows more than its own range has nothing to scroll to.
  k = std::max<int64_t>(k, 10);
  s.minimum = 10 - k;
  s.maximum = 10 + k;
  s.page = 21;
  // The page of 21 stands at the position: its middle, position + 10, is 10 + offset.
  s.position = std::clamp<int64_t>(std::llround(offset_), s.minimum, s.LastPosition());
  return s;
}

void GraphView::ScrollHorizontal(int64_t position) {
  first_ = std::clamp<int64_t>(position, 0, std::max<int64_t>(Samples() - 2, 0));
  if (cursorSample_ >= 0) cursorColumn_ = X(cursorSample_);
}

void GraphView::ScrollVertical(int64_t position) {
  const ScrollRange s = VerticalScroll();
  offset_ = static_cast<double>(std::clamp(position, s.minimum, s.LastPosition()));
}

double GraphView::Mid(int unit) const {
  const UnitScale& s = units_[static_cast<size_t>(unit)];
  return (s.maximum + s.minimum) / 2 - offset_ * s.division;
}

int GraphView::X(int64_t sample) const {
  return ClampToInt(std::trunc(static_cast<double>(sample - first_) * kPixelsPerDivision / r_),
                    -1e9, 1e9);
}

int GraphView::Y(int channel, double value) const {
  const int u = UnitOf(channel);
  if (u < 0) return kPlotMiddleRow;
  const UnitScale& s = units_[static_cast<size_t>(u)];
  if (s.division <= 0) return kPlotMiddleRow;
  const double d = std::trunc((Mid(u) - value) * kPixelsPerDivision / s.division);
  const double y = u == kDepthUnit ? kPlotMiddleRow - d : kPlotMiddleRow + d;
  return ClampToInt(y, -1000, 1000);
}

int64_t GraphView::SampleAtColumn(int x) const {
  return first_ + std::llround(x / PixelsPerSample());
}

void GraphView::SetCursor(int column) {
  const int64_t n = Samples();
  if (n <= 0) return;
  cursorColumn_ = std::clamp(column, 0, width_ - 1);
  cursorSample_ = std::clamp<int64_t>(SampleAtColumn(cursorColumn_), 0, n - 1);
}

void GraphView::SetHighlightChannel(int channel) {
  if (channel >= 0 && channel < std::max(Channels(), 1)) highlightChannel_ = channel;
}

void GraphView::SetActiveHighlight(int range) {
  activeHighlight_ = std::clamp(range, 0, kHighlightRanges - 1);
}

bool GraphView::BeginHighlight(int column) {
  const int64_t n = Samples();
  if (n <= 0 || depthPlot_) return false;
  highlightAnchor_ =
      std::clamp<int64_t>(SampleAtColumn(std::clamp(column, 0, width_ - 1)), 0, n - 1);
  highlights_[static_cast<size_t>(activeHighlight_)] = {highlightAnchor_, highlightAnchor_};
  return true;
}

bool GraphView::ExtendHighlight(int column) {
  const int64_t n = Samples();
  if (highlightAnchor_ < 0 || n <= 0) return false;
  // The drag may leave the plot: the range stops at the samples in view.
  const int64_t at =
      std::clamp<int64_t>(SampleAtColumn(std::clamp(column, 0, width_ - 1)), 0, n - 1);
  highlights_[static_cast<size_t>(activeHighlight_)] = {std::min(highlightAnchor_, at),
                                                        std::max(highlightAnchor_, at)};
  return true;
}

void GraphView::EndHighlight() {
  if (highlightAnchor_ < 0) return;
  highlightAnchor_ = -1;
  activeHighlight_ = (activeHighlight_ + 1) % kHighlightRanges;
}

void GraphView::ClearHighlights() {
  highlights_.fill(SampleRange{});
  activeHighlight_ = 0;
  highlightAnchor_ = -1;
}

bool GraphView::HighlightColumns(int range, int& left, int& right) const {
  const SampleRange& h = Highlight(range);
  if (h.Empty() || depthPlot_ || Samples() <= 0) return false;
  // Half a sample's width on each side, at least one column, so that one sample shows too.
  const double half = PixelsPerSample() / 2;
  const double l = static_cast<double>(h.first - first_) * PixelsPerSample() - half;
  const double r = static_cast<double>(h.last - first_) * PixelsPerSample() + half;
  if (r < 0 || l > width_ - 1) return false;
  left = static_cast<int>(std::clamp(std::floor(l), 0.0, static_cast<double>(width_ - 1)));
  right = static_cast<int>(std::clamp(std::ceil(r), 0.0, static_cast<double>(width_ - 1)));
  if (right <= left) right = std::min(left + 1, width_ - 1);
  return true;
}

std::vector<std::string> GraphView::CursorReadout() const {
  std::vector<std::string> lines;
  if (!data_ || cursorSample_ < 0 || cursorSample_ >= Samples()) return lines;
  lines.push_back(Format("Sample %lld  %s", static_cast<long long>(cursorSample_ + 1),
                         DateDisplayText(SampleTimeOf(cursorSample_)).c_str()));
  for (int c = 0; c < Channels(); ++c) {
    if (!Shown(c)) continue;
    const float v = data_->series[static_cast<size_t>(c)][static_cast<size_t>(cursorSample_)];
    std::string label = ChannelLabel(TypeRowOfChannel(*data_, c), c + 1);
    if (label.empty()) label = Format("%2d", c + 1);
    lines.push_back(v == kMissingValue ? label + ": missing"
                                       : label + Format(": %.4f", static_cast<double>(v)));
  }
  return lines;
}

void GraphView::PaintedRange(int left, int right, int64_t& firstSample, int64_t& lastSample) const {
  firstSample = first_ + static_cast<int64_t>(std::trunc(std::max(0, left - 1) * r_ / 10));
  if (firstSample < 0) firstSample = 0;
  lastSample =
      std::min(Samples() - 1, first_ + static_cast<int64_t>(std::trunc((right + 10) * r_ / 10)));
}

std::vector<PlotPoint> GraphView::TracePoints(int channel, int left, int right) const {
  std::vector<PlotPoint> points;
  if (depthPlot_ || !Shown(channel) || channel >= Channels()) return points;
  int64_t a = 0, b = 0;
  PaintedRange(left, right, a, b);
  if (a > b) return points;
  const std::vector<float>& v = data_->series[static_cast<size_t>(channel)];
  auto at = [&](int64_t s) { return PlotPoint{X(s), Y(channel, v[static_cast<size_t>(s)])}; };
  points.push_back(at(a));
  if (r_ / 10 < 2) {
    for (int64_t s = a + 1; s <= b; ++s) points.push_back(at(s));
    return points;
  }
  const int64_t g = static_cast<int64_t>(std::trunc(r_ / 10));
  for (int64_t s = a; s <= b; s += g) {
    const int64_t end = std::min(s + g - 1, b);
    int64_t hi = s, lo = s;
    for (int64_t i = s + 1; i <= end; ++i) {
      if (v[static_cast<size_t>(i)] > v[static_cast<size_t>(hi)]) hi = i;
      if (v[static_cast<size_t>(i)] < v[static_cast<size_t>(lo)]) lo = i;
    }
    const int x = X(s);
    const int yHi = Y(channel, v[static_cast<size_t>(hi)]);
    const int yLo = Y(channel, v[static_cast<size_t>(lo)]);
    if (lo >= hi) {
      points.push_back({x, yHi});
      points.push_back({x, yLo});
    } else {
      points.push_back({x, yLo});
      points.push_back({x, yHi});
    }
  }
  return points;
}

std::vector<StampMarker> GraphView::StampMarkers(int left, int right) const {
  std::vector<StampMarker> markers;
  if (!data_ || depthPlot_ || shown_ == 0) return markers;
  int64_t a = 0, b = 0;
  PaintedRange(left, right, a, b);
  int64_t ended = -1;
  for (const StampRecord& r : data_->stamps.records) {
    const int64_t i = r.sampleIndex;
    if (i < a || i > b || r.markerClass < 0 || i == ended) continue;
    const int x = X(i);
    if (r.type == kStampGain) {
      const uint32_t changed = r.changedMask;
      if (showRangeChanges && (changed & shown_) != 0) {
        MarkerKind kind = MarkerKind::GainOne;
        if ((changed & (changed - 1)) != 0)
          kind =
              (changed & shown_) == changed ? MarkerKind::GainAllShown : MarkerKind::GainSomeShown;
        markers.push_back({x, 3, 21, kind});
      }
    } else if (r.markerClass == 10) {
      if (wavesCapability) markers.push_back({x, 3, 21, MarkerKind::Burst});
    } else if (r.markerClass == 8 || r.markerClass == 9) {
      markers.push_back({x, 25, 225, MarkerKind::Stamp});
    } else {
      ended = i;
    }
  }
  return markers;
}

SystemTime GraphView::SampleTimeOf(int64_t sample) const {
  if (!data_) return time_.start;
  return SampleTime(*data_, time_.start, time_.periodSeconds, time_.sixHz,
                    std::max<int64_t>(sample, 0));
}

TimeAxisTexts GraphView::TimeAxis() const {
  TimeAxisTexts t;
  if (!data_ || Samples() <= 0) return t;
  const int64_t left = std::clamp<int64_t>(first_, 0, Samples() - 1);
  const int64_t right = std::max(left, LastDisplayedSample());
  const SystemTime l = SampleTimeOf(left), r = SampleTimeOf(right);
  t.leftDate = Format("%04d/%s/%02d", l.year, MonthName(l.month), l.day);
  t.leftTime = Format("%02d:%02d:%02d", l.hour, l.minute, l.second);
  t.leftNumber = Format("%lld  ", static_cast<long long>(left));
  t.rightDate = Format("%04d/%s/%02d", r.year, MonthName(r.month), r.day);
  t.rightTime = Format("%02d:%02d:%02d", r.hour, r.minute, r.second);
  t.rightNumber = Format("  %lld", static_cast<long long>(right));
  t.readingsPerDivision = Format("    %0.2f readings per division    ", r_ + 0.0001);
  if (time_.sixHz) {
    t.timePerDivision = "1/6 second per reading";
  } else {
    const int64_t s = std::llround(r_ * static_cast<double>(time_.periodSeconds));
    t.timePerDivision =
        Format("%02lld:%02lld:%02lld per division", static_cast<long long>(s / 3600),
               static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  }
  return t;
}

int GraphView::DepthChannel() const {
  for (int c = 0; c < Channels(); ++c)
    if (kChannelTypeTable[TypeRowOfChannel(*data_, c)].Letter() == kLetterDerivedDepth) return c;
  return -1;
}

bool GraphView::ToggleDepthPlot() {
  if (!depthPlot_) {
    const int d = DepthChannel();
    if (d < 0) return false;
    savedShown_ = shown_;
    depthPlot_ = true;
    const int n = Channels();
    shown_ = ((n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u))) & ~(1u << d);
  } else {
    depthPlot_ = false;
    shown_ = savedShown_;
  }
  ClearCursor();
  AutoScaleChannels();
  return true;
}

std::vector<PlotPoint> GraphView::DepthPoints(int channel) const {
  std::vector<PlotPoint> points;
  const int d = DepthChannel();
  if (!depthPlot_ || d < 0 || channel == d || !Shown(channel) || channel >= Channels())
    return points;
  const int u = UnitOf(channel), du = UnitOf(d);
  if (u < 0 || du < 0) return points;
  const UnitScale& s = units_[static_cast<size_t>(u)];
  const UnitScale& ds = units_[static_cast<size_t>(du)];
  const std::vector<float>& v = data_->series[static_cast<size_t>(channel)];
  const std::vector<float>& depth = data_->series[static_cast<size_t>(d)];
  const double xScale = (s.maximum - s.minimum) / width_;
  const double yScale = (ds.maximum - ds.minimum) / 200.0;
  points.reserve(static_cast<size_t>(Samples()));
  for (int64_t i = 0; i < Samples(); ++i) {
    const float value = v[static_cast<size_t>(i)], z = depth[static_cast<size_t>(i)];
    if (value == kMissingValue || z == kMissingValue) continue;
    points.push_back({ClampToInt((value - s.minimum) / xScale, -1000, 10000),
                      ClampToInt(25 + (z - ds.minimum) / yScale, -1000, 1000)});
  }
  return points;
}

}  // namespace klx
