#include "files/hex_file.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "files/dat_file.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

using files::kStartModeNames;
using files::kStatusNames;
using files::StampLayoutOf;
using files::StoresAsciiData;

namespace {

// No data file of a full memory comes near this size; anything larger is not ours.
constexpr uintmax_t kMaxFileBytes = 1024ull * 1024ull * 1024ull;

constexpr const char* kNotHexFile = "This file is not an KLX HEX file";

void TellWarning(Host& host, const char* caption, const std::string& text) {
  host.Tell(caption, text, BoxIcon::Warning);
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) return std::nullopt;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::string text(static_cast<size_t>(size), '\0');
  const size_t n = std::fread(text.data(), 1, text.size(), f);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) return std::nullopt;
  text.resize(n);
  return text;
}

std::string HexBody(const MemoryImage& image, int headerLength) {
  static const char kDigits[] = "0123456789ABCDEF";
  const size_t fill = image.Size() <= image.bytes.size() ? image.Size() : image.bytes.size();
  std::string out = CFormat("Number of bytes of data %d\n", static_cast<int>(fill));
  out += "|     |     |     |     |     |     |     |\n";
  out.reserve(out.size() + fill * 2 + fill / 24 + 8);
  const size_t header = headerLength > 0 ? static_cast<size_t>(headerLength) : 0;
  bool lineOpen = false;
  for (size_t i = 0; i < fill; ++i) {
    const uint8_t b = image.bytes[i];
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    lineOpen = true;
    const bool inHeader = i < header;
    if ((inHeader && (i == 23 || i == 47)) || (!inHeader && i % 24 == 23)) {
      out += '\n';
      lineOpen = false;
    }
  }
  if (lineOpen) out += '\n';
  return out;
}

FileHeaderInputs HeaderInputsOf(const HeldData& held, DatLayout layout,
                                const DerivedUnitSettings& derived) {
  FileHeaderInputs in{held.data, held.image};
  in.comment = held.comment;
  in.layout = layout;
  in.derived = derived;
  in.cards = held.cards;
  in.columnTypes = held.columnTypes;
  return in;
}

bool WriteHexFile(const std::filesystem::path& path, const FileHeaderInputs& in) {
  std::string text = WriteFileHeader(in, kHexHeader);
  text += HexBody(in.image, in.data.logger.parameterBlockLength);
  return WriteTextFileAtomically(path, text);
}

namespace {

std::optional<std::filesystem::path> OpenCandidate(const std::filesystem::path& file,
                                                   const std::filesystem::path& programDirectory,
                                                   const char* folder) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(file, ec)) return file;
  if (file.filename().string().find(folder) != std::string::npos) {
    const auto other = programDirectory / folder / file.filename();
    if (std::filesystem::is_regular_file(other, ec)) return other;
  }
  return std::nullopt;
}

}  // namespace

