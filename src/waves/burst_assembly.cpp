#include "waves/burst_assembly.h"

#include <algorithm>
#include <cmath>

namespace klx {

BurstAssembler::BurstAssembler(const WaveSetup& setup)
    : setup_(setup),
      length_(std::clamp(setup.burstLength, 0, kMaxWaveBurstLength)),
      slots_(static_cast<size_t>(length_)),
      raw_(static_cast<size_t>(length_)),
      completedRaw_(static_cast<size_t>(length_)) {}

void BurstAssembler::Open(DataSet& data, const SystemTime& start, uint32_t sampleIndex,
                          int& completed) {
  completed = Close(data);
  const auto number = static_cast<uint32_t>(data.bursts.size());
  StampRecord stamp;
  stamp.sampleIndex = sampleIndex;
  stamp.type = kStampBurst;
  stamp.burstNumber = number;
  stamp.time = start;
  if (data.stamps.records.size() < TimestampTable::kCapacity)
    data.stamps.records.push_back(stamp);
  else
    data.stamps.overflowed = true;
  BurstSeries burst;
  burst.time = start;
  burst.samples.assign(static_cast<size_t>(length_), kMissingValue);
  burst.stats.surfaceMax = -500.0f;
  burst.stats.surfaceMin = 500.0f;
  data.bursts.push_back(std::move(burst));
  open_ = static_cast<int>(number);
  stamped_ = true;
  present_ = 0;
  std::fill(slots_.begin(), slots_.end(), 0);
  std::fill(raw_.begin(), raw_.end(), 0);
}

int BurstAssembler::Add(DataSet& data, int first, const float* values, const int32_t* raw,
                        int count, const SystemTime& now, uint32_t sampleIndex) {
  if (open_ < 0) {
    int none = -1;
    Open(data, now, sampleIndex, none);
    stamped_ = false;  // started on the PC's clock: not comparable with the logger's times
  }
  auto& samples = data.bursts[static_cast<size_t>(open_)].samples;
  for (int k = 0; k < count; ++k) {
    const int slot = first + k;
    if (slot < 0 || slot >= length_) continue;
    const auto at = static_cast<size_t>(slot);
    samples[at] = values[k];
    raw_[at] = raw ? raw[k] : 0;
    if (!slots_[at]) {
      slots_[at] = 1;
      ++present_;
    }
  }
  return present_ >= length_ && length_ > 0 ? Complete(data) : -1;
}

int BurstAssembler::Close(DataSet& data) {
  return open_ >= 0 ? Complete(data) : -1;
}

int BurstAssembler::Expire(DataSet& data, const SystemTime& now) {
  if (open_ < 0 || !stamped_ || setup_.rateHz <= 0) return -1;
  const int64_t durationMs = static_cast<int64_t>(length_) * 1000 / setup_.rateHz + 2000;
  const int64_t started = ToEpochMs(data.bursts[static_cast<size_t>(open_)].time);
  return ToEpochMs(now) - started > durationMs ? Complete(data) : -1;
}

int BurstAssembler::Complete(DataSet& data) {
  const int index = open_;
  open_ = -1;
  completedPresent_ = present_;
  BurstSeries& burst = data.bursts[static_cast<size_t>(index)];
  if (present_ == 0) {
    std::swap(raw_, completedRaw_);
    return index;
  }
  double sum = 0, rawSum = 0;
  for (int i = 0; i < length_; ++i) {
    if (!slots_[static_cast<size_t>(i)]) continue;
    sum += burst.samples[static_cast<size_t>(i)];
    rawSum += raw_[static_cast<size_t>(i)];
  }
  const auto mean = static_cast<float>(sum / present_);
  const auto rawMean = static_cast<int32_t>(std::lround(rawSum / present_));
  for (int i = 0; i < length_; ++i) {
    if (slots_[static_cast<size_t>(i)]) continue;
    burst.samples[static_cast<size_t>(i)] = mean;
    raw_[static_cast<size_t>(i)] = rawMean;
  }
  std::swap(raw_, completedRaw_);
  if (present_ >= 2) analyser_.AnalyseBurst(setup_, burst);  // fewer: kept, not analysed
  return index;
}

}  // namespace klx
