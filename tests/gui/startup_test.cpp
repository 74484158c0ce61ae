// The desktop program's start: number format, command line, and its picture of its main window.
#include <QImage>
#include <QProcess>
#include <clocale>
#include <cstdlib>

#include "desktop/gui_startup.h"
#include "display/ui/graph_panel.h"
#include "gui/main_window_rig.h"

namespace klx::ui {
namespace {

std::string localeBeforeApplication;

// The application made by the program's own start-up function, in a user locale other than "C".
QApplication& App() {
  static int argc = 1;
  static char name[] = "gui_startup_tests";
  static char* argv[] = {name, nullptr};
  if (!test::qtApplication) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    localeBeforeApplication = std::setlocale(LC_NUMERIC, nullptr);
    test::qtApplication = CreateGuiApplication(argc, argv).release();
  }
  return *test::qtApplication;
}

QStringList Arguments(std::initializer_list<const char*> words) {
  QStringList out{"klx-gui"};
  for (const char* w : words) out << QString::fromUtf8(w);
  return out;
}

TEST(GuiStartupTest, NumberFormatIsTheCLocaleAfterTheApplicationStarts) {
  App();
  // Qt adopted the user's "C.UTF-8"; a numeric locale of "C" is the start-up's doing.
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
  EXPECT_EQ(std::tuple(o->port, o->directory.string(), o->screenshot, o->file),
            std::tuple("sim:VS-330", "/tmp/x", "a.png", "b.hex"));

  // A path with blanks arrives as several words and is one command line again.
  o = ParseGuiArguments(Arguments({"\"/data/my", "logger.dat\""}), &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->file, "/data/my logger.dat");
  EXPECT_TRUE(ParseGuiArguments(Arguments({"--help"}), &error)->help);
  for (const char* bad : {"--frobnicate", "--port", "--dir="}) {
    EXPECT_FALSE(ParseGuiArguments(Arguments({bad}), &error)) << bad;
    EXPECT_NE(error.find(std::string(bad).substr(0, 5)), std::string::npos) << error;
  }
}

class GuiStartupWindowTest : public test::MainWindowRig {
 protected:
  void SetUp() override {
    App();
    MainWindowRig::SetUp();
  }
};

TEST_F(GuiStartupWindowTest, PortForThisRunIsNotWrittenToTheSettings) {
  const int before = window->session().settings.port;
  GuiOptions options;
  options.port = "sim:VS-330";
  std::string error;
  ASSERT_TRUE(ApplyCommandLine(*window, options, true, &error)) << error;
  Session& s = window->session();
  EXPECT_EQ(s.logger.state.model, "VS-330");  // connected at start
  Settings reread(Dir());                     // the settings file keeps its own port
  reread.ReadSettings();
  EXPECT_EQ(reread.port, before);
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
  *messages = program.readAllStandardError().toStdString();
  return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -3;
}

// The program retrieves, plots and saves a picture of its main window; an unusable port ends it
// with a message and no picture.
TEST_F(GuiStartupWindowTest, ScreenshotOfTheMainWindow) {
  namespace fs = std::filesystem;
  const auto shot = [&](const fs::path& png, const char* port, std::string* messages) {
    return RunProgram({"--screenshot", QString::fromStdString(png.string()), "--port", port,
                       "--dir", QString::fromStdString(Dir().string())},
                      messages);
  };
  std::string messages;
  EXPECT_EQ(shot(Dir() / "none.png", "COM9", &messages), 1);
  EXPECT_THAT(messages, test::HasSubstr("COM9"));
  EXPECT_FALSE(fs::exists(Dir() / "none.png"));

  const fs::path png = Dir() / "main-window.png";
  ASSERT_EQ(shot(png, "sim:VS-330", &messages), 0) << messages;
  QImage picture;
  ASSERT_TRUE(picture.load(QString::fromStdString(png.string()))) << messages;
  // The picture is the whole main window: the same size as one made here.
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
}

}  // namespace
}  // namespace klx::ui
