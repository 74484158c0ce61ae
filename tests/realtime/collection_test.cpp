// The live run: records from a logger (and a GPS) on the loopback line to the series, the status
// line and the real-time file, which reads back as a hex file.
#include "realtime/collection.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

#include "decoding/decoder.h"
#include "files/files_fixture.h"
#include "platform/loopback.h"
#include "session/session.h"
#include "shell/datetime.h"

namespace klx {
namespace {

namespace fs = std::filesystem;

struct TimedDevice : LineDevice {  // sends what it was given at the times it was given
  void Receive(const uint8_t*, size_t, int, int64_t, LineOutput&) override {}
  void Poll(int64_t untilMs, LineOutput& out) override {
    for (; !queue.empty() && queue.front().first <= untilMs; queue.pop_front())
      out.Send(queue.front().second, queue.front().first);
  }
  void At(int64_t ms, std::string bytes) { queue.emplace_back(ms, std::move(bytes)); }
  std::deque<std::pair<int64_t, std::string>> queue;
};

const SystemTime kStart{2026, 12, 0, 6, 12, 0, 0, 0};
// An even count: an odd one is a reading outside the channel's normal range.
int32_t Count(double fraction) { return static_cast<int32_t>(fraction * 16777216.0) & ~1; }

class RealTime : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    session = std::make_unique<Session>(host, clock, Dir(), std::vector<std::string>{});
    session->ReadSettings();
    session->transports.Register("test:", [this](std::string_view name) {
      const bool isGps = name.find("gps") != std::string_view::npos;
      return std::make_unique<LoopbackPort>(std::string(name), isGps ? gps : logger, clock);
    });
    session->link.loggerPort = session->ports.NumberFor("test:logger");
    session->link.gpsPort = 0;
    session->link.OpenSerialPort(PortSlot::Logger, session->link.loggerPort, 9600,
                                 RtsControl::Disable);
    NewRun();
  }
  void NewRun() {
    run = std::make_unique<RealTimeRun>(session->logger, host, clock);
    t0 = clock.MonotonicMs();
  }
  // A VS-330 with these channels (channel n's polynomial is 100 × n × raw / 2^24), 10 s period.
  RealTimeStart StartFor(const std::string& letters, bool engineering = false) {
    RealTimeStart s;
    s.files = {Dir() / "hex" / "001234Realtime.hex", Dir() / "dat" / "001234Realtime.gps"};
    DeploymentParameters& p = s.parameters;
    p.samplePeriod = {0, 0, 10}, p.startTime = kStart, p.realtimeOutput = true;
    p.realtimeBaud = 9600, p.realtimeBaudCode = 28, p.startFlags = engineering ? 4 : 0;
    LoggerState& st = s.data.logger;
    st.model = "VS-330", st.firmware = 6.2f, st.serial = 1234, st.channelTypes = letters;
    st.channelCount = static_cast<int>(letters.size());
    st.parameterBlockLength = 30, st.engineeringUnitsLevel = engineering ? 1 : 0;
    for (int ch = 0; ch < st.channelCount; ++ch)
      s.data.calibration.coef[ch] = {0.0, 100.0 * (ch + 1), 0.0, 0.0};
    return s;
  }
  void Send(int64_t ms, RecordTag tag, const SystemTime& t, const std::vector<int32_t>& counts) {
    const auto b = BinaryRecord(tag, t, counts);
    logger->At(t0 + ms, std::string(b.begin(), b.end()));
  }
  // Runs the timer for `ms` of line time; returns the samples stored.
  int Run(int64_t ms) {
    int stored = 0;
    for (int64_t t = 0; t < ms; t += run->TickPeriodMs()) {
      clock.SleepMs(run->TickPeriodMs());
      stored += run->Tick();
    }
    return stored;
  }
  bool EndAndReadBack() { run->End(); return session->ReadDataFile(run->Files().data); }
  SystemTime HeldTime(int row) {
    const DeploymentParameters& p = session->held.image.snapshot.parameters;
    return SampleTime(session->held.data, p.startTime, p.samplePeriod, false, row);
  }

