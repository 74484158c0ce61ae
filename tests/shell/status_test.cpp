// The status-line rules every subsystem relies on (the code is shell/status.*).
#include "shell/status.h"

#include <gtest/gtest.h>

namespace klx {
namespace {

TEST(StatusLine, TextOf127CharactersIsShownWhole) {
  RecordingHost host;
  const std::string text(127, 'a');
  ShowStatus(host, text);
  EXPECT_EQ(host.status[kStatusMessagePart], text);
  EXPECT_EQ(host.icon, StatusIcon::None);
}

TEST(StatusLine, TextOf128CharactersIsCutTo122AndAnEllipsis) {
  RecordingHost host;
  std::string text;
  for (int i = 0; i < 128; ++i) text.push_back(static_cast<char>('a' + i % 26));
  ShowStatus(host, text);
  const std::string& shown = host.status[kStatusMessagePart];
  EXPECT_EQ(shown.size(), 126u);
  EXPECT_EQ(shown, text.substr(0, 122) + " ...");
  ASSERT_EQ(host.StatusMessages().size(), 1u);
}

TEST(StatusLine, WarningWordsGiveTheWarningIcon) {
  for (const char* text : {"Communication error", "Error", "Transfer failed", "Fail",
                           "Unable to open file", "Logger not yet configured"}) {
    RecordingHost host;
    ShowStatus(host, text);
    EXPECT_EQ(host.icon, StatusIcon::Warning) << text;
  }
  for (const char* text : {"Ready", "unable to", "Not yet", "ERROR", "Logger connected"}) {
    RecordingHost host;
    host.icon = StatusIcon::Warning;
    ShowStatus(host, text);
    EXPECT_EQ(host.icon, StatusIcon::None) << text;
  }
}

}  // namespace
}  // namespace klx
