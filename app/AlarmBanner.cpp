#include "app/AlarmBanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "app/LinkLook.h"

namespace qm {

QIcon AlarmIcon(const QIcon& base) {
  // A white "!" on the disc: a bar and a dot.
  return MarkedIcon(base, false, [](QPainter& painter, const QRectF& disc) {
    const qreal d = disc.width();
    const qreal w = d / 6.0;
    painter.fillRect(QRectF(disc.center().x() - w / 2, disc.top() + d * 0.2, w, d * 0.38), Qt::white);
    painter.fillRect(QRectF(disc.center().x() - w / 2, disc.top() + d * 0.66, w, w), Qt::white);
  });
}

TAlarmBanner::TAlarmBanner(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("AlarmBanner"));
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0xd3, 0x2f, 0x2f));
  p.setColor(QPalette::WindowText, Qt::white);
  setPalette(p);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 2, 2, 2);
  row->setSpacing(6);
  lblAlarm = new QLabel;
  lblAlarm->setObjectName(QStringLiteral("lblAlarm"));
  {
    QFont bold = lblAlarm->font();
    bold.setBold(true);
    lblAlarm->setFont(bold);
  }
  // A long text is cut at the label's end rather than widening the window; the tip holds it all.
  lblAlarm->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblMore = new QLabel;
  lblMore->setObjectName(QStringLiteral("lblMore"));
  btnAcknowledge = new QPushButton(QStringLiteral("Acknowledge"));
  btnAcknowledge->setObjectName(QStringLiteral("btnAcknowledge"));
  btnAcknowledge->setToolTip(QStringLiteral("Stops this alarm; it is kept as acknowledged by you"));
  btnAcknowledgeAll = new QPushButton(QStringLiteral("Acknowledge all"));
  btnAcknowledgeAll->setObjectName(QStringLiteral("btnAcknowledgeAll"));
  btnAcknowledgeAll->setToolTip(QStringLiteral("Stops every alarm that sounds"));
  row->addWidget(lblAlarm, 1);
  row->addWidget(lblMore);
  row->addWidget(btnAcknowledge);
  row->addWidget(btnAcknowledgeAll);
  connect(btnAcknowledge, &QPushButton::clicked, this, [this] {
    if (FId >= 0 && Acknowledge) Acknowledge(FId);
  });
  connect(btnAcknowledgeAll, &QPushButton::clicked, this, [this] {
    if (AcknowledgeAll) AcknowledgeAll();
  });
  setVisible(false);
}

void TAlarmBanner::ShowAlarm(std::int64_t id, const QString& text, int more) {
  FId = id;
  FText = text;
  lblAlarm->setToolTip(text);
  FitText();
  lblMore->setText(more > 0 ? QStringLiteral("%1 more").arg(more) : QString());
  lblMore->setVisible(more > 0);
  btnAcknowledgeAll->setVisible(more > 0);
  setVisible(true);
}

void TAlarmBanner::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  FitText();
}

void TAlarmBanner::FitText() {
  lblAlarm->setText(lblAlarm->fontMetrics().elidedText(FText, Qt::ElideRight, lblAlarm->width()));
}

void TAlarmBanner::ShowNone() {
  FId = -1;
  setVisible(false);
}

}  // namespace qm