  VirtualClock clock{kStart};
  RecordingHost host;
  std::unique_ptr<Session> session;
  std::shared_ptr<TimedDevice> logger = std::make_shared<TimedDevice>();
  std::shared_ptr<TimedDevice> gps = std::make_shared<TimedDevice>();
  std::unique_ptr<RealTimeRun> run;
  int64_t t0 = 0;
};

TEST_F(RealTime, SamplesBecomeSeriesStatusLinesAndAFileThatReadsBackWithItsGaps) {
  ASSERT_TRUE(run->Start(StartFor("PC")));
  EXPECT_EQ(run->TickPeriodMs(), 150);
  EXPECT_EQ(host.status[kStatusMessagePart], kRealTimeStatus);

  // Samples at 0, 10 and 20 s, then a gap to 60 s, then a time that goes back to 50 s.
  const int offsets[] = {0, 10, 20, 60, 50};
  for (int i = 0; i < 5; ++i)
    Send(offsets[i] * 1000 + 100, RecordTag::Sample, AddSeconds(kStart, offsets[i]),
         {Count(0.1 * (i + 1)), Count(0.05 * (i + 1))});
  EXPECT_EQ(Run(30000), 3);
  EXPECT_EQ(Run(40000), 2);

  const DataSet& data = run->Data();
  ASSERT_EQ(data.samplesPerChannel, 5);
  EXPECT_NEAR(data.series[0][0], 10.0, 1e-4);  // 100 × 0.1
  EXPECT_NEAR(data.series[1][4], 50.0, 1e-4);  // 200 × 0.25
  // The running extremes, from the preset limits (pressure 0 to 30, conductivity 20 to 60).
  EXPECT_NEAR(data.Minimum(0), 0.0, 1e-4);
  EXPECT_NEAR(data.Maximum(0), 50.0, 1e-4);
  EXPECT_NEAR(data.Minimum(1), 10.0, 1e-4);
  EXPECT_NEAR(data.Maximum(1), 60.0, 1e-4);
  // The display's times: the gap and the step back start new stamps.
  ASSERT_EQ(data.stamps.records.size(), 3u);
  EXPECT_EQ(data.stamps.records[1].sampleIndex, 3u);
  EXPECT_EQ(data.stamps.records[2].sampleIndex, 4u);
  EXPECT_EQ(SampleTime(data, run->FirstSampleTime(), 10, false, 4), AddSeconds(kStart, 50));
  EXPECT_EQ(run->lastLine, ShortDateDisplayText(AddSeconds(kStart, 50)) + "   50.0000   50.0000");
  EXPECT_EQ(host.status[kStatusMessagePart], run->lastLine);
  const std::vector<std::vector<float>> series = data.series;

  // The file: header, 30-byte parameter block, samples with a 12-byte stamp before the first, the
  // gap and the step back; read back, the same values at the same times.
  ASSERT_TRUE(EndAndReadBack()) << host.events.back().text;
  EXPECT_FALSE(run->Active());
  const std::string text = ReadFile(run->Files().data);
  EXPECT_NE(text.find("Number of bytes of data 0000096\n"), std::string::npos) << text;
  EXPECT_NE(text.find("000000000000000000000000000000000000000000000000\n001C00000000\n"),
            std::string::npos);
  EXPECT_NE(text.find("00000054494D261206120000"), std::string::npos);  // stamp of the first
  ASSERT_EQ(session->held.data.samplesPerChannel, 5);
  for (int ch = 0; ch < 2; ++ch)
    for (int row = 0; row < 5; ++row)
      EXPECT_NEAR(session->held.data.series[ch][row], series[ch][row], 1e-3) << ch << "," << row;
  EXPECT_EQ(HeldTime(3), AddSeconds(kStart, 60));
}

