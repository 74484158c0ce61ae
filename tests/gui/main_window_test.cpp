// The main window offscreen: copies, retrieval, files, status line, graph, settings, live display.
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include "calibration/read.h"
#include "deployment/ui/setup_command.h"
#include "derived/ui/derived_units_dialog.h"
#include "desktop/copy_limit.h"
#include "desktop/gui_startup.h"
#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "files/ui/file_dialogs.h"
#include "gui/main_window_rig.h"
#include "link/ui/link_dialogs.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "shell/directories.h"
#include "shell/recent_files.h"

namespace klx::ui {
namespace {

namespace fs = std::filesystem;
using test::HasSubstr;
using test::ReadText;
using test::StartsWith;

class MainWindowTest : public test::MainWindowRig {
 protected:
  // Shows a VS-330 data set of the given channel letters and values, with their extremes.
  HeldData& Hold(const std::string& letters, int samples,
                 const std::function<float(int, int)>& value, bool unsaved = false) {
    HeldData& held = window->session().held;
    held.data.logger.model = "VS-330";
    held.data.logger.channelTypes = letters;
    held.data.logger.channelCount = held.data.channelCount = static_cast<int>(letters.size());
    held.data.samplesPerChannel = samples;
    held.data.series.clear();
    for (int c = 0; c < held.data.channelCount; ++c) {
      std::vector<float> s;
      for (int i = 0; i < samples; ++i) s.push_back(value(c, i));
      s.push_back(*std::min_element(s.begin(), s.end()));
      s.push_back(*std::max_element(s.begin(), s.end() - 1));
      held.data.series.push_back(std::move(s));
    }
    held.image.unsaved = unsaved;
    window->ShowHeldData();
    return held;
  }
  Settings Reread() {
    Settings s(Dir());
    s.ReadSettings();
    return s;
  }
  std::vector<std::string> RecentEntries() {
    RecentFiles list(Dir());
    EXPECT_TRUE(list.Load());
    return list.Entries();
  }
};

TEST_F(MainWindowTest, StatusLineAndCommandsThatAreNotReady) {
  EXPECT_FALSE(window->Action(cmd::kScreenCapture)->isEnabled());  // no data yet
  QtHost& host = window->host();
  EXPECT_EQ(Status(), "Ready");
  EXPECT_EQ(MainWindow::ClockText(SystemTime{2026, 6, 1, 1, 9, 5, 7, 0}), "2026/Jun/01 09:05:07 ");
  window->RunCommand(9999);  // no such command
  EXPECT_EQ(Status(), "Command 9999 is not yet available in this version");
  // An error shows the warning icon, the next plain message takes it away.
  auto* icon = window->findChild<QLabel*>("statusPart0");
  EXPECT_EQ(host.Icon(), StatusIcon::Warning);
  EXPECT_FALSE(icon->pixmap().isNull());
  ShowStatus(host, "Ready");
  EXPECT_EQ(host.Icon(), StatusIcon::None);
  EXPECT_TRUE(icon->pixmap().isNull());
  ShowStatus(host, "\xB5Mol/l");  // Latin-1 texts arrive as such: the micro sign is one byte
  EXPECT_EQ(host.StatusText(kStatusMessagePart), QString::fromUtf8("\xC2\xB5Mol/l"));
  auto* units = window->findChild<QLabel*>("statusPart2");
  ASSERT_TRUE(units);
  host.SetUnitsIcon(true);
  EXPECT_EQ(host.UnitsIcon(), "UNITSENG");
  const QImage engineering = units->pixmap().toImage();
  host.SetUnitsIcon(false);
  EXPECT_EQ(host.UnitsIcon(), "UNITSBINARY");
  EXPECT_NE(units->pixmap().toImage(), engineering);
}

// Each copy holds a locked slot file, the lowest free slot is the next copy's index; a secondary
// copy needs the copies file (written by the window's toggle) and a Yes.
TEST_F(MainWindowTest, CopyLimitSlotsCopiesFileQuestionAndNinthCopy) {
  RecordingHost host;
  std::optional<CopySlot> first = StartCopy(Dir(), host);
  ASSERT_TRUE(first && first->Index() == 0);
  // No copies file (the window's settings say not allowed): ends silently.
  fs::remove(Dir() / "klx_copies.ini");
  EXPECT_FALSE(StartCopy(Dir(), host));
  EXPECT_TRUE(host.events.empty());
  window->RunCommand(cmd::kAllowMultipleCopies);
  EXPECT_TRUE(window->Action(cmd::kAllowMultipleCopies)->isChecked());
  host.answers = {Answer::No};
  EXPECT_FALSE(StartCopy(Dir(), host));
  EXPECT_EQ(host.events.size(), 1u);
  std::vector<CopySlot> running;
  for (int index = 1; index < kMaxCopies; ++index) {
    host.answers = {Answer::Yes};
    running.push_back(*StartCopy(Dir(), host));
    ASSERT_EQ(running.back().Index(), index);
  }
  // The ninth copy is refused with the limit message and asks nothing.
  host.events.clear();
  host.answers = {Answer::Yes};
  EXPECT_FALSE(StartCopy(Dir(), host));
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].kind, "tell");
  // A copy that ends frees its slot for the next one.
  running.erase(running.begin() + 2);  // index 3
  host.answers = {Answer::Yes};
  std::optional<CopySlot> again = StartCopy(Dir(), host);
  EXPECT_TRUE(again && again->Index() == 3);
}

