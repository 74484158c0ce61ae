// klx-gui: the desktop program. The start-up and the command line are in desktop/gui_startup.
#include "desktop/gui_startup.h"

int main(int argc, char** argv) {
  return klx::ui::RunGui(argc, argv);
}
