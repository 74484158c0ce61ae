#include "files/dat_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "files_fixture.h"

namespace klx::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DatFileTest : public FilesTest {};

TEST_F(DatFileTest, RowLayoutsAndStampTimes) {
  HeldData held = MakeHeld("NA-7100", 3.2f, "T", 4, 30);
  held.data.series[0][1] = -1000.0f;
  held.data.stamps.records = {Stamp(0, kStampTime, At(2000, 6, 21, 12, 30, 0)),
                              Stamp(2, kStampTime, At(2000, 6, 22, 0, 0, 5))};
  FileHeaderInputs in = HeaderInputsOf(held, DatLayout::N, {});
  EXPECT_EQ(WriteDatRows(in, 0, 3, true), "   0.0000 \n-1000.0000 \n   0.5000 \n   0.7500 \n");
  in.layout = DatLayout::A;
  EXPECT_EQ(WriteDatRows(in, 0, 1, true), "12:30:00    0.0000 \n12:30:10 -1000.0000 \n");
  // Dated rows: the NetCDF tests; the row clock across stamps: the tide and MAT files.
}

TEST_F(DatFileTest, SegmentOfRowsKeepsItsStampsRenumbered) {
  HeldData held = MakeHeld("VS-330", 3.5f, "TC", 300, 132);
  held.data.stamps.records = {Stamp(50, kStampTime, At(2024, 3, 2, 0, 0, 0)),
                              Stamp(150, kStampTime, At(2024, 3, 3, 6, 0, 0)),
                              Stamp(250, kStampTime, At(2024, 3, 4, 0, 0, 0))};
  const std::string text = DatSegmentText(HeaderInputsOf(held, DatLayout::A, {}), 100, 199);
  const auto lines = Lines(text);
  // Row 100 is 50 periods after the stamp at row 50.
  EXPECT_EQ(lines[3], "Logging start 24/03/02 00:08:20");
  EXPECT_NE(lines[6].find("number of samples =    100, mode:"), std::string::npos);
  EXPECT_TRUE(text.find("Timestamp 2024/03/02") == text.find("Timestamp 2024/03/04"));  // none
  EXPECT_NE(text.find("Timestamp 2024/03/03 06:00:00 at sample 51 of type: TIME STAMP\n"),
            std::string::npos);
  const size_t titles = text.find("     Temp      Cond \n");
  ASSERT_NE(titles, std::string::npos);
  const auto rows = Lines(text.substr(titles + 21));
  ASSERT_EQ(rows.size(), 100u);
  EXPECT_EQ(rows[0], "00:08:20   25.0000   35.0000 ");
  EXPECT_EQ(rows[50].substr(0, 9) + rows[99].substr(0, 9), "06:00:00 06:08:10 ");
}

TEST_F(DatFileTest, ReadBackRestoresSeriesHeaderAndLimits) {
  HeldData held = MakeHeld("VS-330", 3.5f, "TCP", 25, 132);
  held.data.series[2][3] = -1000.0f;
  held.comment = "tank test";
  for (DatLayout layout : {DatLayout::N, DatLayout::A, DatLayout::E}) {
    FileHost host;
    const auto name = "round" + std::to_string(static_cast<int>(layout)) + ".dat";
    host.files.push_back((Dir() / "dat" / name).string());
    SaveRequest save = Save(layout);
    held.image.unsaved = true;
    ASSERT_TRUE(SaveDataToFile(host, save, held, false));
    HeldData read;
    auto request = ReadRequest(Dir() / "dat" / name);
    ASSERT_TRUE(ReadDatFile(host, request, read));
    EXPECT_EQ(read.data.logger.channelTypes + read.comment, "TCPtank test");
    ASSERT_EQ(read.data.samplesPerChannel, 25);
    for (int ch = 0; ch < 3; ++ch)
      for (int r = 0; r < 25; ++r)
        EXPECT_NEAR(read.data.series[ch][r], held.data.series[ch][r], 1e-4) << ch << "," << r;
    // The missing value stays out of the limits.
    EXPECT_EQ(std::make_pair(read.data.Minimum(2), read.data.Maximum(2)),
              std::make_pair(20.0f, 26.0f));
    EXPECT_TRUE(read.fromDatFile && read.image.fill == 0);
  }
}

TEST_F(DatFileTest, BadDatFilesGetTheirMessageAndLeaveTheHeldDataAlone) {
  HeldData good = MakeHeld("VS-330", 3.5f, "TC", 10, 132);
  const std::string text = DatFileText(HeaderInputsOf(good, DatLayout::A, {}));
  const size_t titles = text.find("     Temp      Cond \n") + 21;
  std::string ascii = text;
  ascii.insert(titles - 22,
               "MMC/SD Memory card present, Generic Serial card present, Format: ASCII\n");
  ExpectRefused(
      {
          {"foreign.dat", "time,temp\n1,2\n", "This file is not an KLX DAT file"},
          {"header.dat", text.substr(0, titles - 30), "Error while reading file header"},
          {"norows.dat", text.substr(0, titles), "The file holds no readable rows."},
          {"ascii.dat", ascii, "This file holds generic ASCII formatted data."},
      },
      ReadDatFile);
  // Rows that end early: the whole rows are kept, with the message.
  WriteFile(Dir() / "cut.dat", text.substr(0, text.size() - 12));
  HeldData held = MakeHeld("NA-7100", 3.2f, "T", 7, 30);
  FileHost host;
  auto request = ReadRequest(Dir() / "cut.dat");
  ASSERT_TRUE(ReadDatFile(host, request, held));
  EXPECT_TRUE(host.Saw("tell", "The file has lost data.\nThe available data will be plotted."));
  EXPECT_EQ(held.data.samplesPerChannel, 9);
}

}  // namespace
}  // namespace klx::test
