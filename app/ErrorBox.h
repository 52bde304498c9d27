// The program's standard error report for failures of the operator's own actions.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm {

inline constexpr const char* kApplicationTitle = "Message Printing for UI-View32";

// The text the box shows: the message with a full stop added when it has none.
QString ErrorBoxText(const QString& message);

// A modal box titled with the application title, with an OK button.
void ShowErrorBox(QWidget* parent, const QString& message);

// The same box without waiting for it: for failures found while no one may be watching,
// so the program goes on handling packets while the box is open.
void ShowErrorBoxLater(QWidget* parent, const QString& message);

// Runs an action; a failure's message goes to report instead of escaping.
// Returns true when the action finished without a failure.
bool RunGuarded(const std::function<void()>& action, const std::function<void(const QString&)>& report);

}  // namespace qm
