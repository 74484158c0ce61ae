// The directory file: any content is read, and the file it is rewritten as reads back the same.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "shell/directories.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  fuzz::WriteBytes(DirectoryFilePath(fuzz::WorkDir()), data, size);
  Directories first;
  if (ReadDirectories(fuzz::WorkDir(), first)) std::abort();  // the default folders can be made
  Directories second;
  if (ReadDirectories(fuzz::WorkDir(), second) || !(first == second)) std::abort();
  return 0;
}
