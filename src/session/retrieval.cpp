#include "session/retrieval.h"

#include "decoding/decoder.h"
#include "deployment/enable.h"
#include "files/activity_log.h"
#include "files/hex_file.h"
#include "session/partial_retrieval.h"
#include "shell/command_ids.h"
#include "shell/status.h"
#include "shell/text_file.h"
#include "waves/analysis.h"

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
  if (logger.state.waves) {
    logger.CommGet(31);
    logger.CommGet(32);  // the logger height ("!Z"/"LHT") for the wave analysis
  }
  if (logger.CommGet(6) == 1) {
    memoryUsage = MemoryUsageText(logger.state, logger.ReplyText());
    const auto pointer = ParseDataPointer(logger.ReplyText());
    const bool empty = pointer && ComputeMemoryUsage(logger.state, *pointer).readings <= 0;
    if (empty) memoryUsage = EmptyMemoryMessage(logger.status.code);
    stopButton = empty && !StatusIsIdle(logger.status.code);
  }
}

void Retrieval::ReadCalibrationOrWarn() {
  if (s_.logger.CommGet(10) == 1) return;
  s_.host.Tell("Calibration Coefficient Read",
               "This logger is not calibrated or the read of the calibration coefficients "
               "failed.\nDefault values of the calibration coefficients will be used.",
               BoxIcon::Warning);
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
  // A tide-and-wave logger without the derived depth: the user is told, and the retrieval goes
  // on; what arrives is held and saved, and only the wave analysis waits for depth.
  if (!s_.WaveAnalysisReady(logger.state)) s_.TellWaveAnalysisWaits();
  if (stopButton) {
    // "STOP logger": stop it and switch its real-time output off; nothing to retrieve, so
    // the data already held are not asked about.
    if (PrepareForRetrieval(logger, true, hold_) != RetrievalPreparation::Abort)
      ShowStatus(host, "Logger stopped");
    finished_ = true;
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

  ReadCalibrationOrWarn();
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
  pointer_ = pointer.value_or(0);
  const LoggerState& st = logger.state;
  identity_ = PartialRetrieval{};
  identity_.model = st.model;
  identity_.firmware = CFormat("%.2f", st.firmware);
  identity_.serial = st.serial;
  identity_.start = logger.deployment().startTime;
  identity_.memoryMb = st.memorySizeMb;
  identity_.linear = st.extendedCommandSet;
  identity_.pointer = pointer_;
  cancelled_ = resumed_ = verifying_ = leftAside_ = false;
  lastGoodFill_ = -1;
  blocksDone_ = 0;
  const Continuation kept = ContinueKept();
  if (kept == Continuation::Failed ||
      (kept == Continuation::NotUsed && !transfer_.StartTransfer(0))) {
    Finish();
    return false;
  }
  transferRan_ = true;
  return true;
}

std::filesystem::path Retrieval::PartialPath() const {
  return PartialRetrievalPath(s_.directories.hex,
                              transferRan_ ? identity_.serial : s_.logger.state.serial);
}

Retrieval::Continuation Retrieval::ContinueKept() {
  Host& host = s_.host;
  PartialRetrieval p;
  const PartialReadResult read = ReadPartialRetrieval(PartialPath(), p);
  if (read == PartialReadResult::Missing) return Continuation::NotUsed;
  const std::string fresh = "; starting from the first block.";
  if (read == PartialReadResult::Damaged) {
    ShowStatus(host,
               "The interrupted retrieval kept for this logger is damaged and not used" + fresh);
    return Continuation::NotUsed;
  }
  MemoryImage& image = s_.held.image;
  const std::string why = PartialMismatch(p, s_.logger.state, s_.logger.deployment().startTime,
                                          pointer_, image.endAddress);
  if (!why.empty()) {
    ShowStatus(host, why + fresh);
    return Continuation::NotUsed;
  }
  if (resume == ResumePolicy::Never) {
    leftAside_ = true;
    ShowStatus(host,
               "An interrupted retrieval of this logger is kept aside, not continued" + fresh);
    return Continuation::NotUsed;
  }
  if (resume == ResumePolicy::Ask &&
      host.Ask("Retrieve Data",
               Format("A retrieval of this logger was interrupted at block %d of %d.\nContinue "
                      "from there?",
                      p.blocks, p.totalBlocks),
               Buttons::YesNo, BoxIcon::Question, Answer::Yes) != Answer::Yes)
    return Continuation::NotUsed;
  // The last good block is fetched again and compared with what was kept.
  if (!transfer_.ResumeTransfer(p.checkAddress, p.checkFill)) return Continuation::Failed;
  std::copy(p.bytes.begin(), p.bytes.end(), image.bytes.begin());
  verifyBytes_.assign(p.bytes.begin() + p.checkFill, p.bytes.end());
  verifyFill_ = p.checkFill;
  verifying_ = !verifyBytes_.empty();
  resumed_ = true;
  blocksDone_ = std::max(0, p.blocks - 1);
  ShowStatus(host, Format("Continuing the interrupted retrieval from block %d of %d", p.blocks,
                          p.totalBlocks));
  return Continuation::Started;
}

bool Retrieval::CheckRefetchedBlock() {
  verifying_ = false;
  MemoryImage& image = s_.held.image;
  const size_t n = std::min(verifyBytes_.size(), static_cast<size_t>(image.fill - verifyFill_));
  const bool same = std::equal(verifyBytes_.begin(), verifyBytes_.begin() + static_cast<long>(n),
                               image.bytes.begin() + verifyFill_);
  verifyBytes_.clear();
  if (same) return true;
  ShowStatus(s_.host,
             "The logger's memory differs from the interrupted retrieval kept for it; starting "
             "again from the first block.");
  std::error_code ec;
  std::filesystem::remove(PartialPath(), ec);
  resumed_ = false;
  blocksDone_ = 0;
  lastGoodFill_ = -1;
  // Nothing of the kept image may stay behind, whatever happens next.
  image.fill = 0;
  const int saved = transfer_.state.savedBaudRate;
  const bool started = transfer_.StartTransfer(0);
  transfer_.state.savedBaudRate = saved;
  if (!started) {
    image.fill = 0;
    transfer_.state.failed = true;
  }
  return started;
}

void Retrieval::KeepOrDropPartial() {
  if (!transferRan_ || leftAside_ || s_.held.image.appending) return;
  const std::filesystem::path path = PartialPath();
  transferRan_ = false;
  const MemoryImage& image = s_.held.image;
  if (!cancelled_ && !transfer_.state.failed) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return;
  }
  // Nothing new arrived (or the block to compare did not): what is kept stays as it was.
  if (verifying_ || lastGoodFill_ < 0 || image.fill <= 0) return;
  PartialRetrieval p = identity_;
  p.endAddress = image.endAddress;
  p.nextAddress = image.nextAddress;
  p.checkAddress = lastGoodAddress_;
  p.checkFill = lastGoodFill_;
  p.blocks = blocksDone_;
  const uint32_t size = static_cast<uint32_t>(std::max(transfer_.state.blockSize, 1));
  p.totalBlocks =
      blocksDone_ + static_cast<int>((image.endAddress - image.nextAddress + size - 1) / size);
  p.bytes.assign(image.bytes.begin(), image.bytes.begin() + image.fill);
  if (WritePartialRetrieval(path, p))
    ShowStatus(s_.host, Format("The retrieval stopped at block %d of %d; the next retrieval of "
                               "this logger can continue from there.",
                               p.blocks, p.totalBlocks));
}

