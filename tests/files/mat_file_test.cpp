// The MAT file: round trips, the time forms, the stamp image, bad files and SciPy's reading.
#include "files/mat_file.h"

#include <cmath>
#include <iterator>
#include <map>
#include <sstream>

#include "files/files_fixture.h"
#include "platform/mat_file.h"
#include "shell/text_file.h"

namespace klx::test {
namespace {

// Temperature, pressure and an auto-ranging turbidity channel; a gain stamp and two others.
HeldData VsHeld() {
  HeldData held = MakeHeld("VS-330", 3.05f, "TPy", 12, 132);
  held.data.series[1][3] = kMissingValue;
  auto& stamps = held.data.stamps.records;
  StampRecord gain = Stamp(0, kStampGain, At(2024, 3, 1, 12, 30, 0));
  gain.gain[2] = 3, gain.changedMask = 4, gain.markerClass = 2;
  stamps = {gain, Stamp(5, kStampTime, At(2024, 3, 1, 13, 0, 0)),
            Stamp(9, kStampCold, At(2024, 3, 2, 0, 0, 7))};
  auto& p = held.image.snapshot.parameters;
  p.averagingEnabled = true, p.averagingSeconds = 30, p.samplePeriod = Period{1, 2, 3};
  return held;
}

// A tide-and-wave logger with three bursts, the last one cut short.
HeldData WaveHeld() {
  HeldData held = MakeHeld("NMJ-7400", 4.20f, "TP", 6, 30);
  held.data.logger.waves = true;
  auto& p = held.image.snapshot.parameters;
  p.waveEnabled = true, p.waveRateHz = 4, p.burstLength = 8, p.loggerHeight = 1.5;
  for (int b = 0; b < 3; ++b) {
    BurstSeries burst;
    burst.time = At(2024, 3, 1, 13 + b, 0, 0);
    const int length = b == 2 ? 5 : 8;
    for (int i = 0; i < length; ++i) burst.samples.push_back(10.0f + b + i * 0.125f);
    held.data.bursts.push_back(burst);
    StampRecord s = Stamp(static_cast<uint32_t>(2 * b), kStampBurst, burst.time);
    s.burstNumber = static_cast<uint32_t>(b);
    held.data.stamps.records.push_back(s);
  }
  return held;
}

class MatFileTest : public FilesTest {
 protected:
  std::filesystem::path Write(const HeldData& held, int frequency, int format,
                              const std::string& name = "out.mat",
                              std::vector<std::vector<float>> surface = {}) {
    const auto path = Dir() / name;
    MatWriteOptions options;
    options.timeFrequency = frequency;
    options.timeFormat = format;
    options.waveSurface = std::move(surface);
    EXPECT_EQ(WriteMatFile(path, held, options), "");
    return path;
  }
  bool Read(const std::filesystem::path& path, HeldData& held, FileHost& host) {
    MatReadRequest request;
    request.file = path, request.programDirectory = Dir(), request.directories = &dirs_;
    const bool ok = ReadMatFile(host, request, held);
    foundFormat_ = request.foundTimeFormat;
    surface_ = request.waveSurface;
    return ok;
  }
  static mat::Array Variable(const std::filesystem::path& path, const char* name) {
    mat::File f = mat::matOpen(path.string(), "r");
    return mat::matGetVariable(f, name);
  }
  static size_t NameCount(const std::filesystem::path& path) {
    mat::File f = mat::matOpen(path.string(), "r");
    return mat::matGetDir(f).size();
  }
  int foundFormat_ = -1;
  std::vector<std::vector<float>> surface_;
};

// One round trip per family and time layout: data, stamps, settings, bursts and the limits.
TEST_F(MatFileTest, RoundTripsEveryFamilyAndTimeLayout) {
  HeldData linear = MakeHeld("VS-550", 5.12f, "CTDVMYfgziRHNLKJAEB", 7, 64);
  linear.data.logger.channelTypes[4] = 'M';
  linear.image.snapshot.parameters.profiling6Hz = true;
  const struct {
    HeldData held;
    int frequency, format;
    std::vector<std::vector<float>> surface;
  } cases[] = {{VsHeld(), kMatStartTimeOnly, kMatTimeText, {}},
               {MakeHeld("NA-7100", 2.30f, "T", 40, 30), kMatTimePerRow, kMatTimeText, {}},
               {linear, kMatStartTimeOnly, kMatTimeDatenum, {}},
               {WaveHeld(), kMatStartTimeOnly, kMatTimeText, {{1.0f, 2.0f}, {3.0f}}}};
  for (const auto& c : cases) {
    const HeldData& a = c.held;
    SCOPED_TRACE(a.data.logger.model + " " + std::to_string(c.frequency) +
                 std::to_string(c.format));
    const auto path = Write(a, c.frequency, c.format, "out.mat", c.surface);
    FileHost host;
    HeldData b;
    ASSERT_TRUE(Read(path, b, host));
    EXPECT_EQ(host.status[1], "MATLAB file read successfully");
    const LoggerState &la = a.data.logger, &lb = b.data.logger;
    EXPECT_EQ(std::tie(lb.model, lb.serial, lb.channelTypes, lb.waves),
              std::tie(la.model, la.serial, la.channelTypes, la.waves));
    EXPECT_NEAR(lb.firmware, la.firmware, 0.005);
    ASSERT_EQ(std::make_pair(b.data.samplesPerChannel, b.data.channelCount),
              std::make_pair(a.data.samplesPerChannel, a.data.channelCount));
    for (int ch = 0; ch < a.data.channelCount; ++ch) {
      const auto first = a.data.series[ch].begin(), last = first + a.data.samplesPerChannel;
      EXPECT_TRUE(std::equal(first, last, b.data.series[ch].begin())) << ch;
      // Minimum and maximum follow the values (the missing marker does not count).
      float lo = 300.0f, hi = -300.0f;
      for (auto v = first; v != last; ++v)
        if (*v >= -999.0f) lo = std::min(lo, *v), hi = std::max(hi, *v);
      EXPECT_EQ(b.data.Minimum(ch), lo);
      EXPECT_EQ(b.data.Maximum(ch), hi);
    }
    EXPECT_EQ(b.data.stamps.records, a.data.stamps.records);
    const auto &pa = a.image.snapshot.parameters, &pb = b.image.snapshot.parameters;
    EXPECT_EQ(pb.samplePeriod, pa.samplePeriod);
    EXPECT_EQ(std::make_tuple(pb.profiling6Hz, pb.averagingEnabled, pb.averagingSeconds,
                              MatTimeText(pb.startTime), foundFormat_, b.fromFile, b.image.fill),
              std::make_tuple(pa.profiling6Hz, pa.averagingEnabled, pa.averagingSeconds,
                              MatTimeText(pa.startTime), c.format, true, 0));
    EXPECT_TRUE(pb.waveEnabled == pa.waveEnabled && pb.waveRateHz == pa.waveRateHz &&
                pb.loggerHeight == pa.loggerHeight && pb.burstLength == pa.burstLength);
    ASSERT_EQ(b.data.bursts.size(), a.data.bursts.size());
    for (size_t i = 0; i < a.data.bursts.size(); ++i)
      EXPECT_TRUE(b.data.bursts[i].samples == a.data.bursts[i].samples &&
                  b.data.bursts[i].time == a.data.bursts[i].time)
          << i;
    if (a.data.bursts.empty()) continue;
    // The names and shapes of the wave variables are read by SciPy below.
    ASSERT_EQ(surface_.size(), 3u);
    EXPECT_EQ(surface_[0], c.surface[0]);
    EXPECT_EQ(surface_[1], c.surface[1]);
    EXPECT_TRUE(surface_[2].empty());  // written as missing values only
  }
}

TEST_F(MatFileTest, EdgeCasesOfTheTimeFormsStampsAndWaves) {
  HeldData held = MakeHeld("VS-330", 3.05f, "TP", 4, 132);
  held.image.snapshot.parameters.startTime = At(2000, 6, 21, 12, 30, 0);
  // Start time only, as text: one row of 20 characters; no stamps: a 1 × 0 private array.
  auto path = Write(held, kMatStartTimeOnly, kMatTimeText, "text.mat");
  mat::Array times = Variable(path, "loggertimes");
  EXPECT_EQ(mat::mxGetDimensions(times), (std::array<size_t, 2>{1, 20}));
  EXPECT_EQ(mat::mxGetChars(times), "21-Jun-2000 12:30:00");
  EXPECT_EQ(mat::mxGetDimensions(Variable(path, "loggerprivate")), (std::array<size_t, 2>{1, 0}));
  // A logger without the wave capability writes no wave variables, even with bursts.
  HeldData plain = WaveHeld();
  plain.data.logger.waves = false;
  EXPECT_EQ(NameCount(Write(plain, kMatStartTimeOnly, kMatTimeText, "plain.mat")), 7u);

  // 'datenum': 1 January 2000 00:00:00 is 730486.0.
  held.image.snapshot.parameters.startTime = At(2000, 1, 1, 0, 0, 0);
  times = Variable(Write(held, kMatStartTimeOnly, kMatTimeDatenum, "datenum.mat"), "loggertimes");
  EXPECT_EQ(*mat::mxGetPr(times), 730486.0);  // SciPy reads the class and shape below
  // Day numbers with leap years, and the way back.
  EXPECT_EQ(MatDatenum(At(2001, 1, 1, 0, 0, 0)), 730486.0 + 366);
  EXPECT_EQ(MatDatenum(At(2000, 3, 1, 18, 0, 0)), 730486.0 + 60 + 0.75);
  for (const SystemTime& t : {At(2000, 2, 29, 23, 59, 59), At(2099, 7, 4, 1, 2, 3)}) {
    SystemTime back;
    ASSERT_TRUE(TimeFromMatDatenum(MatDatenum(t), back));
    EXPECT_EQ(MatTimeText(back), MatTimeText(t));
  }
  SystemTime unused;
  EXPECT_FALSE(TimeFromMatDatenum(730485.5, unused));
  EXPECT_FALSE(TimeFromMatDatenum(std::nan(""), unused));
  EXPECT_FALSE(TimeFromMatText("32-Jun-2000 12:30:00", unused));
  EXPECT_FALSE(TimeFromMatText("21-Jux-2000 12:30:00", unused));
}

TEST_F(MatFileTest, DatenumPerRowOfTwentyRowsIsNotTakenForText) {
  // A datenum per row of exactly 20 rows is 1 × 20 like a text time; the class tells them apart.
  HeldData twenty = MakeHeld("VS-330", 3.05f, "T", 20, 132);
  twenty.image.snapshot.parameters.startTime = At(2000, 1, 1, 0, 0, 0);
  auto path = Write(twenty, kMatTimePerRow, kMatTimeDatenum, "twenty.mat");
  mat::Array times = Variable(path, "loggertimes");
  ASSERT_EQ(mat::mxGetDimensions(times), (std::array<size_t, 2>{1, 20}));
  EXPECT_DOUBLE_EQ(mat::mxGetPr(times)[19], 730486.0 + 190.0 / 86400.0);
  FileHost host;
  HeldData back;
  ASSERT_TRUE(Read(path, back, host));
  EXPECT_EQ(foundFormat_, kMatTimeDatenum);
  EXPECT_EQ(MatTimeText(back.image.snapshot.parameters.startTime), "01-Jan-2000 00:00:00");
}

// Writes a file of the given variables through the adapter.
void WriteVariables(const std::filesystem::path& path,
                    std::vector<std::pair<const char*, mat::Array>> vars) {
  mat::File f = mat::matOpen(path.string(), "wL");
  ASSERT_TRUE(f);
  for (auto& [name, array] : vars) ASSERT_EQ(mat::matPutVariable(f, name, array), 0) << name;
  ASSERT_EQ(mat::matClose(f), 0);
}

mat::Array Single(std::vector<float> values, size_t rows, size_t columns) {
  mat::Array a = mat::mxCreateNumericArray(rows, columns, mat::ClassId::kSingle);
  if (!values.empty())
    std::copy(values.begin(), values.end(), static_cast<float*>(mat::mxGetData(a)));
  return a;
}

mat::Array Uint32Bytes(const std::vector<uint8_t>& bytes) {
  mat::Array a = mat::mxCreateNumericArray(1, bytes.size() / 4, mat::ClassId::kUInt32);
  std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(mat::mxGetData(a)));
  return a;
}

TEST_F(MatFileTest, ReadsTheOlderStampLayouts) {
  auto base = [](mat::Array priv) {
    std::vector<std::pair<const char*, mat::Array>> v;
    v.emplace_back("loggername", mat::mxCreateString("KLX VS-330  3.05 000042"));
    v.emplace_back("loggerdata", Single({1, 2, 3}, 3, 1));
    v.emplace_back("loggerchannelnames", mat::mxCreateString("Pres"));
    v.emplace_back("loggersampleperiod", Single({-1}, 1, 1));  // 6 Hz profiling
    v.emplace_back("loggeraveragingperiod", Single({0}, 1, 1));
    v.emplace_back("loggertimes", mat::mxCreateString("05-Mar-2024 10:00:00"));
    v.emplace_back("loggerprivate", std::move(priv));
    return v;
  };
  auto put = [](std::vector<uint8_t>& b, size_t at, uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  // Five records of each older layout (row, type, then the time from `timeAt`), a byte an element.
  const struct {
    size_t size, timeAt;
    uint32_t rowStep, type, year, month, firstDay;
  } layouts[] = {{36, 20, 70000, 5, 2003, 4, 1}, {32, 16, 300, 10, 2005, 6, 9}};
  FileHost host;
  HeldData back;
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.size);
    std::vector<uint8_t> bytes(4 * l.size * 5, 0);
    for (uint32_t i = 0; i < 5; ++i) {
      put(bytes, l.size * i, l.rowStep * i, 4);
      put(bytes, l.size * i + 4, l.type, 4);
      put(bytes, l.size * i + l.timeAt, l.year, 2);
      put(bytes, l.size * i + l.timeAt + 2, l.month, 2);
      put(bytes, l.size * i + l.timeAt + 6, l.firstDay + i, 2);
    }
    const auto path = Dir() / "old.mat";
    WriteVariables(path, base(Uint32Bytes(bytes)));
    ASSERT_TRUE(Read(path, back, host));
    EXPECT_EQ(back.data.logger.serial, 42);
    EXPECT_TRUE(back.image.snapshot.parameters.profiling6Hz);
    EXPECT_EQ(back.image.snapshot.parameters.samplePeriod, (Period{0, 0, 10}));
    ASSERT_EQ(back.data.stamps.records.size(), 5u);
    const StampRecord& r = back.data.stamps.records[4];
    EXPECT_EQ(std::make_tuple(r.sampleIndex, r.type, r.time.year, r.time.month, r.time.day),
              std::make_tuple(l.rowStep * 4, l.type, static_cast<int>(l.year),
                              static_cast<int>(l.month), static_cast<int>(l.firstDay + 4)));
  }

