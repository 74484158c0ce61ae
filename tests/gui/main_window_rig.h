#pragma once
// The main window offscreen in a fresh folder: questions are recorded and answered `nextAnswer`,
// a choice takes the "Keep" label, file choices are recorded and answered `nextFile` (empty: cancel).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QListWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/com_settings_dialog.h"
#include "desktop/main_window.h"
#include "gui/qt_test_app.h"
#include "shell/settings.h"
#include "shell/status.h"
#include "shell/temp_dir.h"
#include "sim/sim_logger.h"
#include "sim/sim_profile.h"

namespace klx::test {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class MainWindowRig : public TempDirTest {
 protected:
  void SetUp() override {
    QtApp();
    TempDirTest::SetUp();
    Settings settings(Dir());
    Configure(settings);
    ASSERT_TRUE(settings.WriteSettings());
    Start();
  }
  void TearDown() override {
    Stop();
    TempDirTest::TearDown();
  }
  // The settings the program finds in its folder.
  virtual void Configure(Settings&) {}

  // Starts the program (again) in the folder.
  void Start() {
    window = std::make_unique<ui::MainWindow>(Dir(), std::vector<std::string>{});
    Script(window->host());
    window->show();
  }
  void Stop() {
    if (window)
      window->host().answer = [](const std::string&, const std::string&) { return Answer::No; };
    window.reset();
  }
  void Script(ui::QtHost& host) {
    host.answer = [this](const std::string& caption, const std::string&) {
      asked.push_back(caption);
      return nextAnswer;
    };
    host.choose = [](const std::string&, const std::vector<std::string>& labels) {
      for (size_t i = 0; i < labels.size(); ++i)
        if (labels[i].find("Keep") != std::string::npos) return static_cast<int>(i);
      return 0;
    };
    host.chooseFile = [this](const FileChoice& choice) -> std::optional<std::string> {
      choices.push_back(choice);
      if (nextFile.empty()) return std::nullopt;
      return nextFile;
    };
  }

  // The message part of the status line; whether a box or the status line showed the text.
  std::string Status() const { return window->host().StatusText(kStatusMessagePart).toStdString(); }
  bool Told(const std::string& text) const {
    for (const auto& line : window->host().log)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  // Chooses "Simulated logger: <model>" in the COM settings, as a user would.
  bool SelectSimulator(const std::string& model) {
    ui::ComSettingsDialog dialog(window->session(), window.get());
    const auto items = dialog.List()->findItems(
        QString::fromStdString("Simulated logger: " + model), Qt::MatchExactly);
    if (items.isEmpty()) return false;
    dialog.List()->setCurrentItem(items[0]);
    return dialog.Apply();
  }
  // Puts the simulated logger `name` on the port, closing the open one so that the next command
  // connects; with `edit`, an edited copy of profile `name` goes there under the name `as`.
  std::shared_ptr<sim::SimLogger> UseSim(const std::string& name,
                                         const std::function<void(sim::SimProfile&)>& edit = {},
                                         const std::string& as = "") {
    Session& s = window->session();
    s.link.CloseSerialPort(PortSlot::Logger);
    s.logger.state.connected = false;
    std::string error;
    const std::string port = edit ? as : name;
    if (edit) {
      sim::SimProfile profile;
      EXPECT_TRUE(sim::LoadProfile(name, profile, error)) << error;
      edit(profile);
      window->SimLoggers().Add(port, std::make_shared<sim::SimLogger>(profile));
    }
    EXPECT_TRUE(s.SelectPort("sim:" + port, &error)) << error;
    return window->SimLoggers().Logger(port);
  }

  // Runs the command; `act` works the dialog of type T it opens. Whether that dialog opened.
  template <typename T>
  bool WithDialog(int command, std::function<void(T&)> act) {
    bool seen = false;
    OnNextModal<T>(act, &seen);
    window->RunCommand(command);
    return seen;
  }

  std::unique_ptr<ui::MainWindow> window;
  std::vector<std::string> asked;
  std::vector<FileChoice> choices;
  Answer nextAnswer = Answer::No;
  std::string nextFile;
};

}  // namespace klx::test
