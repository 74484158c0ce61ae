#include "desktop/gui_startup.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "platform/libserialport_port.h"
#include "shell/command_ids.h"
#include "shell/status.h"
#include "desktop/copy_limit.h"
#include "desktop/main_window.h"
#include "desktop/qt_host.h"
#include "desktop/retrieval_dialog.h"

namespace klx::ui {

namespace {

// The longest an unattended retrieval may take (an 8 MB memory over a slow line).
constexpr qint64 kScreenshotRetrievalLimitMs = 60LL * 60 * 1000;

// The status line's message, to explain a failure.
std::string StatusMessage(MainWindow& window) {
  return ToLatin1(window.host().StatusText(kStatusMessagePart));
}

std::string WithReason(const std::string& what, const std::string& reason) {
  return reason.empty() ? what : what + ": " + reason;
}

}  // namespace

std::string GuiUsage() {
  return "Usage: klx-gui [--dir DIR] [--port P] [--screenshot FILE.png] [FILE]\n"
         "  FILE               a .hex, .dat or .mat file to open at start, or a .rcfg\n"
         "                     configuration script to apply to the logger\n"
         "  --dir DIR          program directory holding klx.ini and the data folders\n"
         "                     (default: the working directory)\n"
         "  --port P           logger port for this run (COM<n>, a device path or\n"
         "                     sim:<model>); the program connects to it at start\n"
         "  --screenshot FILE  retrieve the logger's memory, plot it, save a picture of the\n"
         "                     main window to FILE and end (with FILE and no --port: picture\n"
         "                     the file)\n"
         "  --help             this text\n";
}

std::optional<GuiOptions> ParseGuiArguments(const QStringList& arguments, std::string* error) {
  GuiOptions options;
  std::string file;
  std::string directory;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments.at(i);
    if (!argument.startsWith("--") || argument == "--") {
      if (!file.empty()) file += ' ';
      file += argument.toStdString();
      continue;
    }
    if (argument == "--help") {
      options.help = true;
      continue;
    }
    QString name = argument;
    std::optional<QString> value;
    if (const qsizetype equals = argument.indexOf('='); equals > 0) {
      name = argument.left(equals);
      value = argument.mid(equals + 1);
    }
    std::string* target = nullptr;
    if (name == "--port") target = &options.port;
    if (name == "--dir") target = &directory;
    if (name == "--screenshot") target = &options.screenshot;
    if (!target) {
      if (error) *error = "unknown option " + argument.toStdString();
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 >= arguments.size()) {
        if (error) *error = name.toStdString() + " needs a value";
        return std::nullopt;
      }
      value = arguments.at(++i);
    }
    if (value->isEmpty()) {
      if (error) *error = name.toStdString() + " needs a value";
      return std::nullopt;
    }
    *target = value->toStdString();
  }
  options.directory = directory;
  if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
    file = file.substr(1, file.size() - 2);
  options.file = file;
  return options;
}

std::unique_ptr<QApplication> CreateGuiApplication(int& argc, char** argv) {
  auto application = std::make_unique<QApplication>(argc, argv);
  // Qt adopts the user's locale; files and logger commands always use the C number format.
  std::setlocale(LC_NUMERIC, "C");
  return application;
}

bool ApplyCommandLine(MainWindow& window, const GuiOptions& options, bool connect,
                      std::string* error) {
  bool ok = true;
  Session& session = window.session();
  if (!options.port.empty()) {
    std::string portError;
    if (session.SelectPort(options.port, &portError)) {
      ShowStatus(window.host(), "Logger port: " + session.PortDescription(session.link.loggerPort));
      if (connect) window.RunCommand(cmd::kConnect);
    } else {
      ShowStatus(window.host(), portError);
      if (error) *error = portError;
      ok = false;
    }
  }
  if (!options.file.empty() && !window.OpenCommandLineFile(options.file)) {
    if (error && ok) *error = WithReason("Unable to open " + options.file, StatusMessage(window));
    ok = false;
  }
  return ok;
}

