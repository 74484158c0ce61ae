// A meta-table file as the user gives it, and the table a generic serial card sends back (its
// read through the link, its listing and its comparison with the file).
#include "cards/generic_card.h"
#include "cards/meta_table.h"
#include "fuzz/conversation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto file = MetaTableFromBytes(input, error);
  (void)MetaTableListLines(input);
  fuzz::FarEndLink far(std::make_shared<fuzz::ScriptedFarEnd>(fuzz::ReplyScript(data, size)));
  if (!far.Open()) return 0;
  far.logger.state.genericCardVersion = size % 2 ? 4 : 3;
  const MetaTableRead read = ReadMetaTable(far.logger, 1, 50);
  if (read.ok && file) (void)MetaTableMatchesFile(read.table, file->original);
  return 0;
}
