#pragma once
// What a simulated logger holds in its data memory after (and during) a deployment.
//
// The memory is a byte stream: the parameter block written when logging was enabled, then
// 24-bit words, most significant byte first. A word is one channel's reading; a row is one
// reading of every channel in order. Stamps sit between rows: a zero word, three code bytes
// ("TIM", "CLD", "STP", ...) and six BCD bytes yy mm dd hh mm ss. A wave burst of the tide and
// wave recorder is a "BST" stamp, the burst's pressure words, and a "TIM" stamp before the tide
// rows go on.
//
// The sea over a wave recorder: a semi-diurnal tide and, in every burst, one swell whose surface
// elevation is a sine of the profile's period (chosen on a frequency bin of every power-of-two
// burst) and an amplitude that varies from burst to burst within +-20 % of the profile's. The
// sensor feels the swell through linear wave theory: pressure amplitude = rho g a cosh(k zb) /
// cosh(k h), k from w^2 = g k tanh(k h), zb the logger height above the bed and h the water
// depth at the burst. Sensor depth and pressure are related by the simplified hydrostatic
// relation with the default constants (depth = (P - 10.1325 dbar) / (1.0281 * 0.980665)). A
// sensor whose mean depth is not positive is out of the water and feels no waves.
//
// Where the stream lies in the address space:
//   linear-memory loggers (firmware above 4.99): from address 0, without gaps, up to 0x7FE000;
//   older loggers: from 0x20000 upwards in 1 MiB regions; the last byte of every 64 KiB page
//   (low 16 bits 0xFFFF) and the bytes from offset 0xFF7FE to the end of each region hold no
//   data (they read as 0xFF and a block read leaves them out). A 4 MB memory has four regions
//   and ends at 0x3FF7FE, a 2 MB memory two, ending at 0x1FF7FE. The data pointer is the
//   address at which the next byte would be written, so it never points into a gap (a full
//   memory points at the start of the region after its last).
//
// Loggers whose generic serial card stores ASCII data keep text instead of words: behind the
// parameter block, one line per reading, "yyyy/mm/dd hh:mm:ss" and " %.4f" per channel in
// engineering units, ended by "\r\n". There are no stamps in such a memory.
//
// Readings are produced from smooth signals (temperature, a semi-diurnal tide, conductivity,
// ...) through the inverse of each channel's calibration, so that decoding the memory with the
// same calibration gives the signals back. Everything is deterministic for a given seed, and
// bytes are produced only when something reads them.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klx::sim {

// The placement rules above.
class AddressMap {
 public:
  // regions: 1 MiB regions of an older logger's memory (1 to 4).
  explicit AddressMap(bool linear = false, uint32_t regions = 4)
      : linear_(linear),
        regions_(regions < 1   ? 1
                 : regions > 4 ? 4
                               : regions) {}
  bool Linear() const { return linear_; }
  uint32_t Regions() const { return regions_; }
  uint32_t Base() const { return linear_ ? 0u : 0x20000u; }
  // Stream offset of the byte at `address`; nothing for an address below the base or one that
  // holds no data.
  std::optional<uint32_t> OffsetOf(uint32_t address) const;
  // Address of stream offset `offset` (an offset at the very end of a region maps to the start
  // of the next region).
  uint32_t AddressOf(uint32_t offset) const;
  // True for an address in the data area that holds no data (page byte or region gap).
  bool IsGap(uint32_t address) const;
  // Stream bytes that fit into the memory.
  uint32_t Capacity() const;

 private:
  bool linear_;
  uint32_t regions_;
};

// One channel's conversion, as the logger's calibration defines it: thermistor channels
// 1/(c0 + c1 L + c2 L^2 + c3 L^3) - 273.15 with L = ln(1/x - 1), others c0 + c1 x + c2 x^2 + c3
// x^3, x = raw / 2^24.
struct SimConversion {
  bool thermistor = false;
  std::array<double, 4> c{0, 1, 0, 0};

  double Value(uint32_t raw) const;  // engineering value of a raw word (-1000 when undefined)
  double AtFraction(double x) const;
};

