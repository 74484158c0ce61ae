#include "shell/directories.h"

#include <system_error>

#include "shell/messages.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

namespace {

constexpr size_t kMaxDirectoryLine = 260;

// Creates the folder; true when it exists afterwards as a folder.
bool CreateFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directory(folder, ec);
  if (!ec) return true;
  return std::filesystem::is_directory(folder, ec);
}

std::string Unset(const std::string& value) {
  return value.empty() ? std::string(kEmptyDirectory) : value;
}

}  // namespace

std::filesystem::path DirectoryFilePath(const std::filesystem::path& programDirectory) {
  return programDirectory / "klxdir.ini";
}

std::optional<std::string> ReadDirectories(const std::filesystem::path& programDirectory,
                                           Directories& directories) {
  struct Default {
    std::string* value;
    const char* folder;
    Msg failure;
  };
  const Default defaults[] = {
      {&directories.dat, "dat", Msg::CannotCreateDatDirectory},
      {&directories.mat, "mat", Msg::CannotCreateMatDirectory},
      {&directories.hex, "hex", Msg::CannotCreateHexDirectory},
      {&directories.extraHex, "hex", Msg::CannotCreateHexDirectory},
  };
  for (const Default& d : defaults) {
    if (*d.value != kEmptyDirectory && !d.value->empty()) continue;
    const std::filesystem::path folder = programDirectory / d.folder;
    *d.value = folder.string();
    if (!CreateFolder(folder))
      return Format(MessageText(d.failure).c_str(), programDirectory.c_str());
  }

  if (const auto lines = ReadTextLines(DirectoryFilePath(programDirectory), kMaxDirectoryLine)) {
    for (const TextLine& line : *lines) {
      std::string* target = nullptr;
      std::string_view key;
      for (auto [k, t] : {std::pair{"DAT directory=", &directories.dat},
                          std::pair{"MAT directory=", &directories.mat},
                          std::pair{"HEX directory=", &directories.hex}}) {
        if (Contains(line.text, k)) {
          key = k;
          target = t;
          break;
        }
      }
      if (target == nullptr || line.overLong) continue;
      std::string value = line.text.substr(line.text.find(key) + key.size());
      // Carriage returns at the end belong to the line end (a file whose line ends went through
      // two conversions); kept, the rewritten file would give back a different path.
      while (!value.empty() && value.back() == '\r') value.pop_back();
      if (!value.empty() && value != kEmptyDirectory) *target = value;
    }
  }
  WriteDirectories(programDirectory, directories);
  return std::nullopt;
}

bool WriteDirectories(const std::filesystem::path& programDirectory,
                      const Directories& directories) {
  std::string text;
  text += "DAT directory=" + Unset(directories.dat) + "\n";
  text += "HEX directory=" + Unset(directories.hex) + "\n";
  text += "MAT directory=" + Unset(directories.mat) + "\n";
  return WriteTextFileAtomically(DirectoryFilePath(programDirectory), text);
}

std::filesystem::path FolderOrDefault(const std::string& remembered,
                                      const std::filesystem::path& programDirectory,
                                      const char* sub) {
  if (remembered.empty() || remembered == kEmptyDirectory) return programDirectory / sub;
  return remembered;
}

std::filesystem::path DefaultDirectoryFor(DirectoryKind kind, const std::string& currentFile,
                                          const std::filesystem::path& programDirectory) {
  const char* extension = kind == DirectoryKind::Dat ? ".dat" : ".hex";
  const char* folder = kind == DirectoryKind::Dat ? "dat" : "hex";
  if (!Contains(currentFile, extension)) return programDirectory / folder;
  const std::filesystem::path parent = std::filesystem::path(currentFile).parent_path();
  if (parent.empty()) return programDirectory;
  return parent.is_absolute() ? parent : programDirectory / parent;
}

}  // namespace klx
