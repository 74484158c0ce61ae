// The wave, tide and csv files and the wave channels of the tide series.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "decoding/channel_types.h"
#include "shell/temp_dir.h"
#include "shell/text_file.h"
#include "waves/burst_assembly.h"
#include "waves/tide.h"
#include "waves/wave_files.h"

namespace klx {
namespace {

SystemTime At(int hour, int minute, int second) {
  return MakeSystemTime(2024, 3, 5, hour, minute, second);
}

// A tide-and-wave data set: temperature, pressure, derived depth, SWH and Td_Slope columns.
struct NmjData {
  DataSet data;
  MemoryImage image;
  std::string columns = std::string("TP") + char(kLetterDerivedDepth) +
                        char(kLetterSignificantWaveHeight) + char(kLetterTidalSlope);

  explicit NmjData(int samples) {
    auto& l = data.logger;
    l.model = "NMJ-7400", l.firmware = 6.2f, l.serial = 12345, l.channelCount = 2;
    l.waves = l.extendedCommandSet = true, l.channelTypes = columns;
    data.channelCount = 5, data.samplesPerChannel = samples;
    data.series.assign(5, std::vector<float>(static_cast<size_t>(samples) + 2, 0.0f));
    for (int i = 0; i < samples; ++i)
      for (size_t ch = 0; ch < 5; ++ch)
        data.series[ch][static_cast<size_t>(i)] = static_cast<float>(ch * 10 + i) + 0.25f;
    image.hasSnapshot = true;
    auto& p = image.snapshot.parameters;
    p.startTime = At(10, 0, 0), p.samplePeriod = {0, 10, 0}, p.waveEnabled = true;
    p.waveRateHz = 2, p.burstLength = 4, p.loggerHeight = 1.0;
  }
  FileHeaderInputs Inputs() const {  // the column letters as a saved file has them
    FileHeaderInputs in(data, image);
    in.columnTypes = columns;
    return in;
  }
  void AddBurst(const SystemTime& t, uint32_t row, float depth, int32_t flag) {
    StampRecord r;
    r.type = kStampBurst, r.sampleIndex = row, r.time = t;
    r.burstNumber = static_cast<uint32_t>(data.bursts.size());
    data.stamps.records.push_back(r);
    BurstSeries b;
    b.time = t;
    b.samples = {depth + 0.1f, depth + 0.2f, depth + 0.3f, depth + 0.4f};
    b.surface = {0.1f, -0.2f, 0.3f, -0.4f};
    WaveStatistics& s = b.stats;
    s.analysed = true, s.meanDepth = depth;
    s.h13 = 0.5f, s.t13 = 8.25f, s.h110 = 0.7f, s.t110 = 9.5f, s.hmax = 0.9f, s.tmax = 10.0f;
    s.havg = 0.4f, s.tavg = 7.5f, s.energy = 315.25f, s.flag = flag;
    data.bursts.push_back(std::move(b));
  }
};

std::string Tail(const std::string& text, const FileHeaderInputs& in) {
  const std::string header = WriteFileHeader(in, kDatHeader);
  EXPECT_EQ(text.substr(0, header.size()), header);
  return text.substr(std::min(header.size(), text.size()));
}

TEST(WaveFile, GoldenRowsWithTheFlagTextLast) {
  NmjData d(4);
  d.AddBurst(At(10, 5, 0), 1, 9.0f, kWaveGood);
  d.AddBurst(At(11, 5, 9), 3, 9.5f, kWaveWarning);
  const auto in = d.Inputs();
  EXPECT_EQ(
      Tail(WaveFileText(in), in),
      "Date            Time    Number     Depth    H(1/3)    T(1/3)   H(1/10)   T(1/10)    H(max)"
      "    T(max)    H(avg)    T(avg)    Energy\n"
      "Date            Time    Number         m         m       sec         m       sec         m"
      "       sec         m       sec      J/m2\n"
      "2024/Mar/05 10:05:00         1   10.0000    0.5000    8.2500    0.7000    9.5000    0.9000"
      "   10.0000    0.4000    7.5000  315.2500 \n"
      "2024/Mar/05 11:05:09         2   10.5000    0.5000    8.2500    0.7000    9.5000    0.9000"
      "   10.0000    0.4000    7.5000  315.2500  - WARNING: significant wave height>mean depth\n");
}

TEST(TideFile, RowsAcrossStampsWithoutTheWaveHeight) {
  NmjData d(4);
  StampRecord stamp;
  stamp.type = kStampTime, stamp.sampleIndex = 2, stamp.time = At(11, 0, 7);
  d.data.stamps.records.push_back(stamp);
  const auto in = d.Inputs();
  const std::string tide = Tail(TideFileText(in), in);
  EXPECT_EQ(tide.substr(tide.size() - 124),
            "2024/Mar/05 11:00:07    2.2500   12.2500   22.2500   42.2500 \n"
            "2024/Mar/05 11:10:07    3.2500   13.2500   23.2500   43.2500 \n");
}

TEST(WaveCsv, GoldenTextAndGroupsOf125) {
  NmjData d(4);
  d.AddBurst(At(10, 5, 0), 1, 9.0f, kWaveGood);
  d.AddBurst(At(11, 5, 0), 3, 9.5f, kWaveGood);
  EXPECT_EQ(WaveCsvText(d.data, d.image.snapshot.parameters),
            "KLX NMJ-7400  6.20 012345\n"
            "Bursts:,2,Samples:,4,Rate (Hz):,2,Height:,1.000000\n"
            "\nBurst#,1,,2,"
            "\nStart time ,2024/Mar/05 10:05:00,,2024/Mar/05 11:05:00,\n"
            ",Depth,Surface,Depth,Surface\n"
            "1,9.1000,0.1000,9.6000,0.1000\n"
            "2,9.2000,-0.2000,9.7000,-0.2000\n"
            "3,9.3000,0.3000,9.8000,0.3000\n"
            "4,9.4000,-0.4000,9.9000,-0.4000\n");  // the edge row

  NmjData many(4);
  for (int b = 0; b < 300; ++b) many.AddBurst(At(12, b / 60, b % 60), 0, 9.0f, kWaveGood);
  const std::string csv = WaveCsvText(many.data, many.image.snapshot.parameters);
  std::vector<int> groups;
  for (size_t at = csv.find("\nBurst#"); at != std::string::npos;
       at = csv.find("\nBurst#", at + 1)) {
    const std::string line = csv.substr(at + 1, csv.find('\n', at + 1) - at - 1);
    groups.push_back(static_cast<int>(std::count(line.begin(), line.end(), ',')) / 2);
  }
  EXPECT_EQ(groups, (std::vector<int>{125, 125, 50}));
}

using WaveFiles = test::TempDirTest;

TEST_F(WaveFiles, WrittenIntoTheNmjFolder) {
  const auto& dir = Dir();
  NmjData d(4);
  d.AddBurst(At(10, 5, 0), 1, 9.0f, kWaveError);
  RecordingHost host;
  const auto in = d.Inputs();
  auto written = WriteWaveAndTideFiles(host, dir, "/x/dat/012345_a.dat", in);
  EXPECT_EQ(written.wave, dir / "nmj" / "012345_a.wave");
  EXPECT_TRUE(std::filesystem::exists(written.wave));
  // A deployment without bursts has its tide file but no wave file.
  NmjData tideOnly(4);
  written = WriteWaveAndTideFiles(host, dir, "012345_t.dat", tideOnly.Inputs());
  EXPECT_TRUE(written.wave.empty() && !std::filesystem::exists(dir / "nmj" / "012345_t.wave"));
  EXPECT_TRUE(std::filesystem::exists(dir / "nmj" / "012345_t.tide"));
  // A folder that cannot be made.
  std::ofstream(dir / "blocked") << "a file";
  written = WriteWaveAndTideFiles(host, dir / "blocked", "b.dat", in);
  EXPECT_TRUE(written.wave.empty());
  EXPECT_TRUE(std::any_of(host.events.begin(), host.events.end(),
                          [](const auto& e) { return e.text == kNmjFolderError; }));
}

TEST(WaveChannels, WaveHeightFollowsTheBurstsSlopeFollowsTheDepth) {
  NmjData d(20);
  d.AddBurst(At(10, 5, 0), 3, 9.0f, kWaveGood);
  d.AddBurst(At(11, 5, 0), 10, 9.0f, kWaveError);
  d.data.bursts[0].stats.h13 = 0.75f;
  for (int i = 0; i < 20; ++i) d.data.series[2][static_cast<size_t>(i)] = 10.0f + 0.01f * i;
  DerivedChannels channels;
  channels.measuredChannels = channels.depth = 2;
  channels.waveHeight = 3, channels.tidalSlope = 4;
  FillWaveChannels(d.data, channels, d.image.snapshot.parameters);
  const auto& swh = d.data.series[3];
  EXPECT_EQ(swh[2], kMissingValue);
  EXPECT_EQ(swh[9], 0.75f);
  EXPECT_EQ(swh[10], kMissingValue);  // an error burst has no wave height
  EXPECT_EQ(d.data.Minimum(3), 0.75f);
  // The slope of the depth column at the sample period's minutes, 0 where the window is short.
  const auto& slope = d.data.series[4];
  EXPECT_EQ(slope[6], 0.0f);
  EXPECT_FLOAT_EQ(slope[10], static_cast<float>(TideSlope(d.data.series[2], 10, 10.0)));
}

}  // namespace
}  // namespace klx
