// klx-gui: the desktop program. The start-up and the command line are in shell/ui/gui_startup.
#include "shell/ui/gui_startup.h"

int main(int argc, char** argv) {
  return klx::ui::RunGui(argc, argv);
}
