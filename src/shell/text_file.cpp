#include "shell/text_file.h"

#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <system_error>

#include "shell/status.h"

namespace klx {

std::optional<std::vector<TextLine>> ReadTextLines(const std::filesystem::path& path, size_t keep,
                                                   size_t maxLines) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::vector<TextLine> lines;
  TextLine line;
  size_t total = 0;  // characters of the current line before its "\n"
  bool lastWasCr = false;
  auto finish = [&] {
    // A "\r" just before the line feed belongs to the line end, not to the text.
    const size_t length = total - (lastWasCr ? 1 : 0);
    if (lastWasCr && line.text.size() == total) line.text.pop_back();
    line.overLong = length > keep;
    lines.push_back(std::move(line));
    line = TextLine{};
    total = 0;
    lastWasCr = false;
  };
  int c = 0;
  while (lines.size() < maxLines && (c = std::getc(f)) != EOF) {
    if (c == '\n') {
      finish();
      continue;
    }
    if (total < keep || (total == keep && c == '\r')) line.text.push_back(static_cast<char>(c));
    ++total;
    lastWasCr = c == '\r';
  }
  if (total > 0 && lines.size() < maxLines) finish();
  std::fclose(f);
  // A kept "\r" beyond `keep` (only possible when it was the line end) is not text.
  for (auto& l : lines)
    if (l.text.size() > keep) l.text.resize(keep);
  return lines;
}

namespace {

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void RemoveStaleTemporaries(const std::filesystem::path& path) {
  const std::string prefix = path.filename().string() + ".tmp";
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  std::vector<std::filesystem::path> stale;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // "<pid>.<attempt>" and nothing else.
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size() ||
        rest.find_first_not_of("0123456789.") != std::string_view::npos ||
        rest.find('.', dot + 1) != std::string_view::npos)
      continue;
    const auto pid = LeadingInt(rest.substr(0, dot));
    if (!pid || *pid <= 0) continue;
    if (::kill(static_cast<pid_t>(*pid), 0) != 0 && errno == ESRCH) stale.push_back(it->path());
  }
  for (const auto& file : stale) std::filesystem::remove(file, ec);
}

bool WriteTextFileAtomically(const std::filesystem::path& path, std::string_view text) {
  RemoveStaleTemporaries(path);
  // A name of our own beside the target: same file system, so the rename is atomic.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path.string() + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  ok = (::fsync(fd) == 0) && ok;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::FILE* f = std::fopen(from.c_str(), "rb");
  if (f == nullptr) return false;
  std::string bytes;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  const bool readOk = std::ferror(f) == 0;
  std::fclose(f);
  return readOk && WriteTextFileAtomically(to, bytes);
}

std::string CFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

namespace {

size_t SkipBlanksAndPlus(std::string_view text, bool& bad) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bad = false;
  if (i < text.size() && text[i] == '+') {
    ++i;
    bad = i < text.size() && text[i] == '-';  // "+-5" is not a number
  }
  return i;
}

}  // namespace

std::optional<int> LeadingInt(std::string_view text, size_t* consumed) {
  bool bad = false;
  const size_t start = SkipBlanksAndPlus(text, bad);
  if (bad) return std::nullopt;
  int value = 0;
  const char* first = text.data() + start;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc{}) return std::nullopt;
  if (consumed != nullptr) *consumed = static_cast<size_t>(end - text.data());
  return value;
}

std::optional<double> LeadingDouble(std::string_view text, size_t* consumed) {
  bool bad = false;
  const size_t start = SkipBlanksAndPlus(text, bad);
  if (bad) return std::nullopt;
  double value = 0;
  const char* first = text.data() + start;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc{} || !std::isfinite(value)) return std::nullopt;
  if (consumed != nullptr) *consumed = static_cast<size_t>(end - text.data());
  return value;
}

std::optional<int> IntAfter(std::string_view line, std::string_view key) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingInt(line.substr(at + key.size()));
}

std::optional<double> DoubleAfter(std::string_view line, std::string_view key) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingDouble(line.substr(at + key.size()));
}

}  // namespace klx