  // One record of today's layout: the zeros behind it are not a second record's year.
  HeldData one = MakeHeld("VS-330", 3.05f, "T", 3, 132);
  one.data.stamps.records.push_back(Stamp(1, kStampRtc, At(2024, 1, 2, 3, 4, 5)));
  ASSERT_TRUE(Read(Write(one, kMatStartTimeOnly, kMatTimeText, "one.mat"), back, host));
  EXPECT_EQ(back.data.stamps.records, one.data.stamps.records);
}

TEST_F(MatFileTest, MalformedFilesKeepTheDataHeld) {
  HeldData good = VsHeld();
  const auto goodPath = Write(good, kMatTimePerRow, kMatTimeText, "good.mat");
  // The good file with one variable replaced (or dropped when `with` is empty).
  auto goodVars = [&](const char* replace, mat::Array with) {
    std::vector<std::pair<const char*, mat::Array>> v;
    for (const char* n : {"loggername", "loggerdata", "loggerchannelnames", "loggersampleperiod",
                          "loggeraveragingperiod", "loggertimes", "loggerprivate"})
      if (std::string(n) != replace)
        v.emplace_back(n, Variable(goodPath, n));
      else if (with)
        v.emplace_back(n, std::move(with));
    WriteVariables(Dir() / "bad.mat", std::move(v));
  };
  // Each bad file is read over held data, which stay as they were.
  auto check = [&](const char* what, const char* message = kMatReadError) {
    SCOPED_TRACE(what);
    HeldData held = MakeHeld("NA-7100", 2.30f, "T", 5, 30);
    FileHost host;
    EXPECT_FALSE(Read(Dir() / "bad.mat", held, host));
    EXPECT_EQ(host.status[1], message);
    EXPECT_TRUE(held.data.samplesPerChannel == 5 && held.image.unsaved);
  };
  struct {
    const char *what, *variable;
    mat::Array with;  // empty: the variable is dropped
    const char* message = kMatReadError;
  } cases[] = {
      {"missing data", "loggerdata", {}},
      {"data as text", "loggerdata", mat::mxCreateString("1 2 3")},
      {"names one short", "loggerchannelnames",
       mat::mxCreateCharMatrixFromStrings({"Temp", "Pres"})},
      {"name without maker", "loggername", mat::mxCreateString("ACME X 1 2")},
      {"time text unreadable", "loggertimes", mat::mxCreateString("yesterday at noon!!!")},
      {"too many channels", "loggerdata", Single({}, 2, 25)},
      {"no data", "loggerdata", Single({}, 0, 3), kMatNoDisplayableData},
  };
  for (auto& c : cases) {
    goodVars(c.variable, std::move(c.with));
    check(c.what, c.message);
  }

  WriteFile(Dir() / "bad.mat", ReadFile(goodPath).substr(0, 128));
  check("cut short");
  std::filesystem::remove(Dir() / "bad.mat");
  check("not there");
}

