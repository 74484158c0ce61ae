// The settings file and the multiple-copies file: any content is read, and what the settings
// then write reads back to the same settings.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "shell/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  Settings settings(fuzz::WorkDir());
  fuzz::WriteBytes(settings.SettingsFilePath(), data, size);
  fuzz::WriteBytes(settings.CopiesFilePath(), data, size);
  if (settings.ReadSettings() != Settings::Origin::Read) std::abort();
  const std::string text = settings.SettingsText();
  if (!settings.WriteSettings()) std::abort();
  Settings again(fuzz::WorkDir());
  again.ReadSettings();
  if (again.SettingsText() != text || again.allowMultipleCopies != settings.allowMultipleCopies)
    std::abort();
  return 0;
}