// A channel button; after a zoom the vertical scroll bar and the up-down control move together.
TEST_F(MainWindowTest, GraphZoomButtonsAndVerticalScrolling) {
  Hold("TP", 1000, [](int, int i) { return i * 0.1f; });
  const GraphView& v = window->view();
  GraphPanel& g = window->graph();
  // Hiding a channel with its button takes its unit off the scales.
  QTest::mouseClick(g.Button(cmd::kChannelButtonFirst), Qt::LeftButton);
  EXPECT_FALSE(v.Unit(0).used);

  Hold("T", 1000, [](int, int i) { return i * 0.1f; });
  QScrollBar* bar = g.VerticalBar();
  QSpinBox* upDown = g.UpDown();
  ASSERT_NE(upDown, nullptr);
  // Zoomed to half the height: offsets -10..10.
  ASSERT_TRUE(window->view().ZoomRectangle(300, 95, 500, 195));
  g.Refresh();
  EXPECT_EQ(std::tuple(bar->minimum(), bar->maximum(), upDown->minimum(), upDown->maximum()),
            std::tuple(-10, 10, -10, 10));
  const int position = bar->value();
  const double offset = v.VerticalOffset();
  upDown->stepUp();
  EXPECT_EQ(v.VerticalOffset(), offset + 1);
  EXPECT_EQ(bar->value(), position + 1);
  bar->setValue(-4);
  EXPECT_EQ(v.VerticalOffset(), -4.0);
  EXPECT_EQ(upDown->value(), -4);
  // Reset brings the scale back to where nothing scrolls.
  QTest::mouseClick(g.Button(138), Qt::LeftButton);
  EXPECT_EQ(v.VerticalOffset(), 0.0);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_FALSE(upDown->isEnabled());
}

// A retrieval, the screen capture, then the program again with the hex file on its command line.
TEST_F(MainWindowTest, RetrieveSaveCaptureAndReadBack) {
  ASSERT_TRUE(SelectSimulator("VS-330"));
  window->RunCommand(cmd::kRetrieveData);
  RetrievalDialog* dialog = window->Retrieving();
  ASSERT_NE(dialog, nullptr) << Status();
  // While the dialog waits for the user the menu stays usable; its tick polls the logger.
  EXPECT_TRUE(window->Menu("&File")->isEnabled());
  dialog->Poll();
  EXPECT_THAT(dialog->PolledStatus()->text().toStdString(), StartsWith("Logger status: "));
  int blocks = 0;
  dialog->afterBlock = [&] {
    if (++blocks != 1) return;
    // From the first block the menu is greyed; the transfer runs on the shortened main tick.
    EXPECT_FALSE(window->Menu("&File")->isEnabled());
    EXPECT_LT(window->TickTimer().interval(), 1000);
  };
  const fs::path dat = Dir() / "dat" / "retrieved.dat", hex = Dir() / "hex" / "retrieved.hex";
  nextFile = dat.string();
  QTest::mouseClick(dialog->RetrieveButton(), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->Retrieving() == nullptr, 120000);
  EXPECT_GT(blocks, 1);
  EXPECT_EQ(window->TickTimer().interval(), 1000);
  ASSERT_FALSE(window->session().held.data.Empty()) << Status();
  const int samples = window->session().held.data.samplesPerChannel;
  EXPECT_EQ(window->view().Samples(), samples);

  // Screen capture: the picture is the window width less 5 by 440 rows in a 58-byte header.
  nextFile = (Dir() / "shot").string();
  window->RunCommand(cmd::kScreenCapture);
  const fs::path bmp = Dir() / "shot.bmp";
  ASSERT_TRUE(fs::exists(bmp));
  EXPECT_EQ(fs::file_size(bmp), static_cast<uintmax_t>(window->width() - 5) * 1940u + 58u);
  // A second capture to the same name asks before overwriting; No leaves the file alone.
  asked.clear();
  fs::resize_file(bmp, 10);
  window->RunCommand(cmd::kScreenCapture);
  EXPECT_EQ(asked, std::vector<std::string>{"Screen Capture"});
  EXPECT_EQ(fs::file_size(bmp), 10u);

  // The quoted hex path on the command line opens the file and tops the recent files.
  Stop();
  Start();
  Session& s = window->session();
  std::string error;
  const auto options =
      ParseGuiArguments({"klx-gui", QString::fromStdString("\"" + hex.string() + "\"")}, &error);
  ASSERT_TRUE(options) << error;
  ASSERT_TRUE(ApplyCommandLine(*window, *options, true, &error)) << error;
  EXPECT_EQ(window->view().Samples(), samples);
  EXPECT_EQ(RecentEntries(), (std::vector<std::string>{hex.string(), dat.string()}));
  // A name that is no data file opens nothing and says so.
  GuiOptions other;
  other.file = (Dir() / "notes.txt").string();
  EXPECT_FALSE(ApplyCommandLine(*window, other, true, &error));
  EXPECT_EQ(s.held.data.samplesPerChannel, samples);
}

