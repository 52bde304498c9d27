#include "app/LinkLook.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace qm {

QIcon LinkDownIcon(const QIcon& base) {
  QIcon icon;
  const QList<QSize> sizes = base.availableSizes().isEmpty() ? QList<QSize>{{22, 22}} : base.availableSizes();
  for (const QSize& size : sizes) {
    QPixmap pixmap = base.pixmap(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A disc over the lower right half of the corner, with a white bar: "no entry".
    const int d = std::max(6, size.width() * 5 / 8);
    const QRectF disc(size.width() - d, size.height() - d, d, d);
    painter.setPen(QPen(Qt::white, std::max(1, d / 10)));
    painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
    painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.fillRect(QRectF(disc.left() + d / 5.0, disc.center().y() - d / 10.0, d * 3 / 5.0, d / 5.0),
                     Qt::white);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void ShowLinkDown(QLabel& label, bool down) {
  label.setStyleSheet(down ? QStringLiteral("QLabel { background-color: #d32f2f; color: white; }")
                           : QString());
}

}  // namespace qm
