// NetCDF files read by python netCDF4 against the dat file of the same data (times in UTC).
#include "files/netcdf_file.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>
#include <csignal>
#include <ctime>
#include <map>
#include <sstream>

#include "decoding/channel_types.h"
#include "files/dat_file.h"
#include "files/files_fixture.h"
#include "shell/text_file.h"
#include "sim/sim_host.h"
#include "sim/sim_profile.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

bool ReaderAvailable() {
  static const bool ok = PythonHas("netCDF4");
  return ok;
}

// What the reader saw: global attributes, each variable's dimensions, attributes and values.
struct NcVar {
  std::string dims;
  std::map<std::string, std::string> attrs;
  std::vector<double> values;  // unmasked
  size_t masked = 0;
  bool zlib = false;
};
struct NcFile {
  std::map<std::string, std::string> global;
  std::map<std::string, NcVar> vars;
};

const char* const kDumpScript = R"(import sys, netCDF4, numpy as np
ds = netCDF4.Dataset(sys.argv[1])
print('G data_model', ds.data_model)
for a in ds.ncattrs():
    print('G', a, str(ds.getncattr(a)).replace('\n', ' '))
for name, v in ds.variables.items():
    print('V', name, ','.join(v.dimensions) or '-', 1 if v.filters().get('zlib') else 0)
    for a in v.ncattrs():
        print('A', name, a, ' '.join(str(x) for x in np.atleast_1d(v.getncattr(a))))
    print('M', name, int(np.ma.count_masked(v[...])))
    v.set_auto_mask(False)
    x = np.ravel(v[...])
    print('D', name, b''.join(x).decode() if x.dtype.kind == 'S' else ' '.join('%.9g' % e for e in x))
)";

NcFile ReadWithPython(const fs::path& nc, const fs::path& dir) {
  NcFile out;
  std::istringstream lines(RunPython(dir, kDumpScript, nc));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::string kind, name, attr;
    in >> kind >> name;
    if (kind == "G") {
      std::getline(in >> std::ws, out.global[name]);
      continue;
    }
    NcVar& v = out.vars[name];
    if (kind == "V") {
      in >> v.dims >> v.zlib;
    } else if (kind == "A") {
      in >> attr >> std::ws;
      std::getline(in, v.attrs[attr]);
    } else if (kind == "M") {
      in >> v.masked;
    } else {
      for (double x; in >> x;) v.values.push_back(x);
    }
  }
  return out;
}

// The dat file's rows: the time of each (as UTC seconds if the clock were UTC) and its values.
struct DatRows {
  std::vector<double> seconds;
  std::vector<std::vector<double>> values;  // by row
};

DatRows ParseDat(const std::string& text, int rows) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  DatRows out;
  for (size_t i = lines.size() - static_cast<size_t>(rows); i < lines.size(); ++i) {
    std::tm tm{};
    const char* rest = ::strptime(lines[i].c_str(), "%Y/%m/%d %H:%M:%S", &tm);
    if (rest == nullptr) {
      ADD_FAILURE() << "dat row without a time: " << lines[i];
      return out;
    }
    out.seconds.push_back(static_cast<double>(::timegm(&tm)));
    std::istringstream r(rest);
    out.values.emplace_back(std::istream_iterator<double>(r), std::istream_iterator<double>());
  }
  return out;
}

// A simulated logger retrieved into a session with the derived channels switched on.
struct Rig : sim::test::SimSession<> {
  explicit Rig(const std::string& profileName, const std::string& stamps = "")
      : SimSession(profileName, [&stamps](sim::SimProfile& p) {
          std::string error;
          EXPECT_TRUE(stamps.empty() || sim::ApplyProfileSetting("stamps", stamps, p, error))
              << error;
        }) {
    DerivedUnitSettings& d = session.settings.derived;
    d.depthOn = d.depthSeawater = true;
    d.latitudeDegrees = -33, d.latitudeMinutes = 30.0;  // 33 degrees 30 minutes south
    d.salinityOn = d.specificConductivityOn = d.densityAnomalyOn = true;
    d.speedOfSoundOn = d.soundUnesco = true;
  }
  bool RetrieveData() { return Retrieve() && !session.held.data.Empty(); }
  std::string Dat() const {
    return DatFileText(HeaderInputsOf(session.held, DatLayout::E, session.settings.derived));
  }
};

