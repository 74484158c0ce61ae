#pragma once
// The start of the desktop program: the application object, the command line, and the
// unattended picture of the main window.
//
//   klx-gui [--dir DIR] [--port P] [--screenshot FILE.png] [FILE]
//
// FILE (".hex", ".dat" or ".mat", enclosing double quotes stripped) is opened at start and goes
// to the top of the recent files; a ".rcfg" configuration script is applied to the logger.
// --port P (COM<n>, a device path or sim:<model>) is the logger
// port for this run (the settings file keeps its own) and the program connects to it at start.
// --dir DIR is the program directory (default: the working directory). --screenshot FILE.png
// retrieves the logger's memory through the retrieval dialog, plots it, saves a picture of the
// main window and ends (0 on success, 1 with a message on stderr otherwise); with a FILE and no
// --port it pictures the file instead.
#include <QApplication>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace klx::ui {

class MainWindow;

struct GuiOptions {
  std::filesystem::path directory;  // empty: the working directory
  std::string file;                 // the data file named on the command line
  std::string port;                 // empty: the settings file's logger port
  std::string screenshot;           // empty: an ordinary interactive run
  bool help = false;
};

// Exit statuses of the program.
constexpr int kGuiExitOk = 0;
constexpr int kGuiExitFailed = 1;
constexpr int kGuiExitUsage = 2;

// The usage text of --help and of usage errors.
std::string GuiUsage();

// Reads the command line (`arguments[0]` is the program). Words that are not options form the
// file path, joined by blanks as one command line. nullopt with `error` on a usage error.
std::optional<GuiOptions> ParseGuiArguments(const QStringList& arguments, std::string* error);

// The application object as the program makes it: Qt adopts the user's locale, and the number
// format goes back to C, because files and logger commands always use it.
std::unique_ptr<QApplication> CreateGuiApplication(int& argc, char** argv);

// The command line applied to a shown main window: the logger port for this run (connecting to
// it when `connect` is set), then the file. False with `error` when the port cannot be used or
// the file cannot be opened (the window's status line then says why as well).
bool ApplyCommandLine(MainWindow& window, const GuiOptions& options, bool connect,
                      std::string* error);

// --screenshot: retrieves the logger's memory through the retrieval dialog without questions
// (a logging logger keeps logging, nothing is saved), plots it and saves the main window's
// picture to `file`. With `retrieve` unset it pictures what the window already shows. False
// with `error` when no data set could be shown or the picture not written.
bool TakeScreenshot(MainWindow& window, const std::string& file, bool retrieve, std::string* error);

// The whole program; returns the exit status.
int RunGui(int argc, char** argv);

}  // namespace klx::ui
