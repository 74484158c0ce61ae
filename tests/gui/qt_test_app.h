#pragma once
// The Qt application the window tests share: one per test program, offscreen unless a platform
// is set, numbers in the C locale, and ended before the process exits (Qt must not outlive
// main). Pictures of the windows go to the build tree's tests/gui folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace klx::test {

inline QApplication* qtApplication = nullptr;

class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    delete qtApplication;
    qtApplication = nullptr;
  }
};
inline const auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

inline QApplication& QtApp() {
  static int argc = 1;
  static char name[] = "klx_gui_tests";
  static char* argv[] = {name, nullptr};
  if (!qtApplication) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qtApplication = new QApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
  }
  return *qtApplication;
}

// Saves a picture of the widget (`fit`: at its preferred size first).
inline void SaveWidgetPicture(QWidget& w, const std::string& name, bool fit) {
  const std::filesystem::path dir = KLX_GUI_OUTPUT_DIR;
  std::filesystem::create_directories(dir);
  if (fit) w.adjustSize();
  ASSERT_TRUE(w.grab().save(QString::fromStdString((dir / name).string()), "PNG"));
}

}  // namespace klx::test