TEST_F(MainWindowTest, UnsavedDataQuestionBeforeReadingAndExit) {
  HeldData& held = Hold(
      "T", 3, [](int, int i) { return i + 1.0f; }, true);
  // Yes: return to save (the save is cancelled here); the read does not go on.
  nextAnswer = Answer::Yes;
  window->RunCommand(cmd::kReadDatFile);
  EXPECT_EQ(asked, std::vector<std::string>{"File Read"});
  for (const FileChoice& c : choices)
    EXPECT_NE(c.title, "Select an existing 'dat' file to be opened");
  EXPECT_EQ(held.data.samplesPerChannel, 3);
  // Exit with Yes keeps the program running.
  asked.clear();
  window->RunCommand(cmd::kExit);
  EXPECT_EQ(asked, std::vector<std::string>{"Program Exit"});
  EXPECT_TRUE(window->isVisible());
}

// The layout, derived units and COM dialogs write the settings file; a comment keeps 99 characters.
TEST_F(MainWindowTest, SettingsDialogs) {
  ASSERT_TRUE(WithDialog<WriteFormatDialog>(cmd::kFormatSaveFile, [](WriteFormatDialog& d) {
    EXPECT_EQ(d.Layout(), 0);
    d.Choices()->button(2)->click();
    d.accept();
  }));
  EXPECT_EQ(Reread().format, 2);

  ASSERT_TRUE(WithDialog<DerivedUnitsDialog>(cmd::kDerivedUnits, [](DerivedUnitsDialog& d) {
    d.Check("UNESCO")->setChecked(true);
    d.Number("atmospheric")->setValue(9.5);
    d.accept();
  }));
  const DerivedUnitSettings d = Reread().derived;
  EXPECT_TRUE(d.speedOfSoundOn && d.soundUnesco && !d.soundWilson);
  EXPECT_DOUBLE_EQ(d.atmosphericPressure, 9.5);

  CommentDialog comment(std::string(120, 'x'), window.get());
  EXPECT_EQ(comment.Comment(), std::string(99, 'x'));
  comment.Field()->setText(QString::fromLatin1("Bay \xB5S station"));
  EXPECT_EQ(comment.Comment(), "Bay \xB5S station");

  // The COM settings keep the radio delay.
  {
    ComSettingsDialog com(window->session(), window.get());
    com.findChild<QCheckBox*>("radio")->setChecked(true);
    com.findChild<QSpinBox*>("radioDelay")->setValue(250);
    com.List()->setCurrentItem(
        com.List()->findItems("Simulated logger: VS-330", Qt::MatchExactly).value(0));
    ASSERT_TRUE(com.Apply());
  }
  EXPECT_THAT(ReadText(Dir() / "klx.ini"), HasSubstr("Radio=250\n"));
}

// The read commands open in the remembered folders; a choice is remembered in the directory file.
TEST_F(MainWindowTest, FileReadsOpenInAndRememberTheDirectories) {
  Session& s = window->session();
  const fs::path hexDir = Dir() / "hexes", datDir = Dir() / "dats", matDir = Dir() / "mats",
                 other = Dir() / "other";
  for (const auto& d : {hexDir, datDir, matDir, other}) fs::create_directories(d);
  s.directories.hex = hexDir.string();
  s.directories.dat = datDir.string();
  s.directories.mat = matDir.string();
  for (auto [command, folder] : {std::pair{cmd::kReadHexFile, hexDir},
                                 {cmd::kReadDatFile, datDir},
                                 {cmd::kReadMatlabFile, matDir}}) {
    window->RunCommand(command);
    ASSERT_FALSE(choices.empty());
    EXPECT_EQ(choices.back().initialDirectory, folder.string());
  }
  // A chosen hex file (even one that fails to read) makes its folder the HEX directory.
  WriteFile(other / "bad.hex", "not a hex file\n");
  nextFile = (other / "bad.hex").string();
  window->RunCommand(cmd::kReadHexFile);
  EXPECT_EQ(s.directories.hex, other.string());
  const std::string written = ReadText(DirectoryFilePath(Dir()));
  EXPECT_THAT(written, HasSubstr("HEX directory=" + other.string() + "\n"));
}

