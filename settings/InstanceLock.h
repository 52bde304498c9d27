// One running copy per data folder: a lock file in the folder, held while the program runs,
// and a local socket the holder listens on from the moment it takes the lock. The socket lives
// where only this user can make one (beside the lock in the private data folder, else in
// $XDG_RUNTIME_DIR), and an asker believes only the lock's holder of its own user on it. A
// lock left by a copy that died (kill -9, a power cut) is taken over: its process no longer
// runs, or its number now belongs to another process (another copy of the program on another
// folder too), which does not answer as the holder on this folder's socket. A live holder
// sends the new start away.
#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;

namespace qm {

class TInstanceLock {
 public:
  static constexpr const char* kFileName = "Quillmark.lock";

  explicit TInstanceLock(QString folder);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  const QString& Folder() const { return FFolder; }
  // True when this process holds the folder now (and listens on its socket). False when a
  // running copy holds it (HeldElsewhere()) or the lock file cannot be made (Error() says why).
  bool Take();
  bool HeldElsewhere() const { return FHeldElsewhere; }
  const QString& Error() const { return FError; }
  // "Quillmark is already running with <folder>".
  QString AlreadyRunningText() const;

  // The holder's side: `show` runs when a later start asks for the window. Needs the
  // event loop; a failure to listen costs that convenience, and a later start then trusts
  // the lock file alone.
  void ListenForShow(std::function<void()> show);
  // Why the holder listens on no socket, "" when it does (after Take).
  const QString& ListenError() const { return FListenError; }
  // The later start's side: asks the holder to show its window. saNotReached: no holder's
  // socket took the request; saNoWindow: the holder runs without a window (--no-window).
  enum class TShowAnswer { saNotReached, saShown, saNoWindow };
  using enum TShowAnswer;
  TShowAnswer AskHolderToShow(int timeoutMs = 1000) const;

  // The holder's side: `status` answers a later `--status` (after ListenForShow).
  void AnswerStatus(std::function<QByteArray()> status) { FStatus = std::move(status); }
  struct TStatusReply {
    enum TKind {
      srNone,      // no socket of the holder reached
      srSilent,    // the holder took the question and did not answer within the bound
      srAnswered,  // Answer is the holder's
    };
    TKind Kind = srNone;
    QByteArray Answer;
    // Something that answered and is not the holder, said so; "" otherwise.
    QString Stranger;
  };
  // The asking side: the answer of the lock's holder alone.
  TStatusReply AskHolderStatus(int timeoutMs = 5000) const;
  // The holder's side: `acknowledge` answers a later `--acknowledge` with the text after the
  // word ("" for every alarm, else the number as asked) and the account of the user who asks.
  void AnswerAcknowledge(std::function<QByteArray(const QByteArray& which, const QString& who)> acknowledge) {
    FAcknowledge = std::move(acknowledge);
  }
  // The asking side: `which` as above, answered by the lock's holder alone.
  TStatusReply AskHolderToAcknowledge(const QByteArray& which, int timeoutMs = 5000) const;
  // The same for a later `--send CALL TEXT`: `send` gets "CALL TEXT" as asked and the account.
  void AnswerSend(std::function<QByteArray(const QByteArray& message, const QString& who)> send) {
    FSend = std::move(send);
  }
  TStatusReply AskHolderToSend(const QByteArray& call, const QByteArray& text, int timeoutMs = 5000) const;
  // The same for a later `--cancel-send N`: `cancel` gets the number as asked and the account.
  void AnswerCancelSend(std::function<QByteArray(const QByteArray& number, const QString& who)> cancel) {
    FCancelSend = std::move(cancel);
  }
  TStatusReply AskHolderToCancelSend(const QByteArray& number, int timeoutMs = 5000) const;
  // The process that holds the lock, 0 when none runs (a lock file left by a dead one).
  qint64 HolderProcess() const;

 private:
  void Listen();
  // A socket of the lock's holder answers, `stranger` says who else did.
  bool HolderAnswers(int timeoutMs, QString* stranger = nullptr) const;
  TStatusReply AskHolder(const QByteArray& request, int timeoutMs) const;

  QString FFolder;
  QLockFile FLock;
  bool FHeldElsewhere = false;
  QString FError;
  QString FListenError;
  std::unique_ptr<QLocalServer> FServer;
  // The folder a long socket path is reached through, open while the server is.
  int FSocketFolder = -1;
  std::function<void()> FShow;
  std::function<QByteArray()> FStatus;
  std::function<QByteArray(const QByteArray&, const QString&)> FAcknowledge;
  std::function<QByteArray(const QByteArray&, const QString&)> FSend;
  std::function<QByteArray(const QByteArray&, const QString&)> FCancelSend;
};

}  // namespace qm
