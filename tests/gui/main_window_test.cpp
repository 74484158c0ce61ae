// The main window offscreen: start-up, the simulated logger through the COM settings,
// retrieval, plotting, saving, re-reading from the recent files, the status line, the zoom
// buttons and the screen capture. Pictures go to the build tree's tests/gui folder.
#include "desktop/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>

#include "calibration/read.h"
#include "deployment/ui/setup_command.h"
#include "derived/ui/derived_units_dialog.h"
#include "desktop/com_settings_dialog.h"
#include "desktop/copy_limit.h"
#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "files/ui/file_dialogs.h"
#include "gui/desktop_helpers.h"
#include "gui/qt_test_app.h"
#include "link/ui/link_dialogs.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "shell/directories.h"
#include "shell/recent_files.h"
#include "shell/status.h"
#include "shell/temp_dir.h"

namespace klx::ui {
namespace {

// The window is as wide as the screen, at most 1000 pixels.
int ExpectedWidth() {
  const QScreen* screen = QApplication::primaryScreen();
  return std::min(screen ? screen->availableGeometry().width() : 1000, 1000);
}

using test::ReadText;

class MainWindowTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    test::QtApp();
    TempDirTest::SetUp();
    Settings settings(Dir());
    ASSERT_TRUE(settings.WriteSettings());
    window = std::make_unique<MainWindow>(Dir(), std::vector<std::string>{});
    QtHost& host = window->host();
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
    window->show();
  }
  void TearDown() override {
    window->host().answer = [](const std::string&, const std::string&) { return Answer::No; };
    window.reset();
    TempDirTest::TearDown();
  }

  // Runs the command; `act` works the dialog of type T it opens. Whether that dialog opened.
  template <typename T>
  bool WithDialog(int command, std::function<void(T&)> act) {
    bool seen = false;
    test::OnNextModal<T>(act, &seen);
    window->RunCommand(command);
    return seen;
  }

  // Shows a VS-330 data set of the given channel letters and values, with their extremes.
  HeldData& Hold(const std::string& letters, int samples,
                 const std::function<float(int, int)>& value, bool unsaved = false) {
    HeldData& held = window->session().held;
    held.data.logger.model = "VS-330";
    held.data.logger.channelTypes = letters;
    held.data.channelCount = static_cast<int>(letters.size());
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

  bool SelectSimulator(const std::string& model) { return test::SelectSimulator(*window, model); }

  std::unique_ptr<MainWindow> window;
  std::vector<std::string> asked;
  std::vector<FileChoice> choices;
  Answer nextAnswer = Answer::No;
  std::string nextFile;
};

TEST_F(MainWindowTest, WindowMenusAndCommandsThatAreNotReady) {
  EXPECT_EQ(window->windowTitle(), "KLX Data Loggers");
  EXPECT_EQ(window->width(), ExpectedWidth());
  EXPECT_EQ(window->height(), 485);
  for (const MenuCommand& c : MenuCommands()) {
    if (!c.text) continue;
    QAction* a = window->Action(c.id);
    ASSERT_NE(a, nullptr) << c.text;
    EXPECT_EQ(a->text().toStdString(), c.text);
  }
  EXPECT_NE(window->Menu("&File"), nullptr);
  EXPECT_NE(window->Menu("&Configuration"), nullptr);
  // The menu bar: the two commands first, then the three menus a download greys.
  std::vector<std::string> bar;
  for (QAction* a : window->menuBar()->actions()) bar.push_back(a->text().toStdString());
  EXPECT_EQ(bar, (std::vector<std::string>{"&Setup", "&Retrieve data", "&File", "&Logger functions",
                                           "&Configuration", "Calibratio&n functions",
                                           "&Micro-Salinometer", "&Help"}));
  // Without data the save commands are greyed.
  EXPECT_FALSE(window->Action(cmd::kSaveFile)->isEnabled());
  EXPECT_FALSE(window->Action(cmd::kScreenCapture)->isEnabled());
  EXPECT_EQ(window->host().StatusText(kStatusMessagePart), "Ready");
  const QString clock = window->host().StatusText(kStatusClockPart);
  EXPECT_EQ(clock.size(), 21) << clock.toStdString();  // "2026/Jun/01 12:00:00 "
  EXPECT_TRUE(clock.endsWith(' '));
  EXPECT_EQ(MainWindow::ClockText(SystemTime{2026, 6, 1, 1, 9, 5, 7, 0}), "2026/Jun/01 09:05:07 ");

  window->RunCommand(cmd::kRunConfigurationScript);
  EXPECT_EQ(window->host().StatusText(kStatusMessagePart).toStdString(),
            "\"Run configuration script\" is not yet available in this version");
  EXPECT_EQ(window->host().Icon(), StatusIcon::Warning);
}

// Copies share the program directory: each holds a locked slot file, the lowest free slot is the
// next copy's index, and a secondary copy needs the copies file and a Yes.
TEST_F(MainWindowTest, CopyLimitSlotsCopiesFileQuestionAndNinthCopy) {
  RecordingHost host;
  std::optional<CopySlot> first = StartCopy(Dir(), host);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Index(), 0);
  EXPECT_TRUE(host.events.empty());