bool ReadHexFile(Host& host, FileReadRequest& request, HeldData& held) {
  std::filesystem::path file = request.file;
  if (file.empty()) {
    if (request.mode != 1) return false;
    FileChoice choice;
    choice.save = false;
    choice.title = "Select an existing 'hex' file to be opened";
    choice.filter = "All Hex Files (*.hex)";
    choice.suggestedName =
        request.lastSerial >= 0 ? CFormat("%06d*.hex", request.lastSerial) : std::string("*.hex");
    choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->hex : "",
                                              request.programDirectory, "hex")
                                  .string();
    auto chosen = host.ChooseFile(choice);
    if (!chosen) return false;
    file = *chosen;
    if (request.directories != nullptr) request.directories->hex = file.parent_path().string();
  }
  const auto found = OpenCandidate(file, request.programDirectory, "hex");
  std::optional<std::string> text;
  if (found) text = ReadWholeFile(*found);
  if (!text) {
    TellWarning(host, "Read Hex File", "File does not exist");
    request.removeFromRecent = true;
    return false;
  }
  file = *found;
  ShowStatus(host, "Data from file: " + file.string());

  LineSource lines(*text);
  std::string line;
  if (!lines.Next(line) || line.find("KLX") == std::string::npos) {
    TellWarning(host, "Reading a HEX file", kNotHexFile);
    return false;
  }
  // Everything goes into fresh records; the held data change only at the end.
  HeldData fresh;
  FileHeader header;
  header.logger.memoryTypeCode = 0;
  header.logger.parameterBlockLength = 30;
  header.logger.waves = false;
  header.logger.extendedCommandSet = false;
  if (const FileError e = ReadFileHeader(line, lines, kHexHeader, header); e.Failed()) {
    TellWarning(host, e.caption.c_str(), e.message);
    return false;
  }
  bool foundCount = false;
  while (lines.Next(line))
    if (line.find("Number of bytes of data") != std::string::npos) {
      foundCount = true;
      break;
    }
  if (!foundCount) {
    TellWarning(host, "Reading a HEX file", kNotHexFile);
    return false;
  }
  const size_t at = line.find("data ");
  const auto count = LeadingInt(std::string_view(line).substr(at + 5));
  if (!count || *count < 1) {
    TellWarning(host, "Read File",
                "Error while reading file.\nThe file is reporting 'Number of bytes of data' < 1.");
    return false;
  }
  if (static_cast<uint32_t>(*count) > MemoryImage::kCapacity) {
    TellWarning(host, "Read File",
                CFormat("Error while reading file.\nThe file is reporting %d bytes of data, more "
                        "than a logger memory holds.",
                        *count));
    return false;
  }
  lines.Next(line);  // the ruler

  // The bytes: two hex digits each, white space skipped.
  const std::string_view body = lines.Rest();
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(*count));
  size_t pos = 0;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  auto isSpace = [](char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\v';
  };
  while (bytes.size() < static_cast<size_t>(*count)) {
    while (pos < body.size() && isSpace(body[pos])) ++pos;
    if (pos >= body.size()) break;
    int hi = digit(body[pos]);
    if (hi < 0) {
      TellWarning(host, "Read File",
                  CFormat("Error while reading file.\nThe data hold a character that is not a "
                          "hex digit after byte %d.",
                          static_cast<int>(bytes.size())));
      return false;
    }
    if (pos + 1 >= body.size() || digit(body[pos + 1]) < 0) {
      // Half a byte: where only white space follows, the file was cut there.
      const size_t next = pos + 1;
      bool restBlank = true;
      for (size_t i = next; i < body.size() && restBlank; ++i) restBlank = isSpace(body[i]);
      if (restBlank) break;
      TellWarning(host, "Read File",
                  CFormat("Error while reading file.\nThe data hold a character that is not a "
                          "hex digit after byte %d.",
                          static_cast<int>(bytes.size())));
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(hi * 16 + digit(body[pos + 1])));
    pos += 2;
  }
  if (bytes.size() < static_cast<size_t>(*count)) {
    if (bytes.empty()) {
      TellWarning(host, "Read File",
                  "Error while reading file.\nThe file has lost data.\nThe file holds no data "
                  "bytes.");
      return false;
    }
    TellWarning(host, "Read File",
                "Error while reading file.\nThe file has lost data.\nThe available data will be "
                "plotted.");
  }

  MemoryImage& image = fresh.image;
  image.bytes = std::move(bytes);
  image.fill = static_cast<int32_t>(image.bytes.size());
  image.sampleWords = image.fill / 3;
  image.headerLength = header.headerBytes >= 0 ? header.headerBytes : image.headerLength;
  image.unsaved = false;
  image.hasSnapshot = true;
  image.snapshot = header.snapshot;
  fresh.data.logger = header.logger;
  fresh.data.calibration = header.calibration;
  fresh.data.extendedCapabilities = header.extendedCapabilities;
  fresh.data.channelCount = header.logger.channelCount;
  fresh.comment = header.comment;
  fresh.cards = header.cards;
  fresh.file = file;
  fresh.fromFile = true;
  if (request.mode != 6) {
    if (StoresAsciiData(fresh.data.logger, fresh.cards))
      TellAsciiData(host, fresh.image.fill, true);  // text, not 24-bit readings: not decoded
    else if (request.decode)
      request.decode(fresh.data, fresh.image);
  }
  held = std::move(fresh);
  if (!held.comment.empty())
    ShowStatus(host, "Data from file: " + file.string() + " - " + held.comment);
  return true;
}

