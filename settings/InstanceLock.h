// One running copy per data folder: a lock file in the folder, held while the program runs,
// and a local socket named after the folder that the holder listens on from the moment it
// takes the lock. A lock left by a copy that died (kill -9, a power cut) is taken over: its
// process no longer runs, or its number now belongs to another process (another copy of the
// program on another folder too), which does not answer on this folder's socket. A live
// holder sends the new start away.
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
  // The later start's side: asks the holder to show its window; true when it took the request.
  bool AskHolderToShow(int timeoutMs = 1000) const;

  // The holder's side: `status` answers a later `--status` (after ListenForShow).
  void AnswerStatus(std::function<QByteArray()> status) { FStatus = std::move(status); }
  // The asking side: the holder's answer, or nothing when no copy holds the folder or it did
  // not answer in time.
  std::optional<QByteArray> AskHolderStatus(int timeoutMs = 5000) const;

 private:
  QString ServerName() const;
  void Listen();
  // A holder listens on this folder's socket.
  bool HolderAnswers(int timeoutMs) const;

  QString FFolder;
  QLockFile FLock;
  bool FHeldElsewhere = false;
  QString FError;
  std::unique_ptr<QLocalServer> FServer;
  std::function<void()> FShow;
  std::function<QByteArray()> FStatus;
};

}  // namespace qm
