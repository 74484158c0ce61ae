#pragma once
// The numbered message table: fixed messages and captions in two language columns, of which the
// first is used. Index order is fixed; callers name entries by the enum.
#include <string>

namespace klx {

enum class Msg : int {
  AppTitle = 0,
  Ready,
  Error,
  UnableToOpenFile,
  AlreadyExistsOverwrite,
  TimerCaption,
  TooManyTimers,
  CalibWriteError,
  CalibWriteSuccess,
  CalibWritingChannel,
  CalibWriteChannelFailure,
  CalibUnchanged,
  CalibStartSendError,
  CalibEndSendError,
  CalibrationCaption,
  CalibrationHistoryCaption,
  LoggerNotYetConfigured,
  CannotCreateDatDirectory,
  CannotCreateHexDirectory,
  CannotCreateMatDirectory,
  LoggingCannotReadCalibration,
  LoggingCannotFetch,
  LoggingCannotSetDefaultBaud,
  LoggingCannotSetLatency,
  LoggingCannotAccessMetaTable,
  LoggingCannotAccessMmcSd,
  FetchCaption,
  FileReadCaption,
  MetaTableAccessCaption,
  MmcSdAccessCaption,
  UnsavedData,
  GpsTestCaption,
  UnableToConnectGps,
  SetDefaultBaudCaption,
  SetLatencyCaption,
  AttemptingToConnect,
  LoggerConnected,
  AssessingConfiguration,
  AssessingCapabilities,
  ReadingCalibration,
  CalibrationReadSuccess,
  NoChannelForOnlineCalibration,
  RestartDisplayNotice,
  LoggingCannotReadModem,
  ModemParametersCaption,
  ConductivityEquationNotice,
  ConductivityEquationCaption,
  Count
};

// The text of an entry in the language in use (the first column).
const std::string& MessageText(Msg id);
// The text of entry n, or an empty text for a number outside the table.
const std::string& MessageText(int n);

}  // namespace klx