  // No copies file (the window's settings say not allowed): ends silently.
  std::filesystem::remove(Dir() / "klx_copies.ini");
  EXPECT_FALSE(StartCopy(Dir(), host));
  EXPECT_TRUE(host.events.empty());
  {
    std::ofstream copies(Dir() / "klx_copies.ini");
    copies << "Allow multiple copies\n";
  }
  host.answers = {Answer::No};
  EXPECT_FALSE(StartCopy(Dir(), host));
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].caption, "KLX Windows Software - Multiple copy");
  EXPECT_EQ(host.events[0].text,
            "You are trying to open copy number 2 of the KLX Windows Software.\nDo you want to "
            "continue?");

  std::vector<CopySlot> running;
  for (int index = 1; index < kMaxCopies; ++index) {
    host.answers = {Answer::Yes};
    std::optional<CopySlot> slot = StartCopy(Dir(), host);
    ASSERT_TRUE(slot) << index;
    EXPECT_EQ(slot->Index(), index);
    running.push_back(std::move(*slot));
  }
  // The ninth copy is refused with the limit message and asks nothing.
  host.events.clear();
  host.answers = {Answer::Yes};
  EXPECT_FALSE(StartCopy(Dir(), host));
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].kind, "tell");
  EXPECT_EQ(host.events[0].caption, "Multiple copies");
  EXPECT_EQ(host.events[0].text,
            "8 copies of KLX Windows Software are now running.\nThis is the limit allowed.\n\n"
            "This attempt to run another copy will terminate.");
  // A copy that ends frees its slot for the next one.
  running.erase(running.begin() + 2);  // index 3
  host.answers = {Answer::Yes};
  std::optional<CopySlot> again = StartCopy(Dir(), host);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Index(), 3);
}

TEST_F(MainWindowTest, SecondCopyTitleOffsetSettingsAndGreyedToggle) {
  // The first copy switches multiple copies on: check mark and copies file.
  QAction* allow = window->Action(cmd::kAllowMultipleCopies);
  ASSERT_TRUE(allow->isEnabled());
  EXPECT_FALSE(allow->isChecked());
  window->RunCommand(cmd::kAllowMultipleCopies);
  EXPECT_TRUE(allow->isChecked());
  Settings written(Dir());
  written.ReadCopiesFile();
  EXPECT_TRUE(written.allowMultipleCopies);

  MainWindow second(Dir(), {}, 1);
  second.host().answer = [](const std::string&, const std::string&) { return Answer::No; };
  EXPECT_EQ(second.windowTitle(), "Copy 2 : KLX Data Loggers");
  EXPECT_EQ(second.pos() - window->pos(), QPoint(20, 30));
  EXPECT_EQ(second.session().settings.SettingsFilePath(), Dir() / "klx.002.ini");
  EXPECT_TRUE(std::filesystem::exists(Dir() / "klx.002.ini"));
  QAction* secondAllow = second.Action(cmd::kAllowMultipleCopies);
  EXPECT_FALSE(secondAllow->isEnabled());
  EXPECT_TRUE(secondAllow->isChecked());
  second.RunCommand(cmd::kAllowMultipleCopies);  // greyed: changes nothing
  written.ReadCopiesFile();
  EXPECT_TRUE(written.allowMultipleCopies);
  // Its boxes carry the prefix too.
  EXPECT_EQ(second.host().Caption("Error"), "Copy 2 : Error");
}

TEST_F(MainWindowTest, StatusLineCutAndWarningIcon) {
  QtHost& host = window->host();
  const std::string exact(127, 'a');
  ShowStatus(host, exact);
  EXPECT_EQ(host.StatusText(kStatusMessagePart).toStdString(), exact);
  EXPECT_EQ(host.Icon(), StatusIcon::None);
  ShowStatus(host, std::string(128, 'b'));
  EXPECT_EQ(host.StatusText(kStatusMessagePart).toStdString(), std::string(122, 'b') + " ...");
  ShowStatus(host, "Communication Error");
  EXPECT_EQ(host.Icon(), StatusIcon::Warning);
  EXPECT_FALSE(window->findChild<QLabel*>("statusPart0")->pixmap().isNull());
  ShowStatus(host, "Ready");
  EXPECT_EQ(host.Icon(), StatusIcon::None);
  EXPECT_TRUE(window->findChild<QLabel*>("statusPart0")->pixmap().isNull());
  // Latin-1 texts arrive as such: the micro sign is one byte.
  ShowStatus(host, "\xB5Mol/l");
  EXPECT_EQ(host.StatusText(kStatusMessagePart), QString::fromUtf8("\xC2\xB5Mol/l"));
}

