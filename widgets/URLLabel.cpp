#include "widgets/URLLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QUrl>

namespace qm {

TUrlLabel::TUrlLabel(QWidget* parent) : TUrlLabel(QString(), parent) {}

TUrlLabel::TUrlLabel(const QString& caption, QWidget* parent)
    : QLabel(caption, parent), FOpener(&TUrlLabel::OpenWithDesktop) {
  setCursor(Qt::PointingHandCursor);
  // The colour first: the font change below takes the current colour as the link colour.
  SetFontColor(FLinkColor);
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
}

// The value is always kept; the visible colour follows only while the label is at rest,
// so a colour assigned during a hover is not lost when the pointer leaves.
void TUrlLabel::SetLinkColor(const QColor& value) {
  FLinkColor = value;
  if (!FVisited && !FPressed && !FHovering) SetFontColor(value);
}

void TUrlLabel::SetVLinkColor(const QColor& value) {
  FVLinkColor = value;
  if (FVisited && !FPressed && !FHovering) SetFontColor(value);
}

QColor TUrlLabel::FontColor() const {
  return palette().color(QPalette::WindowText);
}

void TUrlLabel::SetFontColor(const QColor& value) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, value);
  setPalette(p);  // raises PaletteChange, which applies the font-change rule
}

void TUrlLabel::SetOpener(TOpener opener) {
  FOpener = std::move(opener);
}

QString TUrlLabel::Target() const {
  return FURL.isEmpty() ? text() : FURL;
}

void TUrlLabel::OpenWithDesktop(const QString& address) {
  // Keep an address that is already escaped as it is; a bare host name gets a scheme.
  QUrl url = QUrl::fromEncoded(address.toUtf8(), QUrl::TolerantMode);
  if (url.scheme().isEmpty()) url = QUrl::fromUserInput(address);
  QDesktopServices::openUrl(url);
}

void TUrlLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  FPressed = true;
  SetFontColor(FALinkColor);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
  BeforeRelease();
  QLabel::mouseReleaseEvent(event);
  const QPointF pos = event->position();
  const bool outside = pos.x() < 0 || pos.y() < 0 || pos.x() > width() || pos.y() > height();
  if (outside) {
    SetFontColor(RestingColor());
  } else if (FPressed) {
    FVisited = true;
    SetFontColor(FVLinkColor);
    if (FOpener) FOpener(Target());
  }
  FPressed = false;
}

void TUrlLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  FHovering = true;
  SetFontColor(FPressed ? FALinkColor : FHotColor);
}

void TUrlLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  SetFontColor(RestingColor());
  FHovering = false;
}

void TUrlLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() != QEvent::FontChange && event->type() != QEvent::PaletteChange) return;
  // A colour given from outside while the label is at rest becomes its link colour.
  if (FPressed || FHovering) return;
  if (FVisited)
    FVLinkColor = FontColor();
  else
    FLinkColor = FontColor();
}

}  // namespace qm
