#pragma once
// "&Real-time Limits": the display limits each quantity starts from when real-time collection
// begins, edited as whole numbers and kept in "klx.lim".
#include <QDialog>
#include <string>
#include <vector>

#include "shell/limits_file.h"

class QSpinBox;

namespace klx {
class Session;

namespace ui {

// The dialog entries in the order shown, each with the key of its line in the limits file.
struct LimitsEntry {
  const char* label;  // Latin-1
  const char* key;
};
const std::vector<LimitsEntry>& LimitsEntries();

// "Real-time Limits Control Panel". Every row holds a "min" and a "max" spin box; a minimum
// raised above its maximum takes the maximum with it, and a maximum lowered below its minimum
// takes the minimum down.
class LimitsDialog : public QDialog {
  Q_OBJECT
 public:
  LimitsDialog(const RealTimeLimits& limits, QWidget* parent = nullptr);

  // The limits as edited.
  RealTimeLimits Limits() const;
  // The spin boxes of the entry with this file key (nullptr for an unknown key).
  QSpinBox* MinimumBox(const std::string& key) const;
  QSpinBox* MaximumBox(const std::string& key) const;

 private:
  struct Row {
    std::string key;
    QSpinBox* minimum;
    QSpinBox* maximum;
  };
  RealTimeLimits limits_;
  std::vector<Row> rows_;
};

// Command 40020: the dialog; OK puts the limits into the session and writes the file, Cancel
// changes nothing.
void RunRealTimeLimitsCommand(QWidget* parent, Session& session);

}  // namespace ui
}  // namespace klx
