#include "platform/port_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/temp_dir.h"

namespace klx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class PortMapTest : public test::TempDirTest {
 protected:
  using Entries = std::vector<std::pair<int, std::string>>;
  void Write(const std::string& bytes) { WriteFile(Dir() / PortMap::kFileName, bytes); }
  Entries Load(const std::vector<std::string>& devices) {
    map_.Load(Dir().string(), devices);
    return map_.Entries();
  }
  PortMap map_;
};

TEST_F(PortMapTest, FileLinesTakeTheirNumbersAndDevicesFillTheGaps) {
  const std::vector<std::string> three = {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"};
  const struct {
    std::string file;  // empty: no file
    std::vector<std::string> devices;
    Entries expected;
  } cases[] = {
      {"", three, {{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}, {3, "/dev/ttyUSB1"}}},
      {"COM3=/dev/ttyUSB0\nCOM1=/dev/ttyACM0\n",
       three,
       {{1, "/dev/ttyACM0"}, {2, "/dev/ttyS0"}, {3, "/dev/ttyUSB0"}, {4, "/dev/ttyUSB1"}}},
      // Whitespace, case and line ends are forgiven.
      {"  com5 \t=\t /dev/ttyUSB0  \r\nCoM2=sim:VS-330\r\n\n   \nCOM09=/dev/x",
       {},
       {{2, "sim:VS-330"}, {5, "/dev/ttyUSB0"}, {9, "/dev/x"}}},
      // A device named in the file or listed twice is numbered once.
      {"COM2=/dev/ttyUSB0\n",
       {"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyS0", ""},
       {{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}}},
      // Bad lines are ignored; of two lines with one number or one device the first wins.
      {"COM0=/dev/zero0\nCOM17=/dev/seventeen\nCOM-1=/dev/minus\nCOMx=/dev/letters\n"
       "COM 4=/dev/space\nPORT4=/dev/port\nCOM4 =   \nCOM6=COM7\n"
       "COM99999999999999999999=/dev/huge\n; COM8=/dev/comment\nCOM3=/dev/ttyUSB0\n"
       "COM3=/dev/second\nCOM8=/dev/ttyUSB0\n"
       "COM10=/dev/a\x01"
       "b\nCOM11=/dev/nul\0here\n"s,
       {},
       {{3, "/dev/ttyUSB0"}}},
      {"COM2=/dev/" + std::string(400, 'x') + "\nCOM3=/dev/ok\nCOM4=" + std::string(5'000'000, 'y'),
       {},
       {{3, "/dev/ok"}}}};
  for (const auto& c : cases) {
    fs::remove(Dir() / PortMap::kFileName);
    if (!c.file.empty()) Write(c.file);
    EXPECT_EQ(Load(c.devices), c.expected) << c.file.substr(0, 60);
  }
  EXPECT_EQ(map_.DeviceFor(3), "/dev/ok");
  for (int n : {4, 0, -3}) EXPECT_EQ(map_.DeviceFor(n), "") << n;

  // The directory may end with a slash; a missing one means no file; each load starts afresh.
  Write("COM4=/dev/four\n");
  map_.Load(Dir().string() + "/", {});
  EXPECT_EQ(map_.DeviceFor(4), "/dev/four");
  map_.Load((Dir() / "missing").string(), {"/dev/a"});
  EXPECT_EQ(map_.Entries(), (Entries{{1, "/dev/a"}}));
}

TEST_F(PortMapTest, NumberForComNamesAndNewDevices) {
  Write("COM1=/dev/ttyUSB0\nCOM3=/dev/ttyUSB1\n");
  Load({});
  // A COM name is a number, not a device: nothing is remembered for it.
  const std::pair<const char*, int> com[] = {
      {"com7", 7}, {"Com16", 16}, {"COM0", 0}, {"COM17", 0}, {"", 0}};
  for (auto [name, number] : com) EXPECT_EQ(map_.NumberFor(name), number) << name;
  EXPECT_EQ(map_.Entries().size(), 2u);
  // Unknown names get the lowest free number and keep it; device paths are case-sensitive.
  const std::pair<const char*, int> devices[] = {{"sim:VS-330", 2},   {"/dev/pts/7", 4},
                                                 {"sim:VS-330", 2},   {"/dev/pts/7", 4},
                                                 {"/dev/ttyUSB1", 3}, {"/dev/TTYUSB1", 5}};
  for (auto [name, number] : devices) EXPECT_EQ(map_.NumberFor(name), number) << name;
  EXPECT_EQ(map_.DeviceFor(4), "/dev/pts/7");
  fs::remove(Dir() / PortMap::kFileName);

  // Only sixteen devices are numbered; when full, new names get nothing and COM names still
  // mean their number.
  std::vector<std::string> twenty;
  for (int i = 0; i < 20; ++i) twenty.push_back("/dev/ttyX" + std::to_string(i));
  const auto entries = Load(twenty);
  ASSERT_EQ(entries.size(), 16u);
  EXPECT_EQ(entries.back(), (std::pair<int, std::string>{16, "/dev/ttyX15"}));
  EXPECT_EQ(map_.NumberFor("/dev/ttyX19"), 0);
  EXPECT_EQ(map_.NumberFor("COM12"), 12);
}

}  // namespace
}  // namespace klx
