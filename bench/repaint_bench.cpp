// Repainting the graph widget for a full 8 MB data set (2 793 456 words divided among the
// channels): 24 channels and 1 channel, at the widest view (every sample in the plot) and zoomed
// in to a thirtieth of the samples. Each iteration renders the whole graph panel (plot, scales,
// time axis, buttons) into an image, as a repaint of the main window's graph does. Offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "display/graph_view.h"
#include "display/ui/graph_panel.h"

namespace {

constexpr int kWords = 2793456;  // (0x7FE000 - 48) / 3
constexpr int kWindowWidth = 1000;
constexpr int kPanelHeight = 440;

// Every channel a slow wave with a faster ripple and noise, so that each plot column's min/max
// stroke has some height. Letters cycle through temperature, pressure and conductivity.
klx::DataSet FullDataSet(int channels) {
  klx::DataSet d;
  d.logger.model = "VS-330";
  const std::string cycle = "TPC";
  for (int c = 0; c < channels; ++c) d.logger.channelTypes += cycle[static_cast<size_t>(c) % 3];
  d.channelCount = channels;
  d.samplesPerChannel = kWords / channels;
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 0.05f);
  for (int c = 0; c < channels; ++c) {
    std::vector<float> s(static_cast<size_t>(d.samplesPerChannel) + 2);
    float lo = 1e30f, hi = -1e30f;
    for (int i = 0; i < d.samplesPerChannel; ++i) {
      const double t = static_cast<double>(i) / d.samplesPerChannel;
      const float v = static_cast<float>(10.0 + c + 5.0 * std::sin(6.283 * 3.0 * t + c) +
                                         std::sin(6.283 * 400.0 * t)) +
                      noise(rng);
      s[static_cast<size_t>(i)] = v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    s[static_cast<size_t>(d.samplesPerChannel)] = lo;
    s[static_cast<size_t>(d.samplesPerChannel) + 1] = hi;
    d.series.push_back(std::move(s));
  }
  return d;
}

// Arguments: channel count, zoom (1: the whole data set; 30: a thirtieth of it).
void BM_GraphRepaint(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  const int zoom = static_cast<int>(state.range(1));
  const klx::DataSet data = FullDataSet(channels);
  klx::TimeBase time;
  time.start = klx::SystemTime{2026, 6, 1, 1, 12, 0, 0, 0};
  time.periodSeconds = 10;
  klx::GraphView view(klx::PlotWidthFor(kWindowWidth));
  view.SetData(&data, time);
  if (zoom > 1) view.SetHorizontal(data.samplesPerChannel / 2, view.ReadingsPerDivision() / zoom);
  klx::ui::GraphPanel panel(view);
  panel.resize(kWindowWidth, kPanelHeight);
  panel.Refresh();
  QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);

  int64_t first = 0, last = 0;
  view.PaintedRange(0, view.PlotWidth() - 1, first, last);
  for (auto _ : state) {
    image.fill(Qt::white);
    panel.render(&image);
    benchmark::DoNotOptimize(image.constBits());
    benchmark::ClobberMemory();
  }
  // A repaint that drew no trace measured nothing: the first channel's colour must be there.
  const QRgb trace = klx::ui::ChannelColour(0).rgb();
  bool traced = false;
  for (int y = klx::kPlotTop; y < klx::kPlotTop + klx::kPlotHeight && !traced; ++y)
    for (int x = klx::kPlotLeft; x < klx::kPlotLeft + view.PlotWidth() && !traced; ++x)
      traced = (image.pixel(x, y) | 0xFF000000u) == (trace | 0xFF000000u);
  if (!traced) state.SkipWithError("the repaint drew no trace");
  state.counters["samples_per_channel"] = data.samplesPerChannel;
  state.counters["samples_in_view"] = static_cast<double>(last - first + 1);
}

BENCHMARK(BM_GraphRepaint)
    ->ArgNames({"channels", "zoom"})
    ->Args({24, 1})
    ->Args({24, 30})
    ->Args({1, 1})
    ->Args({1, 30})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Widgets render without a display.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
