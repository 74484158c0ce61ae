#include "files/netcdf_file.h"

#include <fcntl.h>
#include <netcdf.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <new>
#include <vector>

#include "decoding/channel_types.h"
#include "files/dat_file.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

namespace {

constexpr const char* kTimeUnits = "seconds since 1970-01-01 00:00:00 UTC";
// Chunks of this many rows: large enough to compress well, small enough to read a stretch.
constexpr size_t kChunkRows = 65536;

struct ChannelKind {
  const char* name;
  const char* units;
  const char* standardName;
};

// Conductivity follows the logger's unit; the oxygen concentrations the chosen unit.
std::string ConductivityUnits(const LoggerState& logger) {
  return logger.standardChannels ? "uS cm-1" : "mS cm-1";
}

ChannelKind OxygenConcentration(bool umol, bool mg) {
  if (umol)
    return {"", "umol L-1", "mole_concentration_of_dissolved_molecular_oxygen_in_sea_water"};
  if (mg) return {"", "mg L-1", "mass_concentration_of_oxygen_in_sea_water"};
  return {"", "mL L-1", "volume_fraction_of_oxygen_in_sea_water"};
}

ChannelKind KindOf(uint8_t letter, const DerivedUnitSettings& derived) {
  switch (letter) {
    case 'T':
      return {"temperature", "degree_Celsius", "sea_water_temperature"};
    case 'P':
    case 'L':
      return {"pressure", "dbar", "sea_water_pressure"};
    case 'C':
      return {"conductivity", "", "sea_water_electrical_conductivity"};
    case kLetterCorrectedConductivity:
      return {"corrected_conductivity", "", "sea_water_electrical_conductivity"};
    case 's':
      return {"specific_conductivity", "", ""};
    case 'D':
    case 'K':
    case kLetterOxygenSaturation:
      return {"oxygen_saturation", "percent", "fractional_saturation_of_oxygen_in_sea_water"};
    case 'J':
      return {"oxygen_concentration", "umol L-1",
              "mole_concentration_of_dissolved_molecular_oxygen_in_sea_water"};
    case 'X': {
      ChannelKind k = OxygenConcentration(derived.doUnitUMol, derived.doUnitMgPerL);
      k.name = "oxygen_concentration";
      return k;
    }
    case kLetterOxygenConcentration: {
      ChannelKind k = OxygenConcentration(false, derived.optodeUnitMgPerL);
      k.name = "oxygen_concentration";
      return k;
    }
    case 'Y':
    case 'y':
      return {"turbidity", "1", "sea_water_turbidity"};
    case 'F':
    case 'f':
      return {"chlorophyll", "ug L-1", "mass_concentration_of_chlorophyll_in_sea_water"};
    case 'G':
    case 'g':
      return {"rhodamine", "ug L-1", ""};
    case 'Z':
    case 'z':
      return {"phycoerythrin", "ug L-1", ""};
    case 'I':
    case 'i':
      return {"fluorescence_uv", "ug L-1", ""};
    case 'N':
      return {"transmissometer", "V", ""};
    case 'M':
    case 'V':
      return {"voltage", "V", ""};
    case 'R':
      return {"par", "umol m-2 s-1", "downwelling_photosynthetic_photon_flux_in_sea_water"};
    case 'H':
      return {"ph", "1", ""};
    case 'E':
      return {"echo_range", "m", ""};
    case 'A':
    case kLetterDerivedDepth:
      return {"depth", "m", "depth"};
    case 'S':
      return {"salinity", "1", "sea_water_practical_salinity"};
    case 'u':
    case 'd':
    case 'W':
      return {"speed_of_sound", "m s-1", "speed_of_sound_in_sea_water"};
    case kLetterDensityAnomaly:
      return {"density_anomaly", "kg m-3", ""};
    case kLetterSignificantWaveHeight:
      return {"significant_wave_height", "m", "sea_surface_wave_significant_height"};
    case kLetterTidalSlope:
      return {"tidal_slope", "m h-1", ""};
    case 'B':
      return {"generic", "1", ""};
    default:
      return {"unknown", "1", ""};
  }
}

// The title of a channel row without its number (" 3 - Temperature" gives "Temperature"), or
// its short name for the rows without a title.
std::string TitleOf(int row) {
  std::string label = ChannelLabel(row, 1);
  const size_t dash = label.find(" - ");
  if (dash != std::string::npos) label.erase(0, dash + 3);
  if (label.empty()) label.assign(kChannelTypeTable[row].code + 1, 10);
  const size_t begin = label.find_first_not_of(' ');
  const size_t end = label.find_last_not_of(' ');
  return begin == std::string::npos ? std::string() : label.substr(begin, end - begin + 1);
}

// Seconds since 1970 of a local calendar time, as if it were UTC.
double CalendarSeconds(const SystemTime& t) {
  return static_cast<double>(ToEpochMs(t)) / 1000.0;
}

// ISO 8601 text of a logger time with its offset ("2026-06-01T00:00:00+02:00").
std::string IsoText(const SystemTime& t, int offset) {
  return CFormat("%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                 t.second) +
         UtcOffsetText(offset);
}

std::string UtcIsoText(double seconds) {
  const SystemTime t = FromEpochMs(static_cast<int64_t>(std::floor(seconds)) * 1000);
  return CFormat("%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                 t.second);
}

// The time of each row as the dat file gives it (stamps restart the base, whole seconds of a
// running offset), with the fraction of a second the offset keeps under 6 Hz profiling.
std::vector<double> RowSeconds(const HeldData& held, size_t rows) {
  const DeploymentParameters& p = held.image.snapshot.parameters;
  std::vector<double> seconds;
  seconds.reserve(rows);
  DatRowClock clock(p.startTime, RowPeriodSeconds(p));
  const auto& stamps = held.data.stamps.records;
  size_t k = 0;
  for (size_t row = 0; row < rows; ++row) {
    while (k < stamps.size() && stamps[k].sampleIndex <= row) {
      if (stamps[k].sampleIndex == row) clock.Restart(stamps[k].time);
      ++k;
    }
    const double whole = CalendarSeconds(clock.RowTime());
    seconds.push_back(whole + (clock.Offset() - std::floor(clock.Offset())));
    clock.Advance();
  }
  return seconds;
}

// Names made unique in the file: a second temperature channel is "temperature_2".
std::string UniqueName(const std::string& base, std::vector<std::string>& taken) {
  std::string name = base;
  for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n)
    name = base + "_" + std::to_string(n);
  taken.push_back(name);
  return name;
}

std::string Lowered(const char* text) {
  std::string s(text);
  for (char& c : s)
    c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The writer of one file. Every call goes through Check, which keeps the first failure; later
// calls do nothing once one has failed.
class NetcdfWriter {
 public:
  NetcdfWriter(int ncid, const HeldData& held, const NetcdfWriteOptions& options, int offset)
      : nc_(ncid), held_(held), options_(options), offset_(offset) {}

  int Write();

 private:
  bool Check(int status) {
    if (status_ == NC_NOERR) status_ = status;
    return status_ == NC_NOERR;
  }
  void Text(int var, const char* name, const std::string& value) {
    if (status_ == NC_NOERR) Check(nc_put_att_text(nc_, var, name, value.size(), value.c_str()));
  }
  void Double(int var, const char* name, double value) {
    if (status_ == NC_NOERR) Check(nc_put_att_double(nc_, var, name, NC_DOUBLE, 1, &value));
  }
  void Doubles(int var, const char* name, const double* values, size_t n) {
    if (status_ == NC_NOERR) Check(nc_put_att_double(nc_, var, name, NC_DOUBLE, n, values));
  }
  void Int(int var, const char* name, int value) {
    if (status_ == NC_NOERR) Check(nc_put_att_int(nc_, var, name, NC_INT, 1, &value));
  }
  int DefineVar(const char* name, nc_type type, std::initializer_list<int> dims, bool compress);

  void GlobalAttributes(size_t rows, const std::vector<double>& times);
  void DefineStamps();
  void DefineBursts();

  int nc_;
  const HeldData& held_;
  const NetcdfWriteOptions& options_;
  int offset_;
  int status_ = NC_NOERR;
  int timeDim_ = -1, stampDim_ = -1, burstDim_ = -1, burstSampleDim_ = -1;
  int stampRowVar_ = -1, stampTypeVar_ = -1, stampTimeVar_ = -1;
  int burstTimeVar_ = -1, burstDataVar_ = -1, burstSurfaceVar_ = -1, burstFlagVar_ = -1;
  std::vector<int> statisticVars_;
  bool analysed_ = false;
  size_t burstLength_ = 0;
};

int NetcdfWriter::DefineVar(const char* name, nc_type type, std::initializer_list<int> dims,
                            bool compress) {
  int var = -1;
  const std::vector<int> ids(dims);
  if (!Check(nc_def_var(nc_, name, type, static_cast<int>(ids.size()), ids.data(), &var)))
    return -1;
  if (compress && options_.deflateLevel > 0)
    Check(nc_def_var_deflate(nc_, var, 1, 1, std::clamp(options_.deflateLevel, 1, 9)));
  return var;
}

void NetcdfWriter::GlobalAttributes(size_t rows, const std::vector<double>& times) {
  const DataSet& data = held_.data;
  const LoggerState& logger = data.logger;
  const DeploymentSnapshot& snap = held_.image.snapshot;
  const DeploymentParameters& p = snap.parameters;
  const DerivedUnitSettings& d = options_.derived;
  Text(NC_GLOBAL, "Conventions", "CF-1.8");
  Text(NC_GLOBAL, "featureType", "timeSeries");
  Text(NC_GLOBAL, "title", CFormat("KLX %s %06d time series", logger.model.c_str(), logger.serial));
  Text(NC_GLOBAL, "source",
       CFormat("KLX %s logger, firmware %.2f, serial number %06d", logger.model.c_str(),
               logger.firmware, logger.serial));
  const std::time_t now = std::time(nullptr);
  std::string history = UtcIsoText(static_cast<double>(now)) + " written by " + options_.program +
                        " " + kSoftwareVersion + " (KLX logger host software)";
  if (!held_.file.empty()) history += " from " + held_.file.filename().string();
  Text(NC_GLOBAL, "history", history);
  if (!held_.comment.empty()) Text(NC_GLOBAL, "comment", held_.comment);
  Text(NC_GLOBAL, "logger_model", logger.model);
  Double(NC_GLOBAL, "logger_firmware", std::round(logger.firmware * 100.0) / 100.0);
  Int(NC_GLOBAL, "logger_serial_number", logger.serial);
  Text(NC_GLOBAL, "logger_clock_utc_offset", UtcOffsetText(offset_));
  Text(NC_GLOBAL, "logger_clock_utc_offset_source",
       options_.utcOffsetSeconds ? "stated by the user" : "time zone of the host at the retrieval");
  if (held_.image.hasSnapshot) {
    Text(NC_GLOBAL, "host_time_at_retrieval", IsoText(snap.hostTime, offset_));
    Text(NC_GLOBAL, "logger_time_at_retrieval", IsoText(snap.loggerTime, offset_));
  }
  Text(NC_GLOBAL, "deployment_start", IsoText(p.startTime, offset_));
  Text(NC_GLOBAL, "deployment_end", IsoText(p.endTime, offset_));
  if (rows > 0) {
    Text(NC_GLOBAL, "time_coverage_start", UtcIsoText(times.front()));
    Text(NC_GLOBAL, "time_coverage_end", UtcIsoText(times.back()));
  }
  Double(NC_GLOBAL, "sample_period_seconds", RowPeriodSeconds(p));
  Text(NC_GLOBAL, "profiling_6Hz", p.profiling6Hz ? "yes" : "no");
  Double(NC_GLOBAL, "averaging_seconds", p.averagingEnabled ? p.averagingSeconds : 0.0);

  // Calibration: c0..c3 of each logger channel; the equation is the cubic in the raw fraction,
  // or its reciprocal less 273.15 in ln(1/x - 1) for thermistors.
  const int measured = std::clamp(logger.channelCount, 0, CalibrationCoefficients::kMaxChannels);
  for (int ch = 0; ch < measured; ++ch) {
    const auto& c = data.calibration.coef[static_cast<size_t>(ch)];
    Doubles(NC_GLOBAL, CFormat("calibration_channel_%d", ch + 1).c_str(), c.data(), c.size());
  }
  const auto& k = data.calibration.conductivityCorrection;
  Doubles(NC_GLOBAL, "conductivity_correction_a_b_tc_c", k.data(), k.size());

  // The derived settings the derived channels were computed with.
  Double(NC_GLOBAL, "derived_atmospheric_pressure_dbar", d.atmosphericPressure);
  Text(NC_GLOBAL, "derived_depth_method", d.depthSeawater ? "seawater" : "simplified");
  Double(NC_GLOBAL, "derived_water_density_g_cm3", d.density);
  Double(NC_GLOBAL, "derived_latitude_degrees", d.latitudeDegrees + d.latitudeMinutes / 60.0);
  Double(NC_GLOBAL, "derived_hydrostatic_pressure_dbar", d.hydrostaticPressure);
  Text(NC_GLOBAL, "derived_speed_of_sound_method",
       d.soundUnesco ? "UNESCO" : (d.soundDelGrosso ? "del Grosso" : "Wilson"));
  Double(NC_GLOBAL, "derived_oxygen_temperature_degC", d.doTemperature);
  Double(NC_GLOBAL, "derived_oxygen_salinity", d.doSalinity);
}

void NetcdfWriter::DefineStamps() {
  if (!Check(nc_def_dim(nc_, "stamp", NC_UNLIMITED, &stampDim_))) return;
  stampRowVar_ = DefineVar("stamp_row", NC_INT, {stampDim_}, false);
  Text(stampRowVar_, "long_name", "row of the first sample after the stamp");
  Text(stampRowVar_, "comment", "index along the time dimension, from 0");
  stampTypeVar_ = DefineVar("stamp_type", NC_BYTE, {stampDim_}, false);
  Text(stampTypeVar_, "long_name", "stamp type");
  std::vector<signed char> values;
  std::string meanings;
  for (int t = 0; t < kStampCodeCount; ++t) {
    values.push_back(static_cast<signed char>(t));
    if (t > 0) meanings += ' ';
    meanings += Lowered(kStampCodes[t].name);
  }
  if (status_ == NC_NOERR)
    Check(
        nc_put_att_schar(nc_, stampTypeVar_, "flag_values", NC_BYTE, values.size(), values.data()));
  Text(stampTypeVar_, "flag_meanings", meanings);
  stampTimeVar_ = DefineVar("stamp_time", NC_DOUBLE, {stampDim_}, false);
  Text(stampTimeVar_, "long_name", "time of the stamp");
  Text(stampTimeVar_, "units", kTimeUnits);
  Text(stampTimeVar_, "calendar", "standard");
}

// The statistics of an analysed burst, one variable each along "burst".
struct BurstStatistic {
  const char* name;
  const char* units;
  const char* standardName;
  const char* longName;
  float WaveStatistics::*field;
};
const BurstStatistic kBurstStatistics[] = {
    {"burst_hm0", "m", "sea_surface_wave_significant_height",
     "significant wave height Hm0 = 4 sqrt(m0)", &WaveStatistics::h13},
    {"burst_t13", "s", "", "mean period of the highest third of the waves", &WaveStatistics::t13},
    {"burst_h110", "m", "", "mean height of the highest tenth of the waves", &WaveStatistics::h110},
    {"burst_t110", "s", "", "mean period of the highest tenth of the waves", &WaveStatistics::t110},
    {"burst_havg", "m", "", "mean wave height", &WaveStatistics::havg},
    {"burst_tavg", "s", "", "mean wave period", &WaveStatistics::tavg},
    {"burst_hmax", "m", "sea_surface_wave_maximum_height", "height of the highest wave",
     &WaveStatistics::hmax},
    {"burst_tmax", "s", "", "period of the highest wave", &WaveStatistics::tmax},
    {"burst_mean_depth", "m", "", "depth of the sensor below the surface",
     &WaveStatistics::meanDepth},
    {"burst_peak_frequency", "Hz", "", "frequency of the spectral peak",
     &WaveStatistics::peakFrequency},
    {"burst_cutoff_frequency", "Hz", "", "cut-off frequency of the surface correction",
     &WaveStatistics::cutoffFrequency},
    {"burst_variance", "m2", "", "variance m0 of the surface elevation", &WaveStatistics::variance},
    {"burst_energy", "J m-2", "", "wave energy", &WaveStatistics::energy},
};

// The wave bursts of a tide-and-wave logger along "burst": each burst's time and pressure
// series, and once the wave analysis has run, its surface elevation and statistics.
void NetcdfWriter::DefineBursts() {
  const DataSet& data = held_.data;
  const DeploymentParameters& p = held_.image.snapshot.parameters;
  burstLength_ = p.burstLength > 0 ? static_cast<size_t>(p.burstLength) : 0;
  for (const auto& burst : data.bursts) burstLength_ = std::max(burstLength_, burst.samples.size());
  if (!Check(nc_def_dim(nc_, "burst", data.bursts.size(), &burstDim_))) return;
  if (!Check(nc_def_dim(nc_, "burst_sample", std::max<size_t>(burstLength_, 1), &burstSampleDim_)))
    return;
  burstTimeVar_ = DefineVar("burst_time", NC_DOUBLE, {burstDim_}, false);
  Text(burstTimeVar_, "standard_name", "time");
  Text(burstTimeVar_, "long_name", "time of the burst's first sample");
  Text(burstTimeVar_, "units", kTimeUnits);
  Text(burstTimeVar_, "calendar", "standard");
  burstDataVar_ = DefineVar("burst_pressure", NC_FLOAT, {burstDim_, burstSampleDim_}, true);
  const float fill = kMissingValue;
  if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, burstDataVar_, 0, &fill));
  Text(burstDataVar_, "standard_name", "sea_water_pressure");
  Text(burstDataVar_, "long_name", "Wave burst pressure");
  Text(burstDataVar_, "units", "dbar");
  Double(burstDataVar_, "sample_rate_hz", p.waveRateHz);
  analysed_ = std::any_of(data.bursts.begin(), data.bursts.end(),
                          [](const BurstSeries& b) { return b.stats.analysed; });
  if (analysed_) {
    burstSurfaceVar_ =
        DefineVar("burst_surface_elevation", NC_FLOAT, {burstDim_, burstSampleDim_}, true);
    if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, burstSurfaceVar_, 0, &fill));
    Text(burstSurfaceVar_, "long_name", "surface elevation from the wave analysis");
    Text(burstSurfaceVar_, "units", "m");
    for (const BurstStatistic& b : kBurstStatistics) {
      const int var = DefineVar(b.name, NC_FLOAT, {burstDim_}, false);
      statisticVars_.push_back(var);
      if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, var, 0, &fill));
      if (b.standardName[0] != '\0') Text(var, "standard_name", b.standardName);
      Text(var, "long_name", b.longName);
      Text(var, "units", b.units);
    }
    burstFlagVar_ = DefineVar("burst_flag", NC_BYTE, {burstDim_}, false);
    Text(burstFlagVar_, "long_name", "wave analysis flag");
    const signed char flags[3] = {kWaveGood, kWaveError, kWaveWarning};
    if (status_ == NC_NOERR)
      Check(nc_put_att_schar(nc_, burstFlagVar_, "flag_values", NC_BYTE, 3, flags));
    Text(burstFlagVar_, "flag_meanings",
         "good mean_depth_below_logger_height significant_height_above_mean_depth");
  }
  Double(NC_GLOBAL, "wave_sample_rate_hz", p.waveRateHz);
  Double(NC_GLOBAL, "logger_height_m", p.loggerHeight);
}

