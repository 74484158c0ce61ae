#pragma once
// The calibration shipping certificate as page content: every text with its place and style, so
// that a printer, a PDF writer or a test can lay it out the same way.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/system_time.h"

namespace klx {

enum class CertificateStyle { Title, Bold, Normal };
enum class CertificateAlign { Left, Centre };

struct CertificateItem {
  std::string text;
  double x = 0;  // fraction of the page width: the left edge, or the centre when centred
  double y = 0;  // fraction of the page height: the top of the line
  CertificateStyle style = CertificateStyle::Normal;
  CertificateAlign align = CertificateAlign::Left;
};

struct CertificatePage {
  std::string documentName = "Calibration";
  std::vector<CertificateItem> items;
};

// The lines of a history file; nullopt when it cannot be read.
std::optional<std::vector<std::string>> ReadHistoryLines(const std::filesystem::path& file);

// The body of the certificate from a history file's lines: the newest record (the first one of
// a linear-memory logger, the last one of any other), lines naming the logger left out.
std::vector<std::string> CertificateBody(const std::vector<std::string>& history,
                                         bool linearMemory);

// The whole page. Without history lines the page has no body.
CertificatePage BuildCertificate(const std::optional<std::vector<std::string>>& history,
                                 const std::string& model, int serial, bool linearMemory,
                                 const SystemTime& today);

}  // namespace klx