FileChoice Retrieval::AppendFileChoice() const {
  FileChoice choice;
  choice.save = false;
  choice.title = "Select a 'hex' filename to obtain the data already downloaded";
  choice.initialDirectory = s_.directories.dat;
  choice.suggestedName = Format("%06d*.dat", s_.logger.state.serial);
  choice.filter = "All Data Files (*.dat)";
  return choice;
}

bool Retrieval::BeginAppend(const std::filesystem::path& datFile) {
  LoggerLink& logger = s_.logger;
  Host& host = s_.host;
  auto fail = [&host](const std::string& text) {
    host.Tell("Append to file", text, BoxIcon::Warning);
    return false;
  };
  const std::string name = datFile.filename().string();
  const size_t dot = name.find(".dat");
  if (dot == std::string::npos) return fail("File does not exist.\nChoose an existing file");
  const std::filesystem::path hex = std::filesystem::path(s_.directories.hex) /
                                    (name.substr(0, dot) + ".hex" + name.substr(dot + 4));
  const auto text = ReadWholeFile(hex);
  if (!text) return fail("File does not exist.\nChoose an existing file");

  // First line: "KLX <model> <firmware> <serial>"; fourth line: the start of logging.
  std::vector<std::string> lines;
  size_t at = 0;
  while (lines.size() < 4 && at < text->size()) {
    const size_t end = text->find('\n', at);
    lines.push_back(text->substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text->size() : end + 1;
  }
  const size_t klx = lines.empty() ? std::string::npos : lines[0].find("KLX");
  if (klx == std::string::npos)
    return fail("This file is not an KLX HEX file.\n'Append to file' can not continue.");
  char word[16] = {}, model[32] = {};
  float firmware = 0;
  int serial = -1;
  std::sscanf(lines[0].c_str() + klx, "%15s %31s %f %d", word, model, &firmware, &serial);
  if (serial != logger.state.serial)
    return fail(
        Format("This file is for a logger with serial number %06d.\nThe connected logger "
               "has serial number %06d.\n'Append to file' can not continue.",
               serial, logger.state.serial));
  SystemTime start;
  bool parsed = false;
  if (lines.size() >= 4 && lines[3].size() > 14) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    // Four-digit years ("2026/06/01") put their first slash at column 18, two-digit ones at 16.
    const bool longYear = lines[3].size() > 18 && lines[3][18] == '/';
    const int dateFields =
        std::sscanf(lines[3].c_str() + 14, longYear ? "%4d/%2d/%2d" : "%2d/%2d/%2d", &y, &mo, &d);
    const size_t timeColumn = longYear ? 25 : 23;
    const int timeFields = lines[3].size() > timeColumn ? std::sscanf(lines[3].c_str() + timeColumn,
                                                                      "%2d:%2d:%2d", &h, &mi, &se)
                                                        : 0;
    parsed = dateFields == 3 && timeFields == 3;
    start = MakeSystemTime(longYear ? y : y + 2000, mo, d, h, mi, se);
  }
  logger.CommGet(3);
  const SystemTime& loggerStart = logger.deployment().startTime;
  if (!parsed || start.year != loggerStart.year || start.month != loggerStart.month ||
      start.day != loggerStart.day || start.hour != loggerStart.hour ||
      start.minute != loggerStart.minute || start.second != loggerStart.second)
    return fail(
        "Data can not be appended to this file.\nThe file parameters do not match the "
        "logger parameters.");

  FileReadRequest request = s_.ReadRequest(hex);
  request.mode = 6;
  if (!ReadHexFile(host, request, s_.held))
    return fail(Format("Error reading existing file '%s'.\n'Append to file' can not continue.",
                       hex.string().c_str()));
  s_.held.file = datFile;
  MemoryImage& image = s_.held.image;
  image.appending = true;
  if (logger.CommGet(6) != 1) return fail("Unable to read the logger's data pointer.");
  image.endAddress = ParseDataPointer(logger.ReplyText()).value_or(0);
  ReadCalibrationOrWarn();
  finished_ = false;
  started_ = true;
  const uint32_t held = static_cast<uint32_t>(std::max(image.fill, 0));
  if (!transfer_.StartTransfer(held)) {
    Finish();
    return false;
  }
  return true;
}

