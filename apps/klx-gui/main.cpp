// klx-gui: the desktop program.
#include <QApplication>
#include <clocale>
#include <filesystem>

#include "platform/libserialport_port.h"
#include "shell/ui/copy_limit.h"
#include "shell/ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt adopts the user's locale; files and logger commands always use the C number format.
  std::setlocale(LC_NUMERIC, "C");
  // The program directory is the working directory, as for the command-line tool.
  const std::filesystem::path directory = std::filesystem::current_path();
  // The slot stays held until the program ends.
  const std::optional<klx::ui::CopySlot> slot =
      klx::ui::StartCopy(directory, klx::ui::StartupHost());
  if (!slot) return 0;
  klx::ui::MainWindow window(directory, klx::EnumerateSerialDevices(), slot->Index());
  window.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) window.OpenCommandLineFile(arguments.at(1).toStdString());
  return app.exec();
}
