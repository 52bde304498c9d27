#pragma once
// The board's keys for other positions, kept in the same file the command line keeps them in:
// listed with their rights, a new one made (read only or able to act) with the address to hand
// over, one revoked. A running board reads the file again at its next request, so a key made
// here opens it at once and a revoked one stops at once.

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "app/GuardedRun.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace qm {

class TBoardKeysDialog : public QDialog {
  Q_OBJECT

 public:
  // `keyFile` holds the keys; `handOver` makes the address that opens the board with a key.
  TBoardKeysDialog(std::string keyFile, std::function<QString(const std::string& key)> handOver,
                   QWidget* parent = nullptr);

  // Asks before a key is revoked or replaced; a question box when empty.
  std::function<bool(const QString& question)> Confirm;
  // Runs a button's action; failures are reported there. Runs it plainly when empty.
  TActionGuard Guard;
  // Told after each key made or revoked, so the board notices at once.
  std::function<void()> Changed;

  // Shown and brought forward with the keys read again.
  void ShowKeys();
  // Reads the file again.
  void Refresh();
  void btnMakeKeyClick();
  void btnRevokeKeyClick();
  void btnCopyKeyUrlClick();

  QTreeWidget* tvKeys = nullptr;
  QLineEdit* edKeyName = nullptr;
  QCheckBox* cbKeyCanAct = nullptr;
  QPushButton* btnMakeKey = nullptr;
  QLabel* lblKeyProblem = nullptr;
  QLineEdit* edKeyUrl = nullptr;
  QPushButton* btnCopyKeyUrl = nullptr;
  QPushButton* btnRevokeKey = nullptr;

 private:
  void ShowProblem();
  void Run(const std::function<void()>& action) { RunGuarded(Guard, action); }
  bool Ask(const QString& question);

  const std::string FKeyFile;
  const std::function<QString(const std::string&)> FHandOver;
};

}  // namespace qm
