#include "files/hex_file.h"

#include <gtest/gtest.h>

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
  void ExpectSameImage(const HeldData& read, const HeldData& written) {
    ASSERT_EQ(read.image.fill, written.image.fill);
    EXPECT_EQ(read.image.sampleWords, written.image.fill / 3);
    EXPECT_TRUE(std::equal(written.image.bytes.begin(),
                           written.image.bytes.begin() + written.image.fill,
                           read.image.bytes.begin()));
    EXPECT_EQ(read.image.snapshot.parameters.startTime,
              written.image.snapshot.parameters.startTime);
    EXPECT_EQ(read.image.snapshot.parameters.endTime, written.image.snapshot.parameters.endTime);
    EXPECT_EQ(read.image.snapshot.parameters.samplePeriod,
              written.image.snapshot.parameters.samplePeriod);
    EXPECT_EQ(read.image.snapshot.hostTime, written.image.snapshot.hostTime);
    EXPECT_EQ(read.image.snapshot.loggerTime, written.image.snapshot.loggerTime);
    EXPECT_EQ(read.image.snapshot.loggerStatus, written.image.snapshot.loggerStatus);
    for (int ch = 0; ch < written.data.channelCount; ++ch)
      EXPECT_EQ(read.data.calibration.coef[ch], written.data.calibration.coef[ch]);
    EXPECT_EQ(read.data.logger.model, written.data.logger.model);
    EXPECT_EQ(read.data.logger.serial, written.data.logger.serial);
    EXPECT_EQ(read.data.logger.channelCount, written.data.logger.channelCount);
    EXPECT_FALSE(read.image.unsaved);
  }
};

TEST_F(HexFileTest, RoundTripOfThreeFamilies) {
  {
    HeldData na = MakeHeld("NA-7100", 3.2f, "T", 50, 30);
    const auto hex = SaveBoth(na, "na.dat");
    ASSERT_FALSE(hex.empty());
    EXPECT_EQ(hex, Dir() / "hex" / "na.hex");
    FileHost host;
    HeldData read;
    auto request = ReadRequest(hex);
    ASSERT_TRUE(ReadHexFile(host, request, read));
    ExpectSameImage(read, na);
    EXPECT_EQ(read.data.logger.channelTypes, "T");
    EXPECT_EQ(read.image.headerLength, 30);
  }
  {
    HeldData vs = MakeHeld("VS-330", 3.5f, "TCP", 40, 132);
    vs.data.logger.averaging = 1;
    auto& p = vs.image.snapshot.parameters;
    p.averagingEnabled = true;
    p.averagingSeconds = 20;
    p.startMode = kStartBelowThreshold;
    p.thresholdChannel = 2;
    p.thresholdValue = -3.25;
    vs.data.extendedCapabilities = {1, 0, 1};
    vs.data.stamps.records.push_back({});
    vs.data.stamps.records.back().sampleIndex = 5;
    vs.data.stamps.records.back().time = At(2024, 3, 2, 0, 0, 0);
    vs.comment = "harbour mouth";
    const auto hex = SaveBoth(vs, "vs.dat");
    FileHost host;
    HeldData read;
    auto request = ReadRequest(hex);
    int decoded = 0;
    request.decode = [&](DataSet& d, MemoryImage& image) {
      ++decoded;
      EXPECT_EQ(d.logger.channelTypes, "TCP");
      EXPECT_EQ(image.headerLength, 132);
    };
    ASSERT_TRUE(ReadHexFile(host, request, read));
    EXPECT_EQ(decoded, 1);
    ExpectSameImage(read, vs);
    EXPECT_EQ(read.comment, "harbour mouth");
    EXPECT_EQ(read.data.extendedCapabilities, vs.data.extendedCapabilities);
    EXPECT_EQ(read.image.snapshot.parameters.averagingSeconds, 20u);
    EXPECT_EQ(read.image.snapshot.parameters.startMode, kStartBelowThreshold);
    EXPECT_EQ(read.image.snapshot.parameters.thresholdChannel, 2);
    EXPECT_DOUBLE_EQ(read.image.snapshot.parameters.thresholdValue, -3.25);
    EXPECT_TRUE(host.Saw("status", "harbour mouth"));
  }
  {
    // An extended tide-and-wave logger with a gain channel and wave bursts.
    HeldData nmj = MakeHeld("NMJ-7400", 6.02f, "TPf", 30, 48);
    nmj.data.logger.waves = true;
    nmj.data.logger.memoryTypeCode = 4;
    auto& p = nmj.image.snapshot.parameters;
    p.waveEnabled = true;
    p.waveRateHz = 4;
    p.burstLength = 1024;
    p.burstInterval = Period{1, 0, 0};
    p.loggerHeight = 0.75;
    StampRecord gain;
    gain.type = kStampGain;
    gain.time = p.startTime;
    gain.gain[2] = 1;
    gain.changedMask = 4;
    nmj.data.stamps.records.push_back(gain);
    const auto hex = SaveBoth(nmj, "nmj.dat");
    FileHost host;
    HeldData read;
    auto request = ReadRequest(hex);
    ASSERT_TRUE(ReadHexFile(host, request, read));
    ExpectSameImage(read, nmj);
    EXPECT_EQ(read.data.logger.channelTypes, "TPf");
    EXPECT_TRUE(read.data.logger.extendedCommandSet);
    EXPECT_EQ(read.data.logger.memoryTypeCode, 4);
    EXPECT_EQ(read.data.logger.parameterBlockLength, 48);
    EXPECT_TRUE(read.image.snapshot.parameters.waveEnabled);
    EXPECT_EQ(read.image.snapshot.parameters.waveRateHz, 4);
    EXPECT_EQ(read.image.snapshot.parameters.burstLength, 1024);
    EXPECT_EQ(read.image.snapshot.parameters.burstInterval, (Period{1, 0, 0}));
    EXPECT_DOUBLE_EQ(read.image.snapshot.parameters.loggerHeight, 0.75);
    // The gain stamp comes back from the dat file.
    FileHost datHost;
    HeldData fromDat;
    auto datRequest = ReadRequest(Dir() / "dat" / "nmj.dat");
    ASSERT_TRUE(ReadDatFile(datHost, datRequest, fromDat));
    ASSERT_EQ(fromDat.data.stamps.records.size(), 1u);
    EXPECT_EQ(fromDat.data.stamps.records[0].type, kStampGain);
    EXPECT_EQ(fromDat.data.stamps.records[0].gain[2], 1u);
    EXPECT_EQ(fromDat.data.stamps.records[0].changedMask, 4u);
    EXPECT_EQ(fromDat.data.stamps.records[0].time, p.startTime);
  }
}

