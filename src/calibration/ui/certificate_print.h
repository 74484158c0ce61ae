#pragma once
// The calibration shipping certificate on paper or in a PDF file.
#include <QString>
#include <string>

#include "calibration/certificate.h"

class QPagedPaintDevice;
class QWidget;

namespace klx {

// Draws the page (with its 3-pixel frame) on a printer or PDF writer.
void PaintCertificate(QPagedPaintDevice& device, const CertificatePage& page);
// The system print dialog, then the page. False (with "Error creating DC") when no printer could
// be set up; a cancelled dialog is not an error.
bool PrintCertificate(QWidget* parent, const CertificatePage& page);
// The page as a PDF file. False when the file cannot be written.
bool SaveCertificatePdf(const QString& file, const CertificatePage& page);

}  // namespace klx
