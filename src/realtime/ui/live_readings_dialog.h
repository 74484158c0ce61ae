#pragma once
// "&Fetch live readings": the logger is asked for one reading after another and each answer is
// shown in engineering units. Loggers with a generic front end get the list variant, which
// keeps every answer in a box that can be copied; the others the "KLX Logger - Live Readings"
// window with one line per channel.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/data_set.h"
#include "deployment/range_switching.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace klx {
class Host;
class LoggerLink;
class Session;

namespace ui {

// Command 111: connects, refuses an enabled VS-550 family logger and any logger that is
// logging, reads the capabilities, configuration and calibration, then opens the list variant
// for a logger with a generic serial card (card version 1 or more) and the live readings
// window for any other.
void RunFetchLiveReadingsCommand(QWidget* parent, Session& session, Host& host);
// The live readings window without the refusal of a logging logger (after an enable whose
// real-time output is in engineering units).
void OpenLiveReadings(QWidget* parent, Session& session, Host& host);

// The value of one channel (indexed from 0) in the reply to "F%02X" or "F": six hexadecimal
// digits of raw counts converted with the channel's calibration, or, for a logger that answers
// in engineering units, the last number before "FET". Nothing for a reply that holds neither.
std::optional<double> SingleChannelReading(std::string_view reply, const DataSet& context,
                                           int channel, bool engineering);

// One reading after another through `CommGet` 39 (ask) and 40 (collect), one step per timer
// period.
class FetchCycle {
 public:
  enum class Event {
    Asked,         // the fetch command went out
    Waiting,       // no complete reply yet
    Reading,       // Reply() holds a complete reply
    Busy,          // the logger answered "Busy"
    NoConnection,  // the link could not be re-established
    NoAnswer,      // no complete reply within the expected time
  };

  explicit FetchCycle(LoggerLink& logger) : logger_(logger) {}
  Event Step();
  // Forgets a reading in flight: the next step asks again.
  void Restart() { waiting_ = false; }
  bool Waiting() const { return waiting_; }
  // Periods waited for the reply, and the expected wait.
  int Elapsed() const { return elapsed_; }
  int Maximum() const { return maximum_; }
  // The channel number the reading in flight (or the last reading) was asked for.
  int Channel() const { return channel_; }
  const std::string& Reply() const { return reply_; }

 private:
  LoggerLink& logger_;
  bool waiting_ = false;
  int elapsed_ = 0;
  int maximum_ = 1;
  int channel_ = 0;
  std::string reply_;
};

// The texts a failed step leaves where the reading would stand.
const char* FetchFailureText(FetchCycle::Event event);

// The description of the connected logger the readings are converted with.
DataSet LiveReadingContext(Session& session);

// "KLX Logger - Live Readings".
class LiveReadingsDialog : public QDialog {
  Q_OBJECT
 public:
  // The main window's timer period, which the fetching follows.
  static constexpr int kPeriodMs = 1000;

  LiveReadingsDialog(Session& session, Host& host, QWidget* parent = nullptr);

  QSpinBox* ChannelField() const { return channel_; }
  QLabel* StateLabel() const { return state_; }
  QLabel* ValueLabel(int channel) const;  // channel indexed from 0
  QSpinBox* FetchCount() const { return count_; }
  QPushButton* FreezeButton() const { return freeze_; }
  QPushButton* FinishButton() const { return finish_; }
  // "Auto-ranging": shown for loggers with range-switching channels.
  QPushButton* AutoRangingButton() const { return autoRanging_; }
  void EditRanges();
  QCheckBox* AveragingBox() const { return employ_; }
  QProgressBar* Progress() const { return progress_; }
  QTimer& Timer() { return timer_; }
  // One timer period's work.
  void Tick();
  void Freeze();
  void Finish();
  void reject() override;

 private:
  void ChannelChanged(int channel);
  void ShowReading();

  Session& session_;
  Host& host_;
  LoggerLink& logger_;
  DataSet context_;
  FetchCycle cycle_;
  bool engineering_ = false;
  bool channelChoice_ = true;  // "F%02X" loggers; the others answer "F" with channel 1
  QLabel* name_ = nullptr;
  QSpinBox* channel_ = nullptr;
  QLabel* state_ = nullptr;
  std::vector<QLabel*> values_;
  QSpinBox* count_ = nullptr;
  QCheckBox* employ_ = nullptr;
  QTimeEdit* averaging_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* freeze_ = nullptr;
  QPushButton* finish_ = nullptr;
  QPushButton* autoRanging_ = nullptr;
  std::unique_ptr<RangeSwitching> ranges_;
  QTimer timer_;
  bool finished_ = false;
};

// The list variant for loggers with a generic front end.
class GenericFetchDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPeriodMs = 1000;

  GenericFetchDialog(Session& session, Host& host, QWidget* parent = nullptr);
  ~GenericFetchDialog() override;

  QRadioButton* AllChannels() const { return all_; }
  QRadioButton* OneChannel() const { return one_; }
  QComboBox* ChannelList() const { return channels_; }
  QListWidget* Box() const { return box_; }
  QPushButton* ClearButton() const { return clear_; }
  QPushButton* CopyButton() const { return copy_; }
  QTimer& Timer() { return timer_; }
  void Tick();
  // Copies the box to the clipboard; false (with the message) when it could not.
  bool Copy();

 private:
  void Add(const std::string& line);

  Session& session_;
  Host& host_;
  LoggerLink& logger_;
  DataSet context_;
  FetchCycle cycle_;
  bool engineering_ = false;
  QRadioButton* all_ = nullptr;
  QRadioButton* one_ = nullptr;
  QComboBox* channels_ = nullptr;
  QListWidget* box_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* copy_ = nullptr;
  QTimer timer_;
};

}  // namespace ui
}  // namespace klx
