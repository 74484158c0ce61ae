#include "files/netcdf_file.h"

#include <fcntl.h>
#include <netcdf.h>
#include <netcdf_mem.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "decoding/channel_types.h"
#include "derived/formulas.h"
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
  const char* units;  // nullptr: no unit is known (generic and unknown channels)
  const char* standardName;
  const char* comment = nullptr;
};

// The unit of the conductivity channels follows the logger; a micro-salinometer gives a ratio.
constexpr uint32_t kConductivityUnit = 2;

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
      return {"specific_conductivity", "",
              "sea_water_electrical_conductivity_at_reference_temperature",
              "conductivity at the reference temperature 25 degC, temperature coefficient "
              "0.0191 per degC: C / (1 + 0.0191 (T - 25))"};
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
      return {"turbidity", "1", "sea_water_turbidity", "in NTU (nephelometric turbidity units)"};
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
      return {"density_anomaly", "kg m-3", "", "in-situ density minus 1000 kg m-3"};
    case kLetterSignificantWaveHeight:
      return {"significant_wave_height", "m", "sea_surface_wave_significant_height"};
    case kLetterTidalSlope:
      return {"tidal_slope", "m h-1", ""};
    case 'B':
      return {"generic", nullptr, ""};
    default:
      return {"unknown", nullptr, ""};
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

// The serial number as the logger shows it ("040211").
std::string SerialText(int serial) {
  return CFormat("%06d", serial);
}

// A MAT file keeps the data, the start, the period and the logger's name, but no host or logger
// time at the retrieval, no end and no calibration.
bool FromMatFile(const HeldData& held) {
  return held.file.extension() == ".mat";
}

// The retrieval (or the header of a hex or dat file) gave the retrieval times, the end and the
// calibration.
bool HeaderKnown(const HeldData& held) {
  return held.image.hasSnapshot && !FromMatFile(held);
}

// Where the logger clock's offset came from: stated, or the zone of the computer writing the
// file at the time DefaultUtcOffsetSeconds takes.
std::string OffsetSource(const HeldData& held, const NetcdfWriteOptions& options) {
  if (options.utcOffsetSeconds) return "stated by the user";
  return HeaderKnown(held) ? "not stated: the time zone of the computer that wrote this file, at "
                             "the host time of the retrieval"
                           : "not stated: the time zone of the computer that wrote this file, at "
                             "the deployment start (the source keeps no host time)";
}

// A burst whose time no stamp gave (a MAT file without burst times) keeps the default time.
bool BurstTimeKnown(const BurstSeries& burst) {
  return !(burst.time == SystemTime{});
}

// The writer of one file. Every call goes through Check, which keeps the first failure; later
// calls do nothing once one has failed.
class NetcdfWriter {
 public:
  NetcdfWriter(int ncid, const HeldData& held, const NetcdfWriteOptions& options, int offset)
      : nc_(ncid), held_(held), options_(options), offset_(offset) {}

