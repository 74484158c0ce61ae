// The start of the desktop program: the application object and the number format, the command
// line (a data file opened at start, the port for this run), and the unattended picture of the
// main window taken by the program itself (run as a separate process, as a user would).
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "desktop/gui_startup.h"
#include "desktop/main_window.h"
#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "shell/command_ids.h"
#include "shell/recent_files.h"
#include "shell/settings.h"
#include "shell/status.h"
#include "shell/temp_dir.h"

namespace klx::ui {
namespace {

std::unique_ptr<QApplication> application;
std::string localeBeforeApplication;

class ApplicationEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { application.reset(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

// The application is made by the program's own start-up function, in a user locale that is
// not the C locale, so that Qt's adoption of it shows.
QApplication& App() {
  static int argc = 1;
  static char name[] = "gui_startup_tests";
  static char* argv[] = {name, nullptr};
  if (!application) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    localeBeforeApplication = std::setlocale(LC_NUMERIC, nullptr);
    application = CreateGuiApplication(argc, argv);
  }
  return *application;
}

QStringList Arguments(std::initializer_list<const char*> words) {
  QStringList out{"klx-gui"};
  for (const char* w : words) out << QString::fromUtf8(w);
  return out;
}

TEST(GuiStartupTest, NumberFormatIsTheCLocaleAfterTheApplicationStarts) {
  App();
  // The process starts in the C locale; Qt adopted the user's ("C.UTF-8", whose name differs
  // from "C"), so a numeric locale of "C" is the start-up's doing.
  EXPECT_EQ(localeBeforeApplication, "C");
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 1.25);
  EXPECT_STREQ(text, "1.25");
}

TEST(GuiStartupTest, CommandLineWords) {
  std::string error;
  auto o = ParseGuiArguments(
      Arguments({"--port", "sim:VS-330", "--dir=/tmp/x", "--screenshot", "a.png", "\"b.hex\""}),
      &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->port, "sim:VS-330");
  EXPECT_EQ(o->directory, std::filesystem::path("/tmp/x"));
  EXPECT_EQ(o->screenshot, "a.png");
  EXPECT_EQ(o->file, "b.hex");
  EXPECT_FALSE(o->help);

  // A path with blanks arrives as several words and is one command line again.
  o = ParseGuiArguments(Arguments({"\"/data/my", "logger.dat\""}), &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->file, "/data/my logger.dat");
  EXPECT_TRUE(o->port.empty());
  EXPECT_TRUE(o->screenshot.empty());
  EXPECT_TRUE(o->directory.empty());

  EXPECT_TRUE(ParseGuiArguments(Arguments({"--help"}), &error)->help);
  EXPECT_FALSE(ParseGuiArguments(Arguments({"--frobnicate"}), &error));
  EXPECT_NE(error.find("--frobnicate"), std::string::npos);
  EXPECT_FALSE(ParseGuiArguments(Arguments({"--port"}), &error));
  EXPECT_NE(error.find("--port"), std::string::npos);
  EXPECT_FALSE(ParseGuiArguments(Arguments({"--dir="}), &error));
}

class GuiStartupWindowTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    App();
    TempDirTest::SetUp();
    Settings settings(Dir());
    ASSERT_TRUE(settings.WriteSettings());
  }

  std::unique_ptr<MainWindow> NewWindow() {
    auto window = std::make_unique<MainWindow>(Dir(), std::vector<std::string>{});
    QtHost& host = window->host();
    host.answer = [](const std::string&, const std::string&) { return Answer::No; };
    host.choose = [](const std::string&, const std::vector<std::string>& labels) {
      for (size_t i = 0; i < labels.size(); ++i)
        if (labels[i].find("Keep") != std::string::npos) return static_cast<int>(i);
      return 0;
    };
    host.quietBoxes = true;
    window->show();
    return window;
  }
};

TEST_F(GuiStartupWindowTest, PortForThisRunAndAnUnknownPort) {
  auto window = NewWindow();
  const int before = window->session().settings.port;
  GuiOptions options;
  options.port = "sim:VS-330";
  std::string error;
  ASSERT_TRUE(ApplyCommandLine(*window, options, true, &error)) << error;
  Session& s = window->session();
  EXPECT_EQ(s.ports.DeviceFor(s.link.loggerPort), "sim:VS-330");
  // Connected at start.
  EXPECT_TRUE(s.logger.state.connected);
  EXPECT_EQ(s.logger.state.model, "VS-330");
  // The settings file keeps its own port.
  Settings reread(Dir());
  reread.ReadSettings();
  EXPECT_EQ(reread.port, before);

  options.port = "COM9";  // not mapped to a device here
  error.clear();
  EXPECT_FALSE(ApplyCommandLine(*window, options, true, &error));
  EXPECT_NE(error.find("COM9"), std::string::npos);
  EXPECT_NE(window->host().StatusText(kStatusMessagePart).toStdString().find("COM9"),
            std::string::npos);
}