// What a burst holds by construction: the wave put into it and the tide under it.
struct SimBurstWave {
  int64_t seconds = 0;         // time of the "BST" stamp, since 2000-01-01
  uint32_t samples = 0;        // words in the burst
  double rateHz = 0;           // sampling rate
  double loggerHeightM = 0;    // logger height above the bed used for the burst
  double periodS = 0;          // period of the surface wave
  double amplitudeM = 0;       // its amplitude at the surface (0 when the sensor is dry)
  double phase = 0;            // radians at the first sample
  double meanPressure = 0;     // burst channel value of the tide at sample N/2 (dbar; m for 'A')
  double meanDepthM = 0;       // sensor depth below the surface at sample N/2
  double waterDepthM = 0;      // meanDepthM + loggerHeightM
  double sensorAmplitude = 0;  // the wave's amplitude in the burst channel's unit
  bool dry = false;            // meanDepthM <= 0: the sensor is out of the water
  double SignificantHeightM() const;  // Hm0 of the sine, 4 sqrt(a^2 / 2)
  double PeakFrequencyHz() const { return periodS > 0 ? 1.0 / periodS : 0.0; }
};

// Wave number (rad/m) of a wave of period periodS in water depthM deep, by the dispersion
// relation w^2 = g k tanh(k h) with g = 9.80665.
double SimWaveNumber(double depthM, double periodS);

struct SimStampRecord {
  size_t row = 0;  // the row that follows the stamp
  std::string code;
  int64_t seconds = 0;  // since 2000-01-01 00:00:00
};

// A row at which the gain of an auto-ranging channel differs from the row before (every such
// channel on the first row): the gain stamp a decoding makes there.
struct SimGainChange {
  size_t row = 0;
  uint32_t changed = 0;    // bit n: channel n's gain changed
  std::vector<int> gains;  // per channel: its gain code, -1 for fixed-range channels
};

// What a correct decoding of the memory gives, computed here from the stored words.
struct SimExpected {
  std::vector<char> types;
  std::vector<int64_t> rowMs;               // time of each row, ms since 2000-01-01
  std::vector<std::vector<uint32_t>> raw;   // [channel][row]
  std::vector<std::vector<double>> values;  // [channel][row], engineering units
  std::vector<std::vector<int>> gains;      // [channel][row]: gain code, -1 when fixed range
  std::vector<SimStampRecord> stamps;       // in memory order
  std::vector<std::vector<double>> bursts;  // values of each wave burst
  std::vector<int64_t> burstSeconds;        // time of each burst's "BST" stamp
  std::vector<SimBurstWave> waves;          // the sea in each burst
  std::vector<SimGainChange> gainChanges;   // auto-ranging channels (y, f, g, z, i)
  std::string text;                         // ASCII loggers: the stored text, in order
  size_t Rows() const { return rowMs.size(); }
};

// An instrument with readings of its own (the micro-salinometer's cells): the raw word of
// channel ch for a row at timeMs (ms since 2000-01-01) with row number `row`, or nothing for
// the usual signal of the channel's type.
struct SimRowModel {
  virtual ~SimRowModel() = default;
  virtual std::optional<uint32_t> Word(size_t ch, int64_t timeMs, uint64_t row) const = 0;
};

class SimMemory {
 public:
  struct Channel {
    char type = 'T';
    SimConversion conversion;
  };
  struct Setup {
    bool linear = false;
    std::vector<Channel> channels;
    uint64_t seed = 1;
    double depth = 10.0;     // mean water depth over the logger, dbar
    int burstChannel = 0;    // channel whose conversion the burst words use
    double waveRateHz = 4;   // burst sampling rate
    double wavePeriodS = 8;  // the swell in the bursts
    double waveAmplitudeM = 0.5;
    uint32_t regions = 4;  // older loggers: 1 MiB regions (2 for 2 MB, 4 for 4 MB)
    bool ascii = false;    // rows are stored as text lines (see above)
    std::shared_ptr<const SimRowModel> rowModel;  // readings of the instrument's own, if any
  };
  // A burst as stored: its start, words, the logger height it was taken with and the rows that
  // lie before it in memory.
  struct BurstInfo {
    uint64_t number = 0;
    int64_t ms = 0;
    uint32_t count = 0;
    double heightM = 0;
    uint64_t rowsBefore = 0;
  };

  SimMemory() = default;
  explicit SimMemory(Setup setup);

  const AddressMap& Map() const { return map_; }
  const Setup& Configuration() const { return setup_; }

  // Memory erased: no parameter block, no readings.
  void Erase();
  // Logging enabled: the parameter block is written at the start of the data area.
  void Begin(std::vector<uint8_t> header);
  bool Begun() const { return begun_; }
  size_t HeaderLength() const { return header_.size(); }

