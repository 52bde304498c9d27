// A text label that behaves like a link in a web page: it changes colour while the
// pointer is over it or a button is held on it, and opens its address when clicked.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <functional>

namespace qm {

class TUrlLabel : public QLabel {
  Q_OBJECT

 public:
  // Hands an address to whatever opens it; the default is the desktop's browser.
  using TOpener = std::function<void(const QString&)>;

  explicit TUrlLabel(QWidget* parent = nullptr);
  explicit TUrlLabel(const QString& caption, QWidget* parent = nullptr);

  const QString& URL() const { return FURL; }
  void SetURL(const QString& value) { FURL = value; }

  const QColor& LinkColor() const { return FLinkColor; }
  void SetLinkColor(const QColor& value);
  const QColor& ALinkColor() const { return FALinkColor; }
  void SetALinkColor(const QColor& value) { FALinkColor = value; }
  const QColor& HotColor() const { return FHotColor; }
  void SetHotColor(const QColor& value) { FHotColor = value; }
  const QColor& VLinkColor() const { return FVLinkColor; }
  void SetVLinkColor(const QColor& value);

  bool Visited() const { return FVisited; }
  bool Pressed() const { return FPressed; }
  bool Hovering() const { return FHovering; }

  // The text colour: the WindowText colour of the label's palette.
  QColor FontColor() const;
  void SetFontColor(const QColor& value);

  void SetOpener(TOpener opener);
  // What a click opens: URL, or the caption when URL is empty.
  QString Target() const;

  static void OpenWithDesktop(const QString& address);

 protected:
  // Runs at each release before the colour rules; TPayPalLabel builds its address here.
  virtual void BeforeRelease() {}

  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QColor RestingColor() const { return FVisited ? FVLinkColor : FLinkColor; }

  QString FURL;
  QColor FLinkColor{0, 0, 255};
  QColor FALinkColor{255, 0, 0};
  QColor FHotColor{255, 0, 0};
  QColor FVLinkColor{0, 0, 128};
  bool FVisited = false;
  bool FPressed = false;
  bool FHovering = false;
  TOpener FOpener;
};

}  // namespace qm
