// Interrupted retrievals continued from their last good block equal uninterrupted ones; a kept
// image of another logger, deployment or memory, or a damaged one, is never trusted.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <random>

#include "retrieval/retrieval_rig.h"
#include "shell/text_file.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

class EveryResumedFamily : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryResumedFamily, ContinuedRetrievalEqualsAnUninterruptedOne) {
  Rig cut(GetParam());
  const size_t bytes = cut.ExpectedImage().size();
  ASSERT_GT(bytes, 3 * 960u) << "the profile must take several blocks";
  // Somewhere between the second block and the last but one, the same for each run.
  std::mt19937 random(static_cast<unsigned>(bytes));
  const int at = 2 + static_cast<int>(random() % (bytes / 960 - 1));
  cut.RetrieveAndCancel(at);
  ASSERT_TRUE(fs::exists(cut.Partial()));
  EXPECT_TRUE(cut.host.Saw("status", "the next retrieval of this logger can continue"));

  bool resumed = false;
  const int requested = cut.RetrieveAll(&resumed);
  EXPECT_TRUE(resumed);
  EXPECT_TRUE(cut.Asked("A retrieval of this logger was interrupted at block "));
  EXPECT_EQ(cut.Image(), cut.ExpectedImage());
  EXPECT_FALSE(fs::exists(cut.Partial())) << "a complete retrieval drops what was kept";

  // The same logger, never interrupted.
  Rig whole(GetParam());
  const int wholeRequested = whole.RetrieveAll();
  EXPECT_LT(requested, wholeRequested) << "the continuation fetched again what it held";
  EXPECT_EQ(whole.Image(), cut.Image());
  // It decodes to the logger's values, and a later enable knows where it ended.
  const DataSet& data = whole.session.held.data;
  const sim::SimExpected truth = whole.logger->Expected();
  ASSERT_EQ(data.logger.channelCount, static_cast<int>(truth.types.size()));
  ASSERT_EQ(static_cast<size_t>(data.samplesPerChannel), truth.Rows());
  for (size_t ch = 0; ch < truth.types.size(); ++ch)
    for (size_t row = 0; row < truth.Rows(); row += 97)
      EXPECT_NEAR(data.series[ch][row], truth.values[ch][row],
                  1e-3 * std::max(1.0, std::fabs(truth.values[ch][row])))
          << ch << " " << row;
  EXPECT_TRUE(whole.session.held.image.unsaved && whole.session.held.image.hasSnapshot);
  const auto& mark = whole.session.deployment.lastRetrieval;
  EXPECT_EQ(mark.serial, whole.logger->Profile().serial);
  EXPECT_EQ(mark.dataPointer.value_or(0), whole.logger->DataPointer());
  const std::string files = cut.Files("040211_data");
  EXPECT_GT(files.size(), 10000u);
  EXPECT_TRUE(files == whole.Files("040211_data")) << "the hex and dat files differ";
}

INSTANTIATE_TEST_SUITE_P(Resume, EveryResumedFamily,
                         ::testing::Values("VS-330", "VS-550", "NA-7100", "NB-7100", "NMV-7400",
                                           "NMJ-7400", "HL-240"));

// A kept image not of the connected logger's memory is set aside with its reason.
TEST(Resume, KeptImageOfAnotherLoggerDeploymentOrMemoryIsNotTrusted) {
  struct Case {
    const char* name;
    void (*edit)(PartialRetrieval&);  // on a good kept image, written again
    void (*damage)(std::string&);     // on the file's bytes
    const char* status;
  };
  const Case cases[] = {
      {"other logger",
       [](PartialRetrieval& p) { p.model = "NB-7100"; },
       {},
       "came from another logger"},
      {"other deployment",
       [](PartialRetrieval& p) { ++p.start.day; },
       {},
       "is of another deployment"},
      {"memory erased since",
       [](PartialRetrieval& p) { p.pointer += 3000; },
       {},
       "erased or rewritten"},
      {"flipped data byte", {}, [](std::string& f) { f[f.size() - 5] ^= 0x40; }, "damaged"},
      {"truncated", {}, [](std::string& f) { f.resize(f.size() - 100); }, "damaged"},
      // Same identity, other bytes: the block fetched again gives it away.
      {"memory rewritten",
       [](PartialRetrieval& p) {
         for (size_t i = static_cast<size_t>(p.checkFill); i < p.bytes.size(); ++i) p.bytes[i] ^= 1;
       },
       {},
       "memory differs from the interrupted retrieval"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig("VS-330");
    rig.RetrieveAndCancel(3);
    PartialRetrieval p;
    ASSERT_EQ(ReadPartialRetrieval(rig.Partial(), p), PartialReadResult::Ok);
    if (c.edit) {
      c.edit(p);
      ASSERT_TRUE(WritePartialRetrieval(rig.Partial(), p));
    } else {
      std::string file = ReadWholeFile(rig.Partial()).value_or("");
      c.damage(file);
      ASSERT_TRUE(WriteTextFileAtomically(rig.Partial(), file));
    }
    bool resumed = true;
    rig.RetrieveAll(&resumed);
    EXPECT_FALSE(resumed);
    EXPECT_TRUE(rig.host.Saw("status", c.status));
    EXPECT_EQ(rig.Image(), rig.ExpectedImage());
  }
}

// A link lost partway, or a logger identifying itself otherwise after reconnection, ends the
// transfer with a message; the next retrieval continues where it ended.
TEST(Resume, LinkTroubleIsToldAndContinued) {
  const std::pair<bool, const char*> cases[] = {
      {true, "The link to the logger was lost; the retrieval ended after "},
      {false, "After the link was restored the logger did not identify itself as before"}};
  for (const auto& [silent, message] : cases) {
    SCOPED_TRACE(message);
    Rig rig("NA-7100");
    {
      Retrieval r(rig.session);
      ASSERT_TRUE(r.Open());
      ASSERT_TRUE(r.Begin(false));
      for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.Tick());
      // The host is held up for six seconds; the logger falls silent or garbles its answer.
      if (silent) rig.logger->SilenceUntil(rig.clock.MonotonicMs() + 600000);
      if (!silent) rig.logger->DropByteInNextReplies(1);
      rig.clock.Advance(6000);
      EXPECT_FALSE(r.Tick());
      EXPECT_TRUE(r.transfer().state.failed);
    }
    EXPECT_TRUE(rig.Told("Download error.\n" + std::string(message)));
    EXPECT_LT(rig.Image().size(), rig.ExpectedImage().size());
    rig.clock.Advance(600000);
    bool resumed = false;
    rig.RetrieveAll(&resumed);
    EXPECT_TRUE(resumed);
    EXPECT_EQ(rig.Image(), rig.ExpectedImage());
  }
}