TEST_F(MainWindowTest, FlatChannelAutoScaleAndZoomButtons) {
  Hold("TP", 20000, [](int c, int i) { return c == 0 ? 7.5f : i * 0.01f; });
  const GraphView& v = window->view();
  EXPECT_DOUBLE_EQ(v.Unit(0).division, 0.0002);
  EXPECT_NEAR(v.Unit(0).bottom, 7.5, 1e-9);
  EXPECT_TRUE(window->Action(cmd::kScreenCapture)->isEnabled());
  GraphPanel& g = window->graph();
  ASSERT_TRUE(g.Button(cmd::kChannelButtonFirst + 1)->isVisible());
  EXPECT_FALSE(g.Button(cmd::kChannelButtonFirst + 2)->isVisible());
  test::SaveWidgetPicture(*window, "flat_channel.png", false);

  // 1 -> 3 -> 10 -> 30 ... until the whole data set fits.
  window->view().SetHorizontal(0, 1);
  const double whole = 20000.0 / v.Divisions();
  for (double r : {3.0, 10.0, 30.0, 100.0, 300.0, 1000.0, 3000.0}) {
    QTest::mouseClick(g.Button(137), Qt::LeftButton);
    EXPECT_NEAR(v.ReadingsPerDivision(), std::min(r, whole), 1e-9);
    if (r >= whole) break;
  }
  EXPECT_EQ(g.HorizontalBar()->value(), 0);
  // Hiding a channel with its button takes its unit off the scales.
  QTest::mouseClick(g.Button(cmd::kChannelButtonFirst), Qt::LeftButton);
  EXPECT_FALSE(v.Unit(0).used);
  EXPECT_EQ(v.ReferenceUnit(), 1);
}

TEST_F(MainWindowTest, RetrieveSaveCaptureAndReadBackFromRecentFiles) {
  ASSERT_TRUE(SelectSimulator("VS-330"));
  EXPECT_EQ(window->session().ports.DeviceFor(window->session().link.loggerPort), "sim:VS-330");

  window->RunCommand(cmd::kRetrieveData);
  RetrievalDialog* dialog = window->Retrieving();
  ASSERT_NE(dialog, nullptr) << window->host().StatusText(kStatusMessagePart).toStdString();
  EXPECT_EQ(dialog->windowTitle(), "KLX Logger - Data Retrieval");
  // While the dialog waits for the user the menu stays usable, and the tick polls the
  // logger's status and battery voltage.
  EXPECT_TRUE(window->Action(cmd::kRetrieveData)->isEnabled());
  EXPECT_TRUE(window->Menu("&File")->isEnabled());
  EXPECT_TRUE(window->Menu("&Logger functions")->isEnabled());
  ASSERT_TRUE(window->session().logger.state.reportsBatteryVoltage);
  window->session().logger.batteryVoltage.clear();
  const std::string before = dialog->PolledStatus()->text().toStdString();
  dialog->Poll();
  const std::string polled = dialog->PolledStatus()->text().toStdString();
  EXPECT_NE(polled, before);
  EXPECT_EQ(polled.rfind("Logger status: ", 0), 0u) << polled;
  EXPECT_EQ(polled.find("no answer"), std::string::npos) << polled;
  EXPECT_FALSE(window->session().logger.batteryVoltage.empty());
  EXPECT_NE(polled.find("Battery: " + window->session().logger.batteryVoltage), std::string::npos)
      << polled;
  bool pictured = false;
  int blocks = 0;
  dialog->afterBlock = [&] {
    ++blocks;
    // From the first block on, the main menu is greyed.
    if (blocks == 1) {
      EXPECT_FALSE(window->Action(cmd::kSetup)->isEnabled());
      EXPECT_FALSE(window->Action(cmd::kRetrieveData)->isEnabled());
      EXPECT_FALSE(window->Menu("&File")->isEnabled());
      EXPECT_FALSE(window->Menu("&Configuration")->isEnabled());
    }
    if (!pictured && dialog->Progress()->value() >= 30) {
      pictured = true;
      test::SaveWidgetPicture(*dialog, "retrieval_dialog.png", false);
      // The transfer runs on the main tick, shortened while it lasts.
      EXPECT_TRUE(dialog->Transferring());
      EXPECT_LT(window->TickTimer().interval(), 1000);
    }
  };
  nextFile = (Dir() / "dat" / "retrieved.dat").string();
  QTest::mouseClick(dialog->RetrieveButton(), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->Retrieving() == nullptr, 120000);
  EXPECT_GT(blocks, 1);
  EXPECT_EQ(window->TickTimer().interval(), 1000);
  EXPECT_TRUE(window->Menu("&File")->isEnabled());
  EXPECT_TRUE(window->Action(cmd::kRetrieveData)->isEnabled());

  Session& s = window->session();
  ASSERT_FALSE(s.held.data.Empty()) << window->host().StatusText(kStatusMessagePart).toStdString();
  EXPECT_FALSE(s.held.image.unsaved);
  EXPECT_TRUE(std::filesystem::exists(nextFile));
  const std::filesystem::path hex = Dir() / "hex" / "retrieved.hex";
  EXPECT_TRUE(std::filesystem::exists(hex));
  EXPECT_EQ(window->view().Samples(), s.held.data.samplesPerChannel);
  EXPECT_TRUE(window->Action(cmd::kSaveFile)->isEnabled());
  test::SaveWidgetPicture(*window, "main_window_data.png", false);

  // Screen capture: the picture is the window width less 5 by 440 rows in a 58-byte header.
  nextFile = (Dir() / "shot").string();
  window->RunCommand(cmd::kScreenCapture);
  const std::filesystem::path bmp = Dir() / "shot.bmp";
  ASSERT_TRUE(std::filesystem::exists(bmp));
  EXPECT_EQ(std::filesystem::file_size(bmp),
            static_cast<uintmax_t>(window->width() - 5) * 1940u + 58u);
  std::ifstream in(bmp, std::ios::binary);
  char magic[2] = {};
  in.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM");
  EXPECT_EQ(choices.back().title, "Select a 'bmp' file for storing the screen image");
  // A second capture to the same name asks before overwriting; No leaves the file alone.
  asked.clear();
  std::filesystem::resize_file(bmp, 10);
  window->RunCommand(cmd::kScreenCapture);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "Screen Capture");
  EXPECT_EQ(std::filesystem::file_size(bmp), 10u);

  // Read the hex file (it joins the recent files), then again through the recent-files menu.
  const int samples = s.held.data.samplesPerChannel;
  nextFile = hex.string();
  window->RunCommand(cmd::kReadHexFile);
  EXPECT_EQ(choices.back().title, "Select an existing 'hex' file to be opened");
  EXPECT_EQ(s.held.data.samplesPerChannel, samples);
  s.held.data = DataSet{};
  QAction* recent = nullptr;
  for (QAction* a : window->RecentActions())
    if (a->text().contains("retrieved.hex")) recent = a;
  ASSERT_NE(recent, nullptr);
  recent->trigger();
  EXPECT_EQ(s.held.data.samplesPerChannel, samples);
  EXPECT_TRUE(s.held.fromFile);
  EXPECT_EQ(window->view().Samples(), samples);
  EXPECT_TRUE(window->RecentActions().front()->text().contains("retrieved.hex"));
}

