#include "deployment/status.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "shell/status.h"

namespace klx {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// How many of the readings count for the usage figure: all of them (bytes) or per channel.
std::string UsageText(const LoggerState& state, double percent, int64_t readings) {
  const bool bytes = (state.rsAdvancedWord & 0x08u) != 0;
  const int64_t value =
      bytes ? readings * 3
            : readings / std::clamp(state.channelCount, 1, LoggerState::kMaxChannels);
  const char* unit = bytes ? "bytes" : "readings";
  if (value > 999)
    return Format("%.1f%%, %dK %s", percent, static_cast<int>((value + 500) / 1000), unit);
  if (value > 0) return Format("<0.1%%, %d %s", static_cast<int>(value), unit);
  return Format("0%%, 0 %s", unit);
}

constexpr const char* kStopQuestion =
    "Do you wish to stop the logger?\nIf you choose to continue without stopping the logger, "
    "data download may be slow.";
constexpr const char* kSuspendQuestion =
    "This logger may be stopped completely or\nsuspended during data download and resumed after.";
constexpr const char* kMustStop = "This logger must be stopped to download data.";
constexpr const char* kCannotRetrieve =
    "Data cannot be retrieved from an KLX NA-7100 version 1.0 logger\nwhen it is still "
    "collecting data.";

enum class QueryChoice { First, Second, Cancel };

QueryChoice AskDownloadQuery(Host& host, const DownloadQuery& query) {
  std::vector<std::string> labels{query.first};
  if (!query.second.empty()) labels.push_back(query.second);
  switch (host.Choose(kRetrieveCaption, query.text, labels, BoxIcon::Question)) {
    case 0:
      return QueryChoice::First;
    case 1:
      return QueryChoice::Second;
    default:
      return QueryChoice::Cancel;
  }
}

// Takes the logger's answer to a deployment step off the line, so that it does not stand in
// front of the next reply.
void DrainReply(LoggerLink& link) {
  std::array<uint8_t, 121> buffer{};
  link.link().LinkRead(buffer.data(), 120);
}

// "!9" after re-establishing the connection, then real-time output off.
bool StopLogger(LoggerLink& link, RetrievalHold& hold) {
  if (link.CommSet(13) != 1) return false;
  DrainReply(link);
  // "!B00" goes only to loggers that are not linear-memory loggers or that have RS485.
  if (!link.state.extendedCommandSet || link.state.externalDataConnector) {
    link.link().LinkWriteText("!B00");
    link.link().WaitMilliseconds(50);
  }
  hold.stopped = true;
  return true;
}

RetrievalPreparation StopForRetrieval(LoggerLink& link, RetrievalHold& hold) {
  ShowStatus(link.host(), "Stopping logger");
  return StopLogger(link, hold) ? RetrievalPreparation::Proceed : RetrievalPreparation::Abort;
}

}  // namespace

const char* StatusName(int code) {
  if (code == 8) return StatusNames[8];
  if (code < 0 || code > 6) return StatusNames[7];
  return StatusNames[static_cast<size_t>(code)];
}

std::optional<uint32_t> ParseDataPointer(std::string_view reply) {
  const size_t tag = reply.find("CDP");
  if (tag == std::string_view::npos || tag < 8) return std::nullopt;
  uint32_t pointer = 0;
  for (size_t i = 0; i < 4; ++i) {
    const int hi = HexDigit(reply[tag - 8 + 2 * i]);
    const int lo = HexDigit(reply[tag - 7 + 2 * i]);
    if (hi < 0 || lo < 0) return std::nullopt;
    pointer |= static_cast<uint32_t>(hi * 16 + lo) << (8 * i);
  }
  return pointer;
}