TEST_F(GuiStartupWindowTest, HexFileOnTheCommandLineOpensAndTopsTheRecentFiles) {
  const std::filesystem::path dat = Dir() / "dat" / "first.dat";
  const std::filesystem::path hex = Dir() / "hex" / "first.hex";
  int samples = 0;
  {
    // A data set from the simulated logger, saved as first.dat and first.hex.
    auto window = NewWindow();
    window->host().chooseFile = [&](const FileChoice&) -> std::optional<std::string> {
      return dat.string();
    };
    GuiOptions options;
    options.port = "sim:VS-330";
    std::string error;
    ASSERT_TRUE(ApplyCommandLine(*window, options, false, &error)) << error;
    window->RunCommand(cmd::kRetrieveData);
    RetrievalDialog* dialog = window->Retrieving();
    ASSERT_NE(dialog, nullptr) << window->host().StatusText(kStatusMessagePart).toStdString();
    QTest::mouseClick(dialog->RetrieveButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->Retrieving() == nullptr, 120000);
    samples = window->session().held.data.samplesPerChannel;
    ASSERT_GT(samples, 0);
    ASSERT_TRUE(std::filesystem::exists(hex));
    window->host().answer = [](const std::string&, const std::string&) { return Answer::No; };
  }
  // The dat file saved last stands at the top of the recent files now.
  RecentFiles recent(Dir());
  recent.Load();
  ASSERT_FALSE(recent.Entries().empty());
  ASSERT_EQ(recent.Entries().front(), dat.string());

  // The program again, with the quoted hex path as its command line.
  const std::string quoted = "\"" + hex.string() + "\"";
  std::string error;
  const auto options = ParseGuiArguments(Arguments({quoted.c_str()}), &error);
  ASSERT_TRUE(options) << error;
  auto window = NewWindow();
  EXPECT_TRUE(window->session().held.data.Empty());
  const bool opened = ApplyCommandLine(*window, *options, true, &error);
  std::string boxes;
  for (const std::string& line : window->host().log) boxes += line + "\n";
  ASSERT_TRUE(opened) << error << "\n" << boxes;
  Session& s = window->session();
  EXPECT_EQ(s.held.data.samplesPerChannel, samples);
  EXPECT_TRUE(s.held.fromFile);
  EXPECT_EQ(window->view().Samples(), samples);
  EXPECT_TRUE(window->Action(cmd::kSaveFile)->isEnabled());
  ASSERT_FALSE(window->RecentActions().empty());
  EXPECT_TRUE(window->RecentActions().front()->text().contains("first.hex"))
      << window->RecentActions().front()->text().toStdString();
  RecentFiles after(Dir());
  after.Load();
  ASSERT_GE(after.Entries().size(), 2u);
  EXPECT_EQ(after.Entries()[0], hex.string());
  EXPECT_EQ(after.Entries()[1], dat.string());

  // A name that is no data file opens nothing and says so.
  GuiOptions other;
  other.file = (Dir() / "notes.txt").string();
  EXPECT_FALSE(ApplyCommandLine(*window, other, true, &error));
  EXPECT_EQ(s.held.data.samplesPerChannel, samples);
}

// Runs the program; its exit status, with stderr in `messages`.
int RunProgram(const QStringList& arguments, std::string* messages) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(environment);
  program.start(KLX_GUI_PROGRAM, arguments);
  if (!program.waitForStarted(30000)) return -1;
  if (!program.waitForFinished(240000)) {
    program.kill();
    program.waitForFinished();
    return -2;
  }
  if (messages) *messages = program.readAllStandardError().toStdString();
  return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -3;
}

TEST_F(GuiStartupWindowTest, ScreenshotRetrievesPlotsAndSavesTheMainWindow) {
  const std::filesystem::path png = Dir() / "main-window.png";
  std::string messages;
  const int status = RunProgram({"--screenshot", QString::fromStdString(png.string()), "--port",
                                 "sim:VS-330", "--dir", QString::fromStdString(Dir().string())},
                                &messages);
  ASSERT_EQ(status, 0) << messages;
  QImage picture;
  ASSERT_TRUE(picture.load(QString::fromStdString(png.string()))) << messages;

  // The picture is the whole main window: the same size as one made here.
  auto window = NewWindow();
  EXPECT_EQ(picture.size(), window->size());
  // The traces stand in the plot: pixels of the channels' colours inside its rectangle.
  const QRect plot(window->graph().Plot()->mapTo(window.get(), QPoint(0, 0)),
                   window->graph().Plot()->size());
  auto traced = [&plot](const QImage& image) {
    int n = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y)
      for (int x = plot.left(); x <= plot.right(); ++x)
        for (int channel = 0; channel < 8; ++channel)
          n += channel != 6 && image.pixelColor(x, y) == ChannelColour(channel);
    return n;
  };
  EXPECT_GT(traced(picture), plot.width()) << "no traces in the plot";
  // The same window without data has none there.
  EXPECT_EQ(traced(window->grab().toImage().convertToFormat(QImage::Format_RGB32)), 0);
  // Nothing was saved: the screenshot run leaves no data files behind.
  EXPECT_TRUE(!std::filesystem::exists(Dir() / "hex") || std::filesystem::is_empty(Dir() / "hex"));
  const std::filesystem::path keep = std::filesystem::path(KLX_GUI_OUTPUT_DIR) / "startup";
  std::filesystem::create_directories(keep);
  std::filesystem::copy_file(png, keep / "screenshot.png",
                             std::filesystem::copy_options::overwrite_existing);
}

TEST_F(GuiStartupWindowTest, ScreenshotFailsWithAMessageWhenThePortIsUnusable) {
  const std::filesystem::path png = Dir() / "none.png";
  std::string messages;
  EXPECT_EQ(RunProgram({"--screenshot", QString::fromStdString(png.string()), "--port", "COM9",
                        "--dir", QString::fromStdString(Dir().string())},
                       &messages),
            1);
  EXPECT_NE(messages.find("COM9"), std::string::npos) << messages;
  EXPECT_FALSE(std::filesystem::exists(png));

  EXPECT_EQ(RunProgram({"--bogus"}, &messages), 2);
  EXPECT_NE(messages.find("Usage"), std::string::npos) << messages;
}

}  // namespace
}  // namespace klx::ui
