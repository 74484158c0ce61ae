#include "files/hex_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "files/dat_file.h"
#include "files_fixture.h"

namespace klx::test {
namespace {

class HexFileTest : public FilesTest {
 protected:
  // Saves through "Save data to a file" and gives the hex path.
  std::filesystem::path SaveBoth(HeldData& held, const std::string& name) {
    FileHost host;
    host.files.push_back((Dir() / "dat" / name).string());
    SaveRequest request = Save(DatLayout::A);
    EXPECT_TRUE(SaveDataToFile(host, request, held, false));
    return request.chosenHex;
  }
  // Saves `written`, reads the hex file back and checks the image and what the header restores.
  HeldData RoundTrip(HeldData& written, const std::string& name,
                     std::function<void(DataSet&, MemoryImage&)> decode = {}) {
    HeldData read;
    FileHost host;
    auto request = ReadRequest(SaveBoth(written, name));
    request.decode = std::move(decode);
    EXPECT_TRUE(ReadHexFile(host, request, read));
    EXPECT_EQ(
        std::make_tuple(read.image.fill, read.image.sampleWords, read.image.headerLength),
        std::make_tuple(written.image.fill, written.image.fill / 3, written.image.headerLength));
    EXPECT_TRUE(read.image.bytes == written.image.bytes && !read.image.unsaved);
    const auto &r = read.image.snapshot, &w = written.image.snapshot;
    EXPECT_TRUE(r.parameters.startTime == w.parameters.startTime &&
                r.parameters.endTime == w.parameters.endTime && r.hostTime == w.hostTime &&
                r.loggerTime == w.loggerTime && r.loggerStatus == w.loggerStatus);
    EXPECT_EQ(r.parameters.samplePeriod, w.parameters.samplePeriod);
    for (int ch = 0; ch < written.data.channelCount; ++ch)
      EXPECT_EQ(read.data.calibration.coef[ch], written.data.calibration.coef[ch]);
    const LoggerState &rl = read.data.logger, &wl = written.data.logger;
    EXPECT_EQ(std::tie(rl.model, rl.serial, rl.channelTypes),
              std::tie(wl.model, wl.serial, wl.channelTypes));
    return read;
  }
};

TEST_F(HexFileTest, RoundTripOfThreeFamilies) {
  HeldData na = MakeHeld("NA-7100", 3.2f, "T", 50, 30);
  RoundTrip(na, "na.dat");

  HeldData vs = MakeHeld("VS-330", 3.5f, "TCP", 40, 132);
  vs.data.logger.averaging = 1;
  auto& p = vs.image.snapshot.parameters;
  p.averagingEnabled = true, p.averagingSeconds = 20;
  p.startMode = kStartBelowThreshold, p.thresholdChannel = 2, p.thresholdValue = -3.25;
  vs.data.extendedCapabilities = {1, 0, 1};
  vs.comment = "harbour mouth";
  int decoded = 0;
  HeldData read = RoundTrip(vs, "vs.dat", [&](DataSet& d, MemoryImage& image) {
    ++decoded;
    EXPECT_EQ(d.logger.channelTypes + std::to_string(image.headerLength), "TCP132");
  });
  EXPECT_EQ(read.comment + std::to_string(decoded), "harbour mouth1");
  EXPECT_EQ(read.data.extendedCapabilities, vs.data.extendedCapabilities);
  const auto& rp = read.image.snapshot.parameters;
  EXPECT_EQ(
      std::make_tuple(rp.averagingSeconds, rp.startMode, rp.thresholdChannel, rp.thresholdValue),
      std::make_tuple(20u, uint32_t{kStartBelowThreshold}, 2, -3.25));

  // An extended tide-and-wave logger with a gain channel and wave bursts.
  HeldData nmj = MakeHeld("NMJ-7400", 6.02f, "TPf", 30, 48);
  nmj.data.logger.waves = true, nmj.data.logger.memoryTypeCode = 4;
  auto& w = nmj.image.snapshot.parameters;
  w.waveEnabled = true, w.waveRateHz = 4, w.burstLength = 1024, w.loggerHeight = 0.75;
  w.burstInterval = Period{1, 0, 0};
  StampRecord gain = Stamp(0, kStampGain, w.startTime);
  gain.gain[2] = 1, gain.changedMask = 4;
  nmj.data.stamps.records.push_back(gain);
  read = RoundTrip(nmj, "nmj.dat");
  EXPECT_EQ(std::make_tuple(read.data.logger.extendedCommandSet, read.data.logger.memoryTypeCode,
                            read.data.logger.parameterBlockLength),
            std::make_tuple(true, 4, 48));
  EXPECT_EQ(std::make_tuple(rp.waveEnabled, rp.waveRateHz, rp.burstLength, rp.loggerHeight),
            std::make_tuple(true, 4, 1024, 0.75));
  EXPECT_EQ(rp.burstInterval, (Period{1, 0, 0}));
  // The gain stamp comes back from the dat file.
  FileHost datHost;
  HeldData fromDat;
  auto datRequest = ReadRequest(Dir() / "dat" / "nmj.dat");
  ASSERT_TRUE(ReadDatFile(datHost, datRequest, fromDat));
  EXPECT_EQ(fromDat.data.stamps.records, nmj.data.stamps.records);

  // A multi-channel logger whose firmware bursts: its memory is decoded with the bursts.
  HeldData vs550 = MakeHeld("VS-550", 6.5f, "TPCT", 30, 30);
  vs550.data.logger.waves = true;
  auto& v = vs550.image.snapshot.parameters;
  v.waveEnabled = true, v.burstLength = 1024, v.burstInterval = Period{1, 0, 0};
  bool burstsDecoded = false;
  RoundTrip(vs550, "vs550.dat", [&](DataSet& d, MemoryImage&) { burstsDecoded = d.logger.waves; });
  EXPECT_TRUE(burstsDecoded);
}

TEST_F(HexFileTest, BodyLineBreaksFollowTheHeaderLength) {
  MemoryImage image;
  for (int i = 0; i < 200; ++i) image.bytes.push_back(static_cast<uint8_t>(i));
  image.fill = 200;
  auto lineLengths = [](const std::string& body) {
    std::vector<size_t> lengths;
    for (size_t pos = 0, end; pos < body.size(); pos = end + 1)
      lengths.push_back((end = body.find('\n', pos)) - pos);
    return lengths;
  };
  const std::string short30 = HexBody(image, 30);
  EXPECT_EQ(short30.substr(0, 78),
            "Number of bytes of data 200\n|     |     |     |     |     |     |     |\n000102");
  auto l = lineLengths(short30);
  ASSERT_EQ(l.size(), 2u + 9u);
  EXPECT_EQ(l[10], 16u);  // bytes 192..199
  // A 132-byte header: a line of header bytes 48 up to index 143.
  l = lineLengths(HexBody(image, 132));
  EXPECT_EQ(std::vector(l.begin() + 2, l.begin() + 6), (std::vector<size_t>{48, 48, 192, 48}));
}

TEST_F(HexFileTest, BadFilesGetTheirMessageAndLeaveTheHeldDataAlone) {
  HeldData good = MakeHeld("VS-330", 3.5f, "TC", 20, 132);
  const auto hex = SaveBoth(good, "good.hex.dat");
  const std::string text = ReadFile(hex);
  const size_t count = text.find("Number of bytes of data");
  ASSERT_NE(count, std::string::npos);

  const std::string headerOnly = text.substr(0, text.find("Calibration  2"));
  std::string corrupt = text;
  corrupt[corrupt.size() - 10] = 'Q';
  std::string zero = text;
  zero.replace(count, zero.find('\n', count) - count, "Number of bytes of data 0");
  ExpectRefused(
      {
          {"foreign.hex", "Other export\n1,2,3\n", "This file is not an KLX HEX file"},
          {"header.hex", headerOnly, "Error while reading file header"},
          {"corrupt.hex", corrupt, "not a hex digit"},
          {"zero.hex", zero,
           "Error while reading file.\nThe file is reporting 'Number of bytes of data' < 1."},
          {"other.hex", "KLX XR-420  1.00 000001 (Windows: 6.13)\n",
           "This file is for a logger of type XR-420."},
      },
      ReadHexFile);
  HeldData held;
  FileHost host;
  auto request = ReadRequest(Dir() / "absent.hex");
  EXPECT_FALSE(ReadHexFile(host, request, held));
  EXPECT_TRUE(host.Saw("tell", "File does not exist"));
  EXPECT_TRUE(request.removeFromRecent);
}

TEST_F(HexFileTest, TruncatedBodyKeepsTheBytesReadWithItsMessage) {
  HeldData good = MakeHeld("VS-330", 3.5f, "TC", 20, 132);
  const auto hex = SaveBoth(good, "cut.dat");
  std::string text = ReadFile(hex);
  text.resize(text.size() - 100);
  WriteFile(hex, text);
  HeldData held = MakeHeld("NA-7100", 3.2f, "T", 7, 30);
  FileHost host;
  auto request = ReadRequest(hex);
  ASSERT_TRUE(ReadHexFile(host, request, held));
  EXPECT_TRUE(host.Saw("tell", "The available data will be plotted."));
  EXPECT_TRUE(held.image.fill > 0 && held.image.fill < good.image.fill);
  EXPECT_EQ(held.image.sampleWords, held.image.fill / 3);
  EXPECT_TRUE(
      std::equal(held.image.bytes.begin(), held.image.bytes.end(), good.image.bytes.begin()));
}

TEST_F(HexFileTest, SaveAsksBeforeOverwritingAndKeepsTheOldFileOnNo) {
  HeldData held = MakeHeld("VS-330", 3.5f, "TC", 5, 132);
  const auto dat = Dir() / "dat" / "keep.dat";
  WriteFile(dat, "old contents");
  FileHost host;
  host.files.push_back(dat.string());
  host.answers.push_back(Answer::No);
  SaveRequest request = Save(DatLayout::N);
  EXPECT_FALSE(SaveDataToFile(host, request, held, false));
  EXPECT_TRUE(host.Saw("ask", dat.string() + " already exists.\nContinue to overwrite this file?"));
  EXPECT_EQ(ReadFile(dat), "old contents");
  EXPECT_TRUE(held.image.unsaved);

  host.files.push_back(dat.string());
  host.answers.push_back(Answer::Yes);
  request.commentDialog = [](const std::string&) { return std::optional<std::string>("new"); };
  EXPECT_TRUE(SaveDataToFile(host, request, held, false));
  EXPECT_FALSE(held.image.unsaved);
  EXPECT_NE(ReadFile(dat).find("COMMENT: new\n"), std::string::npos);
  // Saved already: nothing to do unless asked again, and then no hex file.
  EXPECT_FALSE(SaveDataToFile(host, request, held, false));
  host.files.push_back((Dir() / "dat" / "again.dat").string());
  EXPECT_TRUE(SaveDataToFile(host, request, held, true));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "hex" / "again.hex"));
}

}  // namespace
}  // namespace klx::test
