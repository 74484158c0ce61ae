// The graph model: scales, zoom, scrolling, decimation, markers, axis texts, the depth plot.
#include "display/graph_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "decoding/channel_types.h"

namespace klx {
namespace {

// A data set with the given channel letters and a value function per channel and sample.
template <typename F>
DataSet MakeData(const std::string& letters, int samples, F value) {
  DataSet d;
  d.logger.model = "VS-330";
  d.logger.channelTypes = letters;
  d.channelCount = static_cast<int>(letters.size());
  d.samplesPerChannel = samples;
  for (int c = 0; c < d.channelCount; ++c) {
    std::vector<float> s;
    float lo = 1e30f, hi = -1e30f;
    for (int i = 0; i < samples; ++i) s.push_back(value(c, i));
    for (float v : s)
      if (v != kMissingValue) lo = std::min(lo, v), hi = std::max(hi, v);
    s.insert(s.end(), {lo, hi});
    d.series.push_back(s);
  }
  return d;
}

TimeBase Base(int periodSeconds = 10) {
  TimeBase t;
  t.start = SystemTime{2026, 6, 1, 1, 12, 0, 0, 0};
  t.periodSeconds = periodSeconds;
  return t;
}

// A view of the data 803 pixels wide (80 divisions).
struct View : GraphView {
  explicit View(const DataSet& d, const TimeBase& t = Base()) { SetData(&d, t); }
};

// minimum, maximum, page and position of a scroll range.
std::array<int64_t, 4> Fields(const ScrollRange& r) {
  return {r.minimum, r.maximum, r.page, r.position};
}

TEST(AutoScale, PlotWidthAndAFlatChannelsMinimumDivisionAndRoundedBottom) {
  EXPECT_EQ(PlotWidthFor(1000), 803);  // (837 / 50) * 50 + 3
  EXPECT_EQ(GraphView(PlotWidthFor(1000)).Divisions(), 80);
  const DataSet d = MakeData("T", 100, [](int, int) { return 12.3457f; });
  View g(d);
  const UnitScale& u = g.Unit(0);
  ASSERT_TRUE(u.used);
  EXPECT_DOUBLE_EQ(u.division, 0.0002);
  EXPECT_NEAR(u.bottom, 12.3456, 1e-9);              // 12.3457 rounded down to a multiple of 0.0002
  EXPECT_NEAR(u.maximum - u.minimum, 0.0009, 1e-6);  // a flat channel is widened
  EXPECT_EQ(DivisionLabel(u.division), "  0.000200/div");
  EXPECT_EQ(DivisionLabel(2.0), "   2.0000/div");
  // A rectangle one row high cannot take the division below its minimum.
  ASSERT_TRUE(g.ZoomRectangle(200, 100, 300, 101));
  EXPECT_DOUBLE_EQ(g.Unit(0).division, kMinimumZoomDivision);
}

TEST(AutoScale, StepsMantissaBoundariesAndSharedUnitScale) {
  // Temperatures share one scale: 2..15 gives s = 0.65 -> 1.0; pressure 0..3000: s = 150 -> 200.
  const DataSet d = MakeData("TTP", 10, [](int c, int i) {
    if (c == 0) return 2.0f + i * 0.1f;
    if (c == 1) return 15.0f - i * 0.1f;
    return i * 3000.0f / 9;
  });
  View g(d);
  EXPECT_EQ(std::make_pair(g.Unit(0).minimum, g.Unit(0).maximum), std::make_pair(2.0, 15.0));
  EXPECT_NEAR(g.Unit(0).division, 1.0, 1e-12);
  EXPECT_NEAR(g.Unit(0).bottom, 2.0, 1e-12);
  EXPECT_NEAR(g.Unit(1).division, 200.0, 1e-9);
  EXPECT_EQ(g.ReferenceUnit(), 0);
  // Hiding both temperature channels frees their unit; pressure becomes the reference.
  g.ToggleChannel(0);
  g.ToggleChannel(1);
  EXPECT_FALSE(g.Unit(0).used);
  EXPECT_EQ(g.ReferenceUnit(), 1);
  // Mantissa boundaries: s = 0.101 -> 2 x 0.1; s = 0.5 -> 5 x 0.1; s = 9.99999 -> 10 x 1.
  const struct {
    float range;
    double division;
  } cases[] = {{2.02f, 0.2}, {10.0f, 0.5}, {199.9998f, 10.0}, {20.0f, 1.0}};
  for (const auto& c : cases) {
    const DataSet d = MakeData("T", 2, [&](int, int i) { return i * c.range; });
    EXPECT_NEAR(View(d).Unit(0).division, c.division, c.division * 1e-9) << c.range;
  }
}

TEST(Zoom, ZoomOutSequenceCursorAndWholeDataFit) {
  const DataSet d = MakeData("T", 100000, [](int, int i) { return i * 1.0f; });
  View g(d);
  EXPECT_NEAR(g.ReadingsPerDivision(), 1250.0, 1e-9);
  const double from[] = {1, 2, 3, 0.5};
  const double to[] = {3, 3, 10, 1};
  for (int i = 0; i < 4; ++i) {
    g.SetHorizontal(1000, from[i]);
    g.ZoomOut();
    EXPECT_NEAR(g.ReadingsPerDivision(), to[i], 1e-9) << from[i];
    EXPECT_EQ(g.FirstSample(), 1000);
  }
  // Near the end the view stays within the data; a step past the whole set shows everything.
  g.SetHorizontal(99900, 3);
  g.ZoomOut();
  EXPECT_EQ(g.FirstSample(), 100000 - 800);
  g.SetHorizontal(500, 1000);
  g.ZoomOut();
  EXPECT_EQ(std::make_pair(g.ReadingsPerDivision(), g.FirstSample()), std::make_pair(1250.0, 0L));
  // With a cursor the zoom centres on it.
  g.SetHorizontal(50000, 1);
  g.SetCursor(400);  // sample 50400 (10 pixels per sample)
  EXPECT_EQ(g.CursorSample(), 50040);
  g.ZoomOut();
  EXPECT_EQ(std::make_pair(g.FirstSample(), g.CursorColumn()), std::make_pair(50040L - 120, 400));
}

TEST(Zoom, RectanglesNarrowOnesWidenToOneReadingPerDivisionCentresKeepTheirRow) {
  const DataSet d = MakeData("T", 10000, [](int, int i) { return i * 0.001f; });
  View g(d);
  g.SetHorizontal(0, 10);  // one pixel per sample
  // Samples 300..305 widen around their middle to R = 1; the division scales by 100 / 200.
  ASSERT_TRUE(g.ZoomRectangle(kPlotLeft + 300, 50, kPlotLeft + 305, 150));
  EXPECT_DOUBLE_EQ(g.ReadingsPerDivision(), 1.0);
  EXPECT_EQ(g.FirstSample(), 262);
  EXPECT_NEAR(g.Unit(0).division, View(d).Unit(0).division * 0.5, 1e-12);

  // A value at plot row 75 (window row 95) is on the middle row after zooming around it.
  const DataSet e = MakeData("T", 1000, [](int, int i) { return i * 0.02f; });
  g.SetData(&e, Base());
  const double mid = (g.Unit(0).maximum + g.Unit(0).minimum) / 2;
  const double value = mid - (75 - 125) * g.Unit(0).division / 10;
  ASSERT_EQ(g.Y(0, value), 75);
  ASSERT_TRUE(g.ZoomRectangle(kPlotLeft + 100, 95 - 40, kPlotLeft + 500, 95 + 40));
  EXPECT_NEAR(g.Y(0, value), 125, 1);
  // An empty rectangle changes nothing.
  const double r = g.ReadingsPerDivision();
  EXPECT_FALSE(g.ZoomRectangle(300, 60, 300, 120) || g.ZoomRectangle(300, 60, 400, 60));
  EXPECT_EQ(g.ReadingsPerDivision(), r);
}

TEST(Scroll, RangesFollowTheView) {
  const DataSet d = MakeData("T", 5000, [](int, int i) { return i * 1.0f; });
  View g(d);
  g.SetHorizontal(120, 3);
  EXPECT_EQ(Fields(g.HorizontalScroll()), (std::array<int64_t, 4>{0, 4998, 240, 120}));
  g.ScrollHorizontal(999999);
  EXPECT_EQ(g.FirstSample(), 4998);
  g.ScrollHorizontal(-5);
  EXPECT_EQ(g.FirstSample(), 0);
  // Unzoomed, the page of 21 covers the whole range: there is nothing to scroll.
  EXPECT_EQ(Fields(g.VerticalScroll()), (std::array<int64_t, 4>{0, 20, 21, 0}));
  g.ScrollVertical(5);
  EXPECT_EQ(g.VerticalOffset(), 0.0);
  // Zoomed to half the height, one division down moves a trace up one division (10 pixels).
  ASSERT_TRUE(g.ZoomRectangle(200, 95, 400, 195));
  const int y0 = g.Y(0, 2500.0);
  g.ScrollVertical(1);
  EXPECT_EQ(g.Y(0, 2500.0), y0 - 10);
  // The page cannot go past either end of the range.
  g.ScrollVertical(11);
  EXPECT_EQ(g.VerticalOffset(), 10.0);
  g.ScrollVertical(-11);
  EXPECT_EQ(g.VerticalOffset(), -10.0);
}

// A drag fills the active range, then the other; zoom keeps them in samples, new data clear them.
TEST(Highlight, DragsFillTheTwoRangesInTurn) {
  const DataSet d = MakeData("TP", 1000, [](int c, int i) { return c == 1 ? i * 0.01f : 1.0f; });
  View g(d);  // 803 columns: 1000 / 80 = 12.5 readings per division, 0.8 pixels per sample
  ASSERT_NEAR(g.PixelsPerSample(), 0.8, 1e-12);
  EXPECT_TRUE(g.Highlight(0).Empty());

  // A drag to the left (the window's drags are checked with the two-point calibration).
  ASSERT_TRUE(g.BeginHighlight(80));   // sample 100
  EXPECT_TRUE(g.ExtendHighlight(40));  // sample 50
  g.EndHighlight();
  EXPECT_EQ(g.Highlight(0), (SampleRange{50, 100}));

  ASSERT_TRUE(g.BeginHighlight(700));
  EXPECT_TRUE(g.ExtendHighlight(5000));  // past the plot: the last sample in view
  g.EndHighlight();
  EXPECT_EQ(g.Highlight(1), (SampleRange{875, 999}));
  EXPECT_EQ(g.ActiveHighlight(), 0);
  EXPECT_FALSE(g.ExtendHighlight(10));  // no drag running: nothing moves
  EXPECT_EQ(g.Highlight(0), (SampleRange{50, 100}));

  // Zoomed in, the same samples stand at other columns; a range out of view has none.
  g.SetHorizontal(60, 1);  // 10 pixels per sample
  int left = 0, right = 0;
  ASSERT_TRUE(g.HighlightColumns(0, left, right));
  EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 405));  // sample 100 at 400, + half
  EXPECT_FALSE(g.HighlightColumns(1, left, right));

