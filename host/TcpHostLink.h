// Common ground of the TCP transports: connect, read, and the timers that judge a link dead.
#pragma once

#include <QElapsedTimer>
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
  // The idle timer's end: down when nothing came since, else it waits the rest.
  void CheckIdle();

  QTcpSocket FSocket;
  QTimer FConnectTimer;
  QTimer FIdleTimer;
  QElapsedTimer FLastRead;  // since the last bytes came (or the connection was made)
};

}  // namespace qm