int NetcdfWriter::Write() {
  const DataSet& data = held_.data;
  const LoggerState& logger = data.logger;
  const size_t rows = data.samplesPerChannel > 0 ? static_cast<size_t>(data.samplesPerChannel) : 0;
  const std::string& letters = held_.columnTypes.empty() ? logger.channelTypes : held_.columnTypes;
  const size_t columns =
      std::min(static_cast<size_t>(std::max(data.channelCount, 0)), data.series.size());
  std::vector<double> times = RowSeconds(held_, rows);
  for (double& t : times) t -= offset_;

  // ---- Definitions ----
  Check(nc_def_dim(nc_, "time", rows, &timeDim_));
  const int timeVar = DefineVar("time", NC_DOUBLE, {timeDim_}, true);
  Text(timeVar, "standard_name", "time");
  Text(timeVar, "long_name", "time of the sample");
  Text(timeVar, "units", kTimeUnits);
  Text(timeVar, "calendar", "standard");
  Text(timeVar, "axis", "T");
  Text(timeVar, "comment",
       "the logger clock keeps the host's local time; converted to UTC with the offset "
       "logger_clock_utc_offset");
  Text(timeVar, "logger_clock_utc_offset", UtcOffsetText(offset_));
  if (rows > 0 && status_ == NC_NOERR) {
    const size_t chunk = std::min(rows, kChunkRows);
    Check(nc_def_var_chunking(nc_, timeVar, NC_CHUNKED, &chunk));
  }

  // The one time series of the file, named by the logger's serial number.
  const int seriesVar = DefineVar("instrument", NC_INT, {}, false);
  Text(seriesVar, "cf_role", "timeseries_id");
  Text(seriesVar, "long_name", "serial number of the logger");

  std::vector<std::string> taken = {"time", "instrument"};
  std::vector<int> channelVars;
  for (size_t ch = 0; ch < columns; ++ch) {
    const uint8_t letter =
        ch < letters.size() ? static_cast<uint8_t>(letters[ch]) : static_cast<uint8_t>('U');
    const NetcdfChannel c = NetcdfChannelOf(letter, logger, options_.derived);
    const std::string name = UniqueName(c.name, taken);
    const int var = DefineVar(name.c_str(), NC_FLOAT, {timeDim_}, true);
    channelVars.push_back(var);
    if (status_ != NC_NOERR) break;
    if (rows > 0) {
      const size_t chunk = std::min(rows, kChunkRows);
      Check(nc_def_var_chunking(nc_, var, NC_CHUNKED, &chunk));
    }
    const float fill = kMissingValue;
    if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, var, 0, &fill));
    if (!c.standardName.empty()) Text(var, "standard_name", c.standardName);
    Text(var, "long_name", c.longName);
    Text(var, "units", c.units);
    if (c.positiveDown) Text(var, "positive", "down");
    Int(var, "logger_channel", static_cast<int>(ch) + 1);
    if (static_cast<int>(ch) >= logger.channelCount)
      Text(var, "comment",
           "derived: computed from the measured channels with the derived_ settings");
  }
  DefineStamps();
  if (!data.bursts.empty()) DefineBursts();
  GlobalAttributes(rows, times);
  if (status_ != NC_NOERR) return status_;
  if (!Check(nc_enddef(nc_))) return status_;

  // ---- Data ----
  if (rows > 0) Check(nc_put_var_double(nc_, timeVar, times.data()));
  const int serial = logger.serial;
  Check(nc_put_var_int(nc_, seriesVar, &serial));
  for (size_t ch = 0; ch < channelVars.size() && status_ == NC_NOERR; ++ch) {
    const auto& s = data.series[ch];
    if (rows == 0) continue;
    if (s.size() >= rows) {
      const size_t start = 0;
      Check(nc_put_vara_float(nc_, channelVars[ch], &start, &rows, s.data()));
    } else {  // a short series: the rest is missing
      std::vector<float> padded(s);
      padded.resize(rows, kMissingValue);
      Check(nc_put_var_float(nc_, channelVars[ch], padded.data()));
    }
  }
  const auto& stamps = data.stamps.records;
  if (!stamps.empty() && status_ == NC_NOERR) {
    std::vector<int> row;
    std::vector<signed char> type;
    std::vector<double> when;
    for (const auto& r : stamps) {
      row.push_back(static_cast<int>(std::min<uint32_t>(r.sampleIndex, INT32_MAX)));
      type.push_back(static_cast<signed char>(std::min<uint32_t>(r.type, 127)));
      when.push_back(CalendarSeconds(r.time) - offset_);
    }
    const size_t start = 0;
    const size_t count = stamps.size();
    Check(nc_put_vara_int(nc_, stampRowVar_, &start, &count, row.data()));
    Check(nc_put_vara_schar(nc_, stampTypeVar_, &start, &count, type.data()));
    Check(nc_put_vara_double(nc_, stampTimeVar_, &start, &count, when.data()));
  }
  if (!data.bursts.empty() && status_ == NC_NOERR) {
    const size_t b = data.bursts.size();
    const size_t length = std::max<size_t>(burstLength_, 1);
    std::vector<double> when;
    std::vector<float> values(b * length, kMissingValue);
    for (size_t j = 0; j < b; ++j) {
      const auto& burst = data.bursts[j];
      when.push_back(CalendarSeconds(burst.time) - offset_);
      std::copy(burst.samples.begin(),
                burst.samples.begin() +
                    static_cast<std::ptrdiff_t>(std::min(length, burst.samples.size())),
                values.begin() + static_cast<std::ptrdiff_t>(j * length));
    }
    Check(nc_put_var_double(nc_, burstTimeVar_, when.data()));
    Check(nc_put_var_float(nc_, burstDataVar_, values.data()));
    if (analysed_) {
      // A burst the analysis did not take keeps missing values throughout.
      std::fill(values.begin(), values.end(), kMissingValue);
      std::vector<signed char> flags(b, kWaveGood);
      std::vector<std::vector<float>> statistics(std::size(kBurstStatistics),
                                                 std::vector<float>(b, kMissingValue));
      for (size_t j = 0; j < b; ++j) {
        const BurstSeries& burst = data.bursts[j];
        if (!burst.stats.analysed) continue;
        std::copy(burst.surface.begin(),
                  burst.surface.begin() +
                      static_cast<std::ptrdiff_t>(std::min(length, burst.surface.size())),
                  values.begin() + static_cast<std::ptrdiff_t>(j * length));
        flags[j] = static_cast<signed char>(burst.stats.flag);
        for (size_t i = 0; i < statistics.size(); ++i)
          statistics[i][j] = burst.stats.*kBurstStatistics[i].field;
      }
      Check(nc_put_var_float(nc_, burstSurfaceVar_, values.data()));
      for (size_t i = 0; i < statistics.size(); ++i)
        Check(nc_put_var_float(nc_, statisticVars_[i], statistics[i].data()));
      Check(nc_put_var_schar(nc_, burstFlagVar_, flags.data()));
    }
  }
  return status_;
}

