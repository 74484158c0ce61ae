// The exchange primitives: tagged queries, numbered tables with their check byte, memory reads
// and the live-reading fetch.
#include <algorithm>
#include <cstring>

#include "link/logger_link.h"
#include "shell/status.h"

namespace klx {
namespace {

bool Contains(const uint8_t* data, int count, uint8_t byte) {
  return std::find(data, data + count, byte) != data + count;
}

// Two hex digits as a number, or -1.
int HexPair(std::string_view text, size_t at) {
  if (at + 2 > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + 2; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

uint8_t ByteSum(const uint8_t* data, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += data[i];
  return static_cast<uint8_t>(sum);
}

uint8_t TableCheckByte(const uint8_t* data, size_t count) {
  return static_cast<uint8_t>(0xA5 - ByteSum(data, count));
}

bool TableChecksumHolds(const uint8_t* data, size_t count) {
  return ByteSum(data, count) == 0xA5;
}

std::string MemoryReadCommand(uint32_t start, uint32_t length) {
  const uint32_t end = start + length;
  return Format("I%02X%02X%02X%02X%02X%02X%02X%02X", end & 0xFF, (end >> 8) & 0xFF,
                (end >> 16) & 0xFF, (end >> 24) & 0xFF, start & 0xFF, (start >> 8) & 0xFF,
                (start >> 16) & 0xFF, (start >> 24) & 0xFF);
}

int ExpressBaudCode(int baudRate) {
  if (baudRate == 115200) return 1;
  if (baudRate <= 0) return 0;
  return 9216000 / (32 * baudRate) - 2;
}

LoggerLink::LoggerLink(SerialLink& link, Host& host, DeploymentParameters& deployment)
    : link_(link), host_(host), deployment_(deployment) {}

std::string_view LoggerLink::ReplyText() const {
  const auto* begin = reinterpret_cast<const char*>(reply_.data());
  return std::string_view(begin, strnlen(begin, static_cast<size_t>(replyLength_)));
}

void LoggerLink::SetReply(std::string_view text) {
  const size_t n = std::min(text.size(), kReplyCapacity);
  std::memcpy(reply_.data(), text.data(), n);
  reply_[n] = 0;
  replyLength_ = static_cast<int>(n);
}

int LoggerLink::ReadLinkIntoReply(int maximum) {
  maximum = std::clamp(maximum, 0, static_cast<int>(kReplyCapacity));
  replyLength_ = link_.LinkRead(reply_.data(), maximum);
  return replyLength_;
}

bool LoggerLink::QueryTagged(std::string_view command, std::string_view tag) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) link_.WaitMilliseconds(500);
    link_.LinkWriteText(command);
    ReadLinkIntoReply(120);
    const std::string_view text = ReplyText();
    if (text.find(tag) != std::string_view::npos && text.size() < 50) return true;
  }
  SetReply("000101000000");
  return false;
}

int LoggerLink::ReadTable(std::string_view command, std::vector<uint8_t>& out) {
  out.clear();
  link_.LinkWriteText(command);
  ReadLinkIntoReply(80);
  const std::string_view text = ReplyText();
  const size_t echo = text.find(command);
  if (echo == std::string_view::npos || text.size() < command.size() + 2 ||
      text.find("Unknown command") != std::string_view::npos)
    return 0;
  const int length = HexPair(text, echo + command.size());
  if (length < 0) return 0;
  const char ack[2] = {static_cast<char>(kAck), 0};
  link_.LinkWriteText(ack);
  if (length == 0) return -1;

  std::array<uint8_t, 81> chunk{};
  for (int offset = 0; offset < length; offset += 16) {
    const int size = std::min(16, length - offset);
    if (link_.LinkRead(chunk.data(), 80) != size) return 0;
    out.insert(out.end(), chunk.begin(), chunk.begin() + size);
    link_.LinkWriteText(ack);
  }
  return TableChecksumHolds(out.data(), out.size()) ? 1 : 0;
}

bool LoggerLink::WaitForAck() {
  std::array<uint8_t, 301> buffer{};
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int n = link_.LinkRead(buffer.data(), 300);
    if (n <= 0) continue;
    if (Contains(buffer.data(), n, kAck)) return true;
    if (Contains(buffer.data(), n, kNak)) {
      // Keep the reply: a calibration table write's NAK carries an error code.
      SetReply(
          std::string_view(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n)));
      return false;
    }
  }
  return false;
}

bool LoggerLink::WriteTable(std::string_view command, const std::vector<uint8_t>& data) {
  if (data.size() + 1 > 0xFF) return false;  // the header carries the length in two digits
  std::vector<uint8_t> block(data);
  block.push_back(TableCheckByte(data.data(), data.size()));
  link_.LinkWriteText(std::string(command) + Format("%02X", static_cast<unsigned>(block.size())));
  if (!WaitForAck()) return false;
  for (size_t offset = 0; offset < block.size(); offset += 16) {
    const int size = static_cast<int>(std::min<size_t>(16, block.size() - offset));
    link_.LinkWriteBytes(block.data() + offset, size);
    if (!WaitForAck()) return false;
  }
  return true;
}

bool LoggerLink::ReadMemoryOnce(uint32_t start, uint32_t length, std::vector<uint8_t>& out) {
  out.clear();
  const int want = static_cast<int>(length) + 1;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::max(want, 120)) + 1);
  link_.LinkWriteText(MemoryReadCommand(start, length));
  const int n = link_.LinkRead(buffer.data(), std::max(want, 120));
  if (n != want) return false;
  if (ByteSum(buffer.data(), length) != buffer[length]) return false;
  out.assign(buffer.begin(), buffer.begin() + length);
  return true;
}

int LoggerLink::FetchExpectedLength() const {
  if ((state.IsVS() || state.extendedCommandSet) && fetchAll) {
    if (state.engineeringUnitsLevel != 0 && state.OutputsEngineeringUnits())
      return 12 * state.channelCount + 22;
    return 3 * state.channelCount + 13;
  }
  return 8;
}

std::string LoggerLink::FetchCommand() const {
  if (state.IsVS() || state.extendedCommandSet)
    return fetchAll ? std::string("F00") : Format("F%02X", fetchChannel & 0xFF);
  return "F";
}

int LoggerLink::FetchReading() {
  const int expected = FetchExpectedLength();
  link_.LinkWriteText(FetchCommand());
  link_.WaitMilliseconds(state.latencyMs + state.readingTimeMs);
  // A reply that arrives on the last of the ten reads still counts.
  bool answered = false;
  for (int counter = 10; counter > 0 && !answered; --counter) {
    const int n = ReadLinkIntoReply(300);
    answered = (n >= 1 && n <= expected) || ReplyText().find("FET") != std::string_view::npos;
  }
  if (!answered) return 0;
  if (!fetchAll) {
    const size_t len = ReplyText().size();
    SetReply(ReplyText().substr(0, len >= 2 ? len - 2 : 0));
  }
  return 1;
}

}  // namespace klx