  int Write();
  // Set when the file was written with a reservation: times that do not increase.
  const std::string& Notice() const { return notice_; }

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
  void FloatFill(int var) {
    const float fill = kMissingValue;
    if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, var, 0, &fill));
  }
  int DefineVar(const char* name, nc_type type, std::initializer_list<int> dims, bool compress);

  void GlobalAttributes(size_t rows, const std::vector<double>& times);
  void DefineStamps();
  void DefineBursts();
  void PutBursts();

  int nc_;
  const HeldData& held_;
  const NetcdfWriteOptions& options_;
  int offset_;
  int status_ = NC_NOERR;
  std::string notice_;
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
  const bool header = HeaderKnown(held_);
  Text(NC_GLOBAL, "Conventions", "CF-1.8");
  Text(NC_GLOBAL, "featureType", "timeSeries");
  Text(NC_GLOBAL, "title",
       "KLX " + logger.model + " " + SerialText(logger.serial) + " time series");
  Text(NC_GLOBAL, "source",
       CFormat("KLX %s logger, firmware %.2f, serial number %s", logger.model.c_str(),
               logger.firmware, SerialText(logger.serial).c_str()));
  const std::time_t now = std::time(nullptr);
  std::string history = UtcIsoText(static_cast<double>(now)) + " written by " + options_.program +
                        " " + kSoftwareVersion + " (KLX logger host software)";
  if (!held_.file.empty()) history += " from " + held_.file.filename().string();
  Text(NC_GLOBAL, "history", history);
  if (!held_.comment.empty()) Text(NC_GLOBAL, "comment", held_.comment);
  Text(NC_GLOBAL, "logger_model", logger.model);
  Double(NC_GLOBAL, "logger_firmware", std::round(logger.firmware * 100.0) / 100.0);
  Text(NC_GLOBAL, "logger_serial_number", SerialText(logger.serial));
  Text(NC_GLOBAL, "logger_clock_utc_offset", UtcOffsetText(offset_));
  Text(NC_GLOBAL, "logger_clock_utc_offset_source", OffsetSource(held_, options_));
  if (header) {
    // The host clock keeps the host's own zone, whatever the logger clock was set to.
    Text(NC_GLOBAL, "host_time_at_retrieval",
         IsoText(snap.hostTime, HostUtcOffsetSeconds(snap.hostTime)));
    Text(NC_GLOBAL, "logger_time_at_retrieval", IsoText(snap.loggerTime, offset_));
  }
  Text(NC_GLOBAL, "deployment_start", IsoText(p.startTime, offset_));
  if (header) Text(NC_GLOBAL, "deployment_end", IsoText(p.endTime, offset_));
  if (rows > 0) {
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    Text(NC_GLOBAL, "time_coverage_start", UtcIsoText(*first));
    Text(NC_GLOBAL, "time_coverage_end", UtcIsoText(*last));
  }
  Double(NC_GLOBAL, "sample_period_seconds", RowPeriodSeconds(p));
  Text(NC_GLOBAL, "profiling_6Hz", p.profiling6Hz ? "yes" : "no");
  Double(NC_GLOBAL, "averaging_seconds", p.averagingEnabled ? p.averagingSeconds : 0.0);

  // Calibration: c0..c3 of each logger channel; the equation is the cubic in the raw fraction,
  // or its reciprocal less 273.15 in ln(1/x - 1) for thermistors.
  if (header) {
    const int measured = std::clamp(logger.channelCount, 0, CalibrationCoefficients::kMaxChannels);
    for (int ch = 0; ch < measured; ++ch) {
      const auto& c = data.calibration.coef[static_cast<size_t>(ch)];
      Doubles(NC_GLOBAL, CFormat("calibration_channel_%d", ch + 1).c_str(), c.data(), c.size());
    }
    const auto& k = data.calibration.conductivityCorrection;
    Doubles(NC_GLOBAL, "conductivity_correction_a_b_tc_c", k.data(), k.size());
  }

  // The derived settings the derived channels were computed with.
  Double(NC_GLOBAL, "derived_atmospheric_pressure_dbar", d.atmosphericPressure);
  Text(NC_GLOBAL, "derived_depth_method", d.depthSeawater ? "seawater" : "simplified");
  Double(NC_GLOBAL, "derived_water_density_g_cm3", d.density);
  Double(NC_GLOBAL, "derived_latitude_degrees",
         LatitudeDegrees(d.latitudeDegrees, d.latitudeMinutes));
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
  Text(stampRowVar_, "comment", "index along the dimension of time, from 0");
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
  // An auxiliary coordinate: a burst without a known time is missing there.
  burstTimeVar_ = DefineVar("burst_time", NC_DOUBLE, {burstDim_}, false);
  const double timeFill = NC_FILL_DOUBLE;
  if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, burstTimeVar_, 0, &timeFill));
  Text(burstTimeVar_, "standard_name", "time");
  Text(burstTimeVar_, "long_name", "time of the burst's first sample");
  Text(burstTimeVar_, "units", kTimeUnits);
  Text(burstTimeVar_, "calendar", "standard");
  burstDataVar_ = DefineVar("burst_pressure", NC_FLOAT, {burstDim_, burstSampleDim_}, true);
  FloatFill(burstDataVar_);
  Text(burstDataVar_, "standard_name", "sea_water_pressure");
  Text(burstDataVar_, "long_name", "Wave burst pressure");
  Text(burstDataVar_, "units", "dbar");
  Text(burstDataVar_, "coordinates", "burst_time");
  Double(burstDataVar_, "sample_rate_hz", p.waveRateHz);
  analysed_ = std::any_of(data.bursts.begin(), data.bursts.end(),
                          [](const BurstSeries& b) { return b.stats.analysed; });
  if (analysed_) {
    burstSurfaceVar_ =
        DefineVar("burst_surface_elevation", NC_FLOAT, {burstDim_, burstSampleDim_}, true);
    FloatFill(burstSurfaceVar_);
    Text(burstSurfaceVar_, "long_name", "surface elevation from the wave analysis");
    Text(burstSurfaceVar_, "units", "m");
    Text(burstSurfaceVar_, "coordinates", "burst_time");
    Text(burstSurfaceVar_, "ancillary_variables", "burst_flag");
    for (const BurstStatistic& b : kBurstStatistics) {
      const int var = DefineVar(b.name, NC_FLOAT, {burstDim_}, false);
      statisticVars_.push_back(var);
      FloatFill(var);
      if (b.standardName[0] != '\0') Text(var, "standard_name", b.standardName);
      Text(var, "long_name", b.longName);
      Text(var, "units", b.units);
      Text(var, "coordinates", "burst_time");
      Text(var, "ancillary_variables", "burst_flag");
    }
    // A burst the analysis did not take has no flag; one flagged as an error has no results.
    burstFlagVar_ = DefineVar("burst_flag", NC_BYTE, {burstDim_}, false);
    const signed char noFlag = NC_FILL_BYTE;
    if (status_ == NC_NOERR) Check(nc_def_var_fill(nc_, burstFlagVar_, 0, &noFlag));
    Text(burstFlagVar_, "long_name", "wave analysis flag");
    Text(burstFlagVar_, "coordinates", "burst_time");
    const signed char flags[3] = {kWaveGood, kWaveError, kWaveWarning};
    if (status_ == NC_NOERR)
      Check(nc_put_att_schar(nc_, burstFlagVar_, "flag_values", NC_BYTE, 3, flags));
    Text(burstFlagVar_, "flag_meanings",
         "good mean_depth_below_logger_height significant_height_above_mean_depth");
  }
  Double(NC_GLOBAL, "wave_sample_rate_hz", p.waveRateHz);
  Double(NC_GLOBAL, "logger_height_m", p.loggerHeight);
}

