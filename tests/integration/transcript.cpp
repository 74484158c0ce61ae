#include "transcript.h"

#include <cstdio>
#include <sstream>

namespace klx::test {

std::string EscapeBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\' || c == '\r' || c == '\n') {
      out += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : "\\n";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

bool UnescapeBytes(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (++i >= text.size()) {
      return false;
    } else if (text[i] == '\\' || text[i] == 'r' || text[i] == 'n') {
      out += text[i] == '\\' ? '\\' : text[i] == 'r' ? '\r' : '\n';
    } else {
      unsigned v = 0;
      if (text[i] != 'x' || i + 2 >= text.size() ||
          std::sscanf(text.substr(i + 1, 2).c_str(), "%2X", &v) != 1)
        return false;
      out += static_cast<char>(v);
      i += 2;
    }
  }
  return true;
}

std::string Transcript::Serialize() const {
  std::ostringstream out;
  out << "# KLX session transcript: '>' host to logger (with the host's baud), '<' logger to "
         "host\n";
  for (const auto& [key, value] : header) out << key << ": " << value << "\n";
  for (const auto& step : steps) {
    if (step.fromHost)
      out << "> " << step.baud << " " << EscapeBytes(step.bytes) << "\n";
    else
      out << "< " << EscapeBytes(step.bytes) << "\n";
  }
  return out.str();
}

bool Transcript::Parse(const std::string& text, Transcript& out, std::string* error) {
  out = Transcript{};
  std::istringstream in(text);
  std::string line;
  int number = 0;
  auto fail = [&](const char* why) {
    if (error) *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    Step step;
    std::string bytes = line.substr(std::min<size_t>(2, line.size()));
    if (line.rfind("> ", 0) == 0) {
      const size_t space = line.find(' ', 2);
      if (space == std::string::npos) return fail("host step without baud");
      step.baud = std::atoi(line.substr(2, space - 2).c_str());
      bytes = line.substr(space + 1);
    } else if (line.rfind("< ", 0) == 0) {
      step.fromHost = false;
    } else {
      const size_t colon = line.find(": ");
      if (colon == std::string::npos) return fail("not a header line");
      out.header[line.substr(0, colon)] = line.substr(colon + 2);
      continue;
    }
    if (!UnescapeBytes(bytes, step.bytes)) return fail("bad escape");
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

void ReplayDevice::EmitLoggerSteps(int64_t nowMs, LineOutput& out) {
  for (; next_ < transcript_.steps.size() && !transcript_.steps[next_].fromHost; ++next_)
    out.Send(transcript_.steps[next_].bytes, nowMs + 1);
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
    ++next_;
    EmitLoggerSteps(nowMs, out);
  }
}

std::vector<std::string> LinkHost::HostWrites() const {
  std::vector<std::string> writes;
  for (const auto& s : recorder->transcript.steps)
    if (s.fromHost) writes.push_back(s.bytes);
  return writes;
}

std::vector<int> LinkHost::IdentifyRates() const {
  std::vector<int> rates;
  for (const auto& s : recorder->transcript.steps)
    if (s.fromHost && s.bytes == "A") rates.push_back(s.baud);
  return rates;
}

}  // namespace klx::test
