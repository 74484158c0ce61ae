#pragma once
// The dialogs of the data files: the comment asked before a save, the dat row layout and the
// MATLAB time column.
#include <QDialog>
#include <optional>
#include <string>

class QButtonGroup;
class QLineEdit;

namespace klx::ui {

// `CommentProc`: the comment saved with the data (at most 99 characters).
class CommentDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CommentDialog(const std::string& current, QWidget* parent = nullptr);
  static constexpr int kMaxComment = 99;
  QLineEdit* Field() const { return field_; }
  // The comment typed (Latin-1).
  std::string Comment() const;
  // Runs the dialog: the new comment, or nullopt when it was cancelled (which clears it).
  static std::optional<std::string> Ask(const std::string& current, QWidget* parent);

 private:
  QLineEdit* field_;
};

// `WriteFormatProc`: the dat row layout (0 N, 1 A, 2 E); OK sets it, Cancel keeps it.
class WriteFormatDialog : public QDialog {
  Q_OBJECT
 public:
  explicit WriteFormatDialog(int layout, QWidget* parent = nullptr);
  int Layout() const;
  QButtonGroup* Choices() const { return choices_; }

 private:
  QButtonGroup* choices_;
};

// "MATLABFormat": how often a time is written and in which form.
class MatlabFormatDialog : public QDialog {
  Q_OBJECT
 public:
  MatlabFormatDialog(int frequency, int format, QWidget* parent = nullptr);
  int Frequency() const;
  int Format() const;
  QButtonGroup* Frequencies() const { return frequency_; }
  QButtonGroup* Formats() const { return format_; }

 private:
  QButtonGroup* frequency_;
  QButtonGroup* format_;
};

}  // namespace klx::ui
