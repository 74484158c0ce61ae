// The calibration read and history listing against a far end that answers from the input.
#include "fuzz/conversation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx::fuzz;
  FarEndLink far(std::make_shared<ScriptedFarEnd>(ReplyScript(data, size)));
  if (!far.Open()) return 0;
  // A fresh folder each time: the history files are numbered and would run out.
  const auto folder = WorkDir() / "history";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  CalibrationConversation(far.logger, folder);
  return 0;
}