  // Appending; each returns false (and writes nothing) when the item no longer fits.
  bool AddStamp(std::string_view code, int64_t seconds);
  // Rows from firstMs, one every periodMs (periodMs 0: six rows a second, 167 ms apart, on
  // whole seconds). Returns the rows written (fewer when the memory fills).
  uint64_t AddRows(int64_t firstMs, int64_t periodMs, uint64_t count);
  // A wave burst: "BST" stamp at `seconds`, `count` words at the wave rate, the sea seen by a
  // logger `heightM` above the bed.
  bool AddBurst(int64_t seconds, uint32_t count, double heightM = 0);
  uint64_t BurstCount() const { return bursts_; }
  std::optional<BurstInfo> BurstAt(uint64_t number) const;

  uint32_t UsedBytes() const { return used_; }
  uint32_t Pointer() const { return map_.AddressOf(used_); }
  bool Full(uint32_t more) const { return static_cast<uint64_t>(used_) + more > map_.Capacity(); }
  uint64_t RowCount() const { return rows_; }
  // Row number `row` (counted from the first row since the memory was erased): its time in ms
  // since 2000-01-01 and the raw word of every channel, as the memory holds them. Nothing for a
  // row that was never written. Recent rows are found fastest.
  struct Row {
    int64_t ms = 0;
    std::vector<uint32_t> raw;
  };
  std::optional<Row> RowAt(uint64_t row) const;

  // Byte at an address of the data area (0xFF where nothing was written or nothing is kept).
  uint8_t ByteAt(uint32_t address) const;

  // The expected decoding of everything written so far.
  SimExpected Expected() const;

  // The sim's signal model, exposed for tests: the raw word of channel ch for a row at
  // timeMs with the given row number (noise), and its gain code (-1 for fixed-range channels).
  uint32_t RowWord(size_t ch, int64_t timeMs, uint64_t row, int* gain = nullptr) const;
  // The text line of a row as an ASCII logger stores it.
  std::string RowText(int64_t timeMs, uint64_t row) const;
  // Burst number `burst` starting at startMs: the sea it sees and the word of its sample k.
  SimBurstWave BurstWave(uint64_t burst, int64_t startMs, uint32_t count, double heightM) const;
  uint32_t BurstWord(const SimBurstWave& wave, uint64_t burst, uint32_t k) const;
  // Inverse of a conversion: the fraction x in [lo, hi] whose value is nearest to `value`.
  static double InverseFraction(const SimConversion& conversion, double value, double lo = 0.002,
                                double hi = 0.87);

 private:
  enum class Kind { Stamp, Rows, Burst };
  struct Item {
    Kind kind = Kind::Rows;
    int64_t ms = 0;           // stamp time, first row time, burst time
    int64_t periodMs = 0;     // rows: 0 for six a second
    uint64_t count = 0;       // rows or burst words
    uint64_t first = 0;       // number of the first row (rows), of the burst (burst)
    double heightM = 0;       // burst: logger height above the bed
    uint64_t rowsBefore = 0;  // burst: rows stored before it
    std::array<char, 3> code{};
    uint32_t offset = 0;  // stream offset of the item's first byte
    uint32_t bytes = 0;
  };
  struct Signal {  // per channel: a range in engineering units and how to reach it
    double lo = 0, hi = 1;
    bool physical = true;   // false: the conversion cannot reach the range; fractions are used
    double fa = 0, fb = 1;  // mapped range when not physical
  };

  double Shape(size_t ch, double seconds, uint64_t row) const;  // 0..1
  uint32_t Encode(size_t ch, double u, int* gain) const;
  // The word whose engineering value is nearest to `value` (mapped like Encode when the
  // conversion cannot reach the channel's range).
  uint32_t EncodeValue(size_t ch, double value) const;
  double BurstLevel(double seconds) const;               // the tide in the burst channel's unit
  const std::vector<uint8_t>& Bytes(size_t item) const;  // produced on first use
  std::vector<uint8_t> Emit(const Item& item) const;
  static int64_t RowMs(const Item& item, uint64_t i);

  Setup setup_;
  AddressMap map_;
  std::vector<Signal> signals_;
  bool begun_ = false;
  std::vector<uint8_t> header_;
  std::vector<Item> items_;
  uint32_t used_ = 0;
  uint64_t rows_ = 0;
  uint64_t bursts_ = 0;
  mutable std::map<size_t, std::vector<uint8_t>> cache_;  // bytes of the items read so far
};

// A deterministic pseudo-random number in [0, 1) for (seed, a, b).
double SimUnit(uint64_t seed, uint64_t a, uint64_t b);

// Six BCD bytes yy mm dd hh mm ss of a time in seconds since 2000-01-01.
std::array<uint8_t, 6> BcdTime(int64_t seconds);

}  // namespace klx::sim
