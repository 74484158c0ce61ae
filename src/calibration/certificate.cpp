#include "calibration/certificate.h"

#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {
namespace {

constexpr double kLine = 1.0 / 90.0;  // one line of the page
constexpr double kBodyTop = 16 * kLine;
constexpr double kBodyPitch = 2 * kLine;
constexpr double kFootTop = 78 * kLine;
constexpr size_t kLongLine = 91;
constexpr size_t kSplitAfter = 40;

bool NamesLogger(const std::string& line) {
  return Contains(line, "Logger");
}

}  // namespace

std::optional<std::vector<std::string>> ReadHistoryLines(const std::filesystem::path& file) {
  const auto lines = ReadTextLines(file, 1000, 10000);
  if (!lines) return std::nullopt;
  std::vector<std::string> out;
  out.reserve(lines->size());
  for (const TextLine& l : *lines) out.push_back(l.text);
  return out;
}

std::vector<std::string> CertificateBody(const std::vector<std::string>& history,
                                         bool linearMemory) {
  std::vector<std::string> body;
  if (linearMemory) {
    // The first record: up to the first short line once something has been printed.
    for (const std::string& line : history) {
      if (NamesLogger(line)) continue;
      if (body.size() >= 2 && line.size() < 10) break;
      body.push_back(line);
    }
    return body;
  }
  size_t from = history.size();
  for (size_t i = 0; i < history.size(); ++i)
    if (Contains(history[i], "/")) from = i;
  for (size_t i = from; i < history.size(); ++i)
    if (!NamesLogger(history[i])) body.push_back(history[i]);
  return body;
}

CertificatePage BuildCertificate(const std::optional<std::vector<std::string>>& history,
                                 const std::string& model, int serial, bool linearMemory,
                                 const SystemTime& today) {
  CertificatePage page;
  auto add = [&page](std::string text, double x, double y, CertificateStyle style,
                     CertificateAlign align) {
    page.items.push_back({std::move(text), x, y, style, align});
  };
  add("KLX Calibration Shipping Certificate", 0.5, 4 * kLine, CertificateStyle::Title,
      CertificateAlign::Centre);
  add("Calibration values for all channels when shipped.", 0.5, 9 * kLine, CertificateStyle::Normal,
      CertificateAlign::Centre);
  add(Format("Logger ID: %s   Serial No: %d", model.c_str(), serial), 0.5, 12 * kLine,
      CertificateStyle::Bold, CertificateAlign::Centre);

  if (history) {
    double y = kBodyTop;
    for (const std::string& line : CertificateBody(*history, linearMemory)) {
      if (y > kFootTop - kBodyPitch) break;  // one page: what does not fit is left off
      const size_t space =
          line.size() >= kLongLine ? line.find(' ', kSplitAfter) : std::string::npos;
      if (linearMemory && space != std::string::npos) {
        add(line.substr(0, space), 0.1, y, CertificateStyle::Normal, CertificateAlign::Left);
        y += kBodyPitch;
        add(line.substr(space + 1), 0.2, y, CertificateStyle::Normal, CertificateAlign::Left);
      } else {
        add(line, 0.1, y, CertificateStyle::Normal, CertificateAlign::Left);
      }
      y += kBodyPitch;
    }
  }

  add("Operator: ___________________________", 1.0 / 6, kFootTop, CertificateStyle::Normal,
      CertificateAlign::Left);
  add(Format("%d/%s/%d", today.day, MonthName(today.month), today.year), 1.0 / 6,
      kFootTop + 3 * kLine, CertificateStyle::Normal, CertificateAlign::Left);
  add("KLX Instruments - Oceanographic Data Loggers - www.klx-loggers.example", 0.5, 86 * kLine,
      CertificateStyle::Normal, CertificateAlign::Centre);
  return page;
}

}  // namespace klx
