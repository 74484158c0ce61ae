#include "platform/host.h"

#include <algorithm>

namespace klx {

int Host::Choose(const std::string& caption, const std::string& text,
                 const std::vector<std::string>& labels, BoxIcon icon) {
  if (labels.size() <= 1) {
    const Answer a = Ask(caption, text, Buttons::OkCancel, icon, Answer::Cancel);
    return a == Answer::Ok || a == Answer::Yes ? 0 : -1;
  }
  const Answer a = Ask(caption, text, Buttons::YesNoCancel, icon, Answer::Cancel);
  if (a == Answer::Yes || a == Answer::Ok) return 0;
  if (a == Answer::No) return 1;
  return -1;
}

void RecordingHost::SetStatusText(int part, const std::string& text) {
  if (part >= 0 && part < 5) status[part] = text;
  events.push_back({"status", part, "", text});
}

void RecordingHost::SetStatusIcon(StatusIcon i) {
  icon = i;
  events.push_back({"icon", static_cast<int>(i), "", ""});
}

void RecordingHost::Tell(const std::string& caption, const std::string& text, BoxIcon i) {
  events.push_back({"tell", static_cast<int>(i), caption, text});
}

Answer RecordingHost::Ask(const std::string& caption, const std::string& text, Buttons, BoxIcon i,
                          Answer defaultAnswer) {
  events.push_back({"ask", static_cast<int>(i), caption, text});
  if (answers.empty()) return defaultAnswer;
  const Answer a = answers.front();
  answers.erase(answers.begin());
  return a;
}

void RecordingHost::SetCommandEnabled(int commandId, bool enabled) {
  events.push_back({"enable", commandId, "", enabled ? "1" : "0"});
}

void RecordingHost::SetCommandPresent(int commandId, bool present) {
  events.push_back({"present", commandId, "", present ? "1" : "0"});
}

void RecordingHost::PostCommand(int commandId) {
  events.push_back({"post", commandId, "", ""});
}

void RecordingHost::SetProgress(int value, int maximum) {
  events.push_back({"progress", value, "", std::to_string(maximum)});
}

std::vector<std::string> RecordingHost::StatusMessages() const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.kind == "status" && e.number == kStatusMessagePart) out.push_back(e.text);
  return out;
}

bool RecordingHost::Saw(const std::string& kind, const std::string& textPart) const {
  return std::any_of(events.begin(), events.end(), [&](const Event& e) {
    return e.kind == kind && (e.text.find(textPart) != std::string::npos ||
                              e.caption.find(textPart) != std::string::npos);
  });
}

}  // namespace klx