TEST_F(MainWindowTest, UnsavedDataQuestionBeforeReadingAndExit) {
  HeldData& held = Hold(
      "T", 3, [](int, int i) { return i + 1.0f; }, true);
  // Yes: return to save (the save is cancelled here); the read does not go on.
  nextAnswer = Answer::Yes;
  window->RunCommand(cmd::kReadDatFile);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "File Read");
  for (const FileChoice& c : choices)
    EXPECT_NE(c.title, "Select an existing 'dat' file to be opened");
  EXPECT_EQ(held.data.samplesPerChannel, 3);
  // Exit with Yes keeps the program running.
  asked.clear();
  window->RunCommand(cmd::kExit);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "Program Exit");
  EXPECT_TRUE(window->isVisible());
  // A file that cannot be read leaves the held data alone.
  nextAnswer = Answer::No;
  const std::filesystem::path bad = Dir() / "bad.hex";
  std::ofstream(bad) << "not a hex file\n";
  nextFile = bad.string();
  window->RunCommand(cmd::kReadHexFile);
  EXPECT_EQ(held.data.samplesPerChannel, 3);
  EXPECT_EQ(window->view().Samples(), 3);
}

TEST_F(MainWindowTest, LayoutAndMatlabFormatDialogsWriteTheSettings) {
  ASSERT_TRUE(WithDialog<WriteFormatDialog>(cmd::kFormatSaveFile, [](WriteFormatDialog& d) {
    EXPECT_EQ(d.windowTitle(), "KLX Logger - Write File Formats");
    EXPECT_EQ(d.Layout(), 0);
    EXPECT_EQ(d.Choices()->button(2)->text(),
              "Date, time and reading per line - 2000/06/21 12:30:00 23.1564");
    test::SaveWidgetPicture(d, "write_format_dialog.png", false);
    d.Choices()->button(2)->click();
    d.accept();
  }));
  EXPECT_EQ(window->session().settings.format, 2);
  Settings reread(Dir());
  reread.ReadSettings();
  EXPECT_EQ(reread.format, 2);
  // Cancel keeps the layout.
  ASSERT_TRUE(WithDialog<WriteFormatDialog>(cmd::kFormatSaveFile, [](WriteFormatDialog& d) {
    EXPECT_EQ(d.Layout(), 2);
    d.Choices()->button(1)->click();
    d.reject();
  }));
  EXPECT_EQ(window->session().settings.format, 2);

  ASSERT_TRUE(WithDialog<MatlabFormatDialog>(cmd::kMatlabFormat, [](MatlabFormatDialog& d) {
    EXPECT_EQ(d.windowTitle(), "MATLAB date/time output format");
    test::SaveWidgetPicture(d, "matlab_format_dialog.png", false);
    d.Frequencies()->button(1)->click();
    d.Formats()->button(1)->click();
    d.accept();
  }));
  reread.ReadSettings();
  EXPECT_EQ(reread.matlabFrequency, 1);
  EXPECT_EQ(reread.matlabFormat, 1);
  EXPECT_NE(ReadText(Dir() / "klx.ini").find("MATLAB frequency: 1 format: 1"), std::string::npos);
}

