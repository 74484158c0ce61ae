#pragma once
// The retrieved bytes of a logger's memory, and what is known about the deployment that wrote
// them.
#include <cstdint>
#include <vector>

#include "platform/system_time.h"
#include "records/deployment_parameters.h"

namespace klx {

// The deployment as it stood when the data were retrieved; the file writers take the data's
// parameters from here, not from the live logger.
struct DeploymentSnapshot {
  DeploymentParameters parameters;
  SystemTime hostTime;                  // host clock when the logger's clock was read
  SystemTime loggerTime;                // logger clock at retrieval
  int loggerStatus = 0;                 // status code at retrieval
  std::vector<uint8_t> parameterBlock;  // the logger's parameter block, as read
};

struct MemoryImage {
  // The largest image: 8 MB less the logger's reserved top (0x7FE000 bytes).
  static constexpr uint32_t kCapacity = 0x7FE000;

  // The last block of a full memory arrives with its sum byte, and a read leaves a zero byte
  // behind what it received: the buffer holds both beyond the capacity once a transfer starts.
  static constexpr uint32_t kBlockTail = 2;

  // The image.
  std::vector<uint8_t> bytes;
  int32_t fill = 0;
  uint32_t nextAddress = 0;
  uint32_t endAddress = 0;
  int32_t sampleWords = 0;
  int headerLength = 132;
  bool unsaved = false;
  bool appending = false;
  bool hasSnapshot = false;
  DeploymentSnapshot snapshot;

  void Reserve() {
    if (bytes.size() < kCapacity + kBlockTail) bytes.resize(kCapacity + kBlockTail, 0);
  }
  // The bytes held, as a read-only range.
  const uint8_t* Data() const { return bytes.data(); }
  size_t Size() const { return fill > 0 ? static_cast<size_t>(fill) : 0; }
};

}  // namespace klx
