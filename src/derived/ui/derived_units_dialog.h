#pragma once
// `DerivedUnitsProc`: the derived-units choices and constants, and the "Conductivity Correction
// Equation" view with the logger's coefficients.
#include <QDialog>
#include <array>

#include "shell/settings.h"

class QCheckBox;
class QDoubleSpinBox;
class QRadioButton;
class QSpinBox;

namespace klx::ui {

class DerivedUnitsDialog : public QDialog {
  Q_OBJECT
 public:
  // `correction` holds a, b, Tc, c of the conductivity correction.
  DerivedUnitsDialog(const DerivedUnitSettings& settings, const std::array<double, 4>& correction,
                     QWidget* parent = nullptr);
  // The choices as they stand in the dialog.
  DerivedUnitSettings Settings() const;

  QCheckBox* Check(const char* text) const;
  QDoubleSpinBox* Number(const char* name) const;

 private:
  DerivedUnitSettings initial_;
  std::array<double, 4> correction_;
};

// The "Conductivity Correction Equation" view.
class EquationDialog : public QDialog {
  Q_OBJECT
 public:
  EquationDialog(const std::array<double, 4>& correction, QWidget* parent = nullptr);
};

}  // namespace klx::ui
