// The logger's replies: the input is the far end of a loopback port, one reply per command
// (tagged queries, tables with their check byte, memory blocks, the configuration block).
#include "fuzz/conversation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx::fuzz;
  FarEndLink far(std::make_shared<ScriptedFarEnd>(ReplyScript(data, size)));
  if (!far.Open()) return 0;
  QueryConversation(far.logger);
  return 0;
}