// A temporary name of our own beside the target, created empty (the library then rewrites it).
std::string MakeTemporary(const std::filesystem::path& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp =
        path.string() + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return temp;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace

NetcdfChannel NetcdfChannelOf(uint8_t letter, const LoggerState& logger,
                              const DerivedUnitSettings& derived) {
  const ChannelKind k = KindOf(letter, derived);
  NetcdfChannel c;
  c.name = k.name;
  c.units = k.units;
  if (c.units.empty()) c.units = ConductivityUnits(logger);
  c.standardName = k.standardName;
  c.longName = TitleOf(TypeRowOfLetter(letter));
  c.positiveDown = c.standardName == "depth";
  return c;
}

std::optional<int> ParseUtcOffset(std::string_view text) {
  if (text == "Z" || text == "z") return 0;
  if (text.size() < 3 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  auto digits = [&](size_t at) -> std::optional<int> {
    if (at + 2 > text.size() || !std::isdigit(static_cast<unsigned char>(text[at])) ||
        !std::isdigit(static_cast<unsigned char>(text[at + 1])))
      return std::nullopt;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
  };
  const auto hours = digits(1);
  std::optional<int> minutes = 0;
  if (text.size() == 6 && text[3] == ':')
    minutes = digits(4);
  else if (text.size() == 5)
    minutes = digits(3);
  else if (text.size() != 3)
    return std::nullopt;
  if (!hours || !minutes || *minutes > 59) return std::nullopt;
  const int seconds = (*hours * 60 + *minutes) * 60 * (text[0] == '-' ? -1 : 1);
  if (seconds < -12 * 3600 || seconds > 14 * 3600) return std::nullopt;
  return seconds;
}

std::string UtcOffsetText(int seconds) {
  const int minutes = std::abs(seconds) / 60;
  return CFormat("%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

int HostUtcOffsetSeconds(const SystemTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;  // the zone's rules decide whether summer time applied
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return 0;
  std::tm back{};
  if (localtime_r(&t, &back) == nullptr) return 0;
  return static_cast<int>(back.tm_gmtoff);
}

int DefaultUtcOffsetSeconds(const HeldData& held) {
  const bool hostTimeKnown = held.image.hasSnapshot && held.file.extension() != ".mat";
  return HostUtcOffsetSeconds(hostTimeKnown ? held.image.snapshot.hostTime
                                            : held.image.snapshot.parameters.startTime);
}

std::string WriteNetcdfFile(const std::filesystem::path& path, const HeldData& held,
                            const NetcdfWriteOptions& options) {
  const std::string unableToOpen = "Unable to open file: " + path.string();
  if (held.data.Empty() || held.data.series.empty())
    return "Unable to save a NetCDF file: no data are held";
  const std::string temp = MakeTemporary(path);
  if (temp.empty()) return unableToOpen;
  int ncid = -1;
  if (nc_create(temp.c_str(), NC_CLOBBER | NC_NETCDF4 | NC_CLASSIC_MODEL, &ncid) != NC_NOERR) {
    ::unlink(temp.c_str());
    return unableToOpen;
  }
  const int offset =
      options.utcOffsetSeconds ? *options.utcOffsetSeconds : DefaultUtcOffsetSeconds(held);
  int status = NC_NOERR;
  std::string error;
  try {
    NetcdfWriter writer(ncid, held, options, offset);
    status = writer.Write();
  } catch (const std::bad_alloc&) {
    error = "Unable to write file: " + path.string() + " (out of memory)";
  }
  const int closed = nc_close(ncid);
  if (error.empty() && status != NC_NOERR)
    error = "Unable to write file: " + path.string() + " (" + nc_strerror(status) + ")";
  if (error.empty() && closed != NC_NOERR)
    error = "Unable to write file: " + path.string() + " (" + nc_strerror(closed) + ")";
  if (error.empty()) {
    // On the disk before it takes the place of the old file.
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) error = "Unable to write file: " + path.string();
    if (fd >= 0) ::close(fd);
  }
  if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
    error = "Unable to write file: " + path.string();
  if (!error.empty()) ::unlink(temp.c_str());
  return error;
}

bool SaveNetcdfFile(Host& host, NetcdfSaveRequest& request, const HeldData& held) {
  const LoggerState& logger = held.data.logger;
  if (held.data.Empty() || held.data.series.empty()) {
    ShowStatus(host, "Unable to save a NetCDF file: no data are held");
    return false;
  }
  if (files::StoresAsciiData(logger, held.cards)) {
    host.Tell("Save NetCDF file",
              "These ASCII data from a generic front end can not be saved in the NetCDF format.",
              BoxIcon::Warning);
    return false;
  }
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a NetCDF file for storing the data";
  choice.filter = "NetCDF Files (*.nc)";
  choice.suggestedName = CFormat("%06d*.nc", logger.serial);
  choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->dat : "",
                                            request.programDirectory, "dat")
                                .string();
  const auto chosen = host.ChooseFile(choice);
  if (!chosen) return false;
  std::filesystem::path file = *chosen;
  if (!file.has_extension()) file += ".nc";
  if (!MayOverwrite(host, "Write File", file.string())) return false;
  const std::string error = WriteNetcdfFile(file, held, request.options);
  if (!error.empty()) {
    ShowStatus(host, error);
    return false;
  }
  request.chosen = file;
  ShowStatus(host, "NetCDF file written: " + file.string());
  return true;
}

}  // namespace klx