void NetcdfWriter::PutBursts() {
  const DataSet& data = held_.data;
  const size_t b = data.bursts.size();
  const size_t length = std::max<size_t>(burstLength_, 1);
  std::vector<double> when;
  std::vector<float> values(b * length, kMissingValue);
  for (size_t j = 0; j < b; ++j) {
    const auto& burst = data.bursts[j];
    when.push_back(BurstTimeKnown(burst) ? CalendarSeconds(burst.time) - offset_ : NC_FILL_DOUBLE);
    std::copy(
        burst.samples.begin(),
        burst.samples.begin() + static_cast<std::ptrdiff_t>(std::min(length, burst.samples.size())),
        values.begin() + static_cast<std::ptrdiff_t>(j * length));
  }
  Check(nc_put_var_double(nc_, burstTimeVar_, when.data()));
  Check(nc_put_var_float(nc_, burstDataVar_, values.data()));
  if (!analysed_) return;
  std::fill(values.begin(), values.end(), kMissingValue);
  std::vector<signed char> flags(b, NC_FILL_BYTE);
  std::vector<std::vector<float>> statistics(std::size(kBurstStatistics),
                                             std::vector<float>(b, kMissingValue));
  for (size_t j = 0; j < b; ++j) {
    const BurstSeries& burst = data.bursts[j];
    if (!burst.stats.analysed) continue;
    flags[j] = static_cast<signed char>(burst.stats.flag);
    if (burst.stats.flag == kWaveError) continue;  // its zeros are no results
    std::copy(
        burst.surface.begin(),
        burst.surface.begin() + static_cast<std::ptrdiff_t>(std::min(length, burst.surface.size())),
        values.begin() + static_cast<std::ptrdiff_t>(j * length));
    for (size_t i = 0; i < statistics.size(); ++i)
      statistics[i][j] = burst.stats.*kBurstStatistics[i].field;
  }
  Check(nc_put_var_float(nc_, burstSurfaceVar_, values.data()));
  for (size_t i = 0; i < statistics.size(); ++i)
    Check(nc_put_var_float(nc_, statisticVars_[i], statistics[i].data()));
  Check(nc_put_var_schar(nc_, burstFlagVar_, flags.data()));
}

