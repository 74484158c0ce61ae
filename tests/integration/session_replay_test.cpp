// Recorded sessions (tests/data/sessions/<name>.klxs) replayed through the link stack against
// <name>.golden; a mismatch writes <name>.actual. KLX_RECORD_SESSIONS=1 records them afresh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The identification as `klx identify` runs it, and everything a user would see of it.
std::string Identify(LinkHost& h) {
  std::ostringstream out;
  const bool connected = h.logger.ConnectCommand();
  if (connected) {
    h.logger.AssessCapabilities();
    out << "configuration " << h.logger.CommGet(16) << "\n";
  }
  for (const auto& e : h.host.events) {
    if (e.kind == "status") out << "status[" << e.number << "] " << e.text << "\n";
    if (e.kind == "tell" || e.kind == "ask")
      out << e.kind << " " << e.caption << ": " << e.text << "\n";
  }
  if (connected)
    for (const auto& line : DescribeLogger(h.logger, h.link.loggerPort, h.link.currentBaudRate))
      out << line << "\n";
  return out.str();
}

TEST(SessionReplay, RecordedSessionsReproduceTheirGoldenOutput) {
  if (std::getenv("KLX_RECORD_SESSIONS")) {
    fs::create_directories(kSessions);
    for (const char* profile : kRecordedProfiles) {
      VirtualClock clock;
      TransportRegistry transports;
      auto logger = sim::RegisterSimTransport(transports, clock)->Logger(profile);
      ASSERT_TRUE(logger) << profile;
      LinkHost h(logger);
      const std::string output = Identify(h);
      auto& t = h.recorder->transcript;
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

    auto replay = std::make_shared<ReplayDevice>(transcript);
    LinkHost h(replay);
    const std::string actual = Identify(h);
    EXPECT_EQ(replay->Divergence(), "");
    EXPECT_EQ(replay->StepsLeft(), 0u) << "steps never reached";

    fs::path golden = entry.path(), actualPath = entry.path();
    golden.replace_extension(".golden");
    actualPath.replace_extension(".actual");
    const std::string expected = ReadText(golden);
    EXPECT_EQ(actual, expected) << "output differs from " << golden << "; see " << actualPath;
    if (actual != expected) WriteText(actualPath, actual);
    if (actual == expected) fs::remove(actualPath);
    ++replayed;
  }
  EXPECT_GE(replayed, 4);
}

}  // namespace
}  // namespace klx::test
