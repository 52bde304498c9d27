// One running copy per data folder: a lock file in the folder, held while the program runs.
// A lock left by a copy that died (kill -9, a power cut) names a process that no longer
// runs and is taken over; a live one sends the new start away.
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
  // True when this process holds the folder now. False when a running copy holds it
  // (HeldElsewhere()) or the lock file cannot be made (Error() says why).
  bool Take();
  bool HeldElsewhere() const { return FHeldElsewhere; }
  const QString& Error() const { return FError; }
  // "Quillmark is already running with <folder>".
  QString AlreadyRunningText() const;

  // The holder's side: `show` runs when a later start asks for the window. Needs the
  // event loop; a failure to listen only costs that convenience.
  void ListenForShow(std::function<void()> show);
  // The later start's side: asks the holder to show its window; true when it took the request.
  bool AskHolderToShow(int timeoutMs = 1000) const;

  // The holder's side: `status` answers a later `--status` (after ListenForShow).
  void AnswerStatus(std::function<QByteArray()> status) { *FStatus = std::move(status); }
  // The asking side: the holder's answer, or nothing when no copy holds the folder or it did
  // not answer in time.
  std::optional<QByteArray> AskHolderStatus(int timeoutMs = 5000) const;

 private:
  QString ServerName() const;

  QString FFolder;
  QLockFile FLock;
  bool FHeldElsewhere = false;
  QString FError;
  std::unique_ptr<QLocalServer> FServer;
  std::shared_ptr<std::function<QByteArray()>> FStatus = std::make_shared<std::function<QByteArray()>>();
};

}  // namespace qm
