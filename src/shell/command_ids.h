#pragma once
// Command ids of the main window, grouped by menu. Other parts ask the main window to act by
// posting one of these.
namespace klx::cmd {

constexpr int kAbout = 100;
constexpr int kRetrieveData = 110;
constexpr int kFetchLiveReadings = 111;
constexpr int kExit = 112;
constexpr int kReadDatFile = 113;
constexpr int kScreenCapture = 114;
constexpr int kSetup = 115;
constexpr int kSaveFile = 116;
constexpr int kSaveScreenSegment = 117;
constexpr int kCalibrationCoefficients = 118;
constexpr int kCalibrationHistory = 119;
constexpr int kFormatSaveFile = 120;
constexpr int kReadHexFile = 122;
constexpr int kDerivedUnits = 124;
constexpr int kGpsTest = 127;
constexpr int kSetDefaultBaudRate = 129;
constexpr int kTwoPointCalibration = 131;
constexpr int kSaveMatlabFile = 133;
constexpr int kReadMatlabFile = 134;
constexpr int kMicroSalinometer = 135;
constexpr int kConnect = 262;
constexpr int kComSettings = 259;
constexpr int kShowRangeChanges = 1165;
constexpr int kRecentFileFirst = 1045;
constexpr int kRecentFileLast = 1064;
constexpr int kRealtimeLimits = 40020;
constexpr int kLanguageResources = 40028;
constexpr int kAllowMultipleCopies = 40035;
constexpr int kMatlabFormat = 40043;
constexpr int kModemSleep = 40044;
constexpr int kLatency = 40046;
constexpr int kRealtimeStart = 40049;
constexpr int kMmcSdMemory = 40056;
constexpr int kRestartRealtimeDisplay = 40057;
constexpr int kViewLoadMetaTable = 40059;
constexpr int kEngineeringUnits = 40060;
constexpr int kRunConfigurationScript = 40061;
constexpr int kSamplingLedControl = 40064;
constexpr int kSaveNmjCsv = 40066;
constexpr int kSetModem = 40070;
constexpr int kRealtimeEnd = 2135;
// (no menu item) The live readings of a logger whose engineering-units output was just enabled:
// "&Fetch live readings" without its refusal of a logging logger.
constexpr int kLiveReadingsAfterEnable = 40090;
// The held data as a NetCDF file (CF conventions), beside the MATLAB file.
constexpr int kSaveNetcdfFile = 40091;
// Graph buttons: zoom in, zoom out, reset, and the narrow scroll buttons.
constexpr int kGraphButtonFirst = 136;
constexpr int kGraphButtonLast = 140;
constexpr int kAllChannels = 144;
constexpr int kDepthPlot = 145;
constexpr int kChannelButtonFirst = 666;
constexpr int kChannelButtonLast = 689;

}  // namespace klx::cmd