TEST_F(MainWindowTest, CommentDialogKeepsNinetyNineCharactersOnOneLine) {
  CommentDialog dialog(std::string(120, 'x'), window.get());
  EXPECT_EQ(dialog.Comment(), std::string(99, 'x'));
  dialog.Field()->setText(QString::fromLatin1("Bay \xB5S station"));
  EXPECT_EQ(dialog.Comment(), "Bay \xB5S station");
  test::SaveWidgetPicture(dialog, "comment_dialog.png", false);
}

TEST_F(MainWindowTest, DerivedUnitsDialogWritesSettingsAndShowsTheEquation) {
  ASSERT_TRUE(WithDialog<DerivedUnitsDialog>(cmd::kDerivedUnits, [](DerivedUnitsDialog& d) {
    EXPECT_EQ(d.windowTitle(), "KLX Logger - Derived Units Setup");
    test::SaveWidgetPicture(d, "derived_units_dialog.png", false);
    d.Check("Salinity")->setChecked(true);
    d.Check("UNESCO")->setChecked(true);
    d.Check("mg/l")->setChecked(true);
    d.Number("atmospheric")->setValue(9.5);
    d.accept();
  }));
  const DerivedUnitSettings& d = window->session().settings.derived;
  EXPECT_TRUE(d.salinityOn);
  EXPECT_TRUE(d.speedOfSoundOn && d.soundUnesco && !d.soundWilson);
  EXPECT_TRUE(d.dissolvedOxygenOn && d.doUnitMgPerL && !d.doUnitUMol);
  EXPECT_TRUE(d.someDerivedUnitWanted);
  Settings reread(Dir());
  reread.ReadSettings();
  EXPECT_EQ(reread.derived.salinityOn, true);
  EXPECT_DOUBLE_EQ(reread.derived.atmosphericPressure, 9.5);
  EXPECT_TRUE(reread.derived.soundUnesco);

  EquationDialog equation({0.0191, 1.0, 25.0, -3e-5}, window.get());
  EXPECT_EQ(equation.windowTitle(), "Conductivity Correction Equation");
  EXPECT_EQ(equation.findChild<QLabel*>("b")->text(), "1.0000000");
  EXPECT_EQ(equation.findChild<QLabel*>("c")->text(), "-0.0000300");
  test::SaveWidgetPicture(equation, "equation_dialog.png", false);
}

// A logger with the extended command set keeps its latency and default rate in tables.
TEST_F(MainWindowTest, LatencyAndDefaultBaudRateOnTheSimulatedLogger) {
  ASSERT_TRUE(SelectSimulator("NMJ-7400"));
  int shown = -1;
  ASSERT_TRUE(WithDialog<LatencyDialog>(cmd::kLatency, [&shown](LatencyDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Set latency");
    shown = d.Field()->value();
    test::SaveWidgetPicture(d, "latency_dialog.png", false);
    d.Field()->setValue(shown + 120);
    EXPECT_TRUE(d.Apply());
    d.accept();
  })) << window->host().StatusText(kStatusMessagePart).toStdString();
  EXPECT_GT(shown, 0);
  EXPECT_EQ(window->session().logger.CurrentLatency(), shown + 120);

  int chosen = 0;
  ASSERT_TRUE(WithDialog<DefaultBaudRateDialog>(
      cmd::kSetDefaultBaudRate,
      [&chosen](DefaultBaudRateDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Set Default Baud Rate");
        test::SaveWidgetPicture(d, "default_baud_dialog.png", false);
        ASSERT_GT(d.List()->count(), 1);
        d.List()->setCurrentRow(d.List()->count() - 1);
        chosen = d.ChosenRate();
        d.reject();
      }))
      << window->host().StatusText(kStatusMessagePart).toStdString();
  EXPECT_EQ(chosen, 19200);
}