int NetcdfWriter::Write() {
  const DataSet& data = held_.data;
  const LoggerState& logger = data.logger;
  const DerivedUnitSettings& d = options_.derived;
  const size_t rows = data.samplesPerChannel > 0 ? static_cast<size_t>(data.samplesPerChannel) : 0;
  const std::string& letters = held_.columnTypes.empty() ? logger.channelTypes : held_.columnTypes;
  const size_t columns =
      std::min(static_cast<size_t>(std::max(data.channelCount, 0)), data.series.size());
  std::vector<double> times = RowSeconds(held_, rows);
  for (double& t : times) t -= offset_;
  // A coordinate must increase throughout. A clock set back (or a stamp that goes back) breaks
  // that; the times are then kept as an auxiliary coordinate along a plain "obs" dimension.
  const auto back =
      std::adjacent_find(times.begin(), times.end(), [](double a, double b) { return !(b > a); });
  const bool axis = back == times.end();
  if (!axis) {
    const size_t row = static_cast<size_t>(back - times.begin()) + 1;
    notice_ = CFormat(
        "The sample times do not increase at row %zu (%s after %s): time is "
        "written as an auxiliary coordinate, not as the time axis.",
        row + 1, UtcIsoText(times[row]).c_str(), UtcIsoText(times[row - 1]).c_str());
  }

  // ---- Definitions ----
  Check(nc_def_dim(nc_, axis ? "time" : "obs", rows, &timeDim_));
  const int timeVar = DefineVar("time", NC_DOUBLE, {timeDim_}, true);
  Text(timeVar, "standard_name", "time");
  Text(timeVar, "long_name", "time of the sample");
  Text(timeVar, "units", kTimeUnits);
  Text(timeVar, "calendar", "standard");
  if (axis) Text(timeVar, "axis", "T");
  Text(timeVar, "comment",
       std::string("the logger clock keeps the host's local time; converted to UTC with the "
                   "offset logger_clock_utc_offset") +
           (axis ? "" : "; the times do not increase throughout (the clock was set back)"));
  Text(timeVar, "logger_clock_utc_offset", UtcOffsetText(offset_));
  if (rows > 0 && status_ == NC_NOERR) {
    const size_t chunk = std::min(rows, kChunkRows);
    Check(nc_def_var_chunking(nc_, timeVar, NC_CHUNKED, &chunk));
  }

  // The one time series of the file, named by the logger's serial number, and where it stood:
  // the latitude the seawater depth was computed with, when there is such a depth; no longitude
  // is known.
  const std::string serial = SerialText(logger.serial);
  int nameDim = -1;
  Check(nc_def_dim(nc_, "name_strlen", serial.size(), &nameDim));
  const int seriesVar = DefineVar("instrument", NC_CHAR, {nameDim}, false);
  Text(seriesVar, "cf_role", "timeseries_id");
  Text(seriesVar, "long_name", "serial number of the logger");
  const bool latitudeKnown =
      d.depthOn && d.depthSeawater &&
      letters.find(static_cast<char>(kLetterDerivedDepth)) != std::string::npos;
  const int latVar = DefineVar("lat", NC_FLOAT, {}, false);
  FloatFill(latVar);
  Text(latVar, "standard_name", "latitude");
  Text(latVar, "long_name", "latitude of the logger");
  Text(latVar, "units", "degrees_north");
  if (latitudeKnown) Text(latVar, "comment", "the latitude stated for the derived depth");
  const int lonVar = DefineVar("lon", NC_FLOAT, {}, false);
  FloatFill(lonVar);
  Text(lonVar, "standard_name", "longitude");
  Text(lonVar, "long_name", "longitude of the logger");
  Text(lonVar, "units", "degrees_east");

  std::vector<std::string> taken = {"time", "instrument", "lat", "lon"};
  std::vector<int> channelVars;
  for (size_t ch = 0; ch < columns; ++ch) {
    const uint8_t letter =
        ch < letters.size() ? static_cast<uint8_t>(letters[ch]) : static_cast<uint8_t>('U');
    const NetcdfChannel c = NetcdfChannelOf(letter, logger, d);
    const std::string name = UniqueName(c.name, taken);
    const int var = DefineVar(name.c_str(), NC_FLOAT, {timeDim_}, true);
    channelVars.push_back(var);
    if (status_ != NC_NOERR) break;
    if (rows > 0) {
      const size_t chunk = std::min(rows, kChunkRows);
      Check(nc_def_var_chunking(nc_, var, NC_CHUNKED, &chunk));
    }
    FloatFill(var);
    if (!c.standardName.empty()) Text(var, "standard_name", c.standardName);
    Text(var, "long_name", c.longName);
    if (!c.units.empty()) Text(var, "units", c.units);
    if (c.positiveDown) Text(var, "positive", "down");
    Text(var, "coordinates", "time lat lon instrument");
    Int(var, "logger_channel", static_cast<int>(ch) + 1);
    std::string comment = c.comment;
    if (static_cast<int>(ch) >= logger.channelCount)
      comment = "derived: computed from the measured channels with the derived_ settings" +
                (comment.empty() ? "" : "; " + comment);
    if (!comment.empty()) Text(var, "comment", comment);
  }
  DefineStamps();
  if (!data.bursts.empty()) DefineBursts();
  GlobalAttributes(rows, times);
  if (status_ != NC_NOERR) return status_;
  if (!Check(nc_enddef(nc_))) return status_;

  // ---- Data ----
  if (rows > 0) Check(nc_put_var_double(nc_, timeVar, times.data()));
  if (status_ == NC_NOERR) Check(nc_put_var_text(nc_, seriesVar, serial.c_str()));
  const float lat = latitudeKnown
                        ? static_cast<float>(LatitudeDegrees(d.latitudeDegrees, d.latitudeMinutes))
                        : kMissingValue;
  const float lon = kMissingValue;
  if (status_ == NC_NOERR) Check(nc_put_var_float(nc_, latVar, &lat));
  if (status_ == NC_NOERR) Check(nc_put_var_float(nc_, lonVar, &lon));
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
  if (!data.bursts.empty() && status_ == NC_NOERR) PutBursts();
  return status_;
}

