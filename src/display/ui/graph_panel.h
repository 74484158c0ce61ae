#pragma once
// The graph area of the main window: the plot, its scales and time axis, the scroll bars, the
// zoom buttons, "ALL", "Depth Plot" and the channel buttons. Children stand where the main
// window's layout puts them (the plot at 160, 20); the panel paints the texts around the plot.
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <functional>
#include <map>

#include "display/graph_view.h"

class QRubberBand;

namespace klx::ui {

// Colour of channel i's pens and button (the eight-colour table, i mod 8).
QColor ChannelColour(int channel);

class PlotArea;

class GraphPanel : public QWidget {
  Q_OBJECT
 public:
  GraphPanel(GraphView& view, QWidget* parent = nullptr);

  // Re-reads the view after its data or scales changed: buttons, scroll bars, repaint.
  void Refresh();
  // The graph commands: 136 zoom in, 137 zoom out, 138 reset, 139/140 page left/right,
  // 144 "ALL", 145 "Depth Plot", 666..689 the channel buttons. False for any other id.
  bool RunGraphCommand(int id);
  // The button of a command id (nullptr when there is none).
  QPushButton* Button(int id) const;
  QScrollBar* HorizontalBar() const { return hbar_; }
  QScrollBar* VerticalBar() const { return vbar_; }
  // The up-down control at (120, 270): steps the vertical offset a division at a time, as the
  // vertical scroll bar does.
  QSpinBox* UpDown() const { return upDown_; }
  QWidget* Plot() const;

  // Unit texts depend on the logger and the derived settings.
  std::function<UnitTextContext()> unitContext;
  // Tells the main window about a message for the status line (depth plot refused, ...).
  std::function<void(const std::string&)> status;
  // A highlight range changed (Shift held while dragging over the plot).
  std::function<void()> highlightChanged;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class PlotArea;
  QPushButton* AddButton(int id, const QString& text, QRect where);
  void UpdateScrollBars();

  GraphView& view_;
  PlotArea* plot_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  QScrollBar* vbar_ = nullptr;
  QSpinBox* upDown_ = nullptr;
  std::map<int, QPushButton*> buttons_;
  bool updatingBars_ = false;
};

}  // namespace klx::ui
