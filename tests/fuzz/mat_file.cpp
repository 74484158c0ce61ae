// The MAT file reader (through matio). A failed read must leave the held data as they were.
#include "files/mat_file.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "platform/host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  RecordingHost host;
  Directories directories;
  MatReadRequest request;
  request.file = fuzz::InputFile("input.mat", data, size);
  request.programDirectory = fuzz::WorkDir();
  request.directories = &directories;
  HeldData held;
  held.comment = "held before the read";
  if (!ReadMatFile(host, request, held) && held.comment != "held before the read") std::abort();
  return 0;
}