TEST_F(RealTime, TheGpsPositionGoesWithEachSampleAndAnUnopenableFileEndsTheStart) {
  session->link.gpsPort = session->ports.NumberFor("test:gps");
  ASSERT_TRUE(run->Start(StartFor("T")));
  ASSERT_TRUE(run->GpsActive());
  gps->At(t0 + 50, "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
  for (int i = 0; i < 3; i += 2)
    Send(10000 * i + 200, RecordTag::Sample, AddSeconds(kStart, 10 * i), {Count(0.5)});
  Run(25000);
  EXPECT_EQ(run->sampleCount, 2);
  EXPECT_EQ(run->gpsText, " 4807.04,N,1131.00,E");
  EXPECT_TRUE(run->lastLine.ends_with(" 4807.04,N,1131.00,E")) << run->lastLine;

  NewRun();  // a file that cannot be opened ends the start
  RealTimeStart start = StartFor("T");
  start.files.data = Dir() / "no-such-folder" / "x.hex";
  EXPECT_FALSE(run->Start(std::move(start)) || run->Active());
  EXPECT_TRUE(host.Saw("tell", "Unable to open '.hex' data file"));
}

TEST_F(RealTime, ALinearMemoryLoggersFileCarriesItsModeAndStartFlagsAndContinuesWhenFull) {
  RealTimeStart start = StartFor("TP");
  LoggerState& st = start.data.logger;
  st.model = "NMV-7400", st.extendedCommandSet = true, st.parameterBlockLength = 48;
  DeploymentParameters& p = start.parameters;
  p.startMode = kStartNow, p.continuousPower = true, p.startFlags = 0x030201;
  run->maxFileBytes = 48 + 12 + 6 * 4;  // the preamble, a stamp and four samples
  ASSERT_TRUE(run->Start(std::move(start)));
  for (int i = 0; i < 6; ++i)
    Send(1000 * i + 100, RecordTag::Sample, AddSeconds(kStart, 10 * i), {Count(0.3), Count(0.4)});
  Run(7000);
  ASSERT_EQ(run->sampleCount, 6);
  run->End();
  // Mode byte: start now (1), continuous power (0x80), real-time output (0x20); the three start
  // flag bytes low first.
  const fs::path first = Dir() / "hex" / "001234Realtime.hex";
  const fs::path second = Dir() / "hex" / "001234Realtime_2.hex";
  EXPECT_EQ(run->Files().data, second);
  const std::string one = ReadFile(first), two = ReadFile(second);
  EXPECT_NE(one.find("001C0000000000A101020300000000000000000000000000\n"), std::string::npos);
  EXPECT_NE(one.find("Number of bytes of data 0000084\n"), std::string::npos) << one;
  EXPECT_NE(two.find("Number of bytes of data 0000072\n"), std::string::npos) << two;
  ASSERT_TRUE(session->ReadDataFile(second));  // the rest of the samples
  EXPECT_EQ(session->held.data.samplesPerChannel, 2);
  EXPECT_EQ(HeldTime(1), AddSeconds(kStart, 50));
}

TEST_F(RealTime, BurstValuesAreReadingsOfTheSecondChannelAndTheNmjNeedsDepth) {
  RealTimeStart start = StartFor("TP");
  start.data.logger.model = "NMJ-7400";
  start.derived.depthOn = false;
  ASSERT_TRUE(run->Start(std::move(start)));
  EXPECT_TRUE(host.Saw("tell", "'Depth' has to be selected with appropriate paramaters"));
  Send(100, RecordTag::Burst, kStart, {Count(0.25), Count(0.5)});
  const auto seq = SequenceRecord(2, {Count(0.625), Count(0.75)});
  logger->At(t0 + 200, std::string(seq.begin(), seq.end()));
  Run(1000);
  EXPECT_EQ(run->sampleCount, 0) << "bursts are not samples";
  EXPECT_EQ(run->burstValues, (std::vector<float>{50, 100, 125, 150}));  // 200 × raw / 2^24
  EXPECT_NEAR(run->burstMaximum, 150.0, 1e-3);
  EXPECT_EQ(run->burstLine.rfind("Wave burst values 3 and 4: ", 0), 0u) << run->burstLine;
}

TEST_F(RealTime, EngineeringRecordsAreFiledAsTheRawCountsOfTheirValues) {
  // Raw counts of the values (channel n: 100 n × raw / 2^24); an auto-ranging turbidity channel's
  // count has its gain bits clear.
  for (const std::string letters : {"PC", "yP"}) {
    NewRun();
    ASSERT_TRUE(run->Start(StartFor(letters, true)));
    // 37.7773 is nearest an odd count (a reading outside the normal range); 37.7774's nearest
    // even count is not a multiple of 8.
    const double first = letters == "yP" ? 37.7774 : 37.7773;
    logger->At(t0 + 100, TextRecord(kStart, {first, 80.0}));
    Run(1000);
    ASSERT_EQ(run->sampleCount, 1);
    EXPECT_NEAR(run->Data().series[0][0], first, 1e-5);
    ASSERT_TRUE(EndAndReadBack());
    const std::string hex = ReadFile(run->Files().data);
    const size_t stamp = hex.find("54494D261206120000");  // "TIM" and the time
    ASSERT_NE(stamp, std::string::npos);
    const int32_t raw = static_cast<int32_t>(std::stol(hex.substr(stamp + 18, 6), nullptr, 16));
    EXPECT_NEAR(100.0 * raw / 16777216.0, first, 1e-4);
    EXPECT_NEAR(session->held.data.series[1][0], 80.0, 1e-4);
    if (letters == "yP") EXPECT_EQ(raw & 7, 0);
    else EXPECT_NEAR(session->held.data.series[0][0], first, 1e-4);
  }
}

TEST(RealTimeCapacity, TheBinaryAndEngineeringRatesMustFitTheDefaultBaudRate) {
  // Four channels: 25 bytes a record, 60 records a second under 6 Hz profiling, one every ten
  // seconds otherwise; engineering units (start flag 4) need 4 × 10 + 22 bytes a record.
  struct Row { bool on, sixHz; uint32_t flags, baud; const char* refusal; } const rows[] = {
      {true, true, 0, 1500, "requires a default baud rate greater than 1500."},
      {true, true, 0, 1501, nullptr},
      {true, true, 4, 2400,
       "Engineering units format\nrequires a default baud rate greater than 3720."},
      {true, false, 0, 26, nullptr},
      {true, false, 0, 25, "requires a default baud rate greater than 25."},
      {false, true, 4, 0, nullptr}};
  for (const Row& r : rows) {
    RecordingHost host;
    DeploymentParameters p;
    p.realtimeOutput = r.on, p.profiling6Hz = r.sixHz, p.samplePeriod = {0, 0, 10};
    p.startFlags = r.flags, p.realtimeBaud = r.baud;
    EXPECT_EQ(CheckRealTimeCapacity(p, 4, host), !r.refusal) << r.baud;
    EXPECT_TRUE(!r.refusal || host.Saw("tell", r.refusal)) << r.refusal;
  }
}

TEST_F(RealTime, AnExistingFileIsAskedAboutAndALoggerStoringAsciiGetsADatFile) {
  test::FileHost files;
  Directories dirs;
  LoggerState s;
  s.serial = 42;
  fs::create_directories(Dir() / "hex");
  std::ofstream(Dir() / "hex" / "run1.hex") << "keep";
  files.files = {(Dir() / "hex" / "run1").string()};
  files.answers = {Answer::No};
  EXPECT_FALSE(ChooseRealTimeFile(files, s, Dir(), dirs));
  EXPECT_EQ(ReadFile(Dir() / "hex" / "run1.hex"), "keep");
  const FileChoice& c = files.choices.back();
  EXPECT_EQ(c.suggestedName + "|" + c.title + "|" + c.filter,
            "000042Realtime.hex|Select a 'hex' filename for storing the Real-time data|All Hex "
            "Files (*.hex)");
  s.rsAdvancedWord = 0x0A;  // cancelled
  EXPECT_FALSE(ChooseRealTimeFile(files, s, Dir(), dirs));
  EXPECT_EQ(files.choices.back().suggestedName + "|" + files.choices.back().filter,
            "000042Realtime.dat|All ASCII data files (*.dat)");
}

}  // namespace
}  // namespace klx
