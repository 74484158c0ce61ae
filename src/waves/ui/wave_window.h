#pragma once
// The wave window of the tide-and-wave recorder: one burst's surface elevation across a plot box
// and its wave statistics above it. It follows the newest burst during real-time collection and
// the burst under the graph's cursor (or the one picked in its own spin box) when a retrieved or
// read data set is shown. Created with the main window, shown on demand.
#include <QSpinBox>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "records/data_set.h"

class QLabel;

namespace klx::ui {

class WavePlot;

class WaveWindow : public QWidget {
  Q_OBJECT
 public:
  explicit WaveWindow(QWidget* parent = nullptr);

  // The data set whose bursts are shown (nullptr: none), asked at every use so that the window
  // never keeps a data set that has been replaced; and the logger height the mean depth of
  // water adds.
  std::function<const DataSet*()> source;
  double loggerHeight = 0;

  // Redraws for tide sample `sample`: the last burst whose stamp lies at or before it. With
  // `newest` (real-time collection) the last burst of the data set is shown instead.
  void Update(int64_t sample, bool newest);
  // Shows burst b (0-based, clamped to the bursts there are), as the spin box does.
  void ShowBurst(int burst);

  int Burst() const { return burst_; }
  const DataSet* Data() const { return source ? source() : nullptr; }
  // The statistics as drawn (tabs expanded when painted).
  const std::string& Text() const { return text_; }
  QSpinBox* BurstPicker() const { return picker_; }
  QWidget* Plot() const;

 private:
  friend class WavePlot;
  const BurstSeries* Shown() const;

  int burst_ = -1;
  std::string text_;
  QSpinBox* picker_ = nullptr;
  QLabel* count_ = nullptr;
  WavePlot* plot_ = nullptr;
  bool picking_ = false;
};

}  // namespace klx::ui
