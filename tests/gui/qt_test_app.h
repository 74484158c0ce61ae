#pragma once
// The Qt application the window tests share: one per test program, offscreen unless a platform
// is set, numbers in the C locale, and ended before the process exits (Qt must not outlive main).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/host.h"
#include "session/session.h"
#include "sim/sim_transport.h"

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

// Runs `act` on the modal dialog of type T that opens next and closes it if `act` left it open;
// any other modal window is closed unseen. `seen` (if given) tells whether T opened.
template <typename T>
void OnNextModal(std::function<void(T&)> act, bool* seen = nullptr) {
  QTimer::singleShot(0, [act, seen] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (seen) *seen = dialog != nullptr;
    if (!dialog) {
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      return;
    }
    act(*dialog);
    if (dialog->isVisible()) dialog->close();
  });
}

// Runs the event loop until the condition holds or two seconds of wall time have passed.
inline bool RunUntil(const std::function<bool()>& done) {
  QElapsedTimer wall;
  wall.start();
  while (!done() && wall.elapsed() < 2000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

inline std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A session in a fresh folder (named after `tag`) on the simulated loggers and a virtual clock.
struct SimSession {
  SimSession(Host& host, const std::string& tag,
             SystemTime now = SystemTime{2026, 12, 0, 6, 12, 0, 0, 0})
      : dir(std::filesystem::temp_directory_path() /
            ("klx-" + tag + "-" + std::to_string(::getpid()))),
        clock(now) {
    QtApp();
    std::filesystem::create_directories(dir);
    session = std::make_unique<Session>(host, clock, dir, std::vector<std::string>{});
    sims = sim::RegisterSimTransport(session->transports, clock);
    session->ReadSettings();
  }
  ~SimSession() {
    session.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Selects the port and connects as a menu command does: capabilities and configuration.
  bool Connect(const std::string& port) {
    std::string error;
    if (!session->SelectPort(port, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    if (!session->logger.ConnectCommand()) return false;
    session->logger.AssessCapabilities();
    return session->logger.CommGet(16) == 1;
  }

  std::filesystem::path dir;
  VirtualClock clock;
  std::unique_ptr<Session> session;
  std::shared_ptr<sim::SimLoggers> sims;
};

}  // namespace klx::test
