#pragma once
// The statistics window (`CALIBRATIONOUTPUT`): mean, standard deviation and count of the two
// highlighted ranges of one channel, in the raw or the converted view, and the two-point
// calibration that carries the two accepted raw means onto two fixed-point values and writes the
// resulting offset and slope to the logger the data came from.
#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "calibration/two_point.h"
#include "records/data_set.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace klx {

class Session;

// A highlighted range of sample indices, first..last inclusive; first < 0: nothing highlighted.
struct HighlightedSamples {
  int64_t first = -1;
  int64_t last = -1;
};
using HighlightPair = std::array<HighlightedSamples, 2>;

class StatisticsWindow : public QDialog {
  Q_OBJECT
 public:
  explicit StatisticsWindow(Session& session, QWidget* parent = nullptr);

  // The two highlighted ranges (the graph's); empty ranges without it.
  std::function<HighlightPair()> highlights;
  // The channel box chose another channel (the graph shades that channel's ranges).
  std::function<void(int channel)> channelChosen;
  // The window title with the program copy's prefix (the title as given without it).
  std::function<QString(const std::string&)> caption;

  // The held data changed: the channel box is filled again (the first channel a two-point
  // calibration can be made on is chosen), the accepted readings are dropped and the raw
  // readings are decoded again when next needed.
  void DataChanged();
  // Shows the statistics of the current highlights and the write button's state.
  void Refresh();
  // Shows the window on top (the menu command).
  void ShowWindow();

  int Channel() const { return channel_; }
  void ChooseChannel(int channel);
  bool RawView() const { return raw_; }
  void SetRawView(bool raw);
  // The statistics of range `point` (0 or 1) in the current view.
  ReadingStatistics Statistics(int point) const;
  // The fit of the accepted readings and the fixed-point values (invalid until both are there).
  TwoPointFit Fit() const { return fit_; }
  // "Accept reading:" of point 0 or 1, ticked or unticked.
  void Accept(int point, bool accepted);
  // The write button: c0, c1, 0, 0 to the channel of the connected logger, read back. True when
  // written.
  bool Write();
  // "Save fixed-point values for future use" (depth, pH and dissolved-oxygen channels).
  bool SaveFixedPoints();

  QComboBox* ChannelBox() { return channelBox_; }
  QLabel* Heading() { return heading_; }
  QLabel* StatisticsText(int point) { return stats_[size_t(point)]; }
  QCheckBox* AcceptBox(int point) { return accept_[size_t(point)]; }
  QLineEdit* ReadingField(int point) { return reading_[size_t(point)]; }
  QLineEdit* ValueField(int point) { return value_[size_t(point)]; }
  QPushButton* WriteButton() { return write_; }
  QPushButton* ViewButton() { return view_; }
  QPushButton* SaveButton() { return save_; }
  // The two-point area and the line shown instead of it.
  QWidget* TwoPointArea() { return twoPoint_; }
  QLabel* OnlineLine() { return online_; }
  // Connected to a logger with a depth, pH or dissolved-oxygen channel.
  bool OnlineCalibrationAvailable() const;

 private:
  // The data set of the current view: the held data, or their raw readings.
  const DataSet& ViewData();
  const DataSet& RawData();
  char Letter() const;
  void ClearAccepted();
  void UpdateFit();
  void FillFixedPoints();

  Session& session_;
  DataSet rawData_;
  bool rawDecoded_ = false;
  bool raw_ = true;
  int channel_ = 0;
  std::array<double, 2> readings_{};
  std::array<bool, 2> accepted_{};
  TwoPointFit fit_;
  QLabel* heading_ = nullptr;
  QWidget* twoPoint_ = nullptr;
  QLabel* online_ = nullptr;
  QComboBox* channelBox_ = nullptr;
  std::array<QLabel*, 2> stats_{};
  std::array<QCheckBox*, 2> accept_{};
  std::array<QLineEdit*, 2> reading_{};
  std::array<QLineEdit*, 2> value_{};
  QPushButton* write_ = nullptr;
  QPushButton* view_ = nullptr;
  QPushButton* save_ = nullptr;
};

}  // namespace klx
