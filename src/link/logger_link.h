#pragma once
// The conversation with the connected logger: the reply buffer, the exchange primitives
// (tagged queries, numbered tables with their check byte, memory reads), the numbered query and
// setting dispatchers `CommGet` and `CommSet`, and the connection procedure that fills
// `LoggerState`.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/range_behaviour.h"
#include "link/serial_link.h"
#include "platform/host.h"
#include "platform/system_time.h"
#include "records/deployment_parameters.h"
#include "records/logger_state.h"

namespace klx {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

// The byte that makes the 8-bit sum of the data and itself 0xA5.
uint8_t TableCheckByte(const uint8_t* data, size_t count);
// True when the 8-bit sum of all bytes (check byte included) is 0xA5.
bool TableChecksumHolds(const uint8_t* data, size_t count);
// The plain 8-bit sum used by memory reads.
uint8_t ByteSum(const uint8_t* data, size_t count);
// "I" + end address + start address, each four bytes as hex pairs low byte first.
std::string MemoryReadCommand(uint32_t start, uint32_t length);
// The code "!E%02X" carries for a rate: 1 for 115200, else 9216000 / (32 × rate) − 2.
int ExpressBaudCode(int baudRate);

// Where the parts of a parameter block assembled from single queries stand (extended loggers).
namespace param_block {
constexpr size_t kSize = 50;
constexpr size_t kBaudCode = 1;     // "!M"/"BAU", one byte
constexpr size_t kAveraging = 2;    // "X"/"BST", two bytes low first
constexpr size_t kPowerSave = 4;    // "!P"/"PSP", three bytes
constexpr size_t kStartMode = 7;    // "!2"/"STC", two bytes
constexpr size_t kHysteresis = 11;  // "!O"/"HYS", two bytes
constexpr size_t kThreshold = 13;   // "!L"/"THR", eight bytes
}  // namespace param_block

// What the data set owner (the shell) lets the connection ask about retrieved data when the
// logger changes.
struct DataSetHooks {
  std::function<bool()> hasUnsavedData;
  std::function<void()> markSaved;    // forget that unsaved data exist
  std::function<void()> redisplay;    // show the retrieved readings again
  std::function<void()> saveData;     // the save operation
  std::function<void()> hideDisplay;  // hide graph, scroll bars and buttons
};

// Logger status codes as `CommGet` 9 leaves them.
struct LoggerStatus {
  int code = 0;
  int second = 0;  // second field of an extended logger's reply
};

class LoggerLink {
 public:
  static constexpr size_t kReplyCapacity = 4096;
  static constexpr float kOwnVersion = 6.13f;
  // How many times the calibration read of an older single-channel logger repeats "Z" before
  // it gives up (the logger is then treated as uncalibrated is NOT assumed: the read fails).
  static constexpr int kCalibrationZAttempts = 10;

  LoggerLink(SerialLink& link, Host& host, DeploymentParameters& deployment);

  // --- the reply buffer ---
  // The last reply as text (up to its first zero byte).
  std::string_view ReplyText() const;
  const uint8_t* ReplyBytes() const { return reply_.data(); }
  int ReplyLength() const { return replyLength_; }
  void SetReply(std::string_view text);

  // --- exchange primitives ---
  bool QueryTagged(std::string_view command, std::string_view tag);
  // 1 read, 0 failure, -1 the table does not exist. `out` receives the L bytes (check byte
  // included).
  int ReadTable(std::string_view command, std::vector<uint8_t>& out);
  // Sends `data` (N bytes) as table `command` with its check byte.
  bool WriteTable(std::string_view command, const std::vector<uint8_t>& data);
  bool WaitForAck();
  // One memory read of `length` bytes from `start` with its plain-sum byte; true when exactly
  // length + 1 bytes arrived and the sum holds. `out` receives the data bytes.
  bool ReadMemoryOnce(uint32_t start, uint32_t length, std::vector<uint8_t>& out);
  // Sends the fetch command and collects one live reading.
  int FetchReading();
  // Switches the logger and the link to another rate, then reconnects.
  bool SetExpressBaud(int baudRate);

