#include "files/activity_log.h"

#include <cstdio>
#include <system_error>

#include "files/file_header.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

namespace {

std::string PeriodText(const Period& p) {
  return CFormat("%02d:%02d:%02d", p.hours, p.minutes, p.seconds);
}

// "Logger start: %s " with the start mode, the threshold and the hysteresis.
std::string StartLine(const LogEntryInputs& in) {
  const DeploymentParameters& p = in.parameters;
  const LoggerState& logger = in.logger;
  const bool temperature = p.thresholdChannel >= 0 &&
                           static_cast<size_t>(p.thresholdChannel) < logger.channelTypes.size() &&
                           logger.channelTypes[static_cast<size_t>(p.thresholdChannel)] == 'T';
  const char* name = "Start of logging";
  if (p.startMode == kStartAboveThreshold)
    name = temperature ? "Below threshold" : files::kStartModeNames[2];
  else if (p.startMode == kStartBelowThreshold)
    name = temperature ? "Above threshold" : files::kStartModeNames[3];
  else if (p.startMode < 6 && p.startMode > 1)
    name = files::kStartModeNames[p.startMode];
  std::string line = CFormat("Logger start: %s ", name);
  if (p.startMode == kStartAboveThreshold || p.startMode == kStartBelowThreshold) {
    line += CFormat("%9.4f channel %d\t", p.thresholdValue, p.thresholdChannel + 1);
    if (logger.hysteresis) {
      if (p.hysteresisSeconds == 0)
        line += " Hysteresis period not enabled";
      else
        line += CFormat(" Hysteresis period: %u seconds", p.hysteresisSeconds);
    }
  }
  return line + "\n";
}

// The lines of a set-up (event 3) or resumption (event 4).
std::string SetupLines(int event, const LogEntryInputs& in) {
  const DeploymentParameters& p = in.parameters;
  const LoggerState& logger = in.logger;
  std::string out;
  if (event == kLogResumed) out += "Resumed logging\n";
  out += "Host time:                   " + DateDisplayText(in.hostTime) + "\n";
  out += "Logger setup at logger time: " + DateDisplayText(in.loggerTime) + "\n";
  out += "Logging start:               " + DateDisplayText(p.startTime) + "\n";
  out += "Logging end:                 " + DateDisplayText(p.endTime) + "\n";
  if (p.profiling6Hz)
    out += "Sample period:                           6Hz profiling\n";
  else
    out += "Sample period:                           " + PeriodText(p.samplePeriod) + "\n";
  if (logger.IsVS()) out += StartLine(in);
  if (logger.averaging != 0) {
    if (p.averagingEnabled && p.averagingSeconds != 0)
      out += CFormat("Averaging: %u seconds\n", p.averagingSeconds);
    else
      out += "Averaging: NONE\n";
  }
  if (logger.oemSupport) {
    if (p.startFlags == 0) {
      out += "OEM functions not enabled\n";
    } else {
      out += "OEM:";
      if (p.startFlags & 2u) out += " Logger autostart selected ";
      if (p.startFlags & 1u) out += " Logger storage inhibited";
      if (p.startFlags & 4u) out += " Logger using engineering units";
      out += "\n";
    }
  }
  if (logger.externalDataConnector)
    out += p.realtimeOutput ? "Realtime output enabled\n" : "Realtime output not enabled\n";
  if (logger.waves) {
    if (p.waveEnabled)
      out += CFormat("Wave sampling enabled: rate %dHz, length %d, period %s\n", p.waveRateHz,
                     p.burstLength, PeriodText(p.burstInterval).c_str());
    else
      out += "Wave sampling not enabled\n";
  }
  if (event == kLogSetUp && !in.estimates.empty()) {
    out += in.estimates;
    if (in.estimates.back() != '\n') out += "\n";
  }
  return out;
}

// Appends the text; false when the file cannot be opened or written.
bool Append(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return (std::fclose(f) == 0) && written;
}

}  // namespace

std::string LogEntryText(int event, const LogEntryInputs& in) {
  const LoggerState& logger = in.logger;
  std::string out = std::string(40, '-') + "\n";
  const std::string identity =
      CFormat("KLX %s %5.2f %06d", logger.model.c_str(), logger.firmware, logger.serial);
  if (logger.minimumHostVersion > 0.0f)
    out += CFormat("%s (Windows: %s - Minimum required: %.2f)\n", identity.c_str(),
                   kSoftwareVersion, logger.minimumHostVersion);
  else
    out += CFormat("%s (Windows: %s)\n", identity.c_str(), kSoftwareVersion);
  switch (event) {
    case kLogSetUp:
    case kLogResumed:
      out += SetupLines(event, in);
      break;
    case kLogSetupFailed:
      out += "Host time:                          " + DateDisplayText(in.hostTime) + "\n";
      out += "Logger setup FAILED at logger time: " + DateDisplayText(in.loggerTime) + "\n";
      break;
    case kLogRetrieved: {
      const int status = in.loggerStatus >= 0 && in.loggerStatus < 9 ? in.loggerStatus : 0;
      out += "Host time:                          " + DateDisplayText(in.hostTime) + "\n";
      out += "Logger downloaded at logger time:   " + DateDisplayText(in.loggerTime) + "\n";
      out += CFormat("Logger status:                      %s\n", files::kStatusNames[status]);
      if (!in.savedFile.empty())
        out += "Data was written to a file:         " + in.savedFile.string() + "\n";
      break;
    }
    default:
      break;
  }
  out += "\n";
  return out;
}

std::filesystem::path LoggerLogPath(const LogEntryInputs& in) {
  return in.programDirectory / "log" / CFormat("%06d.log", in.logger.serial);
}

std::filesystem::path DailyLogPath(const LogEntryInputs& in) {
  return in.programDirectory / "log" /
         CFormat("%04d%02d%02d.log", in.hostTime.year, in.hostTime.month, in.hostTime.day);
}

bool WriteLogEntry(Host& host, int event, const LogEntryInputs& in) {
  const std::filesystem::path folder = in.programDirectory / "log";
  std::error_code ec;
  std::filesystem::create_directory(folder, ec);
  if (ec && !std::filesystem::is_directory(folder, ec)) {
    ShowStatus(host, "Error: Unable to save log file");
    return false;
  }
  const std::string text = LogEntryText(event, in);
  if (!Append(LoggerLogPath(in), text)) {
    ShowStatus(host, "Error: Unable to open log file");
    return false;
  }
  if (!Append(DailyLogPath(in), text)) {
    ShowStatus(host, "Error: Unable to open daily log file");
    return false;
  }
  return true;
}

}  // namespace klx