  // A third drag replaces the first range.
  ASSERT_TRUE(g.BeginHighlight(100));  // sample 70
  g.EndHighlight();
  EXPECT_EQ(g.Highlight(0), (SampleRange{70, 70}));
  EXPECT_EQ(g.Highlight(1), (SampleRange{875, 999}));

  g.SetData(&d, Base());
  EXPECT_TRUE(g.Highlight(0).Empty() && g.Highlight(1).Empty() && g.ActiveHighlight() == 0);
  g.SetData(nullptr, Base());
  EXPECT_FALSE(g.BeginHighlight(10));
}

// Bits 1 and 3 of the advanced word both set: no rectangle zoom; either alone leaves it.
TEST(Zoom, RectangleZoomIsNotOfferedWithRsAdvancedBitsOneAndThree) {
  DataSet d = MakeData("T", 500, [](int, int i) { return i * 1.0f; });
  GraphView g;
  for (uint32_t word : {0x2u, 0x8u, 0xAu}) {
    d.logger.rsAdvancedWord = word;
    g.SetData(&d, Base());
    const double division = g.Unit(0).division;
    EXPECT_EQ(g.RectangleZoomOffered(), word != 0xA) << word;
    EXPECT_EQ(g.ZoomRectangle(200, 95, 400, 195), word != 0xA) << word;
    EXPECT_EQ(g.Unit(0).division == division, word == 0xA) << word;
  }
}