TEST_F(HexFileTest, BodyLineBreaksFollowTheHeaderLength) {
  MemoryImage image;
  for (int i = 0; i < 200; ++i) image.bytes.push_back(static_cast<uint8_t>(i));
  image.fill = 200;
  auto lineLengths = [](const std::string& body) {
    std::vector<size_t> lengths;
    size_t pos = 0;
    while (pos < body.size()) {
      const size_t end = body.find('\n', pos);
      lengths.push_back(end - pos);
      pos = end + 1;
    }
    return lengths;
  };
  const std::string short30 = HexBody(image, 30);
  EXPECT_EQ(short30.substr(0, 78),
            "Number of bytes of data 200\n|     |     |     |     |     |     |     |\n000102");
  auto l = lineLengths(short30);
  ASSERT_EQ(l.size(), 2u + 9u);
  for (size_t i = 2; i < 10; ++i) EXPECT_EQ(l[i], 48u);
  EXPECT_EQ(l[10], 16u);  // bytes 192..199
  l = lineLengths(HexBody(image, 132));
  EXPECT_EQ(l[2], 48u);
  EXPECT_EQ(l[3], 48u);
  EXPECT_EQ(l[4], 2u * (143 - 48 + 1));  // header byte 48 up to index 143
  EXPECT_EQ(l[5], 48u);
}

TEST_F(HexFileTest, BadFilesGetTheirMessageAndLeaveTheHeldDataAlone) {
  HeldData good = MakeHeld("VS-330", 3.5f, "TC", 20, 132);
  const auto hex = SaveBoth(good, "good.hex.dat");
  const std::string text = ReadFile(hex);
  const size_t count = text.find("Number of bytes of data");
  ASSERT_NE(count, std::string::npos);

  struct Case {
    std::string name, content, caption, message;
  };
  const std::string headerOnly = text.substr(0, text.find("Calibration  2"));
  std::string corrupt = text;
  corrupt[corrupt.size() - 10] = 'Q';
  std::string zero = text;
  zero.replace(count, zero.find('\n', count) - count, "Number of bytes of data 0");
  const std::vector<Case> cases = {
      {"foreign.hex", "Some other logger's export\n1,2,3\n", "Reading a HEX file",
       "This file is not an KLX HEX file"},
      {"binary.hex", std::string("\x00\x01\x02\xFFKLX\x00\x9C", 9), "Read File",
       "Error while reading file header"},
      {"binary2.hex", std::string("\x89PNG\r\n\x1A\n\x00\x00", 10), "Reading a HEX file",
       "This file is not an KLX HEX file"},
      {"header.hex", headerOnly, "Read File", "Error while reading file header"},
      {"nobody.hex", text.substr(0, count), "Reading a HEX file",
       "This file is not an KLX HEX file"},
      {"corrupt.hex", corrupt, "Read File", "not a hex digit"},
      {"zero.hex", zero, "Read File",
       "Error while reading file.\nThe file is reporting 'Number of bytes of data' < 1."},
      {"other.hex", "KLX XR-420  1.00 000001 (Windows: 6.13)\n", "Read File",
       "This file is for a logger of type XR-420."},
  };
  HeldData previous = MakeHeld("NA-7100", 3.2f, "T", 7, 30);
  for (const Case& c : cases) {
    WriteFile(Dir() / c.name, c.content);
    HeldData held = previous;
    FileHost host;
    auto request = ReadRequest(Dir() / c.name);
    EXPECT_FALSE(ReadHexFile(host, request, held)) << c.name;
    EXPECT_TRUE(Told(host, c.caption, c.message)) << c.name;
    EXPECT_EQ(held.image.bytes, previous.image.bytes) << c.name;
    EXPECT_EQ(held.data.logger.model, "NA-7100") << c.name;
    EXPECT_EQ(held.data.series, previous.data.series) << c.name;
  }
  // A missing file.
  HeldData held = previous;
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
  EXPECT_LT(held.image.fill, good.image.fill);
  EXPECT_GT(held.image.fill, 0);
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
  std::filesystem::remove(Dir() / "hex" / "keep.hex");
  host.files.push_back((Dir() / "dat" / "again.dat").string());
  EXPECT_TRUE(SaveDataToFile(host, request, held, true));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "hex" / "again.hex"));
  EXPECT_TRUE(std::filesystem::exists(Dir() / "dat" / "again.dat"));
}

}  // namespace
}  // namespace klx::test
