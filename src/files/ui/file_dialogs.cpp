#include "files/ui/file_dialogs.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace klx::ui {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A group of radio buttons with ids 0, 1, ...; `checked` is selected (0 when out of range).
QGroupBox* RadioGroup(const char* title, std::initializer_list<const char*> texts, int checked,
                      QButtonGroup* group, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(box);
  int id = 0;
  for (const char* text : texts) {
    auto* button = new QRadioButton(QString::fromLatin1(text), box);
    group->addButton(button, id++);
    layout->addWidget(button);
  }
  if (checked < 0 || checked >= id) checked = 0;
  group->button(checked)->setChecked(true);
  return box;
}

}  // namespace

CommentDialog::CommentDialog(const std::string& current, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Comment");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Comment to be saved with the data:", this));
  field_ = new QLineEdit(this);
  field_->setMaxLength(kMaxComment);
  field_->setText(QString::fromLatin1(current.substr(0, kMaxComment)));
  field_->setMinimumWidth(420);
  layout->addWidget(field_);
  layout->addWidget(OkCancel(this));
}

std::string CommentDialog::Comment() const {
  const QByteArray bytes = field_->text().left(kMaxComment).toLatin1();
  std::string text(bytes.constData(), static_cast<size_t>(bytes.size()));
  // A comment is one header line.
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::optional<std::string> CommentDialog::Ask(const std::string& current, QWidget* parent) {
  CommentDialog dialog(current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Comment();
}

WriteFormatDialog::WriteFormatDialog(int layout, QWidget* parent) : QDialog(parent) {
  setWindowTitle("KLX Logger - Write File Formats");
  choices_ = new QButtonGroup(this);
  auto* main = new QVBoxLayout(this);
  main->addWidget(RadioGroup("Line Layout",
                             {"One reading per line                 - 23.1564",
                              "Time and reading per line         - 12:30:00 23.1564",
                              "Date, time and reading per line - 2000/06/21 12:30:00 23.1564"},
                             layout, choices_, this));
  main->addWidget(OkCancel(this));
}

int WriteFormatDialog::Layout() const {
  return choices_->checkedId();
}

MatlabFormatDialog::MatlabFormatDialog(int frequency, int format, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("MATLAB date/time output format");
  frequency_ = new QButtonGroup(this);
  format_ = new QButtonGroup(this);
  auto* main = new QVBoxLayout(this);
  main->addWidget(RadioGroup(
      "Date/time output frequency",
      {"One date/time record for the Start time", "A date/time record for each set of samples"},
      frequency, frequency_, this));
  main->addWidget(RadioGroup("Date/time output format", {"Text string", "'datenum' format"}, format,
                             format_, this));
  main->addWidget(OkCancel(this));
}

int MatlabFormatDialog::Frequency() const {
  return frequency_->checkedId();
}
int MatlabFormatDialog::Format() const {
  return format_->checkedId();
}

}  // namespace klx::ui