TEST(Trace, PointsDepthDirectionPaintedRangeAndHiddenChannels) {
  const DataSet d = MakeData("T", 50, [](int, int i) { return static_cast<float>(i % 2); });
  View g(d);
  g.SetHorizontal(0, 10);  // one sample per pixel
  auto p = g.TracePoints(0, 0, 802);
  ASSERT_EQ(p.size(), 50u);
  EXPECT_TRUE(p[49].x == 49 && p[0].y != p[1].y && p[0].y == p[2].y);

  // Groups of 3 samples (R = 30): in group 0 the maximum comes first, in group 1 the minimum.
  const float v[] = {9, 5, 1, 1, 5, 9};
  const DataSet six = MakeData("T", 6, [&](int, int i) { return v[i]; });
  g.SetData(&six, Base());
  g.SetHorizontal(0, 30);
  p = g.TracePoints(0, 0, 10);
  ASSERT_EQ(p.size(), 5u);  // start point, then two per group
  const int yHigh = g.Y(0, 9), yLow = g.Y(0, 1);
  ASSERT_LT(yHigh, yLow);
  EXPECT_EQ(std::vector(p.begin() + 1, p.end()),
            (std::vector<PlotPoint>{{0, yHigh}, {0, yLow}, {1, yLow}, {1, yHigh}}));

  // Depth grows downwards, and Y is limited.
  const DataSet depth = MakeData("A", 10, [](int, int i) { return i * 10.0f; });
  g.SetData(&depth, Base());
  EXPECT_GT(g.Y(0, 90.0), g.Y(0, 0.0));
  EXPECT_EQ(g.Y(0, 1e12), 1000);
  EXPECT_EQ(g.Y(0, -1e12), -1000);

  // The painted range stops at the last sample; a hidden channel has no trace.
  const DataSet two = MakeData("TT", 1000, [](int, int i) { return i * 1.0f; });
  g.SetData(&two, Base());
  g.SetHorizontal(100, 5);
  int64_t a = 0, b = 0;
  g.PaintedRange(0, 5000, a, b);
  EXPECT_EQ(b, 999);
  g.ToggleChannel(1);
  EXPECT_TRUE(g.TracePoints(1, 0, 100).empty());
  EXPECT_FALSE(g.TracePoints(0, 0, 100).empty());
}

