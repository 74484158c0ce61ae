// The real-time limits file: any content is read, and the file written from it reads back the
// same limits.
#include "shell/limits_file.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  fuzz::WriteBytes(LimitsFilePath(fuzz::WorkDir()), data, size);
  RealTimeLimits limits;
  ReadRealTimeLimits(fuzz::WorkDir(), limits);
  if (!WriteRealTimeLimits(fuzz::WorkDir(), limits)) std::abort();
  RealTimeLimits again;
  ReadRealTimeLimits(fuzz::WorkDir(), again);
  if (again.All() != limits.All()) std::abort();
  return 0;
}
