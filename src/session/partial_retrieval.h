#pragma once
// What an interrupted retrieval leaves behind so that the next retrieval of the same logger can
// continue from its last good block: the memory image received so far, where it ended, and what
// identifies the memory it came from (model, firmware, serial number, start of logging, memory
// layout and the data pointer at the time). Kept as "<hex>/resume/<serial>.partial", written
// through a temporary file that is renamed into place.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_time.h"
#include "records/logger_state.h"

namespace klx {

struct PartialRetrieval {
  std::string model;
  std::string firmware;  // as "%.2f"
  int32_t serial = 0;
  SystemTime start;  // the deployment's start of logging
  int memoryMb = 0;
  bool linear = false;   // linear-memory logger
  uint32_t pointer = 0;  // the logger's data pointer when the retrieval ran
  uint32_t endAddress = 0;
  uint32_t nextAddress = 0;  // the first address not yet received
  // The last good block that brought bytes: its address and where its bytes start in the image.
  // A continuation fetches it again and compares, so that a memory rewritten meanwhile is found.
  uint32_t checkAddress = 0;
  int32_t checkFill = 0;
  int blocks = 0;              // good blocks received
  int totalBlocks = 0;         // blocks the whole retrieval was expected to take
  std::vector<uint8_t> bytes;  // the image so far
};

enum class PartialReadResult { Ok, Missing, Damaged };

std::filesystem::path PartialRetrievalPath(const std::string& hexDirectory, int32_t serial);
bool WritePartialRetrieval(const std::filesystem::path& path, const PartialRetrieval& partial);
PartialReadResult ReadPartialRetrieval(const std::filesystem::path& path,
                                       PartialRetrieval& partial);

// Why the kept retrieval cannot be continued on this logger (empty when it can): another
// logger, another deployment, a memory erased since, or nothing left to fetch beyond it.
std::string PartialMismatch(const PartialRetrieval& partial, const LoggerState& logger,
                            const SystemTime& start, uint32_t pointer, uint32_t endAddress);

}  // namespace klx