// A recent file leaves the list only when it is gone; MAT files never join it; the NetCDF command
// writes a NetCDF-4 (HDF5) file.
TEST_F(MainWindowTest, RecentFilesMatAndNetcdfFiles) {
  const fs::path bad = Dir() / "bad.hex", gone = Dir() / "gone.dat";
  WriteFile(bad, "not a hex file\n");
  WriteFile(Dir() / "klxpath.fil", bad.string() + "\n" + gone.string() + "\n");
  Stop();
  Start();
  QMenu* popup = window->RecentMenu();
  ASSERT_NE(popup, nullptr);
  const auto& items = window->RecentActions();
  ASSERT_EQ(items.size(), 2u);
  // A file that exists but cannot be read stays in the list; a file that is gone leaves it.
  window->RunCommand(1045);
  EXPECT_EQ(RecentEntries(), (std::vector<std::string>{bad.string(), gone.string()}));
  window->RunCommand(1046);
  EXPECT_EQ(RecentEntries(), std::vector<std::string>{bad.string()});
  ASSERT_EQ(window->RecentActions().size(), 1u);

  // A MAT file is read but does not join the recent files.
  HeldData& held = Hold("T", 3, [](int, int i) { return i + 1.0f; });
  nextFile = (Dir() / "mat" / "data.mat").string();
  window->RunCommand(cmd::kSaveMatlabFile);
  ASSERT_TRUE(fs::exists(nextFile)) << window->host().log.back();
  held.data = DataSet{};
  window->RunCommand(cmd::kReadMatlabFile);
  ASSERT_FALSE(held.data.Empty()) << Status();
  for (const std::string& e : RecentEntries()) EXPECT_THAT(e, ::testing::Not(HasSubstr(".mat")));

  Hold("TP", 3, [](int, int i) { return i + 1.0f; });
  nextFile = (Dir() / "dat" / "data.nc").string();
  window->RunCommand(cmd::kSaveNetcdfFile);
  EXPECT_EQ(ReadText(nextFile).substr(0, 8), std::string("\x89HDF\r\n\x1a\n", 8)) << Status();
}

TEST_F(MainWindowTest, RealTimeDisplayFollowsTheLoggerAfterAnEnableAndEnds) {
  ASSERT_TRUE(SelectSimulator("VS-330-RT"));
  Session& s = window->session();
  ASSERT_TRUE(s.logger.ConnectCommand());
  s.logger.AssessCapabilities();
  s.logger.CommGet(16);
  LoggerSetup setup(s.logger, s.clock, s.batchValues);
  setup.calibrationRead = ReadCalibration(s.logger, s.calibration) == CalibrationRead::Succeeded;
  setup.prepareRealTime = [&s](DeploymentParameters& p) { return s.PrepareRealTime(p); };
  ASSERT_EQ(setup.Open(), 0);
  // One sample a second from two seconds after the logger's clock, sent as it is logged.
  DeploymentParameters& p = s.deployment;
  p.startMode = kStartAtTime;
  p.startTime = AddSeconds(setup.view.loggerClock, 2);
  p.endTime = AddSeconds(p.startTime, 86400);
  p.samplePeriod = {0, 0, 1};
  p.realtimeOutput = true;
  nextFile = (Dir() / "hex" / "live.hex").string();
  nextAnswer = Answer::Yes;
  ASSERT_EQ(setup.PressEnable(), EnableStep::Enabled) << Status();

  FollowSetup(s, window->host(), setup, EnableStep::Enabled, false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.RealTimeActive(); }, 2000));
  EXPECT_EQ(window->TickTimer().interval(), 150);
  EXPECT_EQ(window->Action(cmd::kRetrieveData)->text(), "End Real-time Display");
  EXPECT_FALSE(window->Menu("&File")->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.realTime->sampleCount >= 3; }, 8000));
  // The graph shows the live series; the status line the newest sample.
  EXPECT_EQ(window->view().Data(), &s.realTime->Data());
  EXPECT_EQ(Status(), s.realTime->lastLine);

  window->RunCommand(cmd::kRetrieveData);  // "End Real-time Display"
  EXPECT_FALSE(s.RealTimeActive());
  EXPECT_EQ(window->TickTimer().interval(), 1000);
  EXPECT_TRUE(window->Menu("&File")->isEnabled());
}

}  // namespace
}  // namespace klx::ui
