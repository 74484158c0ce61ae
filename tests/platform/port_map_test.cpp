#include "platform/port_map.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace klx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class PortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "klx-portmap-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteFile(const std::string& bytes) {
    std::ofstream out(dir_ / PortMap::kFileName, std::ios::binary);
    out << bytes;
  }
  std::vector<std::pair<int, std::string>> Load(const std::vector<std::string>& devices) {
    map_.Load(dir_.string(), devices);
    return map_.Entries();
  }

  using Entries = std::vector<std::pair<int, std::string>>;
  fs::path dir_;
  PortMap map_;
};

TEST_F(PortMapTest, MissingFileNumbersDevicesInOrder) {
  EXPECT_EQ(Load({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"}),
            (Entries{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}, {3, "/dev/ttyUSB1"}}));
  EXPECT_EQ(map_.DeviceFor(2), "/dev/ttyUSB0");
  EXPECT_EQ(map_.DeviceFor(4), "");
  EXPECT_EQ(map_.DeviceFor(0), "");
  EXPECT_EQ(map_.DeviceFor(-3), "");
}

TEST_F(PortMapTest, FileLinesTakeTheirNumbersAndDevicesFillTheGaps) {
  WriteFile("COM3=/dev/ttyUSB0\nCOM1=/dev/ttyACM0\n");
  EXPECT_EQ(
      Load({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"}),
      (Entries{{1, "/dev/ttyACM0"}, {2, "/dev/ttyS0"}, {3, "/dev/ttyUSB0"}, {4, "/dev/ttyUSB1"}}));
  EXPECT_EQ(map_.NumberFor("/dev/ttyUSB0"), 3);
  EXPECT_EQ(map_.NumberFor("/dev/ttyACM0"), 1);
}

TEST_F(PortMapTest, WhitespaceCaseAndLineEndsAreForgiven) {
  WriteFile("  com5 \t=\t /dev/ttyUSB0  \r\nCoM2=sim:VS-330\r\n\n   \nCOM09=/dev/x");
  EXPECT_EQ(Load({}), (Entries{{2, "sim:VS-330"}, {5, "/dev/ttyUSB0"}, {9, "/dev/x"}}));
}

TEST_F(PortMapTest, BadLinesAreIgnored) {
  WriteFile(
      "COM0=/dev/zero0\n"
      "COM17=/dev/seventeen\n"
      "COM-1=/dev/minus\n"
      "COM=/dev/none\n"
      "COMx=/dev/letters\n"
      "COM 4=/dev/space\n"
      "PORT4=/dev/port\n"
      "=/dev/nokey\n"
      "COM4=\n"
      "COM4 =   \n"
      "COM6=COM7\n"
      "COM99999999999999999999=/dev/huge\n"
      "just some text\n"
      "[ports]\n"
      "; COM8=/dev/comment\n"
      "COM3=/dev/ttyUSB0\n"
      "COM3=/dev/second\n"   // duplicate number: the first line wins
      "COM8=/dev/ttyUSB0\n"  // duplicate device: the first line wins
      "COM10=/dev/a\x01"
      "b\n"                        // binary
      "COM11=/dev/nul\0here\n"s);  // NUL inside
  EXPECT_EQ(Load({}), (Entries{{3, "/dev/ttyUSB0"}}));
}

TEST_F(PortMapTest, OverlongLinesAreIgnored) {
  const std::string longPath = "/dev/" + std::string(400, 'x');
  WriteFile("COM2=" + longPath + "\nCOM3=/dev/ok\nCOM4=" + std::string(5'000'000, 'y'));
  EXPECT_EQ(Load({}), (Entries{{3, "/dev/ok"}}));
}

TEST_F(PortMapTest, RandomBinaryFileDoesNotCrash) {
  std::mt19937 rng(1234);
  std::string bytes(200'000, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  WriteFile(bytes + "\nCOM7=/dev/after\n");
  const auto entries = Load({"/dev/ttyS0"});
  EXPECT_EQ(map_.NumberFor("/dev/after"), 7);
  EXPECT_GE(map_.NumberFor("/dev/ttyS0"), 1);
  for (const auto& [n, d] : entries) {
    EXPECT_GE(n, 1);
    EXPECT_LE(n, PortMap::kMaxPort);
    EXPECT_FALSE(d.empty());
  }
}

TEST_F(PortMapTest, DirectoryWithOrWithoutSlash) {
  WriteFile("COM4=/dev/four\n");
  map_.Load(dir_.string() + "/", {});
  EXPECT_EQ(map_.DeviceFor(4), "/dev/four");
  map_.Load(dir_.string(), {});
  EXPECT_EQ(map_.DeviceFor(4), "/dev/four");
  map_.Load((dir_ / "missing").string(), {"/dev/a"});
  EXPECT_EQ(map_.Entries(), (Entries{{1, "/dev/a"}}));
}

TEST_F(PortMapTest, DeviceNamedInFileOrListedTwiceIsNumberedOnce) {
  WriteFile("COM2=/dev/ttyUSB0\n");
  EXPECT_EQ(Load({"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyS0", ""}),
            (Entries{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}}));
}

TEST_F(PortMapTest, OnlySixteenDevicesAreNumbered) {
  std::vector<std::string> devices;
  for (int i = 0; i < 20; ++i) devices.push_back("/dev/ttyX" + std::to_string(i));
  const auto entries = Load(devices);
  ASSERT_EQ(entries.size(), 16u);
  EXPECT_EQ(entries.front(), (std::pair<int, std::string>{1, "/dev/ttyX0"}));
  EXPECT_EQ(entries.back(), (std::pair<int, std::string>{16, "/dev/ttyX15"}));
  // Full: new names get nothing, COM names still mean their number.
  EXPECT_EQ(map_.NumberFor("sim:VS-330"), 0);
  EXPECT_EQ(map_.NumberFor("/dev/ttyX19"), 0);
  EXPECT_EQ(map_.NumberFor("/dev/ttyX15"), 16);
  EXPECT_EQ(map_.NumberFor("COM12"), 12);
}

TEST_F(PortMapTest, NumberForComNames) {
  Load({});
  EXPECT_EQ(map_.NumberFor("COM7"), 7);
  EXPECT_EQ(map_.NumberFor("com7"), 7);
  EXPECT_EQ(map_.NumberFor("Com16"), 16);
  EXPECT_EQ(map_.NumberFor("COM1"), 1);
  EXPECT_EQ(map_.NumberFor("COM0"), 0);
  EXPECT_EQ(map_.NumberFor("COM17"), 0);
  EXPECT_EQ(map_.NumberFor(""), 0);
  EXPECT_EQ(map_.NumberFor("   "), 0);
  // A COM name is a number, not a device: nothing is remembered for it.
  EXPECT_TRUE(map_.Entries().empty());
}

TEST_F(PortMapTest, UnknownNamesGetTheLowestFreeNumberAndKeepIt) {
  WriteFile("COM1=/dev/ttyUSB0\nCOM3=/dev/ttyUSB1\n");
  Load({});
  EXPECT_EQ(map_.NumberFor("sim:VS-330"), 2);
  EXPECT_EQ(map_.NumberFor("/dev/pts/7"), 4);
  EXPECT_EQ(map_.NumberFor("sim:VS-330"), 2);
  EXPECT_EQ(map_.NumberFor("/dev/pts/7"), 4);
  EXPECT_EQ(map_.NumberFor("/dev/ttyUSB1"), 3);
  EXPECT_EQ(map_.DeviceFor(2), "sim:VS-330");
  EXPECT_EQ(map_.DeviceFor(4), "/dev/pts/7");
  // Device paths are case-sensitive.
  EXPECT_EQ(map_.NumberFor("/dev/TTYUSB1"), 5);
}

TEST_F(PortMapTest, LoadStartsAfresh) {
  Load({"/dev/a"});
  EXPECT_EQ(map_.NumberFor("sim:HL-240"), 2);
  Load({"/dev/b"});
  EXPECT_EQ(map_.Entries(), (Entries{{1, "/dev/b"}}));
}

}  // namespace
}  // namespace klx
