// Common ground of the TCP transports: connect, read, and the timers that judge a link dead.
#pragma once

#include <QTcpSocket>
#include <QTimer>

#include "host/StreamHostLink.h"

namespace qm {

class TTcpHostLink : public TStreamHostLink {
  Q_OBJECT

 public:
  TTcpHostLink(const THostSettings& settings, QObject* parent);
  ~TTcpHostLink() override;

 protected:
  // The most the socket holds unread: about 800 APRS-IS lines.
  static constexpr qint64 kReadBuffer = 64 * 1024;
  // After a read of less than kPaceBelow bytes, what comes within kReadEveryMs waits in the
  // kernel and is read in one go at its end: a busy feed wakes the program about once a
  // second, not once a line. A line after a quiet spell is read at once, and a feed catching
  // up (a bigger read) without a pause. The times shown and the 20-second repeat window count
  // from the read, so a line is at most this late.
  static constexpr int kReadEveryMs = 1000;
  static constexpr qint64 kPaceBelow = 16 * 1024;

  QString SettingsError() const override;
  virtual void Connected() {}
  // Silence this long (ms) means a dead link; 0 = none.
  virtual int IdleTimeoutMs() const { return 0; }

  QString Write(const std::string& bytes) override;

 private:
  QString Where() const override;
  void Open() override;
  void Close() override;
  void OnConnected();
  void Read();
  void EndReadPace();

  QTcpSocket FSocket;
  QTimer FReadPace;
  QTimer FConnectTimer;
  QTimer FIdleTimer;
};

}  // namespace qm
