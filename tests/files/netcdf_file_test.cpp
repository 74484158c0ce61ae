// NetCDF files of simulated loggers' data, opened with an independent reader (python netCDF4)
// and held against the dat file of the same data: every variable with its unit, standard name
// and fill value, times that are the dat rows' times shifted to UTC, values that are the dat
// file's to its printed precision, stamps, gaps and missing samples.
#include "files/netcdf_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "decoding/channel_types.h"
#include "files/dat_file.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "session/retrieval.h"
#include "session/session.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"
#include "waves/analysis.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

bool ReaderAvailable() {
  static const bool ok =
      std::system((std::string(kPython) + " -c 'import netCDF4' >/dev/null 2>&1").c_str()) == 0;
  return ok;
}

// What the reader saw: global attributes, and each variable's dimensions, attributes and values.
struct NcVar {
  std::string dims;
  std::map<std::string, std::string> attrs;
  std::vector<double> values;  // unmasked
  size_t masked = 0;
  bool zlib = false;
};
struct NcFile {
  std::string model;
  std::map<std::string, std::string> global;
  std::map<std::string, NcVar> vars;
  std::vector<std::string> order;
};

const char* const kDumpScript = R"(import sys, netCDF4, numpy as np
ds = netCDF4.Dataset(sys.argv[1])
print('model', ds.data_model)
for a in ds.ncattrs():
    print('G', a, str(ds.getncattr(a)).replace('\n', ' '))
for name, v in ds.variables.items():
    print('V', name, ','.join(v.dimensions) or '-', 1 if v.filters().get('zlib') else 0)
    for a in v.ncattrs():
        print('A', name, a, ' '.join(str(x) for x in np.atleast_1d(v.getncattr(a))))
    print('M', name, int(np.ma.count_masked(v[...])))
    v.set_auto_mask(False)
    print('D', name, ' '.join('%.9g' % x for x in np.ravel(v[...])))
)";

NcFile ReadWithPython(const fs::path& nc, const fs::path& dir) {
  const fs::path script = dir / "dump.py";
  std::ofstream(script) << kDumpScript;
  NcFile out;
  const std::string command = std::string(kPython) + " " + script.string() + " " + nc.string();
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  ::pclose(p);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string kind, name;
    in >> kind >> name;
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (kind == "model") {
      out.model = name;
    } else if (kind == "G") {
      out.global[name] = rest;
    } else if (kind == "V") {
      std::istringstream r(rest);
      NcVar& v = out.vars[name];
      int zlib = 0;
      r >> v.dims >> zlib;
      v.zlib = zlib != 0;
      out.order.push_back(name);
    } else if (kind == "A") {
      std::istringstream r(rest);
      std::string attr;
      r >> attr;
      std::getline(r >> std::ws, out.vars[name].attrs[attr]);
    } else if (kind == "M") {
      out.vars[name].masked = std::stoul(rest);
    } else if (kind == "D") {
      std::istringstream r(rest);
      double x;
      while (r >> x) out.vars[name].values.push_back(x);
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
    std::vector<double> v;
    for (double x; r >> x;) v.push_back(x);
    out.values.push_back(std::move(v));
  }
  return out;
}

// A simulated logger retrieved into a session with the derived channels switched on.
struct Rig {
  explicit Rig(const std::string& profileName, const std::string& stamps = "")
      : dir(fs::temp_directory_path() /
            ("klx-netcdf-" + std::to_string(::getpid()) + "-" + std::to_string(counter++))),
        session((fs::create_directories(dir), host), clock, dir, {}) {
    sims = sim::RegisterSimTransport(session.transports, clock);
    sim::SimProfile p;
    std::string error;
    EXPECT_TRUE(sim::LoadProfile(profileName, p, error)) << error;
    if (!stamps.empty()) {
      EXPECT_TRUE(sim::ApplyProfileSetting("stamps", stamps, p, error)) << error;
    }
    logger = std::make_shared<sim::SimLogger>(p);
    sims->Add("test", logger);
    session.ReadSettings();
    DerivedUnitSettings& d = session.settings.derived;
    d.depthOn = d.depthSeawater = true;
    d.salinityOn = d.specificConductivityOn = d.densityAnomalyOn = true;
    d.speedOfSoundOn = d.soundUnesco = true;
    std::string portError;
    EXPECT_TRUE(session.SelectPort("sim:test", &portError)) << portError;
  }
  ~Rig() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  bool Retrieve() {
    Retrieval r(session);
    if (!r.Open() || !r.Begin(false)) return false;
    while (r.Tick()) {
    }
    return !session.held.data.Empty();
  }
  std::string Dat() const {
    return DatFileText(HeaderInputsOf(session.held, DatLayout::E, session.settings.derived));
  }

