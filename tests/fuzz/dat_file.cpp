// The dat file reader. A failed read must leave the held data as they were.
#include "files/dat_file.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "platform/host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  RecordingHost host;
  Directories directories;
  FileReadRequest request;
  request.file = fuzz::InputFile("input.dat", data, size);
  request.programDirectory = fuzz::WorkDir();
  request.directories = &directories;
  HeldData held;
  held.comment = "held before the read";
  if (!ReadDatFile(host, request, held) && held.comment != "held before the read") std::abort();
  return 0;
}
