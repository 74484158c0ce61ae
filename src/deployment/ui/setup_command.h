#pragma once
// The menu commands of the deployment: "&Setup" (with the simulation dialogs when no logger
// answers), "&Engineering units" and "Sampling &LED control".
class QWidget;

namespace klx {
class Session;
class Host;

namespace ui {
// "&Setup": connects; with a logger opens the setup dialog on it, otherwise offers a simulated
// model and opens the setup dialog on that. Returns when the dialog is closed.
void RunSetupCommand(QWidget* parent, Session& session, Host& host);
// "&Engineering units".
void RunEngineeringUnitsCommand(QWidget* parent, Session& session, Host& host);
// "Sampling &LED control".
void RunSamplingLedCommand(QWidget* parent, Session& session, Host& host);
}  // namespace ui
}  // namespace klx