TEST_F(MainWindowTest, ComSettingsKeepTheRadioDelayAndGpsChoice) {
  ComSettingsDialog dialog(window->session(), window.get());
  auto* radio = dialog.findChild<QCheckBox*>("radio");
  auto* delay = dialog.findChild<QSpinBox*>("radioDelay");
  auto* gps = dialog.findChild<QComboBox*>("gpsPort");
  auto* baud = dialog.findChild<QComboBox*>("gpsBaud");
  ASSERT_TRUE(radio && delay && gps && baud);
  EXPECT_EQ(gps->itemText(0), "Not used");
  EXPECT_FALSE(baud->isEnabled());  // no GPS port chosen
  radio->setChecked(true);
  delay->setValue(250);
  QListWidget* list = dialog.List();
  for (int row = 0; row < list->count(); ++row)
    if (list->item(row)->text() == "Simulated logger: VS-330") list->setCurrentRow(row);
  ASSERT_TRUE(dialog.Apply());
  EXPECT_TRUE(window->session().link.radioDelay.enabled);
  EXPECT_EQ(window->session().link.radioDelay.ms, 250);
  const std::string text = ReadText(Dir() / "klx.ini");
  EXPECT_NE(text.find("Radio=250\n"), std::string::npos) << text;
  EXPECT_NE(text.find("GPSComm=NOT USED\n"), std::string::npos) << text;
}

TEST_F(MainWindowTest, LanguageResourcesWritesTheSetting) {
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(w);
      if (!dialog || dialog->objectName() != "LanguageSupport") continue;
      auto* box = dialog->findChild<QCheckBox*>();
      if (box) box->setChecked(true);
      dialog->accept();
    }
  });
  window->RunCommand(cmd::kLanguageResources);
  EXPECT_TRUE(window->session().settings.languageSupport);
  const std::string text = ReadText(Dir() / "klx.ini");
  EXPECT_NE(text.find("Language Support: Chinese\n"), std::string::npos) << text;
}

// The read commands open in the remembered folders; a choice is remembered in the directory
// file; a dat read refuses a name without ".dat".
TEST_F(MainWindowTest, FileReadsOpenInAndRememberTheDirectories) {
  Session& s = window->session();
  const std::filesystem::path hexDir = Dir() / "hexes", datDir = Dir() / "dats",
                              matDir = Dir() / "mats";
  for (const auto& d : {hexDir, datDir, matDir}) std::filesystem::create_directories(d);
  s.directories.hex = hexDir.string();
  s.directories.dat = datDir.string();
  s.directories.mat = matDir.string();
  nextFile.clear();
  window->RunCommand(cmd::kReadHexFile);
  ASSERT_FALSE(choices.empty());
  EXPECT_EQ(choices.back().initialDirectory, hexDir.string());
  window->RunCommand(cmd::kReadDatFile);
  EXPECT_EQ(choices.back().initialDirectory, datDir.string());
  window->RunCommand(cmd::kReadMatlabFile);
  EXPECT_EQ(choices.back().initialDirectory, matDir.string());

  // A dat read of a file not named ".dat" is refused before anything is read or remembered.
  const std::filesystem::path other = Dir() / "other";
  std::filesystem::create_directories(other);
  std::ofstream(other / "notes.txt") << "KLX\n";
  window->host().log.clear();
  nextFile = (other / "notes.txt").string();
  window->RunCommand(cmd::kReadDatFile);
  const std::vector<std::string>& log = window->host().log;
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "tell: Reading a DAT file: This file is not an KLX DAT file"),
            log.end());
  EXPECT_EQ(s.directories.dat, datDir.string());
  EXPECT_EQ(window->host().StatusText(kStatusMessagePart).toStdString().find("Data from file"),
            std::string::npos);

  // A chosen hex file (even one that then fails to read) makes its folder the HEX directory,
  // and the directory file is rewritten with it.
  std::ofstream(other / "bad.hex") << "not a hex file\n";
  nextFile = (other / "bad.hex").string();
  window->RunCommand(cmd::kReadHexFile);
  EXPECT_EQ(s.directories.hex, other.string());
  const std::string written = ReadText(DirectoryFilePath(Dir()));
  EXPECT_NE(written.find("HEX directory=" + other.string() + "\n"), std::string::npos) << written;
  EXPECT_NE(written.find("DAT directory=" + datDir.string() + "\n"), std::string::npos) << written;
  // The next hex dialog opens there.
  nextFile.clear();
  window->RunCommand(cmd::kReadHexFile);
  EXPECT_EQ(choices.back().initialDirectory, other.string());
}

