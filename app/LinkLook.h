// A link that is down shows at a glance: a red mark on the tray icon and a red link label,
// not only words that a narrow label may cut.
#pragma once

#include <QIcon>
#include <QString>

class QLabel;

namespace qm {

// Whether a host link's state text says it is down: retrying, failed or never connected.
bool IsLinkDown(const QString& state);
// Whether it says packets can come now: connected or replaying.
bool IsLinkUp(const QString& state);
// `base` with a red mark in its lower right corner, in each of its sizes.
QIcon LinkDownIcon(const QIcon& base);
// The label red (white text) while the link is down, as the style has it otherwise.
void ShowLinkDown(QLabel& label, bool down);

}  // namespace qm
