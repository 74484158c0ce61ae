#pragma once
// The strip-chart graph of the main window as plain state: per-unit vertical scales, the
// horizontal scale and first displayed sample, zoom, scrolling, the cursor, the depth plot, and
// the geometry of everything that is drawn (trace points, stamp markers, axis texts). The window
// paints what this computes; nothing here knows about widgets.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system_time.h"
#include "records/data_set.h"

namespace klx {

// Placement of the plot inside the main window's client area.
constexpr int kPlotLeft = 160;
constexpr int kPlotTop = 20;
constexpr int kPlotHeight = 250;
constexpr int kPlotMiddleRow = 125;  // within the plot; row 145 of the window
constexpr int kPixelsPerDivision = 10;
constexpr int kVerticalDivisions = 20;
constexpr int kUnitSlots = 24;
constexpr int kMaxShownChannels = 24;
constexpr int kDepthUnit = 12;
constexpr double kMinimumDivision = 0.0002;
constexpr double kMinimumZoomDivision = 5e-5;

// Plot width for a window (or screen) width: ((width - 163) / 50) * 50 + 3.
int PlotWidthFor(int windowWidth);

// The text beside the vertical scale for a unit index. `model` decides the "volt ratio" of the
// micro-salinometer; the oxygen unit follows the derived settings in the order given.
struct UnitTextContext {
  std::string model;
  bool standardChannels = true;
  bool doUnitUMol = false;
  bool doUnitMgPerL = false;
  bool doUnitMlPerL = false;
};
std::string ScaleUnitText(int unitIndex, const UnitTextContext& context);

// "%9.4f/div" for ordinary division values, "%10.6f/div" for values below 0.001.
std::string DivisionLabel(double division);

// How sample times are found: the deployment's start and period, or the data's stamps.
struct TimeBase {
  SystemTime start;
  int64_t periodSeconds = 1;
  bool sixHz = false;
};

struct UnitScale {
  bool used = false;     // a shown channel (or the depth channel of the depth plot) has it
  double minimum = 0.0;  // combined data range of the shown channels
  double maximum = 0.0;
  double division = 0.0;  // engineering units per vertical division
  double bottom = 0.0;    // axis bottom: largest multiple of division not above minimum
  double top = 0.0;       // bottom + 20 divisions when scaled (a zoom changes only division)
  double Top() const { return top; }
};

struct PlotPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const PlotPoint&, const PlotPoint&) = default;
};

enum class MarkerKind { Burst, GainOne, GainAllShown, GainSomeShown, Stamp };
struct StampMarker {
  int x = 0;
  int yTop = 0;
  int yBottom = 0;
  MarkerKind kind = MarkerKind::Stamp;
};

struct TimeAxisTexts {
  std::string leftDate, leftTime, leftNumber;
  std::string rightDate, rightTime, rightNumber;
  std::string readingsPerDivision;  // "    %0.2f readings per division    "
  std::string timePerDivision;      // "%02d:%02d:%02d per division" or the 6 Hz text
};

// A scroll range in the terms of the window system the behaviour was written for: the thumb
// covers `page` of minimum..maximum, so its position runs from minimum to LastPosition().
struct ScrollRange {
  int64_t minimum = 0;
  int64_t maximum = 0;
  int64_t page = 0;
  int64_t position = 0;
  // maximum - page + 1, not below minimum: the largest position (a toolkit's maximum).
  int64_t LastPosition() const { return std::max(maximum - page + 1, minimum); }
};

// A highlighted range of samples, first..last inclusive (first < 0: nothing highlighted).
struct SampleRange {
  int64_t first = -1;
  int64_t last = -1;
  bool Empty() const { return first < 0 || last < first; }
  int64_t Count() const { return Empty() ? 0 : last - first + 1; }
  friend bool operator==(const SampleRange&, const SampleRange&) = default;
};
constexpr int kHighlightRanges = 2;

class GraphView {
 public:
  explicit GraphView(int plotWidth = PlotWidthFor(1000));

  // Shows a data set (nullptr clears the graph): every channel (up to 24) shown, the whole data
  // set in view, the cursor cleared, the time plot, scales fitted. The data set must outlive
  // the view or be replaced before it goes.
  void SetData(const DataSet* data, const TimeBase& time);
  const DataSet* Data() const { return data_; }
  int64_t Samples() const { return data_ ? data_->samplesPerChannel : 0; }
  int Channels() const;

  int PlotWidth() const { return width_; }
  int Divisions() const { return width_ / kPixelsPerDivision; }

  // --- scales
  void AutoScaleChannels();
  const UnitScale& Unit(int unitIndex) const { return units_[static_cast<size_t>(unitIndex)]; }
  int UnitOf(int channel) const;
  // The lowest unit index in use (the vertical scroll bar's scale); -1 when none is.
  int ReferenceUnit() const;

  // --- which channels are drawn
  bool Shown(int channel) const { return channel >= 0 && channel < 32 && (shown_ >> channel) & 1u; }
  uint32_t ShownMask() const { return shown_; }
  void SetShownMask(uint32_t mask);
  void ToggleChannel(int channel);  // a channel button
  void ShowAll();                   // "ALL"

