#include "desktop/qt_host.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "shell/status.h"

namespace klx::ui {

QString FromLatin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToLatin1(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

namespace {

QMessageBox::Icon BoxIconOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Stop:
      return QMessageBox::Critical;
    case BoxIcon::Question:
      return QMessageBox::Question;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// "Hex files (*.hex)" is already a Qt filter; add the catch-all.
QString FilterOf(const std::string& filter) {
  QString f = FromLatin1(filter);
  if (f.isEmpty()) return "All files (*)";
  return f + ";;All files (*)";
}

}  // namespace

QtHost::QtHost(QWidget* owner, QStatusBar* bar) : owner_(owner) {
  auto* box = new QWidget(bar);
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(2, 0, 2, 0);
  layout->setSpacing(0);
  // Right edges 15, R - 254, R - 216, R - 139 and R: the units part is 38 wide, the
  // connection part 77 and the clock 139.
  const int widths[5] = {15, -1, 38, 77, 139};
  for (int i = 0; i < 5; ++i) {
    parts_[i] = new QLabel(box);
    parts_[i]->setObjectName(QString("statusPart%1").arg(i));
    if (widths[i] > 0) parts_[i]->setFixedWidth(widths[i]);
    if (i > 1) parts_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    layout->addWidget(parts_[i], widths[i] < 0 ? 1 : 0);
  }
  parts_[1]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  parts_[1]->setTextFormat(Qt::PlainText);
  parts_[2]->setAlignment(Qt::AlignCenter);
  bar->addWidget(box, 1);
  bar->setSizeGripEnabled(false);
  SetUnitsIcon(false);
  parts_[3]->setText("Not connected");
}

void QtHost::SetStatusText(int part, const std::string& text) {
  if (part < 0 || part > 4) return;
  parts_[part]->setText(FromLatin1(text));
  if (part == kStatusMessagePart) log.push_back("status: " + text);
}

QString QtHost::StatusText(int part) const {
  return part >= 0 && part <= 4 ? parts_[part]->text() : QString();
}

void QtHost::SetStatusIcon(StatusIcon icon) {
  icon_ = icon;
  QStyle* style = QApplication::style();
  if (icon == StatusIcon::None) {
    parts_[0]->clear();
    parts_[0]->setToolTip({});
    return;
  }
  const auto which =
      icon == StatusIcon::Warning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
  parts_[0]->setPixmap(style->standardIcon(which).pixmap(14, 14));
  parts_[0]->setToolTip(icon == StatusIcon::Warning ? "WARNING" : "WINFO");
}

namespace {

// The two units icons, drawn once: "UNITSENG" a dial with its pointer, "UNITSBINARY" a row of
// bits.
QPixmap UnitsPixmap(bool engineering) {
  QPixmap pixmap(28, 14);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  if (engineering) {
    p.setPen(QPen(QColor(0, 110, 0), 1.5));
    p.setBrush(QColor(220, 245, 220));
    p.drawPie(QRectF(4, 1, 20, 24), 0, 180 * 16);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(QPointF(14, 13), QPointF(20, 5));
  } else {
    p.setPen(Qt::NoPen);
    const bool bits[6] = {true, false, true, true, false, true};
    for (int i = 0; i < 6; ++i) {
      p.setBrush(bits[i] ? QColor(0, 0, 160) : QColor(200, 200, 230));
      p.drawRect(QRectF(1 + i * 4.5, bits[i] ? 2 : 8, 3.5, bits[i] ? 10 : 4));
    }
  }
  return pixmap;
}

}  // namespace

void QtHost::SetUnitsIcon(bool engineering) {
  unitsIcon_ = engineering ? "UNITSENG" : "UNITSBINARY";
  parts_[2]->setPixmap(UnitsPixmap(engineering));
  parts_[2]->setToolTip(engineering ? "The logger outputs engineering units"
                                    : "The logger outputs binary readings");
}

void QtHost::Tell(const std::string& caption, const std::string& text, BoxIcon icon) {
  log.push_back("tell: " + caption + ": " + text);
  if (quietBoxes || answer) return;
  QMessageBox box(BoxIconOf(icon), Caption(caption), FromLatin1(text), QMessageBox::Ok, owner_);
  box.exec();
}

Answer QtHost::Ask(const std::string& caption, const std::string& text, Buttons buttons,
                   BoxIcon icon, Answer defaultAnswer) {
  log.push_back("ask: " + caption + ": " + text);
  if (answer) return answer(caption, text);
  QMessageBox::StandardButtons set = QMessageBox::Ok;
  switch (buttons) {
    case Buttons::Ok:
      set = QMessageBox::Ok;
      break;
    case Buttons::OkCancel:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case Buttons::YesNo:
      set = QMessageBox::Yes | QMessageBox::No;
      break;
    case Buttons::YesNoCancel:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  QMessageBox box(BoxIconOf(icon), Caption(caption), FromLatin1(text), set, owner_);
  const QMessageBox::StandardButton def = defaultAnswer == Answer::Yes      ? QMessageBox::Yes
                                          : defaultAnswer == Answer::No     ? QMessageBox::No
                                          : defaultAnswer == Answer::Cancel ? QMessageBox::Cancel
                                                                            : QMessageBox::Ok;
  if (set & def) box.setDefaultButton(def);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    case QMessageBox::Ok:
      return Answer::Ok;
    default:
      return Answer::Cancel;
  }
}

int QtHost::Choose(const std::string& caption, const std::string& text,
                   const std::vector<std::string>& labels, BoxIcon icon) {
  log.push_back("choose: " + caption + ": " + text);
  if (choose) return choose(caption, labels);
  if (answer) return Host::Choose(caption, text, labels, icon);
  QMessageBox box(BoxIconOf(icon), Caption(caption), FromLatin1(text), QMessageBox::NoButton,
                  owner_);
  std::vector<QAbstractButton*> added;
  for (const auto& label : labels)
    added.push_back(box.addButton(FromLatin1(label), QMessageBox::AcceptRole));
  QAbstractButton* cancel = box.addButton(QMessageBox::Cancel);
  box.exec();
  for (size_t i = 0; i < added.size(); ++i)
    if (box.clickedButton() == added[i]) return static_cast<int>(i);
  (void)cancel;
  return -1;
}

QString QtHost::Caption(const std::string& title) const {
  return FromLatin1(PrefixCopyTitle(copyIndex, title));
}

void QtHost::PrefixTitle(QWidget& window) const {
  window.setWindowTitle(Caption(ToLatin1(window.windowTitle())));
}

QAction* QtHost::Action(int commandId) const {
  const auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

void QtHost::SetCommandEnabled(int commandId, bool enabled) {
  if (QAction* a = Action(commandId)) a->setEnabled(enabled);
}

void QtHost::SetCommandPresent(int commandId, bool present) {
  if (QAction* a = Action(commandId)) a->setVisible(present);
}

void QtHost::PostCommand(int commandId) {
  if (!postCommand) return;
  // Run it from the event loop, as a posted message would be.
  auto run = postCommand;
  QTimer::singleShot(0, owner_, [run, commandId] { run(commandId); });
}

void QtHost::SetBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtHost::SetProgress(int value, int maximum) {
  if (progress) progress(value, maximum);
}

std::optional<std::string> QtHost::ChooseFile(const FileChoice& choice) {
  log.push_back("file: " + choice.title);
  if (chooseFile) return chooseFile(choice);
  QString start = QString::fromStdString(choice.initialDirectory);
  // A suggested name with a wildcard is a filter hint, not a file name.
  if (!choice.suggestedName.empty() && choice.suggestedName.find('*') == std::string::npos)
    start = start.isEmpty() ? QString::fromStdString(choice.suggestedName)
                            : start + "/" + QString::fromStdString(choice.suggestedName);
  const QString title = FromLatin1(choice.title);
  const QString file =
      choice.save ? QFileDialog::getSaveFileName(owner_, title, start, FilterOf(choice.filter),
                                                 nullptr, QFileDialog::DontConfirmOverwrite)
                  : QFileDialog::getOpenFileName(owner_, title, start, FilterOf(choice.filter));
  if (file.isEmpty()) return std::nullopt;
  return file.toStdString();
}

}  // namespace klx::ui
