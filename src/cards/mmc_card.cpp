#include "cards/mmc_card.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "cards/access.h"
#include "shell/messages.h"
#include "shell/status.h"

namespace klx {
namespace {

struct RefreshStep {
  const char* command;
  const char* marker;
  const char* missing;
};
constexpr std::array<RefreshStep, 4> kSteps = {{
    {"!G00", "MMS", "Unable to read MMC/SD size"},
    {"!G04", "MMD", "Unable to read MMC/SD type"},
    {"!G02", "MMF", "Unable to read MMC/SD first file"},
    {"!G03", "MML", "Unable to read MMC/SD last file"},
}};

// The text before the marker, without blanks and line ends around it.
std::string TextBefore(const std::string& reply, size_t marker) {
  std::string text = reply.substr(0, marker);
  const auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

}  // namespace

bool MmcSdSupported(LoggerLink& logger) {
  const LoggerState& s = logger.state;
  if ((s.rsCommandFlags & 0x10u) == 0) {
    ShowStatus(logger.host(), "Error: Logger connected does not support the MMC/SD memory");
    return false;
  }
  if ((s.rsAdvancedWord & kRsAdvancedMemoryCard) == 0) {
    ShowStatus(logger.host(), "Error: Logger is not equiped with a MMC/SD memory");
    return false;
  }
  return true;
}

bool MmcSdAccessAllowed(LoggerLink& logger) {
  return CardAccessAllowed(logger, Msg::MmcSdAccessCaption, Msg::LoggingCannotAccessMmcSd);
}

std::optional<std::string> MmcFileCommand(int64_t fileNumber) {
  if (fileNumber < 0 || fileNumber > 99999999) return std::nullopt;
  return Format("!GCC%08d", static_cast<int>(fileNumber));
}

MmcSdCard::MmcSdCard(LoggerLink& logger, Clock& clock) : logger_(logger), clock_(clock) {}

void MmcSdCard::Refresh() {
  if (Busy()) return;
  lines_.clear();
  lines_.push_back("Refreshing MMC/SD card data");
  refreshEnabled = false;
  ok = false;
  sizeKb = 0;
  type = "None found";
  firstFile = lastFile = "Unknown";
  worstWaitMs = 0;
  if (!logger_.ConnectLogger()) {
    lines_.push_back("Unable to communicate with MMC/SD card");
    lines_.push_back("Ensure a MMC/SD card is installed");
    End(false);
    return;
  }
  step_ = 0;
  SendStep();
}

void MmcSdCard::SendStep() {
  reply_.clear();
  seconds_ = 0;
  stepStart_ = clock_.MonotonicMs();
  logger_.link().LinkWriteText(kSteps[static_cast<size_t>(step_)].command);
}

void MmcSdCard::Tick() {
  if (!Busy()) return;
  std::array<uint8_t, 51> chunk{};
  const int n = logger_.link().LinkRead(chunk.data(), 50);
  reply_.append(reinterpret_cast<const char*>(chunk.data()), static_cast<size_t>(std::max(n, 0)));
  ++seconds_;
  if (reply_.find("MM") != std::string::npos || seconds_ >= kWaitSeconds) EndStep();
}

void MmcSdCard::EndStep() {
  const RefreshStep& step = kSteps[static_cast<size_t>(step_)];
  worstWaitMs = std::max(worstWaitMs, clock_.MonotonicMs() - stepStart_);
  const size_t marker = reply_.find(step.marker);
  if (marker == std::string::npos) {
    lines_.push_back(step.missing);
    End(false);
    return;
  }
  switch (step_) {
    case 0: {
      // Up to eight hexadecimal digits at the start of the reply.
      const std::string digits = TextBefore(reply_, marker).substr(0, 8);
      sizeKb = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
      lines_.push_back(Format("Memory size = %uKB", sizeKb));
      break;
    }
    case 1:
      type = TextBefore(reply_, marker);
      lines_.push_back("Memory type = " + type);
      break;
    case 2:
      firstFile = TextBefore(reply_, marker);
      lines_.push_back("First file in sequence = " + firstFile);
      break;
    default:
      lastFile = TextBefore(reply_, marker);
      fileNumberField = lastFile;
      lines_.push_back("Last file in sequence = " + lastFile);
      lines_.push_back(Format("Worst case timeout = %ums", static_cast<unsigned>(worstWaitMs)));
      End(true);
      return;
  }
  ++step_;
  SendStep();
}

void MmcSdCard::End(bool success) {
  step_ = -1;
  ok = success;
  if (success) lines_.push_back("Refresh complete");
  refreshEnabled = true;
}

void MmcSdCard::RunToEnd() {
  while (Busy()) {
    clock_.SleepMs(1000);
    Tick();
  }
}

std::optional<std::string> MmcSdCard::FileContents(int64_t fileNumber) {
  const std::optional<std::string> command = MmcFileCommand(fileNumber);
  if (!command) {
    lines_.push_back("Error - the file number must be from 0 to 99999999");
    return std::nullopt;
  }
  SerialLink& link = logger_.link();
  link.LinkWriteText(*command);
  // The card may take a while to find the file: wait for its first bytes as long as the
  // slowest refresh step took (at least a second), then read until the line falls silent.
  const int64_t firstByteBy = clock_.MonotonicMs() + std::max<int64_t>(worstWaitMs, 1000);
  std::string contents;
  std::array<uint8_t, kFileReplyLimit + 1> chunk{};
  while (contents.size() < kFileReplyLimit) {
    const int n = link.LinkRead(chunk.data(), static_cast<int>(kFileReplyLimit - contents.size()));
    if (n > 0) {
      contents.append(reinterpret_cast<const char*>(chunk.data()), static_cast<size_t>(n));
      continue;
    }
    if (!contents.empty() || clock_.MonotonicMs() >= firstByteBy) break;
  }
  if (contents.empty()) {
    lines_.push_back(Format("No reply for file %08d", static_cast<int>(fileNumber)));
    return std::nullopt;
  }
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(std::move(line));
    start = end + 1;
  }
  return contents;
}

}  // namespace klx
