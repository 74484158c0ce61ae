#include "cards/optode.h"

#include <array>
#include <string_view>

#include "shell/status.h"

namespace klx {
namespace {

constexpr const char* kCaption = "Configuration";
constexpr int kReplyMaximum = 120;

std::vector<uint8_t> Packet(uint8_t address, uint8_t operation, std::string_view data = {}) {
  std::vector<uint8_t> packet{'~', address, operation};
  packet.insert(packet.end(), data.begin(), data.end());
  return packet;
}

void Send(LoggerLink& link, const std::vector<uint8_t>& packet) {
  link.link().LinkWriteBytes(packet.data(), static_cast<int>(packet.size()));
}

// Whatever the card answers within the read time-out, at most 120 bytes.
std::string Receive(LoggerLink& link) {
  std::array<uint8_t, kReplyMaximum + 1> buffer{};
  const int n = link.link().LinkRead(buffer.data(), kReplyMaximum);
  return n > 0 ? std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n))
               : std::string();
}

}  // namespace

std::string OptodeSwitchFailedText(OptodeMode mode) {
  return std::string(
             "ERROR #5 Unable to switch the front end card for the Optode sensor to "
             "measure ") +
         (mode == OptodeMode::Concentration ? "Concentration" : "Saturation") +
         ".\n\nPress 'OK' to continue.";
}

std::string OptodeEntry(OptodeMode mode) {
  const bool concentration = mode == OptodeMode::Concentration;
  return std::string(concentration ? "02" : "01") + std::string(14, 'F') +
         (concentration ? "AA" : "AB");
}

std::vector<uint8_t> OptodeProbePacket(uint8_t address) {
  return Packet(address, 0x01);
}

std::vector<uint8_t> OptodeSelectPacket(uint8_t address, uint8_t index) {
  return {'~', address, 'A', index};
}

std::vector<uint8_t> OptodeWritePacket(uint8_t address, OptodeMode mode) {
  return Packet(address, 'B', OptodeEntry(mode));
}

std::vector<uint8_t> OptodeReadPacket(uint8_t address) {
  return Packet(address, 0x04);
}

bool OptodePresent(LoggerLink& link, uint8_t address) {
  link.link().LinkWriteText("!300000");
  link.link().WaitMilliseconds(500);
  Send(link, OptodeProbePacket(address));
  const std::string reply = Receive(link);
  link.SetReply(reply);
  const size_t tilde = reply.find('~');
  const bool present = tilde != std::string::npos && tilde + 2 <= reply.size() &&
                       reply.find(kOptodePresencePattern, tilde + 2) != std::string::npos;
  if (!present) {
    link.SetReply(kOptodeAbsentText);
    link.host().Tell(kCaption, kOptodeAbsentText, BoxIcon::Stop);
  }
  return present;
}

bool SwitchOptodeFrontEnd(LoggerLink& link, uint8_t address, OptodeMode mode) {
  Host& host = link.host();
  // Entry index 1, then 0. A card that answers each packet is judged by its answer to the
  // second; one that answers the pair once, by that answer.
  Send(link, OptodeSelectPacket(address, 1));
  const std::string first = Receive(link);
  Send(link, OptodeSelectPacket(address, 0));
  std::string selected = Receive(link);
  if (selected.empty()) selected = first;
  if (selected.size() < 4 || selected.compare(2, 2, "01") != 0) {
    host.Tell(kCaption, kOptodeEntryIndexText, BoxIcon::Stop);
    return false;
  }

  const std::vector<uint8_t> write = OptodeWritePacket(address, mode);
  Send(link, write);
  link.link().WaitMilliseconds(kOptodeWriteWaitMs);
  Receive(link);  // the card's answer to the write, if any, is not the read-back

  Send(link, OptodeReadPacket(address));
  const std::string back = Receive(link);
  // The written entry from its fourth character on: the mode digits, the F's and the letters.
  const std::string expected(write.begin() + 3, write.end());
  const bool same =
      back.size() >= 2 + expected.size() && back.compare(2, expected.size(), expected) == 0;
  if (!same) {
    host.Tell(kCaption, OptodeSwitchFailedText(mode), BoxIcon::Stop);
    return false;
  }
  host.Tell(kCaption, kOptodeSwitchedText, BoxIcon::Information);
  return true;
}

}  // namespace klx
