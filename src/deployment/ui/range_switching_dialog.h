#pragma once
// "KLX Logger - Range switching channel setup": auto-ranging or a fixed gain for each channel
// that switches ranges, two channels in view at a time. Opened from the setup dialog and from
// the live readings.
#include <functional>

class QWidget;

namespace klx {
class Session;
struct RangeSwitching;
namespace ui {

// Shows the dialog for the channels the tables offer; after OK the choices go into `ranges` and
// the tables are written to the logger (`beforeWrite`, when given, runs first: the live readings
// wait there for the logger to go to sleep). A failed write reads the tables back and says
// "Unable to set range switching mode as requested.\nTry again.". The channel letters and
// reading time of the connected logger follow the tables. False when no channel is offered or
// the dialog was cancelled.
bool EditRangeSwitching(QWidget* parent, Session& session, RangeSwitching& ranges,
                        const std::function<void()>& beforeWrite = {});

}  // namespace ui
}  // namespace klx