  // --- dispatchers ---
  int CommGet(int number);
  int CommSet(int number);

  // --- connection ---
  bool ConnectLogger();
  // The main window's connect command: status messages around ConnectLogger.
  bool ConnectCommand();
  bool ReadCapability(int entry, uint32_t& value);
  void AssessCapabilities();
  int ReadConfiguration();
  bool ReadRsAdvanced();
  // The default baud rate table (0300) and the latency field of table 0100.
  bool ReadDefaultBaudRate(int& rate);
  static int DefaultRateFromCode(uint8_t code);
  static uint8_t DefaultRateCode(int rate);
  // The opening of the default-baud-rate dialog: fresh configuration and capabilities; false
  // (with the message) for loggers whose default rate cannot be set.
  bool DefaultBaudRateSupported();
  bool SetDefaultBaudRate(int rate);
  // The opening of the latency dialog: the configuration read afresh; -1 (with the message)
  // when it cannot be read.
  int CurrentLatency();
  bool SetLatency(int latencyMs);
  // Reads the calibration of an older single-channel logger ("Z"). 1 read, 0 failed; `out`
  // receives c0..c3 (or stays untouched when the logger is uncalibrated, `uncalibrated` set).
  int ReadSingleChannelCalibration(std::array<double, 4>& out, bool& uncalibrated);

  LoggerState state;
  DataSetHooks hooks;
  // Reads the calibration (`CommGet` 10) once the calibration part is linked in.
  std::function<int()> calibrationReader;
  // The conductivity-correction calibration (`CommSet` 11) once the calibration part is in.
  std::function<int()> conductivityCalibration;
  // The time `CommSet` 1 sets the logger's clock to.
  SystemTime clockToSet;

  // Results of queries, kept for the parts that use them.
  SystemTime loggerClock;
  LoggerStatus status;
  std::vector<uint8_t> parameterBlock;
  std::string batteryVoltage;
  bool samplingLedOn = false;

  // Fetch settings chosen in the fetch dialogs.
  bool fetchAll = false;
  int fetchChannel = 0;
  bool averagedRealtime = false;
  // Real-time collection state (`CommGet` 39/40).
  bool realtimePending = false;
  int realtimeCollected = 0;
  std::string realtimeMessage;  // the real-time window's message line
  int realtimeProgressMax = 0;
  // Meta-table and memory-card arguments for `CommGet` 35/36 and `CommSet` 34.
  uint32_t cardArgument = 0;
  uint8_t metaTableNumber = 0;
  std::vector<std::string> metaTableLines;
  uint8_t optodeAddress = 0;

  SerialLink& link() { return link_; }
  Host& host() { return host_; }
  DeploymentParameters& deployment() { return deployment_; }

 private:
  int ReadLinkIntoReply(int maximum);
  int FetchExpectedLength() const;
  std::string FetchCommand() const;
  bool SetAndVerify(const std::string& command, const char* query, const char* tag);
  void VerifyFailed(int number);
  int GetParameterBlock();
  uint8_t StartModeByte() const;
  int GetStatus();
  int ResumeLogging();
  bool IdentifyAtCurrentRate();
  void NoteCapabilityRead(std::string& text);
  void DeriveOlderLoggerCapabilities();
  // Reads the range switching behaviour table and applies it to the letters just read and to
  // the reading time; `ranges` tells which channels switch.
  void ApplyRangeBehaviourTable(std::string& letters, RangeBehaviour& ranges);

  SerialLink& link_;
  Host& host_;
  DeploymentParameters& deployment_;
  std::array<uint8_t, kReplyCapacity + 1> reply_{};
  int replyLength_ = 0;
};

}  // namespace klx
