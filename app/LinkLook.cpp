#include "app/LinkLook.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace qm {

QIcon MarkedIcon(const QIcon& base, bool lowerRight,
                 const std::function<void(QPainter&, const QRectF&)>& sign) {
  QIcon icon;
  const QList<QSize> sizes = base.availableSizes().isEmpty() ? QList<QSize>{{22, 22}} : base.availableSizes();
  for (const QSize& size : sizes) {
    QPixmap pixmap = base.pixmap(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const int d = std::max(6, size.width() * 5 / 8);
    const QRectF disc = lowerRight ? QRectF(size.width() - d, size.height() - d, d, d) : QRectF(0, 0, d, d);
    painter.setPen(QPen(Qt::white, std::max(1, d / 10)));
    painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
    painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    sign(painter, disc);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QIcon LinkDownIcon(const QIcon& base) {
  // A white bar on the disc: "no entry".
  return MarkedIcon(base, true, [](QPainter& painter, const QRectF& disc) {
    const qreal d = disc.width();
    painter.fillRect(QRectF(disc.left() + d / 5.0, disc.center().y() - d / 10.0, d * 3 / 5.0, d / 5.0),
                     Qt::white);
  });
}

void ShowLinkDown(QLabel& label, bool down) {
  label.setStyleSheet(down ? QStringLiteral("QLabel { background-color: #d32f2f; color: white; }")
                           : QString());
}

}  // namespace qm