// A continued retrieval of a linear-memory logger estimates the time left from what arrived since
// it continued, not as if the blocks already held had taken no time: after the same block it
// shows what the uninterrupted retrieval showed.
TEST(Resume, TimeLeftCountsOnlyTheBlocksOfThisTransfer) {
  auto secondsLeft = [](Rig& rig, int blocks, bool cancelFirst) {
    if (cancelFirst) rig.RetrieveAndCancel(blocks / 2);
    Retrieval r(rig.session);
    EXPECT_TRUE(r.Open() && r.Begin(false));
    for (int i = cancelFirst ? blocks / 2 : 0; i < blocks; ++i) {
      rig.clock.Advance(1000);  // a second a block
      EXPECT_TRUE(r.Tick());
    }
    const std::string text = r.transfer().RemainingText();
    int minutes = -1, seconds = 0;  // "... remaining M:SS"
    std::sscanf(text.c_str(), "Estimated download time remaining %d:%d", &minutes, &seconds);
    return minutes * 60.0 + seconds;
  };
  Rig whole("NMJ-7400"), cut("NMJ-7400");
  const double expected = secondsLeft(whole, 40, false), continued = secondsLeft(cut, 40, true);
  ASSERT_TRUE(cut.session.logger.state.extendedCommandSet) << "the profile must be linear";
  ASSERT_GT(expected, 0.0);
  EXPECT_NEAR(continued, expected, 0.25 * expected);
}

// klx retrieve keeps an interrupted image (a logger failing most block reads), leaves it aside
// without --resume and continues it with --resume.
TEST(Resume, CommandLineContinuesWithResume) {
  const fs::path bin = fs::path(KLX_BINARY_DIR) / "apps/klx/klx";
  ASSERT_TRUE(fs::exists(bin));
  const fs::path dir = fs::temp_directory_path() / ("klx-resume-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string profile =
      ReadWholeFile(fs::path(KLX_SIM_PROFILE_DIR) / "NB-7100.profile").value_or("");
  ASSERT_FALSE(profile.empty());
  WriteTextFileAtomically(dir / "noisy.profile", profile + "\nfault.bad_block_rate = 0.8\n");
  WriteTextFileAtomically(dir / "well.profile", profile);
  const auto klx = [&](const std::string& args) {
    const std::string command =
        "cd " + dir.string() + " && " + bin.string() + " retrieve " + args + " > out.txt 2>&1";
    const int status = std::system(command.c_str());
    return std::make_pair(WEXITSTATUS(status), ReadWholeFile(dir / "out.txt").value_or(""));
  };
  const auto summary = [](const std::string& text) {
    const size_t at = text.find("Retrieved ");
    const size_t bytes = text.find(" bytes", at);
    const size_t decoded = text.find("Decoded ");
    return text.substr(at, bytes - at) + text.substr(decoded, text.find(',', decoded) - decoded);
  };
  const auto [lostStatus, lost] = klx("--out out --port sim:" + (dir / "noisy.profile").string());
  EXPECT_EQ(lostStatus, 1) << lost;
  EXPECT_NE(lost.find(", incomplete."), std::string::npos) << lost;
  const fs::path kept = dir / "out" / "resume";
  ASSERT_FALSE(fs::is_empty(kept)) << lost;

  // Without --resume the kept image is left as it is, whatever this retrieval does.
  const auto [wholeStatus, whole] = klx("--out out --port sim:" + (dir / "well.profile").string());
  ASSERT_EQ(wholeStatus, 0) << whole;
  EXPECT_NE(whole.find("kept aside, not continued"), std::string::npos) << whole;
  ASSERT_FALSE(fs::is_empty(kept)) << whole;

  const auto [status, out] =
      klx("--out out --resume --yes --port sim:" + (dir / "well.profile").string());
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Continuing the interrupted retrieval from block"), std::string::npos) << out;
  EXPECT_TRUE(fs::is_empty(kept)) << out;
  EXPECT_EQ(summary(out), summary(whole)) << out << whole;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace klx::test
