#include "shell/messages.h"

#include <array>

namespace klx {
namespace {

struct Entry {
  const char* first;
  const char* second;  // the second language column is empty throughout
};

#define KLX_LOGGING_MSG(what)                     \
  "Logging in progress or enabled.\nCannot " what \
  " at this time.\n\n"                            \
  "Use 'Retrieve data' menu item to stop logger - \n 'Retrieve Data' or 'STOP Logger' button."

constexpr std::array<Entry, static_cast<size_t>(Msg::Count)> kTable = {{
    {"KLX Data Loggers", ""},
    {"Ready", ""},
    {"Error", ""},
    {"Unable to open file: %s", ""},
    {"%s already exists.\nContinue to overwrite this file?", ""},
    {"TIMER", ""},
    {"Too many timers", ""},
    {"Error in writing calibration coefficients.\nTry again.", ""},
    {"Writing of calibration coefficients successful.", ""},
    {"Writing calibration data for channel %d", ""},
    {"Failure in writing calibration data for channel %d", ""},
    {"Calibration coefficients unchanged.\nNot duplicated in the logger.", ""},
    {"Start of calibration procedure send error", ""},
    {"End of calibration procedure send error", ""},
    {"Calibration", ""},
    {"Calibration History", ""},
    {"Logger not yet configured", ""},
    {"Error: Unable to create the '%s\\dat' directory\nCheck that your KLX directory is not write "
     "protected.",
     ""},
    {"Error: Unable to create the '%s\\hex' directory\nCheck that your KLX directory is not write "
     "protected.",
     ""},
    {"Error: Unable to create mat directory", ""},
    {KLX_LOGGING_MSG("read the calibration coefficients"), ""},
    {KLX_LOGGING_MSG("fetch live readings"), ""},
    {KLX_LOGGING_MSG("set the default baudrate"), ""},
    {KLX_LOGGING_MSG("set the latency"), ""},
    {KLX_LOGGING_MSG("access the meta table"), ""},
    {KLX_LOGGING_MSG("access the MMC/SD card"), ""},
    {"Fetch", ""},
    {"File Read", ""},
    {"Meta Table Access", ""},
    {"MMC/SD Card Access", ""},
    {"Retrieved data has not been saved.\nDo you wish to return to save the data now?", ""},
    {"GPS Test", ""},
    {"Unable to connect to GPS\nCheck the Comm Port selection under 'Configuration'->'COM "
     "settings'.",
     ""},
    {"Set Default Baudrate", ""},
    {"Set Latency", ""},
    {"Attempting to connect to KLX Data Logger on COM%1d.", ""},
    {"KLX Data Logger: %s %5.2f %06d connected on COM%1d at %ld baud.", ""},
    {"Assessing the logger configuration", ""},
    {"Assessing logger capabilities ", ""},
    {"Reading calibration data ", ""},
    {"Calibration Coefficients read successfully", ""},
    {"This logger does not contain a %s channel appropriate to the on-line calibration you have "
     "chosen.",
     ""},
    {"The real-time display is restarted from the start-up file.\nUse the 'Restart Display' "
     "function under the 'Setup' menu item.",
     ""},
    {KLX_LOGGING_MSG("read the modem parameters"), ""},
    {"Modem paramters", ""},
    {"The conductivity correction equation has changed.\nCheck the coefficients before you "
     "continue.",
     ""},
    {"Conductivity Correction Equation Change", ""},
}};

#undef KLX_LOGGING_MSG

}  // namespace

const std::string& MessageText(int n) {
  static const auto texts = [] {
    std::array<std::string, kTable.size()> out;
    for (size_t i = 0; i < kTable.size(); ++i) out[i] = kTable[i].first;
    return out;
  }();
  static const std::string empty;
  if (n < 0 || n >= static_cast<int>(texts.size())) return empty;
  return texts[static_cast<size_t>(n)];
}

const std::string& MessageText(Msg id) {
  return MessageText(static_cast<int>(id));
}

}  // namespace klx