  static inline int counter = 0;
  fs::path dir;
  VirtualClock clock{SystemTime{2026, 9, 1, 2, 12, 0, 0, 0}};
  RecordingHost host;
  Session session;
  std::shared_ptr<sim::SimLoggers> sims;
  std::shared_ptr<sim::SimLogger> logger;
};

// What CF asks of the channels this program knows a standard name for.
struct Expected {
  uint8_t letter;
  const char* units;
  const char* standardName;
};
const Expected kExpected[] = {
    {'T', "degree_Celsius", "sea_water_temperature"},
    {'P', "dbar", "sea_water_pressure"},
    {'C', nullptr, "sea_water_electrical_conductivity"},
    {kLetterDerivedDepth, "m", "depth"},
    {'S', "1", "sea_water_practical_salinity"},
    {'u', "m s-1", "speed_of_sound_in_sea_water"},
    {kLetterDensityAnomaly, "kg m-3", nullptr},
};

// Checks the whole file against the dat text of the same data, with the offset in seconds.
void CheckAgainstDat(const NcFile& nc, const HeldData& held, const std::string& dat,
                     int offsetSeconds) {
  const DataSet& data = held.data;
  const int rows = data.samplesPerChannel;
  EXPECT_EQ(nc.model, "NETCDF4_CLASSIC");
  EXPECT_EQ(nc.global.at("Conventions"), "CF-1.8");
  EXPECT_EQ(nc.global.at("featureType"), "timeSeries");
  EXPECT_EQ(nc.global.at("logger_model"), data.logger.model);
  EXPECT_EQ(nc.global.at("logger_serial_number"), std::to_string(data.logger.serial));
  EXPECT_NE(nc.global.at("history").find("klx 6.13"), std::string::npos);
  ASSERT_TRUE(nc.vars.count("time"));
  EXPECT_EQ(nc.vars.at("time").attrs.at("units"), "seconds since 1970-01-01 00:00:00 UTC");

  const DatRows dat_rows = ParseDat(dat, rows);
  ASSERT_EQ(dat_rows.seconds.size(), static_cast<size_t>(rows));
  const NcVar& time = nc.vars.at("time");
  ASSERT_EQ(time.values.size(), static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r)
    ASSERT_EQ(time.values[r], dat_rows.seconds[r] - offsetSeconds) << "row " << r;

  // Channel variables stand after "time" and "instrument", in channel order; the dat file
  // leaves out a significant-wave-height column.
  const std::string& letters = data.logger.channelTypes;
  std::vector<std::string> channelVars;
  for (const auto& name : nc.order)
    if (nc.vars.at(name).dims == "time" && name != "time") channelVars.push_back(name);
  ASSERT_EQ(channelVars.size(), static_cast<size_t>(data.channelCount));
  size_t datColumn = 0;
  for (int ch = 0; ch < data.channelCount; ++ch) {
    const uint8_t letter = static_cast<uint8_t>(letters[static_cast<size_t>(ch)]);
    const NcVar& v = nc.vars.at(channelVars[static_cast<size_t>(ch)]);
    SCOPED_TRACE(channelVars[static_cast<size_t>(ch)]);
    EXPECT_TRUE(v.zlib);
    EXPECT_EQ(v.attrs.at("_FillValue"), "-1000.0");
    EXPECT_FALSE(v.attrs.at("long_name").empty());
    EXPECT_FALSE(v.attrs.at("units").empty());
    for (const Expected& e : kExpected) {
      if (e.letter != letter) continue;
      if (e.units) {
        EXPECT_EQ(v.attrs.at("units"), e.units);
      }
      if (e.standardName) {
        EXPECT_EQ(v.attrs.at("standard_name"), e.standardName);
      } else {
        EXPECT_EQ(v.attrs.count("standard_name"), 0u);
      }
    }
    if (letter == kLetterDerivedDepth) {
      EXPECT_EQ(v.attrs.at("positive"), "down");
    }
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
  ASSERT_TRUE(rig.Retrieve());
  DataSet& data = rig.session.held.data;
  if (!data.bursts.empty() && !data.bursts[0].stats.analysed) {
    WaveAnalyser analyser;
    AnalyseAllBursts(
        data,
        WaveSetupOf(data, rig.session.held.image.snapshot.parameters, rig.session.settings.derived),
        analyser);
  }
  NetcdfWriteOptions options;
  options.utcOffsetSeconds = ParseUtcOffset("-03:30");
  options.derived = rig.session.settings.derived;
  const fs::path nc = rig.dir / "out.nc";
  ASSERT_EQ(WriteNetcdfFile(nc, rig.session.held, options), "");
  const NcFile file = ReadWithPython(nc, rig.dir);
  EXPECT_EQ(file.global.at("logger_clock_utc_offset"), "-03:30");
  CheckAgainstDat(file, rig.session.held, rig.Dat(), -(3 * 3600 + 1800));
  if (!rig.session.held.data.bursts.empty()) {
    const NcVar& bursts = file.vars.at("burst_pressure");
    EXPECT_EQ(bursts.dims, "burst,burst_sample");
    const auto& first = rig.session.held.data.bursts[0].samples;
    ASSERT_GE(bursts.values.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_FLOAT_EQ(bursts.values[i], first[i]);
    // The analysed bursts' statistics along the same dimension: Hm0 is four times the root of
    // the surface elevation's variance, and that variance is the one of the written series.
    const auto& held = rig.session.held.data.bursts;
    ASSERT_TRUE(held[0].stats.analysed);
    const NcVar& hm0 = file.vars.at("burst_hm0");
    const NcVar& variance = file.vars.at("burst_variance");
    const NcVar& surface = file.vars.at("burst_surface_elevation");
    EXPECT_EQ(hm0.attrs.at("standard_name"), "sea_surface_wave_significant_height");
    ASSERT_EQ(hm0.values.size(), held.size());
    const size_t length = surface.values.size() / held.size();
    for (size_t j = 0; j < held.size(); ++j) {
      EXPECT_NEAR(hm0.values[j], 4.0 * std::sqrt(variance.values[j]), 1e-4);
      double sum = 0.0, squares = 0.0;
      for (size_t i = 0; i < length; ++i) sum += surface.values[j * length + i];
      const double mean = sum / static_cast<double>(length);
      for (size_t i = 0; i < length; ++i)
        squares += std::pow(surface.values[j * length + i] - mean, 2.0);
      EXPECT_NEAR(variance.values[j], squares / static_cast<double>(length),
                  0.05 * variance.values[j] + 1e-6)
          << "burst " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(NetCdf, Families,
                         ::testing::Values("VS-330", "NA-7100", "NMV-7400", "NMJ-7400", "VS-550"));

TEST(NetCdf, StampsGapsAndMissingSamples) {
  if (!ReaderAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import netCDF4";
  // A cold start after an hour's break at row 1500, a recovery at 3200, a stop at the end.
  Rig rig("VS-330", "CLD:1500 REC:3200 STP");
  ASSERT_TRUE(rig.Retrieve());
  HeldData& held = rig.session.held;
  // Temperature lost for ten rows: every derived channel keeps its own values, the dat file
  // prints -1000.0000 and the reader must see masked samples.
  for (int r = 100; r < 110; ++r) held.data.series[0][static_cast<size_t>(r)] = kMissingValue;
  NetcdfWriteOptions options;
  options.utcOffsetSeconds = 5 * 3600 + 45 * 60;
  options.derived = rig.session.settings.derived;
  const fs::path nc = rig.dir / "stamps.nc";
  ASSERT_EQ(WriteNetcdfFile(nc, held, options), "");
  const NcFile file = ReadWithPython(nc, rig.dir);
  const std::string dat = rig.Dat();
  CheckAgainstDat(file, held, dat, options.utcOffsetSeconds.value());
  EXPECT_EQ(file.vars.at("temperature").masked, 10u);

  const auto& stamps = held.data.stamps.records;
  ASSERT_GE(stamps.size(), 3u);
  const NcVar& row = file.vars.at("stamp_row");
  const NcVar& type = file.vars.at("stamp_type");
  const NcVar& when = file.vars.at("stamp_time");
  ASSERT_EQ(row.values.size(), stamps.size());
  ASSERT_EQ(type.values.size(), stamps.size());
  EXPECT_EQ(type.attrs.at("flag_meanings").substr(0, 23), "time_stamp cold_startup");
  const DatRows datRows = ParseDat(dat, held.data.samplesPerChannel);
  bool sawCold = false;
  for (size_t i = 0; i < stamps.size(); ++i) {
    EXPECT_EQ(row.values[i], stamps[i].sampleIndex);
    EXPECT_EQ(type.values[i], stamps[i].type);
    // A stamp inside the data restarts the rows' times: its row carries its time.
    if (stamps[i].sampleIndex < datRows.seconds.size()) {
      EXPECT_EQ(when.values[i], datRows.seconds[stamps[i].sampleIndex] - *options.utcOffsetSeconds);
    }
    if (stamps[i].type == kStampCold) {
      sawCold = true;
      const size_t r = stamps[i].sampleIndex;
      const auto& t = file.vars.at("time").values;
      EXPECT_GE(t[r] - t[r - 1], 3600.0) << "the hour's break shows in the time coordinate";
    }
  }
  EXPECT_TRUE(sawCold);
}

TEST(NetCdf, DefaultOffsetIsTheHostZonesAtTheRetrieval) {
  if (!ReaderAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import netCDF4";
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  // Central European time: +01:00 in winter, +02:00 from the last Sunday of March.
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  struct Case {
    SystemTime hostTime;
    const char* offset;
  };
  const Case cases[] = {
      {MakeSystemTime(2026, 1, 15, 12, 0, 0), "+01:00"},
      {MakeSystemTime(2026, 3, 29, 1, 59, 0), "+01:00"},
      {MakeSystemTime(2026, 3, 29, 3, 0, 0), "+02:00"},
      {MakeSystemTime(2026, 9, 1, 2, 12, 0), "+02:00"},
  };
  Rig rig("NA-7100");
  ASSERT_TRUE(rig.Retrieve());
  for (const Case& c : cases) {
    rig.session.held.image.snapshot.hostTime = c.hostTime;
    const fs::path nc = rig.dir / "default.nc";
    ASSERT_EQ(WriteNetcdfFile(nc, rig.session.held, NetcdfWriteOptions{}), "");
    const NcFile file = ReadWithPython(nc, rig.dir);
    EXPECT_EQ(file.global.at("logger_clock_utc_offset"), c.offset);
    const DatRows dat = ParseDat(rig.Dat(), rig.session.held.data.samplesPerChannel);
    const int seconds = ParseUtcOffset(c.offset).value();
    EXPECT_EQ(file.vars.at("time").values.front(), dat.seconds.front() - seconds);
  }
  if (saved)
    ::setenv("TZ", savedTz.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(NetCdf, UtcOffsetTexts) {
  const struct {
    const char* text;
    std::optional<int> seconds;
  } cases[] = {
      {"+02:00", 7200},  {"-03:30", -12600}, {"+0545", 20700}, {"-11", -39600}, {"Z", 0},
      {"+14:00", 50400}, {"+14:30", {}},     {"-12:01", {}},   {"02:00", {}},   {"+2:00", {}},
      {"+02:60", {}},    {"+02:0", {}},      {"", {}},         {"+ab:cd", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseUtcOffset(c.text), c.seconds) << c.text;
    if (c.seconds) {
      EXPECT_EQ(ParseUtcOffset(UtcOffsetText(*c.seconds)), c.seconds) << c.text;
    }
  }
}

TEST(NetCdf, AFailedWriteLeavesWhatStoodThereAndNoTemporary) {
  const fs::path dir =
      fs::temp_directory_path() / ("klx-netcdf-fail-" + std::to_string(::getpid()));
  fs::create_directories(dir / "taken.nc");
  HeldData held;
  held.data.logger.channelCount = held.data.channelCount = 1;
  held.data.logger.channelTypes = "T";
  held.data.samplesPerChannel = 3;
  held.data.series = {{1.0f, 2.0f, 3.0f, 1.0f, 3.0f}};
  // The whole file is written, then cannot take the place of a folder of that name.
  EXPECT_NE(WriteNetcdfFile(dir / "taken.nc", held, NetcdfWriteOptions{}), "");
  EXPECT_TRUE(fs::is_directory(dir / "taken.nc"));
  EXPECT_NE(WriteNetcdfFile(dir / "no-such-folder" / "x.nc", held, NetcdfWriteOptions{}), "");
  EXPECT_NE(WriteNetcdfFile(dir / "empty.nc", HeldData{}, NetcdfWriteOptions{}), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_EQ(WriteNetcdfFile(dir / "good.nc", held, NetcdfWriteOptions{}), "");
  EXPECT_TRUE(fs::is_regular_file(dir / "good.nc"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace klx::test