  // --- horizontal scale
  int64_t FirstSample() const { return first_; }
  double ReadingsPerDivision() const { return r_; }
  double PixelsPerSample() const { return kPixelsPerDivision / r_; }
  int64_t LastDisplayedSample() const;
  void SetHorizontal(int64_t first, double readingsPerDivision);
  void ResetZoom();  // the whole data set
  void ZoomOut();    // 1 -> 3 -> 10 -> 30 -> 100 ...
  void ZoomIn();     // back down the same steps, not below 1
  // Rectangle zoom is not offered for loggers whose RS advanced word has bits 1 and 3 set.
  bool RectangleZoomOffered() const;
  // Rectangle zoom; corners in main-window coordinates (as recorded: mouse + (160, 20)).
  // False when the rectangle is empty or the zoom is not offered (nothing changes).
  bool ZoomRectangle(int x0, int y0, int x1, int y1);

  // --- scrolling
  double VerticalOffset() const { return offset_; }
  ScrollRange HorizontalScroll() const;
  // Vertical: 10 - k .. 10 + k with page 21, k the reference scale's half height in divisions
  // (at least 10); the position is the vertical offset, 0 when unzoomed (k = 10: no scrolling).
  ScrollRange VerticalScroll() const;
  void ScrollHorizontal(int64_t position);
  void ScrollVertical(int64_t position);

  // --- mapping (plot coordinates: 0,0 is the plot's top-left corner)
  int X(int64_t sample) const;
  int Y(int channel, double value) const;
  int64_t SampleAtColumn(int x) const;

  // --- cursor
  void SetCursor(int column);
  void ClearCursor() { cursorColumn_ = -1, cursorSample_ = -1; }
  int CursorColumn() const { return cursorColumn_; }
  int64_t CursorSample() const { return cursorSample_; }
  // What the read-out shows: the sample, its time and every shown channel's value.
  std::vector<std::string> CursorReadout() const;

  // --- highlight: two ranges of samples of one channel (the two points of a two-point
  // calibration), marked by dragging over the plot. A drag fills the active range and then
  // makes the other one active; new data clear both.
  int HighlightChannel() const { return highlightChannel_; }
  void SetHighlightChannel(int channel);
  int ActiveHighlight() const { return activeHighlight_; }
  void SetActiveHighlight(int range);
  const SampleRange& Highlight(int range) const {
    return highlights_[static_cast<size_t>(std::clamp(range, 0, kHighlightRanges - 1))];
  }
  // Press, move and release of a highlighting drag, at plot columns. False (nothing changes)
  // when there are no samples or the depth plot is shown.
  bool BeginHighlight(int column);
  bool ExtendHighlight(int column);
  void EndHighlight();
  bool Highlighting() const { return highlightAnchor_ >= 0; }
  void ClearHighlights();
  // The plot columns a range covers, clipped to the plot; false when it is not in view.
  bool HighlightColumns(int range, int& left, int& right) const;

  // --- drawing
  // The samples under plot columns left..right (inclusive), as painting covers them.
  void PaintedRange(int left, int right, int64_t& firstSample, int64_t& lastSample) const;
  // The trace of one channel over those columns: the first point is where drawing starts, a
  // line goes through each following point (min/max strokes when several samples share a
  // column group).
  std::vector<PlotPoint> TracePoints(int channel, int left, int right) const;
  std::vector<StampMarker> StampMarkers(int left, int right) const;
  SystemTime SampleTimeOf(int64_t sample) const;
  TimeAxisTexts TimeAxis() const;

  // Options that change what is drawn.
  bool showRangeChanges = true;
  // Real-time collection: each unit's scale is the range of its channels (preset from the
  // real-time limits) in twenty equal divisions, not rounded to 1, 2 or 5.
  bool realTimeScales = false;
  bool wavesCapability = false;

  // --- depth plot
  bool DepthPlot() const { return depthPlot_; }
  int DepthChannel() const;  // the derived depth channel, or -1
  // Switches between the time plot and the depth plot; false (nothing changes) when there is
  // no depth channel to switch to.
  bool ToggleDepthPlot();
  // One cross per sample of a shown channel (centre points; the caller draws +-2 strokes).
  std::vector<PlotPoint> DepthPoints(int channel) const;

 private:
  double Mid(int unit) const;

  int width_;
  const DataSet* data_ = nullptr;
  TimeBase time_;
  std::array<UnitScale, kUnitSlots> units_{};
  uint32_t shown_ = 0;
  uint32_t savedShown_ = 0;
  int64_t first_ = 0;
  double r_ = 1.0;
  double offset_ = 0.0;
  int cursorColumn_ = -1;
  int64_t cursorSample_ = -1;
  bool depthPlot_ = false;
  std::array<SampleRange, kHighlightRanges> highlights_{};
  int activeHighlight_ = 0;
  int highlightChannel_ = 0;
  int64_t highlightAnchor_ = -1;  // the sample a drag started at, -1 between drags
};

}  // namespace klx
