#pragma once
// The menu commands of the deployment: "&Setup" (with the simulation dialogs when no logger
// answers), "&Engineering units" and "Sampling &LED control".
#include "deployment/enable.h"

class QWidget;

namespace klx {
class Session;
class Host;

namespace ui {
// After the setup dialog closed with `step`: posts the real-time display (binary output), the
// live readings (engineering-units output) or the save of retrieved data; with `restartDisplay`
// starts the display of a logging logger again first.
void FollowSetup(Session& session, Host& host, const LoggerSetup& setup, EnableStep step,
                 bool restartDisplay);
// "&Setup": connects; with a logger opens the setup dialog on it, otherwise offers a simulated
// model and opens the setup dialog on that. Returns when the dialog is closed.
void RunSetupCommand(QWidget* parent, Session& session, Host& host);
// "&Engineering units".
void RunEngineeringUnitsCommand(QWidget* parent, Session& session, Host& host);
// "Sampling &LED control".
void RunSamplingLedCommand(QWidget* parent, Session& session, Host& host);
}  // namespace ui
}  // namespace klx