// The overwrite question is the dat file's, checked with the hex files.
TEST_F(MatFileTest, SaveDialogRefusesAndRemembersTheFolder) {
  HeldData held = VsHeld();
  std::filesystem::create_directories(Dir() / "mat");
  MatSaveRequest request;
  request.programDirectory = Dir(), request.directories = &dirs_;
  FileHost host;
  host.files.push_back((Dir() / "mat" / "first").string());
  ASSERT_TRUE(SaveMatFile(host, request, held));
  EXPECT_EQ(request.chosen, Dir() / "mat" / "first.mat");
  EXPECT_EQ(dirs_.mat, (Dir() / "mat").string());
  // A folder that does not exist: the status line names the file.
  host.files.push_back((Dir() / "nowhere" / "x.mat").string());
  EXPECT_FALSE(SaveMatFile(host, request, held));
  EXPECT_EQ(host.status[1], "Unable to open file: " + (Dir() / "nowhere" / "x.mat").string());

  // Generic ASCII data are refused before any dialog.
  held.cards.genericSerial = true;
  held.cards.ascii = true;
  const size_t choices = host.choices.size();
  EXPECT_FALSE(SaveMatFile(host, request, held));
  EXPECT_TRUE(host.Saw(
      "tell", "These ASCII data from a generic front end can not be saved in the MATLAB format."));
  EXPECT_EQ(host.choices.size(), choices);
}

