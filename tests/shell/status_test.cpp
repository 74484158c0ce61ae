// The status-line rules every subsystem relies on (the code is shell/status.*).
#include "shell/status.h"

#include <gtest/gtest.h>

namespace klx {
namespace {

TEST(StatusLine, LongTextIsCutAndWarningWordsGiveTheWarningIcon) {
  std::string text;
  for (int i = 0; i < 128; ++i) text.push_back(static_cast<char>('a' + i % 26));
  RecordingHost whole, cut;
  ShowStatus(whole, text.substr(0, 127));
  EXPECT_EQ(whole.status[kStatusMessagePart], text.substr(0, 127));
  ShowStatus(cut, text);
  EXPECT_EQ(cut.status[kStatusMessagePart], text.substr(0, 122) + " ...");
  EXPECT_EQ(cut.StatusMessages().size(), 1u);

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