bool Retrieval::Tick() {
  if (finished_) return false;
  MemoryImage& image = s_.held.image;
  const uint32_t at = image.nextAddress;
  const int32_t before = image.fill;
  const bool more = transfer_.FetchNextBlock();
  if (image.fill > before && transferRan_) {
    lastGoodAddress_ = at;
    lastGoodFill_ = before;
    ++blocksDone_;
    if (verifying_ && !CheckRefetchedBlock()) {
      Finish();
      return false;
    }
    if (transfer_.state.downloading && !more) return true;  // started again
  }
  if (more) {
    if (!transfer_.RemainingText().empty()) ShowStatus(s_.host, transfer_.RemainingText());
    return true;
  }
  Finish();
  return false;
}

void Retrieval::Cancel() {
  if (finished_ || !started_) return;
  cancelled_ = transfer_.state.downloading;
  Finish();
}

void Retrieval::Finish() {
  if (finished_) return;
  finished_ = true;
  LoggerLink& logger = s_.logger;
  Host& host = s_.host;
  MemoryImage& image = s_.held.image;
  KeepOrDropPartial();
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
  // Which channels use the extended range: the extended channel capabilities table of loggers
  // that switch ranges (byte 0 the logger's, then one byte per channel).
  ReadExtendedRanges(logger, held.data.extendedCapabilities);
  held.fromFile = false;
  held.fromDatFile = false;
  if (!image.appending) held.file.clear();  // an appended file keeps its name for the save
  // The cards the logger reports go into the files' headers. A generic serial card that stores
  // ASCII data fills the memory with text lines: they are kept and saved as they came, never
  // decoded as readings.
  held.cards = files::ReportedCards(logger.state);
  const bool asciiData = files::StoresAsciiData(logger.state, held.cards);
  DecodeOptions options;
  options.fromFile = false;
  options.hooks.rereadDeployment = [&logger](DeploymentParameters& parameters) {
    logger.CommGet(2);
    logger.CommGet(3);
    logger.CommGet(4);
    parameters = logger.deployment();
  };
  const bool analyse = s_.WaveAnalysisReady(logger.state);
  if (analyse)
    options.hooks.analyseBurst = WaveAnalysisHook(logger.deployment(), s_.settings.derived, &host);
  DecodeResult result;
  if (asciiData) {
    held.data.channelCount = 0;
    held.data.samplesPerChannel = 0;
    held.data.series.clear();
    held.data.stamps = {};
    held.data.bursts.clear();
    held.columnTypes.clear();
    result.parameters = logger.deployment();
    image.headerLength = logger.state.parameterBlockLength;
  } else {
    result = DecodeImage(image, logger.deployment(), held.data, host, options);
    image.headerLength = result.headerLength;
    s_.ApplyDerived(&result.parameters);
  }

  if (hold_.suspended) {
    // The resumption goes into the activity logs like any other.
    const ResumeResult resumed = ResumeAfterRetrieval(logger, hold_);
    LogEntryInputs in;
    in.programDirectory = s_.settings.ProgramDirectory();
    in.logger = logger.state;
    in.parameters = logger.deployment();
    in.hostTime = s_.clock.LocalTime();
    in.loggerTime = logger.loggerClock;
    in.loggerStatus = logger.status.code;
    WriteLogEntry(host, resumed == ResumeResult::Resumed ? kLogResumed : kLogSetupFailed, in);
  }
  // Remember where the logger's data ended, so that a later enable knows whether data were
  // added since.
  if (logger.CommGet(6) == 1) {
    if (const auto pointer = ParseDataPointer(logger.ReplyText()))
      RecordRetrievalPointer(logger, *pointer);
  }

  if (image.endAddress == 0 || image.fill <= 0) {
    host.Tell("Display", "There are no data to display.", BoxIcon::Information);
    image.unsaved = false;
  } else if (image.sampleWords > 0) {
    if (asciiData) TellAsciiData(host, image.fill, false);
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
    // The bursts are held unanalysed: the derived units come next, and choosing depth there
    // analyses them.
    if (!analyse && !held.data.bursts.empty()) host.PostCommand(cmd::kDerivedUnits);
  }
}

}  // namespace klx
