#include "decoding/decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "decoding/channel_types.h"
#include "decoding/equations.h"
#include "shell/datetime.h"

namespace klx {

namespace {

int64_t FloorMod(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}

// A double as a float without an out-of-range conversion (coefficients may come from a corrupt
// file): magnitudes beyond the float range become infinities.
float ToFloat(double v) {
  if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
  if (v > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (v < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

// Stamp records carry no day of the week; decoding leaves it 0.
SystemTime StampTimeOf(int64_t epochMs) {
  SystemTime t = FromEpochMs(epochMs);
  t.dayOfWeek = 0;
  return t;
}

int64_t SaturatingMultiply(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r))
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min()
                              : std::numeric_limits<int64_t>::max();
  return r;
}

}  // namespace

// ---- Families and header ----------------------------------------------------------------------

bool IsNAFamily(const LoggerState& logger) {
  return logger.ModelHas("NA-");
}

bool IsDepthFamily(const LoggerState& logger) {
  return logger.ModelHas("NB") || logger.ModelHas("NMV");
}

HeaderFamily HeaderFamilyOf(const LoggerState& logger) {
  if (logger.extendedCommandSet) return HeaderFamily::kLinearMemory;
  if (IsNAFamily(logger)) return HeaderFamily::kNA;
  if (IsDepthFamily(logger)) return HeaderFamily::kDepth;
  return HeaderFamily::kOther;
}

HeaderLayout HeaderLayoutOf(const LoggerState& logger, int32_t sampleWords) {
  HeaderLayout layout;
  layout.sampleWords = sampleWords;
  switch (HeaderFamilyOf(logger)) {
    case HeaderFamily::kNA:
      layout.channel0Type = 'T';
      // Firmware versions are compared as the float the identification gave (2.2f, not 2.2).
      if (logger.firmware >= 1.5f && logger.firmware < 2.2f) {
        layout.headerLength = 15;
        layout.channelCount = 1;
        layout.sampleWords -= 5;
      } else if (logger.firmware >= 2.2f) {
        layout.headerLength = 30;
        layout.channelCount = 1;
        layout.sampleWords -= 10;
      } else {
        // Below 1.5 only the header length is set; the channel count stays the logger's
        // (one, for these single-channel loggers, after a retrieval).
        layout.headerLength = 0;
      }
      break;
    case HeaderFamily::kDepth:
      layout.channel0Type = 'P';
      layout.headerLength = 30;
      layout.channelCount = 1;
      layout.sampleWords -= 10;
      break;
    case HeaderFamily::kLinearMemory:
    case HeaderFamily::kOther:
      // A negative block length (corrupt file) counts as no header.
      layout.headerLength = std::max(0, logger.parameterBlockLength);
      layout.sampleWords -= layout.headerLength / 3;
      break;
  }
  return layout;
}

// ---- Word parser ------------------------------------------------------------------------------

WordParser::WordParser(const uint8_t* bytes, size_t size, size_t startOffset,
                       TimestampTable& stamps, Host* host, std::vector<BurstSeries>* bursts,
                       const SystemTime& currentTime)
    : offset(startOffset),
      currentMs(ToEpochMs(currentTime)),
      lastStampTime(currentTime),
      bytes_(bytes),
      size_(bytes == nullptr ? 0 : size),
      stamps_(stamps),
      host_(host),
      bursts_(bursts) {}

bool WordParser::Append(const StampRecord& record) {
  if (stamps_.records.size() < TimestampTable::kCapacity) {
    stamps_.records.push_back(record);
    return true;
  }
  stamps_.overflowed = true;
  return false;
}

int32_t WordParser::ReadWord(uint32_t row, bool& stampFlag) {
  for (;;) {
    if (size_ < 3 || offset > size_ - 3) return kEndOfImage;
    const uint8_t* w = bytes_ + offset;
    const int32_t raw = (static_cast<int32_t>(w[0]) << 16) | (static_cast<int32_t>(w[1]) << 8) |
                        static_cast<int32_t>(w[2]);
    offset += 3;
    wordIndex += 1;
    if (raw != 0) return raw;

    // A stamp needs its three code bytes and six BCD bytes inside the image; a zero word too
    // close to the end is the reading 0.
    if (size_ - offset < 9) return 0;
    const uint8_t* c = bytes_ + offset;
    int type = -1;
    for (int k = 0; k < kStampCodeCount; ++k) {
      if (std::memcmp(c, kStampCodes[k].code, 3) == 0) {
        type = k;
        break;
      }
    }
    if (type < 0) return 0;

    StampRecord record;
    record.sampleIndex = row;
    record.type = static_cast<uint32_t>(type);
    if (type == kStampBurst) {
      burstNumber += 1;
      burstSampleCounter = 0;
      inBurst = true;
      record.burstNumber = static_cast<uint32_t>(burstNumber);
    } else {
      inBurst = false;
    }

    SystemTime t;
    t.year = static_cast<uint16_t>(2000 + BcdValue(c[3]));
    t.month = static_cast<uint16_t>(BcdValue(c[4]));
    t.day = static_cast<uint16_t>(BcdValue(c[5]));
    t.hour = static_cast<uint16_t>(BcdValue(c[6]));
    t.minute = static_cast<uint16_t>(BcdValue(c[7]));
    t.second = static_cast<uint16_t>(BcdValue(c[8]));
    t.milliseconds = 0;
    t.dayOfWeek = 0;  // not set
    record.time = t;
    lastStampTime = t;
    currentMs = ToEpochMs(t);
    offset += 9;
    wordIndex += 3;

    if (type == kStampBurst && bursts_ != nullptr && bursts_->size() < kMaxBursts &&
        static_cast<size_t>(burstNumber) == bursts_->size()) {
      BurstSeries burst;
      burst.time = t;  // step 7's "copy the burst stamp's time into the burst's entry"
      bursts_->push_back(std::move(burst));
    }

    if (!Append(record) && !warned) {
      warned = true;
      if (host_ != nullptr)
        host_->Tell(kTimestampsCaption, kTimestampsOverflowText, BoxIcon::Warning);
    }
    stampWords += 4;
    stampFlag = true;
    // Consecutive stamps are all consumed: go on with the next word.
  }
}

// ---- Decoding ---------------------------------------------------------------------------------

DecodeResult DecodeImage(const MemoryImage& image, const DeploymentParameters& parametersIn,
                         DataSet& out, Host& host, const DecodeOptions& options) {
  DecodeResult result;
  DeploymentParameters params = parametersIn;

  // Step 1. An all-zero period counts as one day (Overview: "in computations").
  const int64_t periodSeconds = params.samplePeriod.TotalSeconds();
  out.stamps.records.clear();
  out.stamps.overflowed = false;
  out.bursts.clear();
  out.series.clear();
  out.samplesPerChannel = 0;

  // Step 2.
  LoggerState& logger = out.logger;
  const HeaderFamily family = HeaderFamilyOf(logger);
  if (!options.fromFile) {
    if (family == HeaderFamily::kLinearMemory && options.hooks.refreshMenus)
      options.hooks.refreshMenus();
    if (family == HeaderFamily::kOther && options.hooks.rereadDeployment)
      options.hooks.rereadDeployment(params);
  }
  const HeaderLayout layout = HeaderLayoutOf(logger, image.sampleWords);
  if (layout.channel0Type != 0) {
    if (logger.channelTypes.empty()) logger.channelTypes.resize(1, 'U');
    logger.channelTypes[0] = static_cast<char>(layout.channel0Type);
  }
  if (layout.channelCount != 0) logger.channelCount = layout.channelCount;
  const int channels = std::clamp(logger.channelCount, 1, CalibrationCoefficients::kMaxChannels);
  out.channelCount = channels;

  // The per-channel decisions, taken once. (The gain mask is taken after the header rules, so
  // that a letter they replace is not counted.)
  uint32_t gainMask = 0;
  std::array<bool, CalibrationCoefficients::kMaxChannels> thermistor{};
  std::array<bool, CalibrationCoefficients::kMaxChannels> typeT{};
  std::array<int32_t, CalibrationCoefficients::kMaxChannels> wrapThreshold{};
  // "NA-family logger" is the model name's family (as retrieval names it), whatever the header
  // rule.
  const bool naFamily = IsNAFamily(logger);
  for (int ch = 0; ch < channels; ++ch) {
    const uint8_t letter = kChannelTypeTable[TypeRowOfChannel(out, ch)].Letter();
    const size_t c = static_cast<size_t>(ch);
    if (static_cast<size_t>(ch) < logger.channelTypes.size() &&
        IsGainLetter(static_cast<uint8_t>(logger.channelTypes[c])))
      gainMask |= 1u << ch;
    typeT[c] = letter == 'T';
    thermistor[c] = naFamily || typeT[c];
    wrapThreshold[c] = WrapThresholdOf(out, ch);
  }

  // Never read outside the bytes held, whatever `fill` and `sampleWords` claim.
  const size_t held =
      std::min(image.fill > 0 ? static_cast<size_t>(image.fill) : size_t{0}, image.bytes.size());
  const size_t header = static_cast<size_t>(std::max(0, layout.headerLength));
  const int64_t available = held > header ? static_cast<int64_t>((held - header) / 3) : 0;
  int64_t words = layout.sampleWords;
  if (words > available) {
    words = available;
    result.imageShort = true;
  }
  const int32_t sampleWords = static_cast<int32_t>(std::max<int64_t>(words, 0));
  result.headerLength = layout.headerLength;
  result.sampleWords = sampleWords;
  result.parameters = params;

  const float startMin = out.rawMode ? 0.0f : 300.0f;
  const float startMax = out.rawMode ? 1.0f : -300.0f;

  // Step 3.
  if (words <= 0) {
    out.series.assign(static_cast<size_t>(channels), std::vector<float>{startMin, startMax});
    return result;
  }

  // Step 4. Every entry starts missing: entries that decoding does not reach (the channels of a
  // row that a stamp abandoned, rows after the words ran out) hold kMissingValue.
  int64_t n = sampleWords / channels;
  out.series.assign(static_cast<size_t>(channels),
                    std::vector<float>(static_cast<size_t>(n) + 2, kMissingValue));
  std::vector<float> minimum(static_cast<size_t>(channels), startMin);
  std::vector<float> maximum(static_cast<size_t>(channels), startMax);

  WordParser parser(image.bytes.data(), held, header, out.stamps, &host, &out.bursts,
                    params.startTime);

  // Step 5.
  const bool waves = logger.waves;
  const int64_t burstLength = std::max(0, params.burstLength);
  const bool sixHz = params.profiling6Hz;
  const bool rawMode = out.rawMode;
  std::array<int32_t, CalibrationCoefficients::kMaxChannels> gain{};
  std::array<int32_t, CalibrationCoefficients::kMaxChannels> previousGain;
  previousGain.fill(-1);
  int64_t burstWords = 0;
  int ch = 0;
  int64_t row = 0;
  while (parser.wordIndex < sampleWords) {
    bool stamps = false;
    const int32_t raw = parser.ReadWord(static_cast<uint32_t>(row), stamps);
    if (raw == WordParser::kEndOfImage) break;
    if (parser.wordIndex > sampleWords) break;

    if (waves && parser.inBurst) {
      // A wave burst word: channel 1's polynomial, stored up to the burst length.
      if (parser.burstNumber >= 0 && static_cast<size_t>(parser.burstNumber) < out.bursts.size() &&
          parser.burstSampleCounter < burstLength) {
        out.bursts[static_cast<size_t>(parser.burstNumber)].samples.push_back(
            ToFloat(PolynomialValue(out, raw, 1)));
      }
      parser.burstSampleCounter += 1;
      burstWords += 1;
      continue;
    }

    if (stamps && ch != 0) {
      // A stamp in the middle of a row abandons the partial row: the channels of that row that
      // were not reached get kMissingValue (their content is not defined), and the word
      // after the stamp starts the next row.
      for (int c = ch; c < channels; ++c)
        out.series[static_cast<size_t>(c)][static_cast<size_t>(row)] = kMissingValue;
      ch = 0;
      row += 1;
      if (row >= n) break;
    }
    if (row >= n) break;  // fewer words than one row (n is 0)

    const size_t c = static_cast<size_t>(ch);
    if ((gainMask >> ch) & 1u) gain[c] = (raw & 6) >> 1;

    double value;
    if (rawMode) {
      value = RawValue(raw);
    } else {
      const int32_t r = ApplyExtendedRangeWith(wrapThreshold[c], raw);
      const Coefficients& k = out.calibration.coef[c];
      value = thermistor[c] ? ThermistorEquation(k, r) : PolynomialEquation(k, r);
    }
    const float v = ToFloat(value);
    out.series[c][static_cast<size_t>(row)] = v;
    if (!(typeT[c] && value < -999.0)) {
      if (v <= minimum[c]) minimum[c] = v;
      if (v >= maximum[c]) maximum[c] = v;
    }

    ch += 1;
    if (ch == channels) {
      // a. Gain stamps: on row 0 for every gain channel, later for those whose gain changed.
      uint32_t changed = 0;
      for (uint32_t m = gainMask; m != 0; m &= m - 1) {
        const int g = std::countr_zero(m);
        const size_t gi = static_cast<size_t>(g);
        if (row == 0 || gain[gi] != previousGain[gi]) changed |= 1u << g;
      }
      if (changed != 0) {
        StampRecord record;
        for (uint32_t m = changed; m != 0; m &= m - 1) {
          const size_t gi = static_cast<size_t>(std::countr_zero(m));
          previousGain[gi] = gain[gi];
          record.gain[gi] = static_cast<uint32_t>(gain[gi]);
        }
        record.changedMask = changed;
        record.sampleIndex = static_cast<uint32_t>(row);
        record.type = kStampGain;
        record.time = StampTimeOf(parser.currentMs);
        parser.Append(record);
      }
      // b. The current time moves on by one period.
      parser.currentMs =
          sixHz ? SixHzStepMs(parser.currentMs) : parser.currentMs + periodSeconds * 1000;
      // c.
      ch = 0;
      row += 1;
      if (row >= n) break;
    }
  }
  result.rowsDecoded = std::min(n, row + (ch > 0 ? 1 : 0));
  result.stampWords = parser.stampWords;
  result.burstWords = burstWords;
  result.burstNumber = parser.burstNumber;

  // Step 6.
  if (parser.stampWords > 0 || !out.stamps.records.empty()) {
    int64_t corrected = (sampleWords - parser.stampWords) / channels;
    if (waves && params.waveEnabled) corrected -= burstWords / 2;
    n = std::clamp<int64_t>(corrected, 0, n);
    AssignMarkerClasses(out.stamps);
  }
  for (int c = 0; c < channels; ++c) {
    std::vector<float>& s = out.series[static_cast<size_t>(c)];
    s.resize(static_cast<size_t>(n) + 2);
    s[static_cast<size_t>(n)] = minimum[static_cast<size_t>(c)];
    s[static_cast<size_t>(n) + 1] = maximum[static_cast<size_t>(c)];
  }
  out.samplesPerChannel = static_cast<int>(n);

  // Step 7. Each burst already holds its stamp's time (set when the stamp was read).
  if (options.hooks.analyseBurst) {
    for (size_t b = 0; b < out.bursts.size(); ++b)
      options.hooks.analyseBurst(out, static_cast<int>(b));
  }
  // Step 8.
  if (options.hooks.computeDerived) options.hooks.computeDerived(out);
  return result;
}

void AssignMarkerClasses(TimestampTable& stamps) {
  int64_t lastIndex = -1;  // nothing remembered yet
  int32_t lastClass = 8;
  for (StampRecord& r : stamps.records) {
    switch (r.type) {
      case kStampRtc:
      case kStampRecovery:
        r.markerClass = 9;
        lastIndex = r.sampleIndex;
        lastClass = 9;
        break;
      case kStampBurst:
        r.markerClass = 10;
        lastIndex = r.sampleIndex;
        lastClass = -1;
        break;
      case kStampGain: {
        const int bits = std::popcount(r.changedMask);
        // A gain record without a changed channel is not made by decoding; it gets no marker.
        r.markerClass = bits > 1 ? 12 : (bits == 1 ? std::countr_zero(r.changedMask) : -1);
        lastIndex = r.sampleIndex;
        lastClass = r.markerClass;
        break;
      }
      default:
        r.markerClass = static_cast<int64_t>(r.sampleIndex) != lastIndex ? 8 : lastClass;
        break;
    }
  }
}

// ---- Times ------------------------------------------------------------------------------------

int64_t SixHzStepMs(int64_t epochMs) {
  epochMs += 167;
  const int64_t ms = FloorMod(epochMs, 1000);
  if (ms >= 1 && ms <= 49) epochMs -= ms;
  return epochMs;
}

SystemTime SampleTime(const DataSet& data, const SystemTime& start, int64_t periodSeconds,
                      bool sixHz, int64_t row) {
  if (row < 0) row = 0;
  int64_t baseMs = ToEpochMs(start);
  int64_t steps = row;
  // The last record at or before the row (the table is in row order).
  const std::vector<StampRecord>& records = data.stamps.records;
  size_t lo = 0, hi = records.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (static_cast<int64_t>(records[mid].sampleIndex) <= row)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo > 0) {
    baseMs = ToEpochMs(records[lo - 1].time);
    steps = row - static_cast<int64_t>(records[lo - 1].sampleIndex);
  }
  if (!sixHz) return AddSeconds(FromEpochMs(baseMs), SaturatingMultiply(steps, periodSeconds));
  // 6 Hz: step until the milliseconds reach a whole second (a few hundred steps at most from any
  // start), then every 6 steps make exactly one second (.000 .167 .334 .501 .668 .835).
  while (steps > 0 && FloorMod(baseMs, 1000) != 0) {
    baseMs = SixHzStepMs(baseMs);
    --steps;
  }
  return AddMilliseconds(FromEpochMs(baseMs),
                         SaturatingMultiply(steps / 6, 1000) + (steps % 6) * 167);
}

}  // namespace klx
