// Retrievals that a real logger and its memory would trip on: a memory full to its last word,
// slow links whose short blocks run over a page's empty last byte, auto-ranging channels whose
// gains and reading times must survive the retrieval, the accessory cards a logger reports, and
// loggers that hold ASCII text. Each runs end to end against the simulated logger.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "files/file_header.h"
#include "link/range_behaviour.h"
#include "retrieval/retrieval_rig.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

// A rig whose host clock stands a year on.
struct LaterRig : Rig {
  explicit LaterRig(const std::string& name, const std::function<void(sim::SimProfile&)>& edit = {})
      : Rig(name, edit, SystemTime{2027, 9, 1, 2, 12, 0, 0, 0}) {}
};

// "Retrieve 100%" of an older logger whose memory is full to its region end brings every data
// byte, the last block included, and the decoded rows are all of the logger's rows.
TEST(FullMemory, RetrieveAllOfAnOlderLoggerReachesItsRegionEnd) {
  LaterRig rig("NA-7100-full-region");
  ASSERT_GE(rig.logger->DataPointer(), 0x1FF7FEu) << "the profile must fill the memory";
  ASSERT_TRUE(rig.Retrieve(true));
  EXPECT_FALSE(rig.transfer.failed);
  EXPECT_TRUE(rig.Image() == rig.LoggerBytes(0x20000, 0x1FF7FE));
  EXPECT_EQ(static_cast<size_t>(rig.session.held.data.samplesPerChannel),
            rig.logger->Expected().Rows());
}

// The last blocks of a full 8 MB linear memory, as "Retrieve 100%" fetches them: the final block
// ends on the memory's last data byte and arrives whole. (The transfer starts a few blocks before
// the end, as an append would, so that the test does not move 8 MB.)
TEST(FullMemory, LastBlockOfAFullLinearMemoryArrives) {
  LaterRig rig("NMJ-7400-full");
  ASSERT_EQ(rig.logger->DataPointer(), 0x7FE000u) << "the profile must fill the memory";
  LoggerLink& link = rig.session.logger;
  ASSERT_TRUE(link.ConnectLogger());
  link.AssessCapabilities();
  MemoryImage& image = rig.session.held.image;
  Transfer transfer(link, image, rig.clock);
  const uint32_t start = MemoryImage::kCapacity - 7 * 960 - 300;
  image.endAddress = MemoryImage::kCapacity;
  ASSERT_TRUE(transfer.StartTransfer(start));
  while (transfer.FetchNextBlock()) continue;
  EXPECT_FALSE(transfer.state.failed);
  EXPECT_FALSE(rig.host.Saw("tell", "Download error"));
  ASSERT_EQ(static_cast<uint32_t>(image.fill), MemoryImage::kCapacity);
  const std::vector<uint8_t> tail(image.bytes.begin() + start, image.bytes.begin() + image.fill);
  EXPECT_TRUE(tail == rig.LoggerBytes(start, MemoryImage::kCapacity));
}

// At 1200 to 4800 baud the blocks are 60 to 240 bytes long; those that run over a page's last
// byte must still bring exactly the logger's data, without a single retransmission.
TEST(SlowLinks, ShortBlocksCrossPageBoundaries) {
  for (const char* profile : {"NB-7100-1200", "NB-7100-2400-pages", "NB-7100-4800"}) {
    SCOPED_TRACE(profile);
    LaterRig rig(profile);
    const uint32_t pointer = rig.logger->DataPointer();
    ASSERT_GT(pointer, 0x40000u) << "the profile must cross at least two pages";
    ASSERT_TRUE(rig.Retrieve(false));
    EXPECT_FALSE(rig.transfer.failed);
    EXPECT_EQ(rig.transfer.blocksRetransmitted, 0);
    EXPECT_TRUE(rig.Image() == rig.LoggerBytes(0x20000, pointer));
    const sim::SimExpected truth = rig.logger->Expected();
    const DataSet& data = rig.session.held.data;
    ASSERT_EQ(static_cast<size_t>(data.samplesPerChannel), truth.Rows());
    for (size_t row = 0; row < truth.Rows(); row += 211)
      EXPECT_NEAR(data.series[0][row], truth.values[0][row], 1e-3) << row;
  }
}