TEST(Markers, StampClasses) {
  DataSet d = MakeData("TP", 100, [](int, int i) { return i * 1.0f; });
  auto stamp = [](uint32_t index, uint32_t type, int32_t cls, uint32_t changed = 0) {
    StampRecord r;
    r.sampleIndex = index, r.type = type, r.markerClass = cls, r.changedMask = changed;
    return r;
  };
  d.stamps.records = {stamp(10, kStampTime, 8),     stamp(20, kStampRtc, 9),
                      stamp(30, kStampBurst, 10),   stamp(40, kStampGain, 1, 2),
                      stamp(50, kStampGain, 12, 6), stamp(60, kStampTime, -1),
                      stamp(70, kStampGain, 1, 1),  stamp(70, kStampTime, 8),
                      stamp(80, kStampTime, 3),     stamp(80, kStampTime, 8)};
  View g(d);
  g.SetHorizontal(0, 1);
  auto xs = [&] {
    std::vector<std::pair<int, MarkerKind>> out;
    for (const auto& m : g.StampMarkers(0, 802)) out.push_back({m.x / 10, m.kind});
    return out;
  };
  // No waves capability: no burst tick. Stamp at 80 with class 3 ends the marking there.
  std::vector<std::pair<int, MarkerKind>> expected = {
      {10, MarkerKind::Stamp},         {20, MarkerKind::Stamp},   {40, MarkerKind::GainOne},
      {50, MarkerKind::GainSomeShown}, {70, MarkerKind::GainOne}, {70, MarkerKind::Stamp}};
  EXPECT_EQ(xs(), expected);
  const auto m = g.StampMarkers(0, 802);
  EXPECT_EQ((std::array{m[0].yTop, m[0].yBottom, m[2].yTop, m[2].yBottom}),
            (std::array{25, 225, 3, 21}));

  g.wavesCapability = true;
  g.showRangeChanges = false;
  expected = {{10, MarkerKind::Stamp},
              {20, MarkerKind::Stamp},
              {30, MarkerKind::Burst},
              {70, MarkerKind::Stamp}};
  EXPECT_EQ(xs(), expected);
}