// A temporary name of our own beside the target, created empty and left open for writing; -1
// when none can be made.
int MakeTemporary(const std::filesystem::path& path, std::string& temp) {
  RemoveStaleTemporaries(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = path.string() + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  temp.clear();
  return -1;
}

// Writes all of `size` bytes, then puts them on the disk; 0, or the errno of the failure.
int WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

NetcdfChannel NetcdfChannelOf(uint8_t letter, const LoggerState& logger,
                              const DerivedUnitSettings& derived) {
  const ChannelKind k = KindOf(letter, derived);
  const int row = TypeRowOfLetter(letter);
  NetcdfChannel c;
  c.name = k.name;
  c.units = k.units ? k.units : "";
  c.standardName = k.standardName;
  if (k.comment) c.comment = k.comment;
  if (kChannelTypeTable[row].unitIndex == kConductivityUnit) {
    if (logger.ModelHas("HL-240")) {
      // The micro-salinometer measures a ratio of two voltages, not a conductivity.
      c.units = "1";
      c.standardName.clear();
      c.comment = "volt ratio of the micro-salinometer's conductivity cell";
    } else {
      c.units = logger.standardChannels ? "uS cm-1" : "mS cm-1";
    }
  }
  c.longName = TitleOf(row);
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
  return HostUtcOffsetSeconds(HeaderKnown(held) ? held.image.snapshot.hostTime
                                                : held.image.snapshot.parameters.startTime);
}

std::string WriteNetcdfFile(const std::filesystem::path& path, const HeldData& held,
                            const NetcdfWriteOptions& options, std::string* notice) {
  if (notice) notice->clear();
  const std::string unableToWrite = "Unable to write file: " + path.string();
  if (held.data.Empty() || held.data.series.empty())
    return "Unable to save a NetCDF file: no data are held";
  std::string temp;
  const int fd = MakeTemporary(path, temp);
  if (fd < 0) return "Unable to open file: " + path.string();
  // The file is built in memory and written out in one piece: a full disk or a file-size limit
  // then fails a plain write. Written by the library, a failed flush would leave its file open
  // for good and bring the process down at exit.
  const size_t rows = static_cast<size_t>(std::max(held.data.samplesPerChannel, 0));
  const size_t initialSize = std::max<size_t>(1 << 20, rows * held.data.series.size() * 2);
  int ncid = -1;
  if (nc_create_mem(path.filename().c_str(), NC_NETCDF4 | NC_CLASSIC_MODEL, initialSize, &ncid) !=
      NC_NOERR) {
    ::close(fd);
    ::unlink(temp.c_str());
    return unableToWrite;
  }
  const int offset =
      options.utcOffsetSeconds ? *options.utcOffsetSeconds : DefaultUtcOffsetSeconds(held);
  std::string error;
  std::string note;
  try {
    NetcdfWriter writer(ncid, held, options, offset);
    const int status = writer.Write();
    if (status != NC_NOERR) error = unableToWrite + " (" + nc_strerror(status) + ")";
    note = writer.Notice();
  } catch (const std::bad_alloc&) {
    error = unableToWrite + " (out of memory)";
  } catch (const std::exception& e) {
    error = unableToWrite + " (" + e.what() + ")";
  }
  NC_memio image{};
  if (!error.empty()) {
    nc_abort(ncid);  // the half-built file is dropped whole
  } else if (const int closed = nc_close_memio(ncid, &image); closed != NC_NOERR) {
    error = unableToWrite + " (" + nc_strerror(closed) + ")";
  } else if (const int failed = WriteAll(fd, image.memory, image.size); failed != 0) {
    error = unableToWrite + " (" + std::strerror(failed) + ")";
  }
  std::free(image.memory);
  if (::close(fd) != 0 && error.empty()) error = unableToWrite + " (" + std::strerror(errno) + ")";
  if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
    error = unableToWrite + " (" + std::strerror(errno) + ")";
  if (!error.empty()) {
    ::unlink(temp.c_str());
    return error;
  }
  if (notice) *notice = note;
  return {};
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
  // The dialog opens where the last file went.
  if (request.directories != nullptr) request.directories->dat = file.parent_path().string();
  std::string notice;
  const std::string error = WriteNetcdfFile(file, held, request.options, &notice);
  if (!error.empty()) {
    ShowStatus(host, error);
    return false;
  }
  request.chosen = file;
  if (!notice.empty()) host.Tell("Save NetCDF file", notice, BoxIcon::Warning);
  ShowStatus(host, "NetCDF file written: " + file.string());
  return true;
}

}  // namespace klx
