// The red line above the message list while an alarm sounds: the newest alarm (its kind, its
// sender and its text), how many more wait, and the buttons that acknowledge it or all of
// them. It shows what it is given; the desk decides what sounds.
#pragma once

#include <QFrame>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

namespace qm {

// `base` with the alarm's mark, a red disc with a white "!" in its upper left corner, in each
// of its sizes (the tray's icon while an alarm sounds).
QIcon AlarmIcon(const QIcon& base);

class TAlarmBanner : public QFrame {
  Q_OBJECT

 public:
  explicit TAlarmBanner(QWidget* parent = nullptr);

  // Shows `text` for the alarm `id` with `more` others behind it; hidden with ShowNone.
  void ShowAlarm(std::int64_t id, const QString& text, int more);
  void ShowNone();
  // The alarm shown, or -1.
  std::int64_t ShownId() const { return FId; }

  // The buttons' work: the alarm shown, or every one.
  std::function<void(std::int64_t id)> Acknowledge;
  std::function<void()> AcknowledgeAll;

  QLabel* lblAlarm = nullptr;
  QLabel* lblMore = nullptr;
  QPushButton* btnAcknowledge = nullptr;
  QPushButton* btnAcknowledgeAll = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The text cut to the label's width with an ellipsis; the tip holds it whole.
  void FitText();

  std::int64_t FId = -1;
  QString FText;
};

}  // namespace qm
