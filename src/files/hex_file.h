#pragma once
// The hex file: the shared header and every byte of the memory image in hexadecimal; the save
// procedure that writes it and the dat file, and its reader.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "files/file_header.h"
#include "platform/host.h"
#include "records/data_set.h"
#include "records/memory_image.h"
#include "shell/directories.h"
#include "shell/settings.h"

namespace klx {

// The data the program holds. A file read replaces all of it at once, or none of it.
struct HeldData {
  DataSet data;
  MemoryImage image;
  std::string comment;
  std::filesystem::path file;  // the file the data came from or went to
  bool fromFile = false;       // read from a hex or dat file
  bool fromDatFile = false;    // read from a dat file: there is no image
  AccessoryCards cards;
  // Type letter of every column of the data set, derived channels included; empty: the
  // logger's letters.
  std::string columnTypes;
};

// Decodes a freshly read image into the data set (the decoding of memory images).
using DecodeFunction = std::function<void(DataSet&, MemoryImage&)>;

// The body after the header: the byte count, the ruler and the bytes, a line break after
// header bytes 23 and 47 and then after every byte whose index leaves 23 divided by 24.
std::string HexBody(const MemoryImage& image, int headerLength);

// The whole file, or nullopt when it cannot be read (or is larger than any data file can be).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Header of kind 1 and the body, written to a temporary name and renamed into place.
bool WriteHexFile(const std::filesystem::path& path, const FileHeaderInputs& in);

struct FileReadRequest {
  int mode = 1;                // 1: from the menu; 6: append to file (no decoding)
  std::filesystem::path file;  // the file, when already chosen; empty: ask
  std::filesystem::path programDirectory;
  Directories* directories = nullptr;  // the remembered folders; updated by a choice
  int lastSerial = -1;                 // for the dialog's default name
  DecodeFunction decode;               // empty: the image is kept undecoded
  bool removeFromRecent = false;       // out: the file was not found
};

// Reads a hex file into `held`. Every failure is told through the host and leaves `held` as it
// was; a body that ends early is kept (with its message) and decoded.
bool ReadHexFile(Host& host, FileReadRequest& request, HeldData& held);

// A logger that stores ASCII data has text in its memory, not readings: what the display says
// instead of plotting it, with the bytes downloaded or read from a file.
void TellAsciiData(Host& host, int bytes, bool fromFile);

struct SaveRequest {
  std::filesystem::path programDirectory;
  Directories* directories = nullptr;
  DatLayout layout = DatLayout::N;
  DerivedUnitSettings derived;
  bool channelFile = false;  // "Language Support": also write the ".chn.txt" file
  // The comment dialog: given the current comment, the new one (nullopt: cancelled, which
  // clears it). Empty function: the comment stays.
  std::function<std::optional<std::string>(const std::string&)> commentDialog;
  std::filesystem::path chosenDat;  // out: the dat file written
  std::filesystem::path chosenHex;  // out: the hex file written (empty when none)
};

// "Save data to a file": the hex file, then the dat file. True when the dat file was written.
bool SaveDataToFile(Host& host, SaveRequest& request, HeldData& held, bool again);

// The file header inputs of the held data.
FileHeaderInputs HeaderInputsOf(const HeldData& held, DatLayout layout,
                                const DerivedUnitSettings& derived);

}  // namespace klx
