// Recorded sessions replayed through the unmodified link stack against golden output.
//
// Each tests/data/sessions/<name>.klxs holds a transcript; <name>.golden what the identification
// showed when it was recorded. A mismatch writes <name>.actual beside them. Regenerating the
// recordings from the simulated logger is a deliberate act:
//   KLX_RECORD_SESSIONS=1 ./integration_tests --gtest_filter='SessionReplay.*'
// and the commit that carries new recordings says why.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "records/deployment_parameters.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/loopback.h"
#include "platform/port_map.h"
#include "session/session.h"
#include "sim/sim_transport.h"
#include "transcript.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

const fs::path kSessions = fs::path(KLX_TEST_DATA_DIR) / "sessions";
const char* const kRecordedProfiles[] = {"VS-330",   "NA-7100", "NB-7100-2400",
                                         "NMJ-7400", "VS-550",  "HL-240"};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The identification as `klx identify` runs it, and everything a user would see of it.
std::string Identify(TransportRegistry& transports, Clock& clock, const std::string& port) {
  PortMap ports;
  RecordingHost host;
  SerialLink link(transports, ports, clock);
  DeploymentParameters deployment;
  LoggerLink logger(link, host, deployment);
  link.loggerPort = ports.NumberFor(port);
  std::ostringstream out;
  const bool connected = logger.ConnectCommand();
  if (connected) {
    logger.AssessCapabilities();
    out << "configuration " << logger.CommGet(16) << "\n";
  }
  for (const auto& e : host.events) {
    if (e.kind == "status") out << "status[" << e.number << "] " << e.text << "\n";
    if (e.kind == "tell" || e.kind == "ask")
      out << e.kind << " " << e.caption << ": " << e.text << "\n";
  }
  if (connected)
    for (const auto& line : DescribeLogger(logger, link.loggerPort, link.currentBaudRate))
      out << line << "\n";
  return out.str();
}

TEST(SessionReplay, RecordedSessionsReproduceTheirGoldenOutput) {
  if (std::getenv("KLX_RECORD_SESSIONS")) {
    fs::create_directories(kSessions);
    for (const char* profile : kRecordedProfiles) {
      VirtualClock clock(SystemTime{2026, 6, 1, 1, 12, 0, 0, 0});
      TransportRegistry transports;
      auto sims = sim::RegisterSimTransport(transports, clock);
      auto logger = sims->Logger(profile);
      ASSERT_TRUE(logger) << profile;
      auto recorder = std::make_shared<RecordingDevice>(logger);
      transports.Register("rec:", [&](std::string_view) {
        return std::make_unique<LoopbackPort>("rec:", recorder, clock);
      });
      const std::string output = Identify(transports, clock, "rec:logger");
      auto& t = recorder->transcript;
      t.header["profile"] = profile;
      t.header["model"] = logger->Profile().model;
      t.header["baud"] = std::to_string(logger->DefaultBaud());
      WriteText(kSessions / (std::string(profile) + ".klxs"), t.Serialize());
      WriteText(kSessions / (std::string(profile) + ".golden"), output);
    }
  }

  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(kSessions)) {
    if (entry.path().extension() != ".klxs") continue;
    SCOPED_TRACE(entry.path().filename().string());
    Transcript transcript;
    std::string error;
    ASSERT_TRUE(Transcript::Parse(ReadText(entry.path()), transcript, &error)) << error;
    ASSERT_TRUE(transcript.header.count("model"));

    VirtualClock clock(SystemTime{2026, 6, 1, 1, 12, 0, 0, 0});
    TransportRegistry transports;
    auto replay = std::make_shared<ReplayDevice>(transcript);
    transports.Register("replay:", [&](std::string_view) {
      return std::make_unique<LoopbackPort>("replay:", replay, clock);
    });
    const std::string actual = Identify(transports, clock, "replay:logger");
    EXPECT_EQ(replay->Divergence(), "");
    EXPECT_TRUE(replay->Finished()) << replay->StepsLeft() << " steps never reached";

    fs::path golden = entry.path();
    golden.replace_extension(".golden");
    const std::string expected = ReadText(golden);
    fs::path actualPath = entry.path();
    actualPath.replace_extension(".actual");
    if (actual != expected) {
      WriteText(actualPath, actual);
      ADD_FAILURE() << "output differs from " << golden << "; see " << actualPath
                    << "\n--- expected\n"
                    << expected << "--- actual\n"
                    << actual;
    } else {
      fs::remove(actualPath);
    }
    ++replayed;
  }
  EXPECT_GE(replayed, 4);
}

TEST(Transcript, EscapesRoundTripEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  Transcript t;
  t.header["model"] = "VS-330";
  t.steps.push_back({true, 19200, "A"});
  t.steps.push_back({false, 0, all});
  Transcript back;
  std::string error;
  ASSERT_TRUE(Transcript::Parse(t.Serialize(), back, &error)) << error;
  ASSERT_EQ(back.steps.size(), 2u);
  EXPECT_EQ(back.steps[1].bytes, all);
  EXPECT_EQ(back.steps[0].baud, 19200);
  EXPECT_EQ(back.header["model"], "VS-330");

  std::string out;
  EXPECT_FALSE(UnescapeBytes("abc\\", out));
  EXPECT_FALSE(UnescapeBytes("\\x4", out));
  EXPECT_FALSE(UnescapeBytes("\\q", out));
  EXPECT_FALSE(Transcript::Parse("> nobaud\n", back, &error));
  EXPECT_FALSE(Transcript::Parse("garbage line\n", back, &error));
}

TEST(Transcript, ReplayNotesTheFirstDivergence) {
  Transcript t;
  t.steps.push_back({true, 19200, "A"});
  t.steps.push_back({false, 0, "KLX NB-7100 3.20 000001\r\n"});
  t.steps.push_back({true, 19200, "T"});
  VirtualClock clock;
  auto replay = std::make_shared<ReplayDevice>(t);
  LoopbackPort port("replay", replay, clock);
  ASSERT_TRUE(port.Open());
  LineSettings ls;
  ls.baudRate = 19200;
  port.SetLineSettings(ls);
  CommTimeouts to{0, 1, 20, 1, 20};
  port.SetTimeouts(to);
  port.Write(reinterpret_cast<const uint8_t*>("A"), 1);
  uint8_t buffer[64];
  EXPECT_EQ(port.Read(buffer, 64), 25);
  port.Write(reinterpret_cast<const uint8_t*>("B"), 1);
  EXPECT_NE(replay->Divergence().find("expected T"), std::string::npos) << replay->Divergence();

  // The wrong rate is a divergence too.
  auto again = std::make_shared<ReplayDevice>(t);
  LoopbackPort slow("replay", again, clock);
  ASSERT_TRUE(slow.Open());
  ls.baudRate = 2400;
  slow.SetLineSettings(ls);
  slow.Write(reinterpret_cast<const uint8_t*>("A"), 1);
  EXPECT_NE(again->Divergence().find("2400"), std::string::npos);
}

}  // namespace
}  // namespace klx::test
