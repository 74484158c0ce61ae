#pragma once
// Retrieving a logger's memory, as the retrieval dialog runs it: open (identity, status, clock,
// schedule, memory usage), settle stop/suspend/keep, read the calibration, transfer block by
// block (one per Tick), then restore the link, decode, resume and keep the data set.
#include <filesystem>
#include <string>
#include <vector>

#include "deployment/status.h"
#include "retrieval/transfer.h"
#include "session/partial_retrieval.h"
#include "session/session.h"

namespace klx {

// What a retrieval does with an interrupted one kept for the same logger: ask whether to
// continue it, continue it without asking, or leave it aside (it is kept).
enum class ResumePolicy { Ask, Always, Never };

class Retrieval {
 public:
  explicit Retrieval(Session& session);

  // Connects and reads what the dialog shows. False when no logger answers.
  bool Open();
  // "Retrieve Data" (all = false) or "Retrieve 100%". False when the retrieval ends before the
  // transfer (cancelled, nothing to fetch, link lost); Finish() has then run where needed.
  bool Begin(bool all);
  // "Append to file": continues the hex file behind the chosen dat file (from the HEX
  // directory) with what the logger holds beyond it. False (with the message) when the file
  // does not belong to this logger and deployment, or cannot be read.
  bool BeginAppend(const std::filesystem::path& datFile);
  // The file choice "Append to file" offers: the logger's dat files in the DAT directory.
  FileChoice AppendFileChoice() const;
  // One block; false once the transfer has ended (Finish() has then run).
  bool Tick();
  // "Cancel" during the transfer: ends it with what has arrived.
  void Cancel();
  bool Downloading() const { return transfer_.state.downloading; }
  bool Finished() const { return finished_; }

  const Transfer& transfer() const { return transfer_; }
  ResumePolicy resume = ResumePolicy::Ask;
  // This retrieval continued an interrupted one from its last good block.
  bool Resumed() const { return resumed_; }
  // Where an interrupted retrieval of the connected logger is kept.
  std::filesystem::path PartialPath() const;
  // What the dialog shows.
  std::string statusName;
  // Nothing behind the data pointer while the logger runs: the retrieve button reads
  // "STOP logger" and pressing it stops the logger instead.
  bool stopButton = false;
  std::string memoryUsage;
  SystemTime hostTime;
  int TimerPeriodMs() const { return transfer_.TimerPeriodMs(); }

 private:
  void ReadDisplay();
  // The calibration read before a transfer; its failure is told and the defaults are used.
  void ReadCalibrationOrWarn();
  void Finish();
  enum class Continuation { NotUsed, Started, Failed };
  Continuation ContinueKept();
  // The block fetched again at a continuation must hold what the kept image holds; false when
  // the memory differs and the transfer has to start again (and could not).
  bool CheckRefetchedBlock();
  // At the end of a transfer: an interrupted one is kept for a later continuation, a complete
  // one removes what was kept.
  void KeepOrDropPartial();

  Session& s_;
  Transfer transfer_;
  RetrievalHold hold_;
  bool finished_ = false;
  bool started_ = false;
  // The continuation bookkeeping.
  bool transferRan_ = false;
  bool cancelled_ = false;
  bool resumed_ = false;
  bool verifying_ = false;
  bool leftAside_ = false;  // a kept image not continued: it stays as it is
  std::vector<uint8_t> verifyBytes_;
  int32_t verifyFill_ = 0;
  uint32_t pointer_ = 0;
  // The logger and deployment as they stood when the transfer began (a lost link leaves the
  // live state unknown).
  PartialRetrieval identity_;
  uint32_t lastGoodAddress_ = 0;
  int32_t lastGoodFill_ = -1;
  int blocksDone_ = 0;
};

}  // namespace klx
