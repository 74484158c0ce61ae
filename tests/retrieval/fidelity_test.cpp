// Retrievals end to end against the simulated logger: full memories, slow links over page ends,
// auto-ranging gains, accessory cards and ASCII text.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "files/file_header.h"
#include "retrieval/retrieval_rig.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

const SystemTime kLater{2027, 9, 1, 2, 12, 0, 0, 0};  // the host clock a year on

// "Retrieve 100%" of an older logger full to its region end brings every byte and row.
TEST(FullMemory, RetrieveAllOfAnOlderLoggerReachesItsRegionEnd) {
  Rig rig("NA-7100-full-region", {}, kLater);
  ASSERT_GE(rig.logger->DataPointer(), 0x1FF7FEu) << "the profile must fill the memory";
  ASSERT_TRUE(rig.Retrieve(true));
  EXPECT_FALSE(rig.transfer.failed);
  EXPECT_TRUE(rig.Image() == rig.LoggerBytes(0x20000, 0x1FF7FE));
  EXPECT_EQ(static_cast<size_t>(rig.session.held.data.samplesPerChannel),
            rig.logger->Expected().Rows());
}

// The final block of a full 8 MB linear memory ends on its last byte and arrives whole (started a
// few blocks before the end, as an append would).
TEST(FullMemory, LastBlockOfAFullLinearMemoryArrives) {
  Rig rig("NMJ-7400-full", {}, kLater);
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

// 60- to 240-byte blocks over a page's last byte bring the logger's data without retransmission.
TEST(SlowLinks, ShortBlocksCrossPageBoundaries) {
  for (const char* profile : {"NB-7100-1200", "NB-7100-2400-pages", "NB-7100-4800"}) {
    SCOPED_TRACE(profile);
    Rig rig(profile, {}, kLater);
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

// Auto-ranging channels keep their letters and reading times: every reading is decoded at its
// own gain, each gain change is stamped with its channels, and the header lists the gains.
TEST(RangeSwitching, RetrievedGainsFollowTheLoggersRanges) {
  Rig rig("VS-330-FT", {}, kLater);
  ASSERT_TRUE(rig.Retrieve(false));
  // Turbidity in full auto-ranging takes 860 + 400 ms and forbids continuous power.
  const LoggerState& after = rig.session.logger.state;
  EXPECT_EQ(std::make_pair(after.readingTimeMs, after.continuousPowerForbidden),
            std::make_pair(1260, true));
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

// Cards the logger reports reach the hex header; binary cards leave the readings decoded.
TEST(AccessoryCards, BinaryCardsKeepTheirHeaderLine) {
  const auto cards = [](sim::SimProfile& p) {
    p.rsAdvanced = kRsAdvancedMemoryCard | kRsAdvancedGenericCard | kRsAdvancedBinary;
  };
  Rig rig("VS-330", cards, kLater);
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

// ASCII text from a generic serial card is retrieved, never plotted, and saved as text.
TEST(AsciiData, IsRetrievedAndNotGraphed) {
  Rig rig("VS-330-ASCII", {}, kLater);
  ASSERT_TRUE(rig.Retrieve(false));
  EXPECT_FALSE(rig.transfer.failed);
  const MemoryImage& image = rig.session.held.image;
  EXPECT_TRUE(rig.Image() == rig.LoggerBytes(0, rig.logger->DataPointer()));
  EXPECT_TRUE(rig.Told("The logger contains ASCII data which can not be graphed.\n" +
                       std::to_string(image.fill) + " bytes were successfully downloaded."));
  EXPECT_TRUE(rig.session.held.data.Empty());
  EXPECT_TRUE(image.unsaved);

  // Saved behind a dat header, without the embedded-stamps question.
  ASSERT_TRUE(rig.SaveAs("040215_ascii"));
  EXPECT_FALSE(rig.Asked("There are no data to store"));
  const std::string& stored = rig.logger->Expected().text;
  ASSERT_FALSE(stored.empty());
  const auto text = ReadWholeFile(rig.dir / "dat" / "040215_ascii.dat").value_or("");
  EXPECT_NE(text.find(stored.substr(0, 200)), std::string::npos);
  EXPECT_FALSE(fs::exists(rig.dir / "hex" / "040215_ascii.hex"));
}

}  // namespace
}  // namespace klx::test