TEST_F(MatFileTest, SciPyReadsWhatWasWritten) {
  if (!PythonHas("scipy.io")) GTEST_SKIP() << kPython << " cannot import scipy";
  HeldData held = WaveHeld();
  held.data.logger.channelTypes = "TC";
  held.data.stamps.records[1].gain[5] = 7;
  const auto path = Write(held, kMatTimePerRow, kMatTimeDatenum, "scipy.mat", {{2.5f}});
  const std::string script = R"PY(
import sys, scipy.io
path = sys.argv[1]
raw = scipy.io.loadmat(path, chars_as_strings=False)
print("vars", ", ".join("%s %s %s" % (n, "x".join(str(s) for s in raw[n].shape), c)
                        for n, _, c in scipy.io.whosmat(path)))
m = scipy.io.loadmat(path)
print("name", repr(str(m["loggername"][0])))
d = m["loggerdata"]
print("data", d.dtype, " ".join(repr(float(v)) for v in d.flatten(order="F")))
print("names", "|".join(str(s) for s in m["loggerchannelnames"]))
print("period", repr(float(m["loggersampleperiod"][0, 0])))
t = m["loggertimes"]
print("times", t.dtype, " ".join(repr(float(v)) for v in t.flatten()) if t.dtype.kind == "f"
      else "|".join(str(s) for s in t))
if "loggerwavedata" in m:
    print("wave", " ".join(repr(float(v)) for v in m["loggerwavedata"].flatten(order="F")))
    print("surface", repr(float(m["loggerwavedatasurface"][0, 0])))
    print("wavetimes", "|".join(str(s) for s in m["loggerwavetimes"]))
)PY";
  std::istringstream out(RunPython(Dir(), script, path));
  std::map<std::string, std::string> lines;
  for (std::string line; std::getline(out, line);)
    if (const size_t sp = line.find(' '); sp != std::string::npos)
      lines[line.substr(0, sp)] = line.substr(sp + 1);
  EXPECT_EQ(lines["vars"],
            "loggername 1x25 char, loggerdata 6x2 single, loggerchannelnames 2x4 char, "
            "loggersampleperiod 1x1 single, loggeraveragingperiod 1x1 single, loggertimes 1x6 "
            "double, loggerwaverate 1x1 single, loggerheight 1x1 single, loggerwavedata 8x3 "
            "single, loggerwavedatasurface 8x3 single, loggerwavetimes 3x20 char, loggerprivate "
            "1x396 uint32");
  EXPECT_EQ(lines["name"], "'KLX NMJ-7400  4.20 012345'");
  EXPECT_EQ(lines["data"], "float32 0.0 0.25 0.5 0.75 1.0 1.25 10.0 10.25 10.5 10.75 11.0 11.25");
  EXPECT_EQ(lines["names"], "Temp|Cond");
  EXPECT_EQ(lines["period"], "10.0");
  // Rows 0..5 with burst stamps at rows 0, 2 and 4 (13:00, 14:00, 15:00).
  const double h13 = MatDatenum(At(2024, 3, 1, 13, 0, 0));
  EXPECT_EQ(lines["times"].substr(0, 8), "float64 ");
  std::istringstream tv(lines["times"].substr(8));
  std::vector<double> t((std::istream_iterator<double>(tv)), std::istream_iterator<double>());
  ASSERT_EQ(t.size(), 6u);
  EXPECT_DOUBLE_EQ(t[0], h13);
  EXPECT_DOUBLE_EQ(t[2], h13 + 1.0 / 24);
  EXPECT_DOUBLE_EQ(t[5], h13 + 2.0 / 24 + 10.0 / 86400);
  EXPECT_EQ(lines["wave"].substr(0, 14), "10.0 10.125 10");
  EXPECT_NE(lines["wave"].find("12.5 -1000.0 -1000.0 -1000.0"), std::string::npos);
  EXPECT_EQ(lines["surface"], "2.5");
  EXPECT_EQ(lines["wavetimes"], "01-Mar-2024 13:00:00|01-Mar-2024 14:00:00|01-Mar-2024 15:00:00");
}

}  // namespace
}  // namespace klx::test
