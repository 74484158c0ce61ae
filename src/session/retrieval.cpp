#include "session/retrieval.h"

#include "decoding/decoder.h"
#include "shell/command_ids.h"
#include "shell/status.h"

namespace klx {

Retrieval::Retrieval(Session& session)
    : s_(session), transfer_(session.logger, session.held.image, session.clock) {}

void Retrieval::ReadDisplay() {
  LoggerLink& logger = s_.logger;
  logger.CommGet(9);
  statusName = StatusName(logger.status.code);
  logger.CommGet(1);
  hostTime = s_.clock.LocalTime();
  logger.CommGet(3);
  logger.CommGet(4);
  logger.CommGet(2);
  // The deployment's modes that decoding depends on: start characteristic (6 Hz profiling),
  // averaging, the wave rate and the wave bursts.
  if (logger.state.HasTwelveCommands()) logger.CommGet(28);
  logger.CommGet(17);
  if (logger.state.highSamplingRates) logger.CommGet(30);
  if (logger.state.waves) logger.CommGet(31);
  if (logger.CommGet(6) == 1) memoryUsage = MemoryUsageText(logger.state, logger.ReplyText());
}

bool Retrieval::Open() {
  LoggerLink& logger = s_.logger;
  if (!logger.ConnectCommand()) return false;
  // Every logger is assessed, so that its memory size is known; the 550s whose firmware
  // cannot burst have the "Waves" capability taken away afterwards.
  logger.AssessCapabilities();
  if ((logger.state.ModelHas("VS-550") || logger.state.ModelHas("VSY-550")) &&
      logger.state.firmware <= 6.415f)
    logger.state.waves = false;
  ReadDisplay();
  return true;
}

bool Retrieval::Begin(bool all) {
  LoggerLink& logger = s_.logger;
  Host& host = s_.host;
  finished_ = false;
  if (logger.state.ModelHas("NMJ") && !s_.settings.derived.depthOn) {
    host.Tell("Working with NMJ Data",
              "To complete the calculations necessary for this NMJ logger,\n'Depth' has to be "
              "selected with appropriate paramaters\nin the 'Derived units' menu.",
              BoxIcon::Warning);
    host.PostCommand(cmd::kDerivedUnits);
    return false;
  }
  if (s_.held.image.unsaved) {
    const Answer a = host.Ask(
        "Retrieve Data",
        "The previously retrieved data has not been saved.\nDo you wish to return to save the "
        "data now?",
        Buttons::YesNo, BoxIcon::Warning, Answer::Yes);
    if (a == Answer::Yes) s_.SaveHeld(false);
    s_.held.image.unsaved = false;
  }
  const SystemTime dataHostTime = hostTime;
  if (PrepareForRetrieval(logger, false, hold_) != RetrievalPreparation::Proceed) return false;

  ReadDisplay();
  hostTime = dataHostTime;
  const auto pointer = ParseDataPointer(logger.ReplyText());
  MemoryImage& image = s_.held.image;
  image.appending = false;
  if (all) {
    image.endAddress = logger.state.memorySizeMb == 8   ? 0x7FE000u
                       : logger.state.memorySizeMb == 4 ? 0x3FF7FEu
                                                        : 0x1FF7FEu;
  } else {
    image.endAddress = pointer.value_or(0);
  }
  transfer_.state.retrieveAll = all;
  ShowStatus(host, memoryUsage);

  if (logger.CommGet(10) != 1) {
    host.Tell("Calibration Coefficient Read",
              "This logger is not calibrated or the read of the calibration coefficients "
              "failed.\nDefault values of the calibration coefficients will be used.",
              BoxIcon::Warning);
  }
  for (int id : {cmd::kSetup, cmd::kRetrieveData}) host.SetCommandEnabled(id, false);
  started_ = true;
  // Nothing behind the data pointer: no speed-up, no transfer, straight to the end.
  const uint32_t first = logger.state.extendedCommandSet ? 0u : 0x20000u;
  if (image.endAddress <= first) {
    image.endAddress = 0;
    image.fill = 0;
    Finish();
    return false;
  }
  if (!transfer_.StartTransfer(0)) {
    Finish();
    return false;
  }
  return true;
}

bool Retrieval::Tick() {
  if (finished_) return false;
  if (transfer_.FetchNextBlock()) {
    if (!transfer_.RemainingText().empty()) ShowStatus(s_.host, transfer_.RemainingText());
    return true;
  }
  Finish();
  return false;
}

void Retrieval::Cancel() {
  if (!finished_ && started_) Finish();
}

void Retrieval::Finish() {
  if (finished_) return;
  finished_ = true;
  LoggerLink& logger = s_.logger;
  Host& host = s_.host;
  MemoryImage& image = s_.held.image;
  transfer_.FinishTransfer();
  for (int id : {cmd::kSetup, cmd::kRetrieveData}) host.SetCommandEnabled(id, true);

  if (!logger.state.IsVS() && !logger.state.extendedCommandSet) {
    logger.state.channelCount = 1;
  } else {
    logger.state.configurationStale = true;
    logger.CommGet(16);
  }

  HeldData& held = s_.held;
  held.data.logger = logger.state;
  held.data.calibration = s_.calibration;
  held.data.rawMode = false;
  held.fromFile = false;
  held.fromDatFile = false;
  held.file.clear();
  DecodeOptions options;
  options.fromFile = false;
  options.hooks.rereadDeployment = [&logger](DeploymentParameters& parameters) {
    logger.CommGet(2);
    logger.CommGet(3);
    logger.CommGet(4);
    parameters = logger.deployment();
  };
  const DecodeResult result = DecodeImage(image, logger.deployment(), held.data, host, options);
  image.headerLength = result.headerLength;

  if (hold_.suspended) ResumeAfterRetrieval(logger, hold_);

  if (image.endAddress == 0 || image.fill <= 0) {
    host.Tell("Display", "There are no data to display.", BoxIcon::Information);
    image.unsaved = false;
  } else if (image.sampleWords > 0) {
    image.unsaved = true;
    image.hasSnapshot = true;
    image.snapshot.parameters = result.parameters;
    image.snapshot.hostTime = hostTime;
    image.snapshot.loggerTime = logger.loggerClock;
    image.snapshot.loggerStatus = logger.status.code;
    image.snapshot.parameterBlock = logger.parameterBlock;
    for (int id : {cmd::kSaveFile, cmd::kFormatSaveFile, cmd::kSaveScreenSegment,
                   cmd::kScreenCapture, cmd::kSaveMatlabFile})
      host.SetCommandEnabled(id, true);
    if (logger.state.ModelHas("NMJ")) host.SetCommandEnabled(cmd::kSaveNmjCsv, true);
  }
}

}  // namespace klx
