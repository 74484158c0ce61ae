#pragma once
// The accessory cards of a simulated logger as its profile describes them (see sim_cards.h for
// what each card answers). Keys, besides those of sim_profile.h:
//
//   meta_table = BAUD 9600\r\nPOLL 5\r\n  # the generic serial card's table at start; escapes
//                                        # \r \n \t \\ and \xHH ('#' starts a comment: \x23)
//   card_step_ms = 700                   # how long each progress state of the card lasts
//                                        # (0: requests finish at once)
//   card_capacity = 16384                # table bytes the card buffers, the ETX included
//   mmc = yes                            # a MMC/SD card is fitted
//   mmc.size_kb = 1921024                # its size in kilobytes
//   mmc.type = SD 2GB FAT16              # its type text
//   mmc.first = 1                        # number of the first file held
//   mmc.files = 5                        # how many files follow on from it
//   mmc.delay_ms = 1500                  # time the card takes to answer the size query
//   modem.front_porch_ms = 150           # table 0800 at start; it exists when one of these is
//   modem.back_porch_ms = 100            # given or capability entry 21 is 1 to 3
//   modem.active_level = 1
//   modem.inactive_level = 0
//   fault.card_config_fails = 1          # the next N sensor configurations end in 133 (-1: all)
//   fault.card_status_133 = -1           # a table send or configuration ends in 133, reported
//                                        # to the next N status queries (-1: for ever)
//   fault.card_hang = 1                  # the next N card requests never finish (-1: all)
//   fault.card_bad_checksum = 1          # the next N table reads carry a checksum one too high
//   fault.card_no_etx = 1                # the next N table reads end without ETX and checksum
//   fault.optode_absent = yes            # the Optode front end does not answer its probe
//   fault.optode_stuck = yes             # the front end does not take entry writes
#include <cstdint>
#include <string>
#include <string_view>

namespace klx::sim {

struct SimCardProfile {
  std::string metaTable;
  int cardStepMs = 700;
  int cardCapacity = 16384;
  bool mmc = false;
  uint32_t mmcSizeKb = 1921024;
  std::string mmcType = "SD 2GB FAT16";
  int mmcFirst = 1;
  int mmcFiles = 5;
  int mmcDelayMs = 1500;
  bool modem = false;  // set by any "modem." key
  int frontPorchMs = 150;
  int backPorchMs = 100;
  int activeLevel = 1;
  int inactiveLevel = 0;
  int configFails = 0;
  int status133 = 0;
  int hang = 0;
  int badChecksum = 0;
  int noEtx = 0;
  bool optodeAbsent = false;
  bool optodeStuck = false;
};

// Applies one card key. `known` tells whether the key was a card key; false with a message on a
// bad value.
bool ApplyCardSetting(const std::string& key, std::string_view value, SimCardProfile& cards,
                      std::string& error, bool& known);

}  // namespace klx::sim