void TellAsciiData(Host& host, int bytes, bool fromFile) {
  host.Tell("Display",
            CFormat(fromFile ? "The logger contains ASCII data which can not be graphed.\n%d "
                               "bytes were successfully read from the file."
                             : "The logger contains ASCII data which can not be graphed.\n%d "
                               "bytes were successfully downloaded.",
                    bytes),
            BoxIcon::Information);
}

bool SaveDataToFile(Host& host, SaveRequest& request, HeldData& held, bool again) {
  if (!again && !held.image.unsaved) return false;
  const LoggerState& logger = held.data.logger;
  if (held.data.samplesPerChannel == 0 && !StoresAsciiData(logger, held.cards) &&
      host.Ask("Save data to a file",
               "There are no data to store.\nAll the reported readings were imbedded "
               "timestamps.\n\nSaving data to file will write the hex file\nwhich is an image of "
               "the logger memory.\nThis may be a useful debugging tool.\n\nDo you still want to "
               "write a file?",
               Buttons::YesNo, BoxIcon::Question, Answer::No) != Answer::Yes)
    return false;
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a 'dat' file for storing the data";
  if (held.image.appending && !held.file.empty()) {
    choice.filter = CFormat("All %06d Data Files (%06d*.dat)", logger.serial, logger.serial);
    choice.suggestedName = held.file.filename().replace_extension(".dat").string();
  } else {
    choice.filter = "All Data Files (*.dat)";
    choice.suggestedName = CFormat("%06d*.dat", logger.serial);
  }
  choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->dat : "",
                                            request.programDirectory, "dat")
                                .string();
  const auto chosen = host.ChooseFile(choice);
  if (!chosen) return false;
  std::filesystem::path dat = *chosen;
  if (!dat.has_extension()) dat += ".dat";
  if (request.directories != nullptr) request.directories->dat = dat.parent_path().string();
  if (!MayOverwrite(host, "Write File", dat.string())) return false;
  if (request.commentDialog) {
    auto comment = request.commentDialog(held.comment);
    held.comment = comment ? comment->substr(0, 99) : std::string();
  }
  const FileHeaderInputs in = HeaderInputsOf(held, request.layout, request.derived);
  const bool asciiLogger = StoresAsciiData(logger, held.cards);
  request.chosenHex.clear();
  if (!again && !asciiLogger) {
    const std::filesystem::path hexDir = FolderOrDefault(
        request.directories ? request.directories->hex : "", request.programDirectory, "hex");
    std::filesystem::path hex = hexDir / dat.filename();
    hex.replace_extension(".hex");
    if (WriteHexFile(hex, in))
      request.chosenHex = hex;
    else
      host.Tell("Write File",
                CFormat("Unable to open the file %s.\nThis file may be open in another "
                        "application\n or the directory path may not be valid.",
                        hex.c_str()),
                BoxIcon::Warning);
  }
  std::string text;
  if (asciiLogger) {
    // The card's ASCII records, as they came, after a dat header.
    text = WriteFileHeader(in, kDatHeader);
    const size_t start = static_cast<size_t>(std::max(held.image.headerLength, 0));
    const size_t end = std::min(held.image.Size(), held.image.bytes.size());
    int rows = 0;
    if (start < end) {
      text.append(reinterpret_cast<const char*>(held.image.bytes.data()) + start, end - start);
      for (size_t i = start; i < end; ++i) rows += held.image.bytes[i] == '\n';
    }
    const size_t at = text.find("number of samples =");
    // The six characters of the count itself (after the blank that follows "=").
    if (at != std::string::npos && at + 26 <= text.size())
      text.replace(at + 20, 6, CFormat("%6d", rows).substr(0, 6));
  } else {
    text = DatFileText(in);
  }
  if (!WriteTextFileAtomically(dat, text)) {
    TellCannotWrite(host, dat);
    return false;
  }
  request.chosenDat = dat;
  held.image.unsaved = false;
  held.file = dat;
  if (request.channelFile) WriteTextFileAtomically(ChannelFilePath(dat), ChannelFileText(in));
  return true;
}

}  // namespace klx
