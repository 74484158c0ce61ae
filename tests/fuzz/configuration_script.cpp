// A configuration script: the input deciphered as a .rcfg file, and, up to its first zero byte,
// applied as clear text to a logger whose replies are the rest of the input.
#include "fuzz/conversation.h"
#include "records/coefficients.h"
#include "scripts/configuration_script.h"
#include "scripts/rcfg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)DecipherScript(input);
  const size_t cut = std::min(input.find('\0'), input.size());
  const std::string_view clear = input.substr(0, cut);
  const size_t rest = std::min(cut + 1, size);
  fuzz::FarEndLink far(
      std::make_shared<fuzz::ScriptedFarEnd>(fuzz::ReplyScript(data + rest, size - rest)));
  if (!far.Open()) return 0;
  far.host.answers = {Answer::Yes};
  CalibrationCoefficients cal;
  ScriptOptions options;
  options.throughCommunicationsSeconds = 1;
  (void)ApplyConfigurationScript(clear, "012345.rcfg", far.logger, cal, options);
  return 0;
}
