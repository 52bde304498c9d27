// Common ground of the TCP transports: connect, read, reconnect with a growing wait.
#pragma once

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <string_view>

#include "host/HostLink.h"
#include "host/QuietWatch.h"

namespace qm {

class TTcpHostLink : public TclsUIV {
  Q_OBJECT

 public:
  TTcpHostLink(const THostSettings& settings, QObject* parent);
  ~TTcpHostLink() override;

  std::string PacketText() override { return FPacketText; }
  void FillMyInfo(TclsMyInfo& info) override { info.SetMyCallsign(FSettings.Callsign); }
  void Start() override;
  void Stop() override;
  QString SourcePlace() const override { return Where(); }

  // Packets held back while a handler of OnDataAvailable runs a nested event loop.
  static constexpr std::size_t MaxPending = 10000;

 protected:
  // Checks what the transport needs before connecting; a message means it cannot start.
  virtual QString SettingsError() const { return {}; }
  virtual void Connected() {}
  // Bytes as they arrive; the transport hands packet lines to Deliver.
  virtual void Received(std::string_view bytes) = 0;
  // Forget half-received data before a new connection.
  virtual void ResetDecoder() = 0;
  // Silence this long (ms) means a dead link; 0 = none.
  virtual int IdleTimeoutMs() const { return 0; }

  // Call once from the constructor: a connection that hands over no packet for
  // THostSettings::QuietWarnMs then says so in its state.
  void WarnWhenQuiet();
  // Hands one packet text over through OnDataAvailable, in order, one at a time.
  void Deliver(std::string text);
  void Send(const std::string& bytes);

  const THostSettings FSettings;

 private:
  void Connect();
  void Dropped(const QString& reason);
  void OnConnected();
  void OnReadyRead();
  void Drain();
  QString Where() const;

  QTcpSocket FSocket;
  QTimer FRetryTimer;
  QTimer FConnectTimer;
  QTimer FIdleTimer;
  QElapsedTimer FUpSince;
  int FRetryMs;
  bool FRunning = false;
  bool FDraining = false;
  std::deque<std::string> FPending;
  std::string FPacketText;
  std::unique_ptr<TQuietWatch> FQuiet;
};

}  // namespace qm
