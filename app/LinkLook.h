// A link that is down shows at a glance: a red mark on the tray icon and a red link label,
// not only words that a narrow label may cut.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

#include "run/PacketSources.h"

class QLabel;
class QPainter;
class QRectF;

namespace qm {

// `base` in each of its sizes with a red disc, a white rim and `sign` on it (drawn in the
// disc's rectangle), over the corner that `lowerRight` says or else the upper left.
QIcon MarkedIcon(const QIcon& base, bool lowerRight,
                 const std::function<void(QPainter&, const QRectF&)>& sign);
// `base` with a red mark in its lower right corner, in each of its sizes.
QIcon LinkDownIcon(const QIcon& base);
// The label red (white text) while the link is down, as the style has it otherwise.
void ShowLinkDown(QLabel& label, bool down);

}  // namespace qm