// Checks the whole file against the dat text of the same data, with the offset in seconds.
void CheckAgainstDat(const NcFile& nc, const HeldData& held, const std::string& dat,
                     int offsetSeconds) {
  const DataSet& data = held.data;
  const int rows = data.samplesPerChannel;
  EXPECT_EQ(nc.global.at("data_model"), "NETCDF4_CLASSIC");
  EXPECT_EQ(nc.global.at("logger_serial_number"), CFormat("%06d", data.logger.serial));
  EXPECT_NE(nc.global.at("history").find(std::string("klx ") + kSoftwareVersion),
            std::string::npos);
  EXPECT_EQ(nc.global.at("derived_latitude_degrees"), "-33.5");
  // The seawater depth's latitude is the logger's; without such a depth it is not known.
  const std::string& letters = data.logger.channelTypes;
  const bool depth = letters.find(static_cast<char>(kLetterDerivedDepth)) != std::string::npos;
  EXPECT_EQ(nc.vars.at("lat").values, std::vector<double>{depth ? -33.5 : -1000.0});
  EXPECT_EQ(nc.vars.at("time").attrs.at("units"), "seconds since 1970-01-01 00:00:00 UTC");

  const DatRows dat_rows = ParseDat(dat, rows);
  ASSERT_EQ(dat_rows.seconds.size(), static_cast<size_t>(rows));
  const NcVar& time = nc.vars.at("time");
  ASSERT_EQ(time.values.size(), static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r)
    ASSERT_EQ(time.values[r], dat_rows.seconds[r] - offsetSeconds) << "row " << r;

  // Each channel variable names its channel; the dat file has no wave-height column.
  std::vector<std::string> channelVars(static_cast<size_t>(data.channelCount));
  for (const auto& [name, v] : nc.vars)
    if (v.attrs.count("logger_channel"))
      channelVars.at(std::stoul(v.attrs.at("logger_channel")) - 1) = name;
  size_t datColumn = 0;
  for (int ch = 0; ch < data.channelCount; ++ch) {
    const uint8_t letter = static_cast<uint8_t>(letters[static_cast<size_t>(ch)]);
    const NcVar& v = nc.vars.at(channelVars[static_cast<size_t>(ch)]);
    SCOPED_TRACE(channelVars[static_cast<size_t>(ch)]);
    EXPECT_EQ(v.dims + v.attrs.at("_FillValue") + (v.zlib ? " zlib" : ""), "time-1000.0 zlib");
    // A micro-salinometer's conductivity channels give a ratio of voltages.
    const bool ratio = data.logger.ModelHas("HL-240") &&
                       (letter == 'C' || letter == 's' || letter == kLetterCorrectedConductivity);
    EXPECT_EQ(v.attrs.at("units") == "1", ratio || letter == 'S');
    // CF's names and units, in the distinguishing cases.
    const std::string standard = v.attrs.count("standard_name") ? v.attrs.at("standard_name") : "";
    EXPECT_TRUE(letter != 'T' ||
                standard + " " + v.attrs.at("units") == "sea_water_temperature degree_Celsius")
        << standard;
    EXPECT_TRUE(letter != 'C' || standard == (ratio ? "" : "sea_water_electrical_conductivity"));
    EXPECT_TRUE(letter != kLetterDerivedDepth ||
                standard + " " + v.attrs.at("positive") == "depth down")
        << standard;
    ASSERT_EQ(v.values.size(), static_cast<size_t>(rows));
    if (letter == kLetterSignificantWaveHeight) continue;
    size_t missing = 0;
    for (int r = 0; r < rows; ++r) {
      const double want = dat_rows.values[static_cast<size_t>(r)].at(datColumn);
      if (want == -1000.0) ++missing;
      // "%9.4f": half a unit in the last place, plus a float's rounding of large values.
      ASSERT_NEAR(v.values[static_cast<size_t>(r)], want, 5.01e-5 + std::fabs(want) * 1.2e-7)
          << "row " << r;
    }
    EXPECT_EQ(v.masked, missing);
    ++datColumn;
  }
}

class Families : public ::testing::TestWithParam<const char*> {};

