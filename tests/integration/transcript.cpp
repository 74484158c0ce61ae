#include "transcript.h"

#include <cstdio>
#include <sstream>

namespace klx::test {

std::string EscapeBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n"
         : c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return out;
}

bool UnescapeBytes(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    const char c = text[i];
    unsigned v = 0;
    if (c == '\\' || c == 'r' || c == 'n') {
      out += c == '\\' ? '\\' : c == 'r' ? '\r' : '\n';
    } else if (c == 'x' && i + 2 < text.size() &&
               std::sscanf(text.substr(i + 1, 2).c_str(), "%2X", &v) == 1) {
      out += static_cast<char>(v);
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string Transcript::Serialize() const {
  std::ostringstream out;
  out << "# KLX session transcript: '>' host to logger (with the host's baud), '<' logger to "
         "host\n";
  for (const auto& [key, value] : header) out << key << ": " << value << "\n";
  for (const auto& step : steps)
    out << (step.fromHost ? "> " + std::to_string(step.baud) + " " : std::string("< "))
        << EscapeBytes(step.bytes) << "\n";
  return out.str();
}

bool Transcript::Parse(const std::string& text, Transcript& out, std::string* error) {
  out = Transcript{};
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    Step step;
    std::string bytes = line.substr(std::min<size_t>(2, line.size()));
    bool ok = true;
    if (line.rfind("> ", 0) == 0) {
      const size_t space = line.find(' ', 2);
      ok = space != std::string::npos;
      if (ok) step.baud = std::atoi(line.substr(2, space - 2).c_str());
      if (ok) bytes = line.substr(space + 1);
    } else if (line.rfind("< ", 0) == 0) {
      step.fromHost = false;
    } else if (const size_t colon = line.find(": "); colon != std::string::npos) {
      out.header[line.substr(0, colon)] = line.substr(colon + 2);
      continue;
    } else {
      ok = false;
    }
    if (!ok || !UnescapeBytes(bytes, step.bytes)) {
      if (error) *error = "line " + std::to_string(number) + " cannot be read";
      return false;
    }
    out.steps.push_back(step);
  }
  return true;
}

// Forwards a device's output to the host and writes it down.
class RecordingDevice::Tap : public LineOutput {
 public:
  Tap(LineOutput& out, Transcript& t) : out_(out), t_(t) {}
  void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) override {
    if (count > 0)
      t_.steps.push_back({false, 0, std::string(reinterpret_cast<const char*>(data), count)});
    out_.Send(data, count, atMs, msPerByte);
  }
  void DiscardPending() override { out_.DiscardPending(); }

 private:
  LineOutput& out_;
  Transcript& t_;
};

void RecordingDevice::Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
                              LineOutput& out) {
  transcript.steps.push_back(
      {true, hostBaud, std::string(reinterpret_cast<const char*>(data), count)});
  Tap tap(out, transcript);
  inner_->Receive(data, count, hostBaud, nowMs, tap);
}

void RecordingDevice::Poll(int64_t untilMs, LineOutput& out) {
  Tap tap(out, transcript);
  inner_->Poll(untilMs, tap);
}

void ReplayDevice::Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
                           LineOutput& out) {
  if (!divergence_.empty()) return;
  pending_.append(reinterpret_cast<const char*>(data), count);
  while (!pending_.empty()) {
    if (next_ >= transcript_.steps.size()) {
      divergence_ = "host sent " + EscapeBytes(pending_) + " after the end of the transcript";
      return;
    }
    const auto& step = transcript_.steps[next_];
    if (step.bytes.rfind(pending_, 0) == 0 && step.bytes.size() > pending_.size()) return;
    if (pending_.rfind(step.bytes, 0) != 0 || step.baud != hostBaud) {
      divergence_ = "step " + std::to_string(next_) + ": expected " + EscapeBytes(step.bytes) +
                    " at " + std::to_string(step.baud) + " baud, host sent " +
                    EscapeBytes(pending_) + " at " + std::to_string(hostBaud) + " baud";
      return;
    }
    pending_.erase(0, step.bytes.size());
    // The logger's answers that follow this host step.
    for (++next_; next_ < transcript_.steps.size() && !transcript_.steps[next_].fromHost; ++next_)
      out.Send(transcript_.steps[next_].bytes, nowMs + 1);
  }
}

}  // namespace klx::test
