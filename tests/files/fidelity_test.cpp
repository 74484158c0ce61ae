// Column titles and channel-file lines that must say what the values are: the Optode
// concentration titled with the unit its values are computed in, the unit at the end of each
// channel file calibration block, and the fluorometer titles over two tab stops.
#include <gtest/gtest.h>

#include <cmath>

#include "decoding/channel_types.h"
#include "derived/derived.h"
#include "files/dat_file.h"
#include "files/file_header.h"

namespace klx::test {
namespace {

// One sample per channel, with its minimum and maximum behind it.
DataSet OneSample(const std::string& letters, const std::vector<float>& values) {
  DataSet d;
  d.logger.model = "VS-330";
  d.logger.firmware = 6.2f;
  d.logger.channelTypes = letters;
  d.logger.channelCount = static_cast<int>(letters.size());
  d.channelCount = d.logger.channelCount;
  d.samplesPerChannel = 1;
  for (float v : values) d.series.push_back({v, v, v});
  return d;
}

// The header's column-title line (the last line that is not empty).
std::string TitleLine(const std::string& header) {
  size_t end = header.find_last_not_of('\n');
  const size_t start = header.rfind('\n', end);
  return header.substr(start + 1, end - start);
}

// The Optode concentration column says mg/l or ml/l as its values are, whatever the unit of
// the dissolved oxygen computed from a saturation sensor.
TEST(ColumnTitles, OptodeConcentrationCarriesTheOptodeUnit) {
  struct Case {
    bool optodeMg, doMl, doMg;
    const char* title;
    double factor;  // from µmol/l
  } cases[] = {
      {true, true, false, " dO2_mg/l ", 0.031999},
      {false, false, true, " dO2_ml/l ", 0.022392},
      {true, false, false, " dO2_mg/l ", 0.031999},
      {false, true, true, " dO2_ml/l ", 0.022392},
  };
  for (const Case& c : cases) {
    DataSet data = OneSample("TJ", {12.0f, 250.0f});
    DerivedSettings settings;
    settings.optodeConcentrationOn = true;
    settings.optodeUnitMgPerL = c.optodeMg;
    settings.optodeUnitMlPerL = !c.optodeMg;
    settings.doUnitMlPerL = c.doMl;
    settings.doUnitMgPerL = c.doMg;
    const DerivedAllocation a = AllocateDerivedChannels(data, settings);
    ASSERT_GE(a.channels.optodeConcentration, 0);
    RecomputeDerived(data, a.channels, settings);
    const float value = data.series[static_cast<size_t>(a.channels.optodeConcentration)][0];
    EXPECT_NEAR(value, 250.0 * c.factor, 1e-4);

    MemoryImage image;
    FileHeaderInputs in(data, image);
    in.derived = settings;
    in.columnTypes = data.logger.channelTypes;
    const std::string titles = TitleLine(WriteFileHeader(in, kDatHeader));
    EXPECT_NE(titles.find(c.title), std::string::npos) << titles;
    const char* other = std::string(c.title) == " dO2_mg/l " ? "dO2_ml/l" : "dO2_mg/l";
    EXPECT_EQ(titles.find(other), std::string::npos) << titles;
  }
}

// The channel file is UTF-16; its Latin-1 parts read back byte for byte.
std::string Latin1Of(const std::string& utf16) {
  std::string out;
  for (size_t i = 2; i + 1 < utf16.size(); i += 2) out += utf16[i + 1] == '\0' ? utf16[i] : '?';
  return out;
}

TEST(ChannelFile, CalibrationEndsWithTheUnitAndFluorometersTakeTwoTabs) {
  DataSet data = OneSample("TFy", {12.0f, 3.0f, 40.0f});
  MemoryImage image;
  FileHeaderInputs in(data, image);
  const std::string text = Latin1Of(ChannelFileText(in));
  // Each calibration block's fourth line ends with the unit of the hex header's line.
  for (const char* unit : {" Degrees_C\n", " ug/l\n", " NTU\n"})
    EXPECT_NE(text.find(unit), std::string::npos) << unit;
  EXPECT_EQ(text.find("Temp \n"), std::string::npos);
  EXPECT_NE(text.find("Temp\tFlC\t\tTurb\t\n"), std::string::npos) << text;

  // Columns are titled by what they hold, not by their type's short name.
  in.columnTypes = std::string("XJM") + '\x82';
  EXPECT_NE(Latin1Of(ChannelFileText(in)).find("dO2 \xB5Mol/l\tOptd \xB5Mol/l\tVlt\tTDS\t\n"),
            std::string::npos);
}

}  // namespace
}  // namespace klx::test
