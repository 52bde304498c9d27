#pragma once
// The operator's own messages: a callsign and a text to send, checked as they are typed, and
// the messages sent with where each stands (sent, acknowledged, rejected, given up), one of
// them cancelled while it is still being sent.

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "app/GuardedRun.h"
#include "store/MessageStore.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm {

class TSendDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TSendDialog(QWidget* parent = nullptr);

  // Sends the text to the call: the message's number, or it throws why the desk refused.
  std::function<std::string(const std::string& to, const std::string& text)> Send;
  // The messages sent, oldest first.
  std::function<std::vector<TSentMessage>()> Sent;
  // Ends the sending of the message with this number.
  std::function<void(const std::string& number)> Cancel;
  // Runs a button's action; failures are reported there. Runs it plainly when empty.
  TActionGuard Guard;

  // Shown and brought forward, addressed to `to` when it is given (a reply), the text to type.
  void Compose(const QString& to = QString());
  // Reads the sent messages again.
  void Refresh();
  void btnSendClick();
  void btnCancelSentClick();

  QLineEdit* edSendTo = nullptr;
  QLineEdit* edSendText = nullptr;
  QLabel* lblSendProblem = nullptr;
  QPushButton* btnSend = nullptr;
  QListWidget* lbSent = nullptr;
  QPushButton* btnCancelSent = nullptr;

 private:
  void ShowProblem();
  void Run(const std::function<void()>& action) { RunGuarded(Guard, action); }

  std::vector<TSentMessage> FShown;
};

}  // namespace qm
