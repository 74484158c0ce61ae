// Hex and dat files of a full 8 MB data set (a linear-memory logger: 48-byte header, 2 793 456
// words, four channels T/P/C/y, a time stamp every 1000 rows), as decoding leaves it: writing the
// hex file, reading it back (the parse alone, and the parse with the decoding a menu read runs),
// building and writing the dat text, and reading the dat file.
//
// bytes_per_second counts the logger memory the file stands for (the 8 MB image) per second,
// whatever the file's own size; file_rate counts the file's bytes per second. Files go to a
// temporary directory that is removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "decoding/decoder.h"
#include "files/dat_file.h"
#include "files/hex_file.h"
#include "full_memory.h"
#include "platform/host.h"
#include "shell/text_file.h"

namespace {

namespace fs = std::filesystem;
using klx::HeldData;

using klx::bench::kHeader;

const fs::path& Dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("klx-files-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// The shared full memory with its stamps, as a retrieval leaves it.
klx::MemoryImage FullImage() {
  klx::MemoryImage image = klx::bench::FullImage(true);
  image.headerLength = kHeader;
  image.unsaved = true;
  image.hasSnapshot = true;
  auto& snap = image.snapshot;
  // Fields: year, month, day of the week, day, hour, minute, second, milliseconds.
  snap.hostTime = klx::SystemTime{2024, 3, 6, 2, 10, 11, 12, 0};
  snap.loggerTime = snap.hostTime;
  snap.loggerStatus = 4;
  snap.parameters.startTime = klx::SystemTime{2024, 1, 1, 1, 0, 0, 0, 0};
  snap.parameters.endTime = klx::SystemTime{2024, 12, 2, 31, 0, 0, 0, 0};
  snap.parameters.samplePeriod = {0, 0, 1};
  return image;
}

// The held data after a retrieval: logger, calibration, the image and its decoding.
const HeldData& FullHeld() {
  static const HeldData held = [] {
    HeldData h;
    klx::bench::FullLogger(h.data);
    h.image = FullImage();
    klx::RecordingHost host;
    const klx::DecodeResult r =
        klx::DecodeImage(h.image, h.image.snapshot.parameters, h.data, host);
    h.image.headerLength = r.headerLength;
    return h;
  }();
  return held;
}

int64_t ImageBytes() {
  return static_cast<int64_t>(FullHeld().image.Size());
}

void Rates(benchmark::State& state, const fs::path& file) {
  const double size = static_cast<double>(fs::file_size(file));
  state.SetBytesProcessed(state.iterations() * ImageBytes());
  state.counters["file_MB"] = size / 1e6;
  state.counters["file_rate"] =
      benchmark::Counter(size, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["rows"] = FullHeld().data.samplesPerChannel;
}

klx::FileReadRequest Request(const fs::path& file) {
  klx::FileReadRequest r;
  r.mode = 1;
  r.file = file;
  r.programDirectory = Dir();
  return r;
}

// The decoding a menu read of a hex file runs (as the session sets it up).
klx::DecodeFunction Decoding(klx::Host& host) {
  return [&host](klx::DataSet& data, klx::MemoryImage& image) {
    const klx::DecodeResult r = klx::DecodeImage(image, image.snapshot.parameters, data, host);
    image.headerLength = r.headerLength;
  };
}

fs::path HexFile() {
  const fs::path file = Dir() / "full.hex";
  if (!fs::exists(file)) {
    const HeldData& held = FullHeld();
    klx::WriteHexFile(file, klx::HeaderInputsOf(held, klx::DatLayout::N, {}));
  }
  return file;
}

fs::path DatFile(klx::DatLayout layout) {
  const fs::path file = Dir() / ("full-" + std::to_string(static_cast<int>(layout)) + ".dat");
  if (!fs::exists(file)) {
    const HeldData& held = FullHeld();
    klx::WriteTextFileAtomically(file, klx::DatFileText(klx::HeaderInputsOf(held, layout, {})));
  }
  return file;
}

void BM_HexWrite(benchmark::State& state) {
  const HeldData& held = FullHeld();
  const klx::FileHeaderInputs in = klx::HeaderInputsOf(held, klx::DatLayout::N, {});
  const fs::path file = Dir() / "write.hex";
  for (auto _ : state) {
    if (!klx::WriteHexFile(file, in)) state.SkipWithError("hex file not written");
  }
  Rates(state, file);
}
BENCHMARK(BM_HexWrite)->Unit(benchmark::kMillisecond);

// Arg 0: the parse alone (no decoding); 1: the parse and the decoding.
void BM_HexRead(benchmark::State& state) {
  const fs::path file = HexFile();
  klx::RecordingHost host;
  for (auto _ : state) {
    klx::FileReadRequest request = Request(file);
    if (state.range(0) != 0) request.decode = Decoding(host);
    HeldData read;
    if (!klx::ReadHexFile(host, request, read)) state.SkipWithError("hex file not read");
    if (read.image.Size() != static_cast<size_t>(ImageBytes()))
      state.SkipWithError("hex file read back short");
    if (state.range(0) != 0 && read.data.samplesPerChannel != FullHeld().data.samplesPerChannel)
      state.SkipWithError("hex file decoded to another row count");
    benchmark::DoNotOptimize(read.image.bytes.data());
  }
  Rates(state, file);
}
BENCHMARK(BM_HexRead)->ArgName("decode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The dat text alone (no file), layouts N (values) and E (date, time and values).
void BM_DatText(benchmark::State& state) {
  const HeldData& held = FullHeld();
  const auto layout = static_cast<klx::DatLayout>(state.range(0));
  const klx::FileHeaderInputs in = klx::HeaderInputsOf(held, layout, {});
  size_t size = 0;
  for (auto _ : state) {
    const std::string text = klx::DatFileText(in);
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * ImageBytes());
  state.counters["file_MB"] = static_cast<double>(size) / 1e6;
  state.counters["file_rate"] =
      benchmark::Counter(static_cast<double>(size), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DatText)->ArgName("layout")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

// The dat text written as "Save data to a file" writes it (temporary file, then renamed).
void BM_DatWrite(benchmark::State& state) {
  const HeldData& held = FullHeld();
  const auto layout = static_cast<klx::DatLayout>(state.range(0));
  const klx::FileHeaderInputs in = klx::HeaderInputsOf(held, layout, {});
  const fs::path file = Dir() / "write.dat";
  for (auto _ : state) {
    if (!klx::WriteTextFileAtomically(file, klx::DatFileText(in)))
      state.SkipWithError("dat file not written");
  }
  Rates(state, file);
}
BENCHMARK(BM_DatWrite)->ArgName("layout")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_DatRead(benchmark::State& state) {
  const auto layout = static_cast<klx::DatLayout>(state.range(0));
  const fs::path file = DatFile(layout);
  klx::RecordingHost host;
  for (auto _ : state) {
    klx::FileReadRequest request = Request(file);
    HeldData read;
    if (!klx::ReadDatFile(host, request, read)) state.SkipWithError("dat file not read");
    if (read.data.samplesPerChannel != FullHeld().data.samplesPerChannel)
      state.SkipWithError("dat file read back another row count");
    benchmark::DoNotOptimize(read.data.series.data());
  }
  Rates(state, file);
}
BENCHMARK(BM_DatRead)->ArgName("layout")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(Dir(), ec);
  return 0;
}