// The recent files sit in the popup "&Read a recent file" before "Read a &DAT file"; an entry
// leaves only when its file is gone; MAT files never join the list.
TEST_F(MainWindowTest, RecentFilesPopupRemovalAndMatFilesStayOut) {
  const std::filesystem::path bad = Dir() / "bad.hex";
  std::ofstream(bad) << "not a hex file\n";
  const std::filesystem::path gone = Dir() / "gone.dat";
  std::ofstream(Dir() / "klxpath.fil") << bad.string() << "\n" << gone.string() << "\n";
  MainWindow w(Dir(), {});
  w.host().answer = [](const std::string&, const std::string&) { return Answer::No; };
  QMenu* popup = w.RecentMenu();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->title(), "&Read a recent file");
  const QList<QAction*> fileItems = w.Menu("&File")->actions();
  const qsizetype at = fileItems.indexOf(popup->menuAction());
  ASSERT_GE(at, 0);
  ASSERT_LT(at + 1, fileItems.size());
  EXPECT_EQ(fileItems[at + 1], w.Action(cmd::kReadDatFile));
  ASSERT_EQ(w.RecentActions().size(), 2u);
  EXPECT_EQ(w.RecentActions()[0]->text().toStdString(), " 1 - " + bad.string());
  EXPECT_EQ(w.RecentActions()[1]->text().toStdString(), " 2 - " + gone.string());
  EXPECT_EQ(w.RecentActions()[0]->data().toInt(), 1045);
  EXPECT_EQ(w.RecentActions()[1]->data().toInt(), 1046);
  EXPECT_EQ(w.RecentActions()[0]->parent(), popup);

  // A file that exists but cannot be read stays in the list.
  w.RunCommand(1045);
  RecentFiles list(Dir());
  ASSERT_TRUE(list.Load());
  EXPECT_EQ(list.Entries(), (std::vector<std::string>{bad.string(), gone.string()}));
  // A file that is gone leaves it.
  w.RunCommand(1046);
  ASSERT_TRUE(list.Load());
  EXPECT_EQ(list.Entries(), std::vector<std::string>{bad.string()});
  ASSERT_EQ(w.RecentActions().size(), 1u);

  // A MAT file is read but does not join the recent files.
  HeldData& held = Hold("T", 3, [](int, int i) { return i + 1.0f; });
  nextFile = (Dir() / "mat" / "data.mat").string();
  window->RunCommand(cmd::kSaveMatlabFile);
  ASSERT_TRUE(std::filesystem::exists(nextFile)) << window->host().log.back();
  held.data = DataSet{};
  window->RunCommand(cmd::kReadMatlabFile);
  ASSERT_FALSE(held.data.Empty()) << window->host().StatusText(kStatusMessagePart).toStdString();
  ASSERT_TRUE(list.Load());
  for (const std::string& e : list.Entries()) EXPECT_EQ(e.find(".mat"), std::string::npos) << e;
}

// "Save a NetCDF file" stands right after the MATLAB item and writes a NetCDF-4 (HDF5) file.
TEST_F(MainWindowTest, SaveNetcdfFileBesideTheMatlabItem) {
  const QList<QAction*> items = window->Menu("&File")->actions();
  const qsizetype mat = items.indexOf(window->Action(cmd::kSaveMatlabFile));
  ASSERT_GE(mat, 0);
  ASSERT_LT(mat + 1, items.size());
  EXPECT_EQ(items[mat + 1], window->Action(cmd::kSaveNetcdfFile));
  EXPECT_EQ(items[mat + 1]->text().toStdString(), "Save a N&etCDF file");
  HeldData& held = window->session().held;
  held.data.logger.channelTypes = "TP";
  held.data.logger.channelCount = held.data.channelCount = 2;
  held.data.samplesPerChannel = 3;
  held.data.series.assign(2, {1, 2, 3, 1, 3});
  window->ShowHeldData();
  EXPECT_TRUE(window->Action(cmd::kSaveNetcdfFile)->isEnabled());
  nextFile = (Dir() / "dat" / "data.nc").string();
  window->RunCommand(cmd::kSaveNetcdfFile);
  std::ifstream in(nextFile, std::ios::binary);
  char signature[8] = {};
  in.read(signature, 8);
  EXPECT_EQ(std::string(signature, 8), std::string("\x89HDF\r\n\x1a\n", 8))
      << window->host().StatusText(kStatusMessagePart).toStdString();
}

// The vertical scroll bar cannot move an unzoomed scale; after a zoom it and the up-down
// control at (120, 270) step the vertical offset together.
TEST_F(MainWindowTest, VerticalScrollBarAndUpDownControl) {
  Hold("T", 1000, [](int, int i) { return i * 0.1f; });
  GraphPanel& g = window->graph();
  QScrollBar* bar = g.VerticalBar();
  QSpinBox* upDown = g.UpDown();
  ASSERT_NE(upDown, nullptr);
  EXPECT_EQ(upDown->geometry(), QRect(120, 270, 20, 20));
  EXPECT_TRUE(upDown->isVisible());
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(bar->pageStep(), 21);
  bar->setValue(5);
  EXPECT_EQ(window->view().VerticalOffset(), 0.0);

  // Zoomed to half the height: offsets -10..10.
  ASSERT_TRUE(window->view().ZoomRectangle(300, 95, 500, 195));
  g.Refresh();
  EXPECT_EQ(bar->minimum(), -10);
  EXPECT_EQ(bar->maximum(), 10);
  EXPECT_EQ(upDown->minimum(), -10);
  EXPECT_EQ(upDown->maximum(), 10);
  const int position = bar->value();
  const double offset = window->view().VerticalOffset();
  upDown->stepUp();
  EXPECT_EQ(window->view().VerticalOffset(), offset + 1);
  EXPECT_EQ(bar->value(), position + 1);
  bar->setValue(-4);
  EXPECT_EQ(window->view().VerticalOffset(), -4.0);
  EXPECT_EQ(upDown->value(), -4);
  // Reset brings the scale back to where nothing scrolls.
  QTest::mouseClick(g.Button(138), Qt::LeftButton);
  EXPECT_EQ(window->view().VerticalOffset(), 0.0);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_FALSE(upDown->isEnabled());
}

