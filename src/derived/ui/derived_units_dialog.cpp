#include "derived/ui/derived_units_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstdio>

namespace klx::ui {

namespace {

QCheckBox* AddCheck(QWidget* parent, QLayout* layout, const char* text, bool on) {
  auto* box = new QCheckBox(QString::fromLatin1(text), parent);
  box->setObjectName(QString::fromLatin1(text));
  box->setChecked(on);
  layout->addWidget(box);
  return box;
}

QDoubleSpinBox* NumberField(QWidget* parent, const char* name, double value, double low,
                            double high, int decimals) {
  auto* field = new QDoubleSpinBox(parent);
  field->setObjectName(name);
  field->setRange(low, high);
  field->setDecimals(decimals);
  field->setValue(value);
  return field;
}

}  // namespace

DerivedUnitsDialog::DerivedUnitsDialog(const DerivedUnitSettings& s,
                                       const std::array<double, 4>& correction, QWidget* parent)
    : QDialog(parent), initial_(s), correction_(correction) {
  setWindowTitle("KLX Logger - Derived Units Setup");
  auto* main = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  main->addLayout(left);
  main->addLayout(right);

  auto* depth = new QGroupBox("Depth", this);
  auto* depthLayout = new QGridLayout(depth);
  auto* depthOn = new QCheckBox("Depth", depth);
  depthOn->setObjectName("Depth");
  depthOn->setChecked(s.depthOn);
  depthLayout->addWidget(depthOn, 0, 0);
  auto* seawater = new QRadioButton("Seawater", depth);
  seawater->setObjectName("Seawater");
  auto* simplified = new QRadioButton("Simplified", depth);
  simplified->setObjectName("Simplified");
  (s.depthSeawater ? seawater : simplified)->setChecked(true);
  depthLayout->addWidget(seawater, 0, 1);
  depthLayout->addWidget(simplified, 0, 2);
  auto* atmospheric = NumberField(depth, "atmospheric", s.atmosphericPressure, 0, 100, 4);
  auto* density = NumberField(depth, "density", s.density, 0.5, 2.0, 4);
  auto* degrees = new QSpinBox(depth);
  degrees->setObjectName("latitudeDegrees");
  degrees->setRange(-90, 90);
  degrees->setValue(s.latitudeDegrees);
  auto* minutes = NumberField(depth, "latitudeMinutes", s.latitudeMinutes, 0, 59.999, 3);
  auto* defaultAtmospheric = new QPushButton("Use default", depth);
  auto* defaultDensity = new QPushButton("Use default", depth);
  connect(defaultAtmospheric, &QPushButton::clicked, atmospheric,
          [atmospheric] { atmospheric->setValue(10.1325); });
  connect(defaultDensity, &QPushButton::clicked, density, [density] { density->setValue(1.0281); });
  depthLayout->addWidget(new QLabel("Atmospheric pressure (dBar):", depth), 1, 0);
  depthLayout->addWidget(atmospheric, 1, 1);
  depthLayout->addWidget(defaultAtmospheric, 1, 2);
  depthLayout->addWidget(new QLabel("Density (g/cm3):", depth), 2, 0);
  depthLayout->addWidget(density, 2, 1);
  depthLayout->addWidget(defaultDensity, 2, 2);
  depthLayout->addWidget(new QLabel("Latitude (degrees, minutes):", depth), 3, 0);
  depthLayout->addWidget(degrees, 3, 1);
  depthLayout->addWidget(minutes, 3, 2);
  left->addWidget(depth);

  auto* conductivity = new QGroupBox("Conductivity", this);
  auto* cLayout = new QGridLayout(conductivity);
  auto* salinity = new QCheckBox("Salinity", conductivity);
  salinity->setObjectName("Salinity");
  salinity->setChecked(s.salinityOn);
  cLayout->addWidget(salinity, 0, 0);
  cLayout->addWidget(new QLabel("Hydrostatic pressure (dBar):", conductivity), 1, 0);
  auto* hydrostatic = NumberField(conductivity, "hydrostatic", s.hydrostaticPressure, 0, 10000, 2);
  cLayout->addWidget(hydrostatic, 1, 1);
  auto* correctionOn = new QCheckBox("Conductivity correction", conductivity);
  correctionOn->setObjectName("Conductivity correction");
  correctionOn->setChecked(s.conductivityCorrectionOn);
  cLayout->addWidget(correctionOn, 2, 0);
  auto* view = new QPushButton("View equation", conductivity);
  connect(view, &QPushButton::clicked, this, [this] {
    EquationDialog equation(correction_, this);
    equation.setWindowTitle(windowTitle().section("KLX Logger", 0, 0) + equation.windowTitle());
    equation.exec();
  });
  cLayout->addWidget(view, 2, 1);
  auto* specific = new QCheckBox("Specific conductivity", conductivity);
  specific->setObjectName("Specific conductivity");
  specific->setChecked(s.specificConductivityOn);
  cLayout->addWidget(specific, 3, 0);
  auto* anomaly = new QCheckBox("Density (kg/m3)", conductivity);
  anomaly->setObjectName("Density (kg/m3)");
  anomaly->setChecked(s.densityAnomalyOn);
  cLayout->addWidget(anomaly, 4, 0);
  left->addWidget(conductivity);

  auto* sound = new QGroupBox("Speed of sound", this);
  auto* soundLayout = new QHBoxLayout(sound);
  AddCheck(sound, soundLayout, "UNESCO", s.soundUnesco);
  AddCheck(sound, soundLayout, "del Grosso", s.soundDelGrosso);
  AddCheck(sound, soundLayout, "Wilson", s.soundWilson);
  left->addWidget(sound);

  auto* oxygen = new QGroupBox("Dissolved oxygen", this);
  auto* oLayout = new QGridLayout(oxygen);
  auto* oxygenRow = new QHBoxLayout;
  oLayout->addWidget(new QLabel("From saturation:", oxygen), 0, 0);
  AddCheck(oxygen, oxygenRow, "ml/l", s.doUnitMlPerL);
  AddCheck(oxygen, oxygenRow, "mg/l", s.doUnitMgPerL);
  AddCheck(oxygen, oxygenRow, "\xB5Mol/l", s.doUnitUMol);
  oLayout->addLayout(oxygenRow, 0, 1);
  oLayout->addWidget(new QLabel(QString::fromLatin1("DO temperature (\xB0"
                                                    "C):"),
                                oxygen),
                     1, 0);
  oLayout->addWidget(NumberField(oxygen, "doTemperature", s.doTemperature, -5, 50, 2), 1, 1);
  oLayout->addWidget(new QLabel("DO salinity (PSU):", oxygen), 2, 0);
  oLayout->addWidget(NumberField(oxygen, "doSalinity", s.doSalinity, 0, 50, 2), 2, 1);
  right->addWidget(oxygen);

  auto* optode = new QGroupBox("Optode", this);
  auto* optodeLayout = new QVBoxLayout(optode);
  AddCheck(optode, optodeLayout, "Optode saturation", s.optodeSaturationOn);
  auto* optodeRow = new QHBoxLayout;
  optodeRow->addWidget(new QLabel("Concentration:", optode));
  auto* optodeMl = new QCheckBox("ml/l", optode);
  optodeMl->setObjectName("Optode ml/l");
  optodeMl->setChecked(s.optodeUnitMlPerL);
  auto* optodeMg = new QCheckBox("mg/l", optode);
  optodeMg->setObjectName("Optode mg/l");
  optodeMg->setChecked(s.optodeUnitMgPerL);
  optodeRow->addWidget(optodeMl);
  optodeRow->addWidget(optodeMg);
  optodeLayout->addLayout(optodeRow);
  right->addWidget(optode);
  right->addStretch(1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  right->addWidget(buttons);
}

QCheckBox* DerivedUnitsDialog::Check(const char* text) const {
  return findChild<QCheckBox*>(QString::fromLatin1(text));
}

QDoubleSpinBox* DerivedUnitsDialog::Number(const char* name) const {
  return findChild<QDoubleSpinBox*>(QString::fromLatin1(name));
}

DerivedUnitSettings DerivedUnitsDialog::Settings() const {
  DerivedUnitSettings s = initial_;
  s.depthOn = Check("Depth")->isChecked();
  s.depthSeawater = findChild<QRadioButton*>("Seawater")->isChecked();
  s.atmosphericPressure = Number("atmospheric")->value();
  s.density = Number("density")->value();
  s.latitudeDegrees = findChild<QSpinBox*>("latitudeDegrees")->value();
  s.latitudeMinutes = Number("latitudeMinutes")->value();
  s.salinityOn = Check("Salinity")->isChecked();
  s.hydrostaticPressure = Number("hydrostatic")->value();
  s.conductivityCorrectionOn = Check("Conductivity correction")->isChecked();
  s.specificConductivityOn = Check("Specific conductivity")->isChecked();
  s.densityAnomalyOn = Check("Density (kg/m3)")->isChecked();
  s.soundUnesco = Check("UNESCO")->isChecked();
  s.soundDelGrosso = Check("del Grosso")->isChecked();
  s.soundWilson = Check("Wilson")->isChecked();
  s.speedOfSoundOn = s.soundUnesco || s.soundDelGrosso || s.soundWilson;
  s.doUnitMlPerL = Check("ml/l")->isChecked();
  s.doUnitMgPerL = Check("mg/l")->isChecked();
  s.doUnitUMol = Check("\xB5Mol/l")->isChecked();
  s.dissolvedOxygenOn = s.doUnitMlPerL || s.doUnitMgPerL || s.doUnitUMol;
  s.doTemperature = Number("doTemperature")->value();
  s.doSalinity = Number("doSalinity")->value();
  s.optodeSaturationOn = Check("Optode saturation")->isChecked();
  s.optodeUnitMlPerL = Check("Optode ml/l")->isChecked();
  s.optodeUnitMgPerL = Check("Optode mg/l")->isChecked();
  s.optodeConcentrationOn = s.optodeUnitMlPerL || s.optodeUnitMgPerL;
  s.someDerivedUnitWanted = s.depthOn || s.salinityOn || s.conductivityCorrectionOn ||
                            s.specificConductivityOn || s.densityAnomalyOn || s.speedOfSoundOn ||
                            s.dissolvedOxygenOn || s.optodeSaturationOn || s.optodeConcentrationOn;
  return s;
}

EquationDialog::EquationDialog(const std::array<double, 4>& k, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Conductivity Correction Equation");
  auto* layout = new QVBoxLayout(this);
  auto* equation = new QLabel(
      "C<sub>cor</sub> = (C &minus; b (T &minus; T<sub>c</sub>)) / (1 + a (T &minus; "
      "T<sub>c</sub>) + c (P &minus; P<sub>atm</sub>))",
      this);
  equation->setTextFormat(Qt::RichText);
  layout->addWidget(equation);
  auto* grid = new QGridLayout;
  const char* names[4] = {"a", "b", "Tc", "c"};
  for (int i = 0; i < 4; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", k[static_cast<size_t>(i)]);
    grid->addWidget(new QLabel(QString::fromLatin1(names[i]) + " =", this), i, 0);
    auto* value = new QLabel(QString::fromLatin1(text), this);
    value->setObjectName(QString::fromLatin1(names[i]));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(value, i, 1);
  }
  layout->addLayout(grid);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace klx::ui
