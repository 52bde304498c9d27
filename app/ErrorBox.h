// The program's standard error report for failures of the operator's own actions.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm {

class TInstanceLock;

inline constexpr const char* kApplicationTitle = "Message Printing for UI-View32";

// The text the box shows: the message with a full stop added when it has none.
QString ErrorBoxText(const QString& message);

// A modal box titled with the application title, with an OK button.
void ShowErrorBox(QWidget* parent, const QString& message);

// A box with the same title for what is no failure (another copy runs): an information icon.
void ShowNoticeBox(QWidget* parent, const QString& message);

// What the box of a start beside a running copy says: the folder, the process, whether it has
// a window, and the board it serves at `boardUrl` (shown without its token), if any.
QString AlreadyRunningBoxText(const TInstanceLock& lock, bool withoutWindow, const QString& boardUrl);

// The same box without waiting for it: for failures found while no one may be watching,
// so the program goes on handling packets while the box is open.
void ShowErrorBoxLater(QWidget* parent, const QString& message);

// Runs an action; a failure's message goes to report instead of escaping.
// Returns true when the action finished without a failure.
bool RunGuarded(const std::function<void()>& action, const std::function<void(const QString&)>& report);

}  // namespace qm
