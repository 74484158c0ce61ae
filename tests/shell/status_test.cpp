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

  const std::pair<const char*, bool> cases[] = {
      {"Communication error", true}, {"Error", true}, {"Fail", true}, {"Transfer failed", true}, {"Unable to open file", true},
      {"Logger not yet configured", true}, {"Ready", false}, {"unable to", false},
      {"Not yet", false}, {"ERROR", false}};
  for (const auto& [text, warning] : cases) {
    RecordingHost host;
    host.icon = StatusIcon::Warning;
    ShowStatus(host, text);
    EXPECT_EQ(host.icon, warning ? StatusIcon::Warning : StatusIcon::None) << text;
  }
}

}  // namespace
}  // namespace klx
