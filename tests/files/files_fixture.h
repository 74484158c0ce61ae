#pragma once
// Hand-built data sets of several logger families and a temporary directory per test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "files/hex_file.h"
#include "shell/temp_dir.h"

namespace klx::test {

inline SystemTime At(int y, int mo, int d, int h, int mi, int s) {
  return MakeSystemTime(y, mo, d, h, mi, s);
}
inline StampRecord Stamp(uint32_t row, uint32_t type, const SystemTime& t) {
  StampRecord s;
  s.sampleIndex = row, s.type = type, s.time = t;
  return s;
}

// A data set with `samples` rows of every channel, values chosen so that %9.4f keeps them.
inline HeldData MakeHeld(const std::string& model, float firmware, const std::string& letters,
                         int samples, int headerLength) {
  HeldData held;
  LoggerState& logger = held.data.logger;
  logger.model = model, logger.firmware = firmware, logger.serial = 12345;
  logger.channelCount = static_cast<int>(letters.size()), logger.channelTypes = letters;
  logger.extendedCommandSet = firmware > 4.99f, logger.parameterBlockLength = headerLength;
  held.data.channelCount = logger.channelCount;
  held.data.samplesPerChannel = samples;
  for (int ch = 0; ch < logger.channelCount; ++ch) {
    held.data.calibration.coef[ch] = {0.5 + ch, 1.25, -0.001953125, 0.000030517578125};
    std::vector<float> s;
    for (int r = 0; r < samples; ++r) s.push_back(static_cast<float>(ch * 10 + r * 0.25));
    s.insert(s.end(), {0.0f, 1.0f});
    held.data.series.push_back(std::move(s));
  }
  MemoryImage& image = held.image;
  image.headerLength = headerLength;
  const int bytes = headerLength + samples * logger.channelCount * 3;
  for (int i = 0; i < bytes; ++i) image.bytes.push_back(static_cast<uint8_t>((i * 37 + 11) & 0xFF));
  image.fill = bytes, image.sampleWords = bytes / 3;
  image.unsaved = image.hasSnapshot = true;
  auto& snap = image.snapshot;
  snap.hostTime = At(2024, 3, 5, 10, 11, 12), snap.loggerTime = At(2024, 3, 5, 10, 11, 2);
  snap.loggerStatus = 4, snap.parameters.samplePeriod = Period{0, 0, 10};
  snap.parameters.startTime = At(2024, 3, 1, 12, 30, 0);
  snap.parameters.endTime = At(2024, 4, 1, 0, 0, 0);
  return held;
}

// A host that answers file choices from a queue as well.
class FileHost : public RecordingHost {
 public:
  std::optional<std::string> ChooseFile(const FileChoice& choice) override {
    choices.push_back(choice);
    if (files.empty()) return std::nullopt;
    std::string f = files.front();
    files.erase(files.begin());
    return f;
  }
  std::vector<std::string> files;
  std::vector<FileChoice> choices;
};

class FilesTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    dir_ = Dir();
    for (const char* sub : {"hex", "dat"}) std::filesystem::create_directories(dir_ / sub);
    dirs_.dat = (dir_ / "dat").string(), dirs_.hex = (dir_ / "hex").string();
  }
  FileReadRequest ReadRequest(const std::filesystem::path& file) {
    FileReadRequest r;
    r.file = file, r.programDirectory = dir_, r.directories = &dirs_;
    return r;
  }
  SaveRequest Save(DatLayout layout) {
    SaveRequest r;
    r.programDirectory = dir_, r.directories = &dirs_, r.layout = layout;
    return r;
  }

  // Bad files read over held data: each gets its message box and leaves the data alone.
  struct BadFile {
    std::string name, content, message;
  };
  void ExpectRefused(const std::vector<BadFile>& files,
                     bool (*read)(Host&, FileReadRequest&, HeldData&)) {
    const HeldData previous = MakeHeld("NA-7100", 3.2f, "T", 7, 30);
    for (const BadFile& f : files) {
      SCOPED_TRACE(f.name);
      WriteFile(dir_ / f.name, f.content);
      HeldData held = previous;
      FileHost host;
      auto request = ReadRequest(dir_ / f.name);
      EXPECT_FALSE(read(host, request, held));
      EXPECT_TRUE(host.Saw("tell", f.message));
      EXPECT_TRUE(held.image.bytes == previous.image.bytes && held.data.logger.model == "NA-7100" &&
                  held.data.series == previous.data.series);
    }
  }

  Directories dirs_;

 private:
  std::filesystem::path dir_;
};

// An independent reader: Debian's Python with SciPy and netCDF4.
inline constexpr const char* kPython = "/usr/bin/python3";
inline bool PythonHas(const std::string& module) {
  return std::system(
             (std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}
// Writes `script` into `dir` and runs it on `arg`; gives what it printed.
inline std::string RunPython(const std::filesystem::path& dir, const std::string& script,
                             const std::filesystem::path& arg) {
  std::ofstream(dir / "reader.py") << script;
  const std::string command =
      std::string(kPython) + " " + (dir / "reader.py").string() + " " + arg.string();
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {};
  std::string out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  ::pclose(p);
  return out;
}

}  // namespace klx::test
