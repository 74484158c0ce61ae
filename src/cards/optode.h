#pragma once
// The measuring mode of an Optode oxygen sensor, switched in the EEPROM of the front-end card it
// sits behind. The logger passes "~" packets through to the card ("through communications"):
// "~", the Optode channel's address byte, an operation byte and its data.
#include <cstdint>
#include <string>
#include <vector>

#include "link/logger_link.h"

namespace klx {

enum class OptodeMode : int { Saturation = 1, Concentration = 2 };

// What the card answers, two characters after its "~", while an Optode is behind it.
inline constexpr const char* kOptodePresencePattern = "FFFFF5";
// How long the front end takes to answer a write before it is read back.
inline constexpr int kOptodeWriteWaitMs = 500;

inline constexpr const char* kOptodeAbsentText =
    "ERROR #3 Unable to confirm the presence of an Optode sensor on this logger.\n\nPress 'OK' "
    "to continue.";
inline constexpr const char* kOptodeEntryIndexText =
    "ERROR #4 Unable to set EEPROM entry index for the Optode sensor on this logger.\n\nPress "
    "'OK' to continue.";
inline constexpr const char* kOptodeSwitchedText =
    "Front end card for the Optode sensor on this logger has been reconfigured.\n\nPress 'OK' to "
    "continue.";
// "ERROR #5 Unable to switch the front end card for the Optode sensor to measure %s.\n\n..."
std::string OptodeSwitchFailedText(OptodeMode mode);

// The EEPROM entry of a mode: "02" + fourteen "F" + "AA" (concentration) or "01" + fourteen
// "F" + "AB" (saturation).
std::string OptodeEntry(OptodeMode mode);

// The packets, byte for byte.
std::vector<uint8_t> OptodeProbePacket(uint8_t address);                   // ~ a 01
std::vector<uint8_t> OptodeSelectPacket(uint8_t address, uint8_t index);   // ~ a A index
std::vector<uint8_t> OptodeWritePacket(uint8_t address, OptodeMode mode);  // ~ a B entry
std::vector<uint8_t> OptodeReadPacket(uint8_t address);                    // ~ a 04

// The presence check: "!300000" opens the through communications, then the probe; the reply
// must hold "~" with the presence pattern two characters on. False shows ERROR #3.
bool OptodePresent(LoggerLink& link, uint8_t address);

// Selects the EEPROM entry, writes the mode and reads it back. Every outcome is told in a box
// titled "Configuration"; true when the card holds the new mode.
bool SwitchOptodeFrontEnd(LoggerLink& link, uint8_t address, OptodeMode mode);

}  // namespace klx
