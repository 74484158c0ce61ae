#pragma once
// The host's side of the conversations the logger-reply targets hold with their far end, shared
// with the seed writer so that the simulator's recorded replies line up with the commands.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "calibration/history.h"
#include "calibration/read.h"
#include "fuzz/fuzz_support.h"
#include "link/logger_link.h"
#include "link/serial_link.h"
#include "platform/host.h"
#include "records/deployment_parameters.h"

namespace klx::fuzz {

// A logger link on a virtual clock whose logger port is the given far end.
struct FarEndLink {
  explicit FarEndLink(std::shared_ptr<LineDevice> device) {
    link.loggerPort = RegisterFarEnd(transports, ports, clock, std::move(device));
  }
  bool Open() {
    return link.OpenSerialPort(PortSlot::Logger, link.loggerPort, 19200, RtsControl::Disable);
  }
  VirtualClock clock;
  TransportRegistry transports;
  PortMap ports;
  SerialLink link{transports, ports, clock};
  RecordingHost host;
  DeploymentParameters deployment;
  LoggerLink logger{link, host, deployment};
};

// The connection (identity, capabilities, the configuration block), every query the link
// dispatches, and the exchange primitives: tagged query, a table with its check byte, a memory
// block.
inline void QueryConversation(LoggerLink& logger) {
  logger.ConnectLogger();
  logger.AssessCapabilities();
  for (int number : {16, 1, 2, 3, 4, 6, 7, 9, 17, 20, 21, 26, 27, 28, 30, 31, 32, 33, 35, 36})
    logger.CommGet(number);
  logger.QueryTagged("!D", "BAT");
  std::vector<uint8_t> bytes;
  logger.ReadTable("R0100", bytes);
  logger.ReadMemoryOnce(0, 64, bytes);
}

// The connection, the calibration read and the calibration history listed into `folder`.
inline void CalibrationConversation(LoggerLink& logger, const std::filesystem::path& folder) {
  logger.ConnectLogger();
  logger.AssessCapabilities();
  logger.CommGet(16);
  CalibrationCoefficients cal;
  ReadCalibration(logger, cal);
  CalibrationHistory history;
  WriteCalibrationHistory(logger, folder, history);
}

}  // namespace klx::fuzz
