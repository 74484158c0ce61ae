#pragma once
// The block transfer of a logger's memory into the memory image: block sizes by line rate, the
// page and region rules of older loggers, checksums, retries with the fall-back to 19200 baud,
// the express-rate speed-up and the time estimate. One block per Tick(), so a front end can
// pace it from its timer and stay responsive.
#include <cstdint>
#include <string>

#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "records/memory_image.h"

namespace klx {

struct TransferState {
  int blockSize = 480;
  double progressStep = 0.0;
  float progress = 0.0f;
  float startProgress = 0.0f;  // the share held before this transfer (a continuation)
  int blocksRequested = 0;
  int blocksRetransmitted = 0;
  int savedBaudRate = 19200;
  int64_t startMs = 0;
  int64_t lastBlockMs = 0;
  bool downloading = false;
  bool suspended = false;
  bool retrieveAll = false;
  bool failed = false;  // ended by the download error or a lost link
};

// Bytes per block at a line rate.
int BlockSizeForRate(int baudRate);

class Transfer {
 public:
  Transfer(LoggerLink& logger, MemoryImage& image, Clock& clock);

  // Raises the rate to the logger's express download rate when it may; true when the link
  // is up afterwards.
  bool OfferSpeedUp();
  // Prepares the transfer from `startAddress` (linear-memory loggers: 0, or the bytes already
  // held when appending) to image.endAddress.
  bool StartTransfer(uint32_t startAddress);
  // Prepares a transfer that continues an image already holding `fill` bytes, from the logger
  // address `nextAddress` on (the speed-up included, as StartTransfer). The progress counts the
  // bytes already held.
  bool ResumeTransfer(uint32_t nextAddress, int32_t fill);
  // Before each block: reconnects after 5 s of silence, then falls back to 19200 baud.
  bool CheckLinkAlive();
  // One block with its retries. Returns false when the transfer has ended (done or failed).
  bool FetchNextBlock();
  // Puts the link back to the rate it had before the speed-up; sets the sample word count.
  void FinishTransfer();

  // The main window's tick period while blocks are fetched: one block's line time.
  int TimerPeriodMs() const;
  // "Estimated download time remaining %d:%02d" or "... < 1 second".
  const std::string& RemainingText() const { return remaining_; }
  TransferState state;

 private:
  bool IsLinear() const { return logger_.state.extendedCommandSet; }
  bool SendsNoChecksum() const;
  bool VerifiesChecksum() const;
  bool SwitchRate(int baudRate);
  void WaitOutLostLink();
  void UpdateRemaining(uint32_t end);

  LoggerLink& logger_;
  MemoryImage& image_;
  Clock& clock_;
  std::string remaining_;
  LoggerIdentity identity_;  // the logger as it identified itself when the transfer started
};

}  // namespace klx
