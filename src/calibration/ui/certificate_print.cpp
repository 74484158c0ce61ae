#include "calibration/ui/certificate_print.h"

#include <QFile>
#include <QFont>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>

namespace klx {
namespace {

QFont FontFor(CertificateStyle style) {
  QFont font("Times New Roman");
  font.setStyleHint(QFont::Serif);
  // No ligatures: the printed text stays searchable letter by letter ("fi" in "Certificate").
  font.setStyleStrategy(QFont::PreferNoShaping);
  switch (style) {
    case CertificateStyle::Title:
      font.setPointSize(20);
      font.setBold(true);
      break;
    case CertificateStyle::Bold:
      font.setPointSize(12);
      font.setBold(true);
      break;
    case CertificateStyle::Normal:
      font.setPointSize(10);
      break;
  }
  return font;
}

}  // namespace

void PaintCertificate(QPagedPaintDevice& device, const CertificatePage& page) {
  QPainter painter(&device);
  const double w = device.width(), h = device.height();
  QPen frame(Qt::black);
  frame.setWidth(3);
  painter.setPen(frame);
  painter.drawRect(QRectF(1.5, 1.5, w - 3, h - 3));
  painter.setPen(Qt::black);
  for (const CertificateItem& item : page.items) {
    painter.setFont(QFont(FontFor(item.style), &device));
    const QString text = QString::fromLatin1(item.text.c_str());
    const double y = item.y * h;
    const double lineHeight = painter.fontMetrics().height();
    if (item.align == CertificateAlign::Centre) {
      painter.drawText(QRectF(0, y, w, lineHeight), Qt::AlignHCenter | Qt::AlignTop, text);
    } else {
      const double x = item.x * w;
      painter.drawText(QRectF(x, y, w - x, lineHeight), Qt::AlignLeft | Qt::AlignTop, text);
    }
  }
}

bool PrintCertificate(QWidget* parent, const CertificatePage& page) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QString::fromStdString(page.documentName));
  QPrintDialog dialog(&printer, parent);
  if (dialog.exec() != QDialog::Accepted) return true;
  if (!printer.isValid()) {
    QMessageBox::critical(parent, "Error", "Error creating DC");
    return false;
  }
  PaintCertificate(printer, page);
  return true;
}

bool SaveCertificatePdf(const QString& file, const CertificatePage& page) {
  {
    QPdfWriter writer(file);
    writer.setTitle(QString::fromStdString(page.documentName));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    PaintCertificate(writer, page);
  }
  return QFile(file).size() > 0;
}

}  // namespace klx