// The fluorometer and turbidity channels of a range-switching logger keep their auto-ranging
// letters and reading times through the retrieval: every reading is decoded at its own gain,
// each gain change is stamped with its channels, and the header lists the gains.
TEST(RangeSwitching, RetrievedGainsFollowTheLoggersRanges) {
  LaterRig rig("VS-330-FT");
  ASSERT_TRUE(rig.Retrieve(false));
  // The turbidity sensor in full auto-ranging takes 860 ms and 400 ms more to read; the logger's
  // closing configuration read keeps that, and the sensors may not stay powered.
  const LoggerState& after = rig.session.logger.state;
  EXPECT_EQ(after.readingTimeMs, 1260);
  EXPECT_TRUE(after.continuousPowerForbidden);
  const sim::SimExpected truth = rig.logger->Expected();
  ASSERT_FALSE(truth.gainChanges.empty()) << "the profile must change gains";
  const DataSet& data = rig.session.held.data;
  EXPECT_EQ(data.logger.channelTypes.substr(0, truth.types.size()),
            std::string(truth.types.begin(), truth.types.end()));
  ASSERT_EQ(static_cast<size_t>(data.samplesPerChannel), truth.Rows());
  for (int ch = 0; ch < data.logger.channelCount; ++ch)
    for (size_t row = 0; row < truth.Rows(); row += 7) {
      const double want = truth.values[static_cast<size_t>(ch)][row];
      EXPECT_NEAR(data.series[static_cast<size_t>(ch)][row], want,
                  1e-3 * std::max(1.0, std::fabs(want)))
          << "channel " << ch << " row " << row;
    }

  std::vector<const StampRecord*> gainStamps;
  for (const StampRecord& s : data.stamps.records)
    if (s.type == kStampGain) gainStamps.push_back(&s);
  ASSERT_EQ(gainStamps.size(), truth.gainChanges.size());
  for (size_t i = 0; i < gainStamps.size(); ++i) {
    const sim::SimGainChange& want = truth.gainChanges[i];
    EXPECT_EQ(gainStamps[i]->sampleIndex, want.row) << i;
    EXPECT_EQ(gainStamps[i]->changedMask, want.changed) << i;
    for (size_t ch = 0; ch < want.gains.size(); ++ch)
      EXPECT_TRUE(!(want.changed & (1u << ch)) ||
                  static_cast<int>(gainStamps[i]->gain[ch]) == want.gains[ch])
          << i << " " << ch;
  }
  const std::string header =
      WriteFileHeader(FileHeaderInputs(data, rig.session.held.image), kHexHeader);
  EXPECT_NE(header.find(" channel=3 gain="), std::string::npos);
  EXPECT_NE(header.find(" channel=4 gain="), std::string::npos);
}

// A configuration that lists its range-switching sensors in upper case: a switching fluorometer
// takes the lower case, a turbidity sensor "y"; full auto-ranging adds 400 ms to the sensor's
// time and forbids continuous power, the other modes read in 200 ms.
TEST(RangeSwitching, UpperCaseLettersBecomeTheAutoRangingOnes) {
  const uint8_t none = 7, full = 0, partial = 1 << 3;
  std::string letters = "TPFYG";
  const uint8_t table[] = {0, none, none, 5 | full, 6 | full, 5 | partial};
  const RangeBehaviour r = ApplyRangeBehaviour(table, letters, 5, 300);
  EXPECT_EQ(letters, "TPfyg");
  EXPECT_EQ(r.channelReadingMs[2], 860);
  EXPECT_EQ(r.channelReadingMs[3], 1260);
  EXPECT_EQ(r.channelReadingMs[4], 200);
  EXPECT_EQ(std::make_pair(r.readingTimeMs, r.longestChannel), std::make_pair(1260, 4));
  EXPECT_TRUE(r.continuousPowerForbidden);
  std::string one = "TG";
  EXPECT_FALSE(ApplyRangeBehaviour(std::vector<uint8_t>{0, none, 5 | partial}, one, 2, 300)
                   .continuousPowerForbidden);
}

// The accessory cards a logger reports stay in the hex file's header after a retrieval; cards
// that store binary data leave the readings to be decoded.
TEST(AccessoryCards, BinaryCardsKeepTheirHeaderLine) {
  LaterRig rig("VS-330", [](sim::SimProfile& p) {
    p.rsAdvanced = kRsAdvancedMemoryCard | kRsAdvancedGenericCard | kRsAdvancedBinary;
  });
  ASSERT_TRUE(rig.Retrieve(false));
  EXPECT_EQ(static_cast<size_t>(rig.session.held.data.samplesPerChannel),
            rig.logger->Expected().Rows());
  ASSERT_TRUE(rig.SaveAs("040211_cards"));
  EXPECT_NE(
      ReadWholeFile(rig.dir / "hex" / "040211_cards.hex")
          .value_or("")
          .find("\nMMC/SD Memory card present, Generic Serial card present, Format: Binary\n"),
      std::string::npos);
}

// A logger whose generic serial card stores ASCII text is retrieved like any other, but its
// bytes are never plotted as readings; they are saved as the text they are.
TEST(AsciiData, IsRetrievedAndNotGraphed) {
  LaterRig rig("VS-330-ASCII");
  ASSERT_TRUE(rig.Retrieve(false));
  EXPECT_FALSE(rig.transfer.failed);
  const MemoryImage& image = rig.session.held.image;
  EXPECT_TRUE(rig.Image() == rig.LoggerBytes(0, rig.logger->DataPointer()));
  EXPECT_TRUE(rig.Told("The logger contains ASCII data which can not be graphed.\n" +
                       std::to_string(image.fill) + " bytes were successfully downloaded."));
  EXPECT_TRUE(rig.session.held.data.Empty());
  EXPECT_TRUE(image.unsaved);

  // The save writes the text behind a dat header and counts its lines; no question about
  // embedded stamps comes first.
  ASSERT_TRUE(rig.SaveAs("040215_ascii"));
  EXPECT_FALSE(rig.Asked("There are no data to store"));
  const auto text = ReadWholeFile(rig.dir / "dat" / "040215_ascii.dat");
  ASSERT_TRUE(text.has_value());
  const std::string& stored = rig.logger->Expected().text;
  ASSERT_FALSE(stored.empty());
  EXPECT_NE(text->find(stored.substr(0, 200)), std::string::npos);
  EXPECT_FALSE(fs::exists(rig.dir / "hex" / "040215_ascii.hex"));
}

}  // namespace
}  // namespace klx::test