TEST_P(Families, ReadBackEqualsTheDatFileShiftedToUtc) {
  if (!ReaderAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import netCDF4";
  Rig rig(GetParam());
  ASSERT_TRUE(rig.RetrieveData());
  DataSet& data = rig.session.held.data;
  if (!data.bursts.empty()) data.bursts.back().stats.flag = kWaveError;
  NetcdfWriteOptions options;
  options.utcOffsetSeconds = ParseUtcOffset("-03:30");
  options.derived = rig.session.settings.derived;
  const fs::path nc = rig.dir / "out.nc";
  ASSERT_EQ(WriteNetcdfFile(nc, rig.session.held, options), "");
  const NcFile file = ReadWithPython(nc, rig.dir);
  EXPECT_EQ(file.global.at("logger_clock_utc_offset"), "-03:30");
  CheckAgainstDat(file, rig.session.held, rig.Dat(), -(3 * 3600 + 1800));
  const auto& held = rig.session.held.data.bursts;
  if (held.empty()) return;
  const NcVar& bursts = file.vars.at("burst_pressure");
  EXPECT_EQ(bursts.dims, "burst,burst_sample");
  // Each burst's series and statistics in its place; the last, an error, has missing results.
  const NcVar& hm0 = file.vars.at("burst_hm0");
  const NcVar& surface = file.vars.at("burst_surface_elevation");
  ASSERT_EQ(hm0.values.size(), held.size());
  const size_t length = surface.values.size() / held.size();
  ASSERT_EQ(bursts.values.size(), held.size() * length);
  for (size_t j = 0; j < held.size(); ++j) {
    const bool error = j + 1 == held.size();
    ASSERT_EQ(held[j].stats.analysed, true);
    EXPECT_EQ(file.vars.at("burst_flag").values[j], error ? kWaveError : held[j].stats.flag);
    EXPECT_FLOAT_EQ(hm0.values[j], error ? kMissingValue : held[j].stats.h13) << "burst " << j;
    for (size_t i = 0; i < held[j].samples.size(); ++i) {
      ASSERT_FLOAT_EQ(bursts.values[j * length + i], held[j].samples[i]) << j << " " << i;
      ASSERT_FLOAT_EQ(surface.values[j * length + i], error ? kMissingValue : held[j].surface[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(NetCdf, Families,
                         ::testing::Values("VS-330", "NA-7100", "NMV-7400", "NMJ-7400", "VS-550",
                                           "HL-240"));

TEST(NetCdf, StampsGapsAndMissingSamples) {
  if (!ReaderAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import netCDF4";
  // A cold start after an hour's break at row 1500, a recovery at 3200, a stop at the end.
  Rig rig("VS-330", "CLD:1500 REC:3200 STP");
  ASSERT_TRUE(rig.RetrieveData());
  HeldData& held = rig.session.held;
  // Temperature lost for ten rows: the reader sees masked samples, the derived keep their values.
  for (int r = 100; r < 110; ++r) held.data.series[0][static_cast<size_t>(r)] = kMissingValue;
  NetcdfWriteOptions options;
  options.utcOffsetSeconds = 5 * 3600 + 45 * 60;
  options.derived = rig.session.settings.derived;
  const fs::path nc = rig.dir / "stamps.nc";
  ASSERT_EQ(WriteNetcdfFile(nc, held, options), "");
  const NcFile file = ReadWithPython(nc, rig.dir);
  CheckAgainstDat(file, held, rig.Dat(), options.utcOffsetSeconds.value());
  EXPECT_EQ(file.vars.at("temperature").masked, 10u);

  // Each stamp's row, type and time (a stamp restarts the rows' times); the cold start's break.
  const auto& stamps = held.data.stamps.records;
  const auto& t = file.vars.at("time").values;
  ASSERT_GE(stamps.size(), 3u);
  ASSERT_EQ(file.vars.at("stamp_row").values.size(), stamps.size());
  for (size_t i = 0; i < stamps.size(); ++i) {
    const size_t r = stamps[i].sampleIndex;
    EXPECT_EQ(file.vars.at("stamp_row").values[i], r);
    EXPECT_EQ(file.vars.at("stamp_type").values.at(i), stamps[i].type);
    EXPECT_TRUE(r >= t.size() || file.vars.at("stamp_time").values[i] == t[r]) << i;
    EXPECT_TRUE(stamps[i].type != kStampCold || t[r] - t[r - 1] >= 3600.0) << "the hour's break";
  }
  EXPECT_TRUE(std::any_of(stamps.begin(), stamps.end(),
                          [](const StampRecord& r) { return r.type == kStampCold; }));
}

// Without a stated offset the host's own, either side of summer time; the host time labelled.
TEST(NetCdf, DefaultOffsetAndTheRetrievalTimeLabels) {
  if (!ReaderAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import netCDF4";
  const std::string savedTz = std::getenv("TZ") ? std::getenv("TZ") : "";
  // Central European time: +01:00 in winter, +02:00 from the last Sunday of March.
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  const std::pair<SystemTime, const char*> cases[] = {
      {MakeSystemTime(2026, 3, 29, 1, 59, 0), "+01:00"},
      {MakeSystemTime(2026, 3, 29, 3, 0, 0), "+02:00"}};
  Rig rig("NA-7100");
  ASSERT_TRUE(rig.RetrieveData());
  const fs::path nc = rig.dir / "default.nc";
  const DatRows dat = ParseDat(rig.Dat(), rig.session.held.data.samplesPerChannel);
  for (const auto& [hostTime, offset] : cases) {
    rig.session.held.image.snapshot.hostTime = hostTime;
    ASSERT_EQ(WriteNetcdfFile(nc, rig.session.held, NetcdfWriteOptions{}), "");
    const NcFile file = ReadWithPython(nc, rig.dir);
    EXPECT_EQ(file.global.at("logger_clock_utc_offset"), offset);
    EXPECT_EQ(file.vars.at("time").values.front(),
              dat.seconds.front() - ParseUtcOffset(offset).value());
  }
  NetcdfWriteOptions stated;
  stated.utcOffsetSeconds = -(3 * 3600 + 1800);
  ASSERT_EQ(WriteNetcdfFile(nc, rig.session.held, stated), "");
  const NcFile file = ReadWithPython(nc, rig.dir);
  EXPECT_EQ(file.global.at("host_time_at_retrieval"), "2026-03-29T03:00:00+02:00");
  EXPECT_EQ(file.global.at("logger_time_at_retrieval").substr(19), "-03:30");
  EXPECT_EQ(file.global.count("calibration_channel_1"), 1u);
  savedTz.empty() ? ::unsetenv("TZ") : ::setenv("TZ", savedTz.c_str(), 1);
  ::tzset();
}

TEST(NetCdf, UtcOffsetTexts) {
  const struct {
    const char* text;
    std::optional<int> seconds;
  } cases[] = {
      {"-03:30", -12600}, {"+0545", 20700}, {"-11", -39600}, {"Z", 0},       {"+14:00", 50400},
      {"+14:30", {}},     {"-12:01", {}},   {"02:00", {}},   {"+02:60", {}}, {"+02:0", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseUtcOffset(c.text), c.seconds) << c.text;
    EXPECT_EQ(ParseUtcOffset(UtcOffsetText(c.seconds.value_or(-3600))), c.seconds.value_or(-3600));
  }
}

// A failed write (past a child's size limit; an empty data set) leaves what stood there alone.
TEST(NetCdf, AFailedWriteLeavesWhatStoodThereAndNoTemporary) {
  const fs::path dir =
      fs::temp_directory_path() / ("klx-netcdf-fail-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "keep.nc") << "precious\n";
  HeldData held;
  held.data.logger.channelCount = held.data.channelCount = 1, held.data.samplesPerChannel = 3;
  held.data.series = {{1.0f, 2.0f, 3.0f, 1.0f, 3.0f}};
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::exit(WriteNetcdfFile(dir / "keep.nc", held, NetcdfWriteOptions{}).empty() ? 3 : 0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ((std::stringstream() << std::ifstream(dir / "keep.nc").rdbuf()).str(), "precious\n");
  EXPECT_NE(WriteNetcdfFile(dir / "empty.nc", HeldData{}, NetcdfWriteOptions{}), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_EQ(WriteNetcdfFile(dir / "keep.nc", held, NetcdfWriteOptions{}), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // The menu command reports a write that failed, and does not call it written.
  FileHost host;
  host.files = {(dir / "no such folder" / "x.nc").string()};
  NetcdfSaveRequest request;
  EXPECT_FALSE(SaveNetcdfFile(host, request, held));
  EXPECT_TRUE(request.chosen.empty());
  EXPECT_TRUE(host.Saw("status", "x.nc"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace klx::test
