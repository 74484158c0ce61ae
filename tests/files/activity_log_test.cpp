// The activity logs: entries, two loggers on one day, and failures that let the caller go on.
#include "files/activity_log.h"

#include "files/files_fixture.h"

namespace klx::test {
namespace {

LogEntryInputs Inputs(const std::filesystem::path& dir, const std::string& model, int serial) {
  LogEntryInputs in;
  in.programDirectory = dir;
  in.logger.model = model, in.logger.firmware = 3.05f, in.logger.serial = serial;
  in.logger.channelCount = 2, in.logger.channelTypes = "TP";
  in.hostTime = At(2024, 3, 5, 10, 11, 12), in.loggerTime = At(2024, 3, 5, 10, 11, 2);
  in.parameters.startTime = At(2024, 3, 6, 0, 0, 0),
  in.parameters.endTime = At(2024, 4, 6, 0, 0, 0);
  in.parameters.samplePeriod = Period{0, 1, 30};
  return in;
}

using ActivityLogTest = FilesTest;

TEST_F(ActivityLogTest, TwoLoggersOnOneDayShareTheDailyLog) {
  RecordingHost host;
  LogEntryInputs a = Inputs(Dir(), "VS-330", 12);
  LogEntryInputs b = Inputs(Dir(), "NA-7100", 34);
  b.hostTime.hour = 16, b.loggerStatus = 4, b.savedFile = "/data/000034.dat";
  ASSERT_TRUE(WriteLogEntry(host, kLogSetUp, a));
  ASSERT_TRUE(WriteLogEntry(host, kLogRetrieved, b));
  ASSERT_TRUE(WriteLogEntry(host, kLogSetupFailed, a));
  EXPECT_TRUE(host.StatusMessages().empty());

  EXPECT_EQ(ReadFile(Dir() / "log" / "000012.log"),
            LogEntryText(kLogSetUp, a) + LogEntryText(kLogSetupFailed, a));
  EXPECT_EQ(ReadFile(Dir() / "log" / "000034.log"), LogEntryText(kLogRetrieved, b));
  EXPECT_EQ(ReadFile(Dir() / "log" / "20240305.log"), LogEntryText(kLogSetUp, a) +
                                                          LogEntryText(kLogRetrieved, b) +
                                                          LogEntryText(kLogSetupFailed, a));
  const std::string retrieved = LogEntryText(kLogRetrieved, b);
  EXPECT_EQ(retrieved.substr(retrieved.find("Host time")),
            "Host time:                          2024/Mar/05 16:11:12\n"
            "Logger downloaded at logger time:   2024/Mar/05 10:11:02\n"
            "Logger status:                      Logging Complete\n"
            "Data was written to a file:         /data/000034.dat\n\n");
}

TEST_F(ActivityLogTest, SetupEntriesDescribeTheDeployment) {
  LogEntryInputs in = Inputs(Dir(), "VS-330", 7);
  in.logger.averaging = 1;
  in.logger.hysteresis = in.logger.oemSupport = in.logger.externalDataConnector = true;
  in.logger.waves = true;
  in.logger.minimumHostVersion = 6.1f;
  auto& p = in.parameters;
  p.startMode = kStartAboveThreshold;
  p.thresholdChannel = 0;  // a temperature channel: the sense is reversed
  p.thresholdValue = 12.5;
  p.hysteresisSeconds = 60;
  p.averagingEnabled = p.realtimeOutput = p.waveEnabled = true;
  p.averagingSeconds = 20;
  p.startFlags = 0x7;
  p.waveRateHz = 4;
  p.burstLength = 1024;
  p.burstInterval = Period{1, 0, 0};
  in.estimates = "Estimates:\tmemory usage is 12.5%";
  EXPECT_EQ(LogEntryText(kLogSetUp, in),
            "----------------------------------------\n"
            "KLX VS-330  3.05 000007 (Windows: 6.13 - Minimum required: 6.10)\n"
            "Host time:                   2024/Mar/05 10:11:12\n"
            "Logger setup at logger time: 2024/Mar/05 10:11:02\n"
            "Logging start:               2024/Mar/06 00:00:00\n"
            "Logging end:                 2024/Apr/06 00:00:00\n"
            "Sample period:                           00:01:30\n"
            "Logger start: Below threshold   12.5000 channel 1\t Hysteresis period: 60 seconds\n"
            "Averaging: 20 seconds\n"
            "OEM: Logger autostart selected  Logger storage inhibited Logger using engineering "
            "units\n"
            "Realtime output enabled\n"
            "Wave sampling enabled: rate 4Hz, length 1024, period 01:00:00\n"
            "Estimates:\tmemory usage is 12.5%\n"
            "\n");

  // Resumed: the same lines after "Resumed logging", without the estimates.
  const std::string resumed = LogEntryText(kLogResumed, in);
  EXPECT_NE(resumed.find("Resumed logging\nHost time:                   2024/Mar/05"),
            std::string::npos);
  EXPECT_EQ(resumed.find("Estimates"), std::string::npos);
  // A logger without these capabilities: only the times and the period.
  const std::string text = LogEntryText(kLogSetUp, Inputs(Dir(), "NA-7100", 8));
  EXPECT_EQ(text.substr(text.find("Sample period")),
            "Sample period:                           00:01:30\n\n");
}

TEST_F(ActivityLogTest, FailuresGoToTheStatusLine) {
  RecordingHost host;
  // The folder cannot be made: a file stands where it should be.
  WriteFile(Dir() / "log", "not a folder");
  EXPECT_FALSE(WriteLogEntry(host, kLogSetUp, Inputs(Dir(), "VS-330", 1)));
  EXPECT_EQ(host.status[1], "Error: Unable to save log file");
  std::filesystem::remove(Dir() / "log");

  // The logger log cannot be opened: the daily log is not tried.
  std::filesystem::create_directories(Dir() / "log" / "000002.log");
  EXPECT_FALSE(WriteLogEntry(host, kLogSetUp, Inputs(Dir(), "VS-330", 2)));
  EXPECT_EQ(host.status[1], "Error: Unable to open log file");
  EXPECT_FALSE(std::filesystem::exists(Dir() / "log" / "20240305.log"));

  // Only the daily log fails.
  std::filesystem::create_directories(Dir() / "log" / "20240305.log");
  EXPECT_FALSE(WriteLogEntry(host, kLogSetUp, Inputs(Dir(), "VS-330", 3)));
  EXPECT_EQ(host.status[1], "Error: Unable to open daily log file");
  EXPECT_FALSE(ReadFile(Dir() / "log" / "000003.log").empty());
}

}  // namespace
}  // namespace klx::test
