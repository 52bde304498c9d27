// A link that is down shows at a glance: a red mark on the tray icon and a red link label,
// not only words that a narrow label may cut.
#pragma once

#include <QIcon>
#include <QString>

#include "run/PacketSources.h"

class QLabel;

namespace qm {

// `base` with a red mark in its lower right corner, in each of its sizes.
QIcon LinkDownIcon(const QIcon& base);
// The label red (white text) while the link is down, as the style has it otherwise.
void ShowLinkDown(QLabel& label, bool down);

}  // namespace qm