bool TakeScreenshot(MainWindow& window, const std::string& file, bool retrieve,
                    std::string* error) {
  QtHost& host = window.host();
  Session& session = window.session();
  if (retrieve) {
    // No one is there to answer: questions get No, a logging logger keeps logging, nothing is
    // saved, and boxes only go to the host's log.
    host.answer = [](const std::string&, const std::string&) { return Answer::No; };
    host.choose = [](const std::string&, const std::vector<std::string>& labels) {
      for (size_t i = 0; i < labels.size(); ++i)
        if (labels[i].find("Keep") != std::string::npos ||
            labels[i].find("Suspend") != std::string::npos)
          return static_cast<int>(i);
      return -1;
    };
    host.chooseFile = [](const FileChoice&) -> std::optional<std::string> { return std::nullopt; };
    host.quietBoxes = true;

    window.RunCommand(cmd::kRetrieveData);
    RetrievalDialog* dialog = window.Retrieving();
    if (!dialog) {
      if (error) *error = WithReason("No logger answered", StatusMessage(window));
      return false;
    }
    if (dialog->RetrieveButton()->text() != "Retrieve Data") {
      // The logger is logging and holds nothing yet; the button would stop it.
      dialog->CancelButton()->click();
      if (error) *error = "The logger is logging and holds no data yet";
      return false;
    }
    dialog->RetrieveButton()->click();
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (!window.Retrieving() || elapsed.elapsed() > kScreenshotRetrievalLimitMs) loop.quit();
    });
    poll.start(20);
    if (window.Retrieving()) loop.exec();
    poll.stop();
    if (RetrievalDialog* still = window.Retrieving()) {
      still->CancelButton()->click();  // ends the transfer with what has arrived
      if (error) *error = "The retrieval took too long";
      return false;
    }
  }
  if (session.held.data.Empty()) {
    if (error) *error = WithReason("No data to show", StatusMessage(window));
    return false;
  }
  QApplication::processEvents();
  if (!window.grab().save(QString::fromStdString(file), "PNG")) {
    if (error) *error = "Unable to write " + file;
    return false;
  }
  return true;
}

int RunGui(int argc, char** argv) {
  const std::unique_ptr<QApplication> application = CreateGuiApplication(argc, argv);
  std::string error;
  const std::optional<GuiOptions> options = ParseGuiArguments(QApplication::arguments(), &error);
  if (!options) {
    std::fprintf(stderr, "klx-gui: %s\n%s", error.c_str(), GuiUsage().c_str());
    return kGuiExitUsage;
  }
  if (options->help) {
    std::fputs(GuiUsage().c_str(), stdout);
    return kGuiExitOk;
  }
  // The program directory is the working directory unless --dir names one.
  std::error_code ec;
  const std::filesystem::path directory = std::filesystem::absolute(
      options->directory.empty() ? std::filesystem::current_path() : options->directory, ec);
  if (ec || !std::filesystem::is_directory(directory)) {
    std::fprintf(stderr, "klx-gui: %s is not a directory\n", options->directory.c_str());
    return kGuiExitFailed;
  }
  // The slot stays held until the program ends.
  const std::optional<CopySlot> slot = StartCopy(directory, StartupHost());
  if (!slot) return kGuiExitOk;
  MainWindow window(directory, EnumerateSerialDevices(), slot->Index());
  if (window.StartupFailed()) return kGuiExitFailed;
  window.show();
  const bool screenshot = !options->screenshot.empty();
  if (!ApplyCommandLine(window, *options, !screenshot, &error)) {
    std::fprintf(stderr, "klx-gui: %s\n", error.c_str());
    if (screenshot) return kGuiExitFailed;
  }
  if (screenshot) {
    const bool retrieve = !options->port.empty() || options->file.empty();
    if (!TakeScreenshot(window, options->screenshot, retrieve, &error)) {
      std::fprintf(stderr, "klx-gui: %s\n", error.c_str());
      return kGuiExitFailed;
    }
    return kGuiExitOk;
  }
  return application->exec();
}

}  // namespace klx::ui
