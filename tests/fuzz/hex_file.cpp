// The hex file reader, with the decoding of the image it read. A failed read must leave the
// held data as they were.
#include "files/hex_file.h"

#include <cstdlib>

#include "decoding/decoder.h"
#include "fuzz/fuzz_support.h"
#include "platform/host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  RecordingHost host;
  Directories directories;
  FileReadRequest request;
  request.file = fuzz::InputFile("input.hex", data, size);
  request.programDirectory = fuzz::WorkDir();
  request.directories = &directories;
  request.decode = [&host](DataSet& set, MemoryImage& image) {
    const DeploymentParameters parameters =
        image.hasSnapshot ? image.snapshot.parameters : DeploymentParameters{};
    const DecodeResult result = DecodeImage(image, parameters, set, host);
    image.headerLength = result.headerLength;
  };
  HeldData held;
  held.comment = "held before the read";
  if (!ReadHexFile(host, request, held) && held.comment != "held before the read") std::abort();
  return 0;
}
