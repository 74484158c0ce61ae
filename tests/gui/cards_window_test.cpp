// The accessory-card windows offscreen: their buttons drive the card through the window's own
// timer, and the list and button states follow.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "cards/card_fixture.h"
#include "cards/ui/card_windows.h"
#include "gui/qt_test_app.h"

namespace klx::test {
namespace {

// A host whose file choices answer with a set file.
struct FileHost : RecordingHost {
  std::optional<std::string> ChooseFile(const FileChoice& choice) override {
    titles.push_back(choice.title);
    return file;
  }
  std::optional<std::string> file;
  std::vector<std::string> titles;
};

std::vector<std::string> Items(QListWidget* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  return items;
}

struct CardWindowTest : CardTest {
  void SetUp() override {
    QtApp();
    CardTest::SetUp();
  }
  // Lets the window's timer run (fast: the card's time is virtual) until it stops.
  static bool RunTimer(QTimer& timer) {
    timer.setInterval(1);
    return QTest::qWaitFor([&] { return !timer.isActive(); }, 20000);
  }
  FileHost files;
};

TEST_F(CardWindowTest, MetaTableWindowSendsAFileAndReadsTheTableBack) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("klx_cards_gui_" + std::to_string(::getpid()) + ".txt");
  std::ofstream(path, std::ios::binary) << "RATE=\x93" "1Hz\x94\r\nPORT=2\r\n";
  files.file = path.string();
  ui::MetaTableWindow w(logger, clock, files, "/tmp/meta");
  EXPECT_EQ(w.ChannelList()->currentText().toStdString(), "2");
  EXPECT_EQ(w.FetchList()->count(), 3);  // All, 1, 2
  EXPECT_FALSE(w.Button("Save table to file")->isEnabled());

  QTest::mouseClick(w.Button("Set table for sensor"), Qt::LeftButton);
  EXPECT_EQ(files.titles.back(), "Select a meta table file to be loaded");
  EXPECT_TRUE(w.Timer().isActive());
  EXPECT_TRUE(w.Button("Abort table communication")->isEnabled());
  ASSERT_TRUE(RunTimer(w.Timer()));
  EXPECT_EQ(card.stored, "RATE=\"1Hz\"\r\nPORT=2\r\n");
  EXPECT_EQ(Items(w.List()).back(), "Success - meta table written correctly");
  EXPECT_FALSE(w.Button("Abort table communication")->isEnabled());

  QTest::mouseClick(w.Button("Get table from sensor"), Qt::LeftButton);
  ASSERT_TRUE(RunTimer(w.Timer()));
  const auto items = Items(w.List());
  EXPECT_EQ(items[items.size() - 2], "RATE=\"1Hz\"");
  EXPECT_EQ(items.back(), "PORT=2");
  EXPECT_TRUE(w.Button("Save table to file")->isEnabled());
  SaveWidgetPicture(w, "cards_meta_table.png", true);

  QTest::mouseClick(w.Button("Clear Box"), Qt::LeftButton);
  EXPECT_EQ(w.List()->count(), 0);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace klx::test