// The status bar: part 2 carries one of two units icons (no text), part 3 is 77 wide, and a
// command that connects brings the units part up to date.
TEST_F(MainWindowTest, StatusBarUnitsIconAndPartWidths) {
  QtHost& host = window->host();
  auto* units = window->findChild<QLabel*>("statusPart2");
  auto* connection = window->findChild<QLabel*>("statusPart3");
  auto* clock = window->findChild<QLabel*>("statusPart4");
  ASSERT_TRUE(units && connection && clock);
  EXPECT_EQ(units->width(), 38);
  EXPECT_EQ(connection->width(), 77);
  EXPECT_EQ(clock->width(), 139);
  host.SetUnitsIcon(true);
  EXPECT_EQ(host.UnitsIcon(), "UNITSENG");
  EXPECT_TRUE(units->text().isEmpty());
  ASSERT_FALSE(units->pixmap().isNull());
  const QImage engineering = units->pixmap().toImage();
  host.SetUnitsIcon(false);
  EXPECT_EQ(host.UnitsIcon(), "UNITSBINARY");
  EXPECT_TRUE(units->text().isEmpty());
  ASSERT_FALSE(units->pixmap().isNull());
  EXPECT_NE(units->pixmap().toImage(), engineering);

  // The latency command connects: afterwards the part shows the logger's output form.
  ASSERT_TRUE(SelectSimulator("NMJ-7400"));
  ASSERT_TRUE(WithDialog<LatencyDialog>(cmd::kLatency, [](LatencyDialog& d) { d.reject(); }))
      << host.StatusText(kStatusMessagePart).toStdString();
  const bool eng = window->session().logger.state.OutputsEngineeringUnits();
  EXPECT_EQ(host.UnitsIcon(), eng ? "UNITSENG" : "UNITSBINARY");
  host.SetUnitsIcon(!eng);
  ASSERT_TRUE(WithDialog<LatencyDialog>(cmd::kLatency, [](LatencyDialog& d) { d.reject(); }));
  EXPECT_EQ(host.UnitsIcon(), eng ? "UNITSENG" : "UNITSBINARY");
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
  ASSERT_EQ(setup.PressEnable(), EnableStep::Enabled)
      << window->host().StatusText(kStatusMessagePart).toStdString();
  ASSERT_FALSE(choices.empty());
  EXPECT_EQ(choices.back().suggestedName, "040212Realtime.hex");

  FollowSetup(s, window->host(), setup, EnableStep::Enabled, false);
  for (int i = 0; i < 100 && !s.RealTimeActive(); ++i) QTest::qWait(20);
  ASSERT_TRUE(s.RealTimeActive());
  EXPECT_EQ(window->TickTimer().interval(), 150);
  EXPECT_EQ(window->Action(cmd::kRetrieveData)->text(), "End Real-time Display");
  EXPECT_FALSE(window->Action(cmd::kSetup)->isEnabled());
  EXPECT_FALSE(window->Menu("&File")->isEnabled());
  for (int i = 0; i < 400 && s.realTime->sampleCount < 3; ++i) QTest::qWait(20);
  ASSERT_GE(s.realTime->sampleCount, 3);
  // The graph shows the live series; the status line the newest sample.
  EXPECT_EQ(window->view().Data(), &s.realTime->Data());
  EXPECT_EQ(window->view().Samples(), s.realTime->Data().samplesPerChannel);
  EXPECT_EQ(window->host().StatusText(kStatusMessagePart).toStdString(), s.realTime->lastLine);
  test::SaveWidgetPicture(*window, "realtime.png", false);

  window->RunCommand(cmd::kRetrieveData);  // "End Real-time Display"
  EXPECT_FALSE(s.RealTimeActive());
  EXPECT_EQ(window->TickTimer().interval(), 1000);
  EXPECT_EQ(window->Action(cmd::kRetrieveData)->text(), "&Retrieve data");
  EXPECT_TRUE(window->Menu("&File")->isEnabled());
  // The 30 bytes standing for the parameter block, a stamp and three bytes a channel a sample.
  const std::string file = ReadText(Dir() / "hex" / "live.hex");
  const size_t count = file.find("Number of bytes of data ");
  ASSERT_NE(count, std::string::npos);
  EXPECT_GE(std::stoi(file.substr(count + 24, 7)), 30 + 12 + 9 * 3) << file;
}

}  // namespace
}  // namespace klx::ui
