#pragma once
// Real-time burst assembly of the tide-and-wave recorder: a "BST" record opens a burst, "SEQ"
// records carry its later samples two at a time. A burst is complete when the next burst stamp
// arrives or when all its samples have; its missing samples are then filled with the mean of
// those present and it is analysed.
//
// Choices: a burst that closes with fewer than two samples keeps them but is not analysed; the
// run's end (Close) completes an open burst like the next stamp would, and so does a tide sample
// that arrives after the burst's own duration (its last "SEQ" records were lost on the line), so
// the burst is shown and saved without waiting for the next burst stamp.
#include <cstdint>
#include <vector>

#include "records/data_set.h"
#include "waves/analysis.h"

namespace klx {

class BurstAssembler {
 public:
  // `setup.burstLength` samples per burst (refused setups keep the samples, unanalysed).
  explicit BurstAssembler(const WaveSetup& setup);

  // A burst stamp at tide sample `sampleIndex`: completes the open burst (returned through
  // `completed`, -1 when none), then opens the next one: a burst stamp record (type 8, burst
  // number, start time) is appended to the data set's table, its slots are all missing.
  void Open(DataSet& data, const SystemTime& start, uint32_t sampleIndex, int& completed);

  // Samples of the open burst from slot `first` on (a "BST" record's two values go to slots 0
  // and 1, a "SEQ" record's to its sequence number and the next); values beyond the burst
  // length are dropped. Without an open burst one is opened first at `now` (the PC's time).
  // Returns the index of the burst these samples completed, or -1.
  int Add(DataSet& data, int first, const float* values, const int32_t* raw, int count,
          const SystemTime& now, uint32_t sampleIndex);

  // Completes the open burst, if any; returns its index or -1.
  int Close(DataSet& data);

  // Completes the open burst when `now` (a logger time) lies past its stamped start by more than
  // its duration (burst length / rate) and two seconds; returns its index or -1.
  int Expire(DataSet& data, const SystemTime& now);

  int OpenBurst() const { return open_; }
  int PresentCount() const { return present_; }
  // The raw counts of the last completed burst as received; a missing slot holds the mean of
  // the counts present (the real-time file gets a whole burst).
  const std::vector<int32_t>& Raw() const { return completedRaw_; }
  // The samples the last completed burst had received (0: nothing worth writing).
  int CompletedPresent() const { return completedPresent_; }
  WaveAnalyser& Analyser() { return analyser_; }
  const WaveSetup& Setup() const { return setup_; }

 private:
  int Complete(DataSet& data);

  WaveSetup setup_;
  WaveAnalyser analyser_;
  int length_ = 0;
  int open_ = -1;    // index of the open burst in data.bursts, -1 when none
  int present_ = 0;  // samples received for the open burst
  int completedPresent_ = 0;
  bool stamped_ = false;  // the open burst began with a burst stamp (the logger's time)
  std::vector<uint8_t> slots_;  // 1: present
  std::vector<int32_t> raw_, completedRaw_;
};

}  // namespace klx