TEST(TimeAxis, TextsAtBothEndsAndPerDivision) {
  const DataSet d = MakeData("T", 1000, [](int, int i) { return i * 1.0f; });
  View g(d);
  g.SetHorizontal(6, 3);
  const TimeAxisTexts t = g.TimeAxis();
  EXPECT_EQ((std::vector{t.leftDate, t.leftTime, t.leftNumber, t.rightNumber, t.rightTime}),
            (std::vector<std::string>{"2026/Jun/01", "12:01:00", "6  ", "  246", "12:41:00"}));
  EXPECT_EQ(t.readingsPerDivision, "    3.00 readings per division    ");
  EXPECT_EQ(t.timePerDivision, "00:00:30 per division");
  TimeBase six = Base();
  six.sixHz = true;
  g.SetData(&d, six);
  EXPECT_EQ(g.TimeAxis().timePerDivision, "1/6 second per reading");
}

TEST(Cursor, ReadoutOfShownChannels) {
  const DataSet d = MakeData(
      "TP", 100, [](int c, int i) { return c == 0 ? (i == 5 ? kMissingValue : i * 0.5f) : 10.0f; });
  View g(d);
  g.SetHorizontal(0, 1);
  g.SetCursor(42);  // 10 pixels per sample: round(4.2) = 4
  EXPECT_EQ(g.CursorSample(), 4);
  EXPECT_EQ(g.CursorReadout(),
            (std::vector<std::string>{"Sample 5  2026/Jun/01 12:00:40", " 1 - Temperature: 2.0000",
                                      " 2 - Pressure: 10.0000"}));
  g.SetCursor(50);
  EXPECT_EQ(g.CursorReadout()[1], " 1 - Temperature: missing");
}

TEST(DepthPlot, SwitchesAndDrawsAgainstDepth) {
  const std::string letters = std::string("TP") + static_cast<char>(kLetterDerivedDepth);
  const DataSet d = MakeData(letters, 11, [](int c, int i) {
    if (c == 0) return 10.0f + i;  // 10..20
    if (c == 1) return 5.0f * i;   // pressure
    return 2.0f * i;               // depth 0..20
  });
  View g(d);
  ASSERT_TRUE(g.ToggleDepthPlot());
  EXPECT_EQ(g.ShownMask(), 3u);
  EXPECT_TRUE(g.Unit(kDepthUnit).used);  // the depth channel still scales its unit
  const auto p = g.DepthPoints(0);
  ASSERT_EQ(p.size(), 11u);
  EXPECT_EQ(p[0], (PlotPoint{0, 25}));
  EXPECT_EQ(p[10].y, 25 + 200);
  EXPECT_NEAR(p[10].x, 803, 1);
  EXPECT_TRUE(g.TracePoints(0, 0, 800).empty());
  ASSERT_TRUE(g.ToggleDepthPlot());
  EXPECT_EQ(g.ShownMask(), 7u);

  const DataSet plain = MakeData("TP", 5, [](int, int i) { return i * 1.0f; });
  g.SetData(&plain, Base());
  EXPECT_FALSE(g.ToggleDepthPlot());
}

TEST(BadData, ShortSeriesAndEmptySetsAreNotDrawn) {
  DataSet d = MakeData("TT", 20, [](int, int i) { return i * 1.0f; });
  d.series[1].resize(5);  // broken: no room for the minimum and maximum
  d.channelCount = 5;     // more channels claimed than series held
  View g(d);
  EXPECT_EQ(g.Channels(), 1);
  EXPECT_TRUE(g.TracePoints(1, 0, 800).empty());
  DataSet empty;
  g.SetData(&empty, Base());
  g.SetCursor(10);
  EXPECT_FALSE(g.ZoomRectangle(170, 30, 400, 200) || !g.CursorReadout().empty());
  g.SetData(nullptr, Base());
  EXPECT_EQ(g.ReferenceUnit(), -1);
}

}  // namespace
}  // namespace klx