MemoryUsage ComputeMemoryUsage(const LoggerState& state, uint32_t pointer) {
  MemoryUsage usage;
  const int64_t p = pointer;
  const int64_t header = std::max(state.parameterBlockLength, 0);
  const float fw = state.firmware;
  const bool na = state.ModelHas("NA");
  const bool nb = state.ModelHas("NB");
  const bool vs = state.IsVS();
  if (state.extendedCommandSet) {
    usage.percent = static_cast<double>(p) * 100.0 / kLinearMemoryCapacity;
    usage.readings = p < header ? 0 : (p - header + 2) / 3;
  } else {
    const int64_t used = p - kOlderLoggerMemoryStart;
    const bool large = ((na || nb) && fw >= 3.15f) || (vs && fw >= 4.0f);
    usage.percent = static_cast<double>(used) * 100.0 / (large ? 3900000.0 : 1961952.0);
    int64_t readings = used / 3;
    if (na && fw >= 1.5f && fw < 2.15f) readings -= 5;
    if ((na && fw >= 2.15f) || (nb && fw >= 1.5f)) readings -= 10;
    if (vs) readings -= header / 3;
    usage.readings = readings;
  }
  usage.percent = std::clamp(usage.percent, 0.0, 100.0);
  usage.readings = std::max<int64_t>(usage.readings, 0);
  usage.text = UsageText(state, usage.percent, usage.readings);
  return usage;
}

std::string MemoryUsageText(const LoggerState& state, std::string_view reply) {
  const auto pointer = ParseDataPointer(reply);
  if (!pointer) return {};
  return ComputeMemoryUsage(state, *pointer).text;
}

const char* EmptyMemoryMessage(int statusCode) {
  return StatusIsIdle(statusCode) ? "No data in memory."
                                  : "No data in memory - You may stop the logger.";
}

RetrievalPreparation PrepareForRetrieval(LoggerLink& link, bool stopButton, RetrievalHold& hold) {
  hold = RetrievalHold{};
  Host& host = link.host();
  if (stopButton) {
    if (!StopLogger(link, hold)) return RetrievalPreparation::Abort;
    return RetrievalPreparation::Restart;
  }
  const int status = link.status.code;
  const int level = link.state.commandLevel;
  const bool collecting = status == 1 || status == 2;

  if ((status == 4 || status == 8) && link.deployment().continuousPower && level >= 2)
    return StopLogger(link, hold) ? RetrievalPreparation::Proceed : RetrievalPreparation::Abort;

  if ((collecting || status == 6) && level == 4) {
    switch (AskDownloadQuery(host, {kStopQuestion, "Keep logging", "Stop"})) {
      case QueryChoice::First:
        return RetrievalPreparation::Proceed;
      case QueryChoice::Second:
        return StopForRetrieval(link, hold);
      case QueryChoice::Cancel:
        return RetrievalPreparation::Abort;
    }
  }
  if (collecting && level == 3) {
    switch (AskDownloadQuery(host, {kSuspendQuestion, "Suspend and resume", "Stop"})) {
      case QueryChoice::First:
        ShowStatus(host, "Suspending logging");
        link.CommSet(22);
        DrainReply(link);
        hold.suspended = true;
        return RetrievalPreparation::Proceed;
      case QueryChoice::Second:
        return StopForRetrieval(link, hold);
      case QueryChoice::Cancel:
        return RetrievalPreparation::Abort;
    }
  }
  if (((collecting || status == 3) && level == 2) || (status == 3 && level == 3)) {
    if (AskDownloadQuery(host, {kMustStop, "Stop", ""}) != QueryChoice::First)
      return RetrievalPreparation::Abort;
    return StopForRetrieval(link, hold);
  }
  if (collecting && level == 1) {
    host.Tell(kRetrieveCaption, kCannotRetrieve, BoxIcon::Stop);
    return RetrievalPreparation::Abort;
  }
  return RetrievalPreparation::Proceed;
}

ResumeResult ResumeAfterRetrieval(LoggerLink& link, RetrievalHold& hold) {
  if (!hold.suspended) return ResumeResult::NotNeeded;
  hold.suspended = false;
  return link.CommSet(23) == 1 ? ResumeResult::Resumed : ResumeResult::Failed;
}

}  // namespace klx
