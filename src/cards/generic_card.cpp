#include "cards/generic_card.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cards/access.h"
#include "shell/messages.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {
namespace {

constexpr std::array<const char*, 17> kStateTexts = {
    "Idle",
    "Ensure internal bus powered up",
    "Setup phase for table send",
    "Awaiting transfer setup result",
    "Requesting data from input card",
    "Awaiting input card data to transfer",
    "Ensuring internal bus powered up",
    "Receiving meta table from host",
    "Buffering meta table",
    "Receiving and validating table checksum",
    "Meta table received",
    "Setup phase for table load",
    "Retrieving data from buffer",
    "Transfering data to target card",
    "Awaiting final acknowledgement",
    "Ensure intaernal bus powered up",
    "Setup phase for configuration",
};
constexpr std::array<const char*, 8> kErrorTexts = {
    "Transfer attempt on non-Generic serial channel",
    "Setup failure for input card retrieval",
    "Fatal error during data transfer",
    "Timeout receiving meta table from host",
    "Meat table too big for buffer size",
    "Sensor configuration failed",
    "Host aborted transfer",
    "Bad checksum on received meta table",
};
constexpr int kSensorConfigurationFailed = 133;

constexpr const char* kNoCommunication = "Error - Unable to communicate with generic card.";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<int> HexPair(std::string_view text, size_t at) {
  if (at + 2 > text.size()) return std::nullopt;
  const int hi = HexDigit(text[at]), lo = HexDigit(text[at + 1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return hi * 16 + lo;
}

// A reply for the list: text as it is, or the bytes in hexadecimal when it is not text.
std::vector<std::string> ReplyLines(std::string_view reply) {
  const bool text = std::all_of(reply.begin(), reply.end(), [](char c) {
    const auto b = static_cast<uint8_t>(c);
    return b >= 32 || c == '\r' || c == '\n' || c == '\t';
  });
  if (text) {
    std::vector<std::string> lines = MetaTableListLines(reply);
    lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
    return lines;
  }
  std::string hex;
  for (const char c : reply) {
    if (!hex.empty()) hex += ' ';
    hex += Format("%02X", static_cast<uint8_t>(c));
  }
  return {hex};
}

}  // namespace

const char* GenericCardStatusText(int status) {
  if (status >= 0 && status < static_cast<int>(kStateTexts.size()))
    return kStateTexts[static_cast<size_t>(status)];
  if (status >= 128 && status < 128 + static_cast<int>(kErrorTexts.size()))
    return kErrorTexts[static_cast<size_t>(status - 128)];
  return "Unknown status";
}

std::optional<int> ParseGenericCardStatus(std::string_view reply) {
  const size_t at = reply.find("MTS");
  if (at == std::string_view::npos || at < 4) return std::nullopt;
  return HexPair(reply, at - 4);
}

std::vector<int> GenericCardChannels(const LoggerState& state) {
  std::vector<int> channels;
  const int n = std::min<int>(state.channelCount, static_cast<int>(state.channelTypes.size()));
  for (int i = 0; i < n; ++i)
    if (state.channelTypes[static_cast<size_t>(i)] == 'B') channels.push_back(i + 1);
  return channels;
}

bool MetaTableAccessAllowed(LoggerLink& logger) {
  return CardAccessAllowed(logger, Msg::MetaTableAccessCaption, Msg::LoggingCannotAccessMetaTable);
}

MetaTableRead ReadMetaTable(LoggerLink& logger, int channel, int idleMs) {
  MetaTableRead result;
  SerialLink& link = logger.link();
  Clock& clock = link.clock();
  const bool version4 = logger.state.genericCardVersion >= 4;
  link.LinkWriteText(Format(version4 ? "!X04%02X" : "!X01%02X", channel & 0xFF));

  std::string held;
  std::array<uint8_t, 257> chunk{};
  int64_t lastByteAt = clock.MonotonicMs();
  size_t etx = std::string::npos;
  while (true) {
    const size_t room = kMetaTableCapacity - held.size();
    const int n = link.LinkRead(chunk.data(), static_cast<int>(std::min<size_t>(256, room)));
    if (n > 0) {
      held.append(reinterpret_cast<const char*>(chunk.data()), static_cast<size_t>(n));
      lastByteAt = clock.MonotonicMs();
    }
    if (held.find("Unknown command") != std::string::npos) {
      result.error = "Error - Unable to read meta table";
      return result;
    }
    etx = held.find(kEtx);
    if (etx != std::string::npos) break;
    if (held.size() >= kMetaTableCapacity) {
      result.error = "Generic card meta table read has overrun storage.";
      return result;
    }
    if (n == 0 && clock.MonotonicMs() - lastByteAt >= idleMs) {
      result.error = "Error - Unable to read meta table";
      return result;
    }
  }
  result.table = held.substr(0, etx);
  if (version4) {
    // Two check digits follow the end-of-text byte; one more read may bring them.
    if (held.size() < etx + 3) {
      const int n = link.LinkRead(chunk.data(), static_cast<int>(etx + 3 - held.size()));
      held.append(reinterpret_cast<const char*>(chunk.data()), static_cast<size_t>(std::max(n, 0)));
    }
    if (held.size() < etx + 3) {
      result.error = "Generic card has not sent a checksum.";
      return result;
    }
    const std::optional<int> check = HexPair(held, etx + 1);
    if (!check || !MetaTableCheckHolds(result.table, static_cast<uint8_t>(*check))) {
      result.error = "Checksum error on received table.";
      return result;
    }
  }
  result.ok = true;
  return result;
}

MetaTableHandler::MetaTableHandler(LoggerLink& logger, Clock& clock, Host& host)
    : logger_(logger), clock_(clock), host_(host) {
  const auto channels = Channels();
  if (!channels.empty()) channel = channels.front();
}

void MetaTableHandler::Add(std::string line) {
  lines_.push_back(std::move(line));
}

bool MetaTableHandler::CheckChannel() {
  const auto channels = Channels();
  if (channel == 0 && !channels.empty()) channel = channels.front();
  if (std::find(channels.begin(), channels.end(), channel) != channels.end()) return true;
  host_.Tell("Data buoy", "Action not permitted\nNot a generic serial card channel",
             BoxIcon::Warning);
  return false;
}

void MetaTableHandler::StartPoll(Step next) {
  step_ = next;
  polling_ = true;
  done_ = false;
  tries_ = kPollTries;
}

void MetaTableHandler::Tick() {
  if (step_ == Step::Fetching) return FetchTick();
  if (polling_) PollOnce();
}

void MetaTableHandler::PollOnce() {
  SerialLink& link = logger_.link();
  link.LinkWriteText("!X0000");
  std::array<uint8_t, 51> reply{};
  const int n = link.LinkRead(reply.data(), 50);
  const std::string_view text(reinterpret_cast<const char*>(reply.data()),
                              static_cast<size_t>(std::max(n, 0)));
  if (const std::optional<int> status = ParseGenericCardStatus(text)) {
    lastStatus = *status;
    if (*status == 0) {
      done_ = true;
    } else if (*status < 128) {
      Add(Format("Transfer status: %02X - %s", *status, GenericCardStatusText(*status)));
    } else {
      Add(Format("Generic card communication has failed - returned status: %02X - %s", *status,
                 GenericCardStatusText(*status)));
      tries_ = 0;
    }
  }
  if (!done_ && tries_ > 0) --tries_;
  if (done_ || tries_ == 0) {
    polling_ = false;
    RunStep();
  }
}

void MetaTableHandler::RunStep() {
  const Step step = step_;
  step_ = Step::None;
  switch (step) {
    case Step::SendAfterPoll:
      SendTable();
      break;
    case Step::VerifyAfterPoll:
      if (done_) {
        Verify();
      } else if (lastStatus == kSensorConfigurationFailed &&
                 restarts_ < kConfigurationRestarts) {
        ++restarts_;
        StartPoll(Step::VerifyAfterPoll);
      } else {
        Add("Error - failed to read meta table");
        ShowStatus(host_, "Error - failed to read meta table");
        Finish(Outcome::Failed);
      }
      break;
    case Step::ReadAfterPoll:
      if (done_) {
        ReadForList();
      } else {
        Add(kNoCommunication);
        Finish(Outcome::Failed);
      }
      break;
    case Step::ConfigureAfterPoll:
      if (done_) {
        logger_.link().LinkWriteText(Format("!X03%02X", channel & 0xFF));
        StartPoll(Step::ConfiguredAfterPoll);
      } else {
        Add(kNoCommunication);
        Finish(Outcome::Failed);
      }
      break;
    case Step::ConfiguredAfterPoll:
      if (done_) {
        Add("Sensor configuration complete.");
        Finish(Outcome::Success);
      } else {
        Add(lastStatus < 129 ? kNoCommunication : "Sensor configuration failed.");
        Finish(Outcome::Failed);
      }
      break;
    case Step::None:
    case Step::Fetching:
      break;
  }
}

void MetaTableHandler::Finish(Outcome o) {
  step_ = Step::None;
  polling_ = false;
  abortEnabled = false;
  outcome = o;
  if (o != Outcome::None) file_.reset();
  if (restoreFetch_) {
    restoreFetch_ = false;
    logger_.fetchAll = savedFetchAll_;
    logger_.fetchChannel = savedFetchChannel_;
  }
}

bool MetaTableHandler::SetTable(const std::filesystem::path& file) {
  if (Busy() || !CheckChannel()) return false;
  std::string error;
  file_ = LoadMetaTableFile(file, error);
  if (!file_) {
    // Nothing has been sent: the file is refused as a whole.
    Add(error);
    ShowStatus(host_, "Error - " + error);
    outcome = Outcome::Failed;
    return false;
  }
  Add("Writing meta table to the Generic Serial card");
  Add("Please wait for table to be written and verified");
  abortEnabled = true;
  outcome = Outcome::None;
  restarts_ = 0;
  lastStatus = -1;
  StartPoll(Step::SendAfterPoll);
  return true;
}

void MetaTableHandler::SendTable() {
  SerialLink& link = logger_.link();
  const bool version4 = logger_.state.genericCardVersion >= 4;
  link.LinkWriteText(Format(version4 ? "!X05%02X" : "!X02%02X", channel & 0xFF));
  for (const std::string& line : file_->lines) link.LinkWriteText(line);
  const char etx[2] = {kEtx, 0};
  link.LinkWriteText(etx);
  if (version4) link.LinkWriteText(Format("%02X", MetaTableCheckByte(file_->Joined())));
  StartPoll(Step::VerifyAfterPoll);
}

void MetaTableHandler::Verify() {
  Add("Verifying table ...");
  const MetaTableRead read = ReadMetaTable(logger_, channel);
  if (read.ok && MetaTableMatchesFile(read.table, file_->original)) {
    Add("Success - meta table written correctly");
    ShowStatus(host_, "Success - meta table written correctly");
    ShowStatusIcon(host_, StatusIcon::Info);
    tableRead = read.table;
    Finish(Outcome::Success);
    return;
  }
  if (!read.ok) Add(read.error);
  // The card keeps the table as it received it.
  Add("Error - failure in verification of meta table");
  ShowStatus(host_, "Error - failure in verification of meta table");
  Finish(Outcome::Failed);
}

bool MetaTableHandler::GetTable() {
  if (Busy() || !CheckChannel()) return false;
  Add("Reading meta table from the Generic Serial card");
  // The table to save is the one this read brings; a failed read leaves nothing to save.
  saveEnabled = false;
  tableRead.clear();
  abortEnabled = true;
  outcome = Outcome::None;
  lastStatus = -1;
  StartPoll(Step::ReadAfterPoll);
  return true;
}

void MetaTableHandler::ReadForList() {
  const MetaTableRead read = ReadMetaTable(logger_, channel);
  if (!read.ok) {
    Add(read.error);
    ShowStatus(host_, read.error);
    Finish(Outcome::Failed);
    return;
  }
  tableRead = read.table;
  if (read.table.empty()) {
    Add("Generic card has reported an empty table.");
  } else {
    for (std::string& line : MetaTableListLines(read.table)) Add(std::move(line));
  }
  saveEnabled = true;
  Finish(Outcome::Success);
}

bool MetaTableHandler::SaveTable(const std::filesystem::path& chosen) {
  std::filesystem::path file = chosen;
  std::string extension = file.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".txt") file += ".txt";
  if (!MayOverwrite(host_, "Write File", file.string())) return false;
  if (!WriteTextFileAtomically(file, tableRead)) {
    host_.Tell("Write File", Format("Unable to open file: %s", file.string().c_str()),
               BoxIcon::Warning);
    return false;
  }
  return true;
}

bool MetaTableHandler::Configure() {
  if (Busy() || !CheckChannel()) return false;
  Add("Configuring sensor with the meta table of the Generic Serial card");
  abortEnabled = true;
  outcome = Outcome::None;
  lastStatus = -1;
  StartPoll(Step::ConfigureAfterPoll);
  return true;
}

bool MetaTableHandler::GetData(int fetchChannel) {
  if (Busy()) return false;
  savedFetchAll_ = logger_.fetchAll;
  savedFetchChannel_ = logger_.fetchChannel;
  restoreFetch_ = true;
  logger_.fetchAll = fetchChannel == 0;
  logger_.fetchChannel = fetchChannel;
  const LoggerState& s = logger_.state;
  Add(Format("Requesting data from: %s %.2f %06d", s.model.c_str(),
             static_cast<double>(s.firmware), s.serial));
  logger_.realtimePending = false;
  logger_.CommGet(39);
  if (!logger_.realtimeMessage.empty()) {
    Add(logger_.realtimeMessage);
    logger_.realtimeMessage.clear();
    Finish(Outcome::Failed);
    return false;
  }
  Add("Waiting for reply");
  outcome = Outcome::None;
  fetchTicks_ = 0;
  step_ = Step::Fetching;
  return true;
}

void MetaTableHandler::FetchTick() {
  ++fetchTicks_;
  // The waiting line is the last one unless the list was cleared meanwhile.
  const bool waitingShown = !lines_.empty() && lines_.back().rfind("Waiting for reply", 0) == 0;
  const bool complete = logger_.CommGet(40) == 1 && logger_.ReplyLength() > 0;
  if (complete) {
    if (waitingShown) lines_.pop_back();
    const std::string_view reply(reinterpret_cast<const char*>(logger_.ReplyBytes()),
                                 static_cast<size_t>(logger_.ReplyLength()));
    for (std::string& line : ReplyLines(reply)) Add(std::move(line));
    Finish(Outcome::Success);
    return;
  }
  const int remaining = logger_.realtimeProgressMax - fetchTicks_;
  std::string line = remaining <= 0
                         ? std::string("Error - no reply from the logger")
                         : "Waiting for reply " + std::string(static_cast<size_t>(remaining), '.');
  if (waitingShown)
    lines_.back() = std::move(line);
  else
    Add(std::move(line));
  if (remaining <= 0) Finish(Outcome::Failed);
}

void MetaTableHandler::Abort() {
  logger_.link().LinkWriteText("!XAA00");
  Finish(Outcome::Aborted);
  Add("Meta table transfer aborted");
}

void MetaTableHandler::RunToEnd() {
  while (Busy()) {
    clock_.SleepMs(kTickMs);
    Tick();
  }
}

}  // namespace klx
