#include "host/TcpHostLink.h"

#include <algorithm>

namespace qm {

TTcpHostLink::TTcpHostLink(const THostSettings& settings, QObject* parent)
    : TclsUIV(parent), FSettings(settings), FRetryMs(std::max(1, settings.RetryFirstMs)) {
  FRetryTimer.setSingleShot(true);
  FConnectTimer.setSingleShot(true);
  FIdleTimer.setSingleShot(true);
  connect(&FRetryTimer, &QTimer::timeout, this, &TTcpHostLink::Connect);
  connect(&FConnectTimer, &QTimer::timeout, this, [this] { Dropped("connection timed out"); });
  connect(&FIdleTimer, &QTimer::timeout, this, [this] { Dropped("nothing received for too long"); });
  connect(&FSocket, &QTcpSocket::connected, this, &TTcpHostLink::OnConnected);
  connect(&FSocket, &QTcpSocket::readyRead, this, &TTcpHostLink::OnReadyRead);
  connect(&FSocket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    Dropped(error == QAbstractSocket::RemoteHostClosedError ? QString("connection closed by server")
                                                            : FSocket.errorString());
  });
  connect(&FSocket, &QTcpSocket::disconnected, this, [this] { Dropped("connection closed"); });
}

TTcpHostLink::~TTcpHostLink() {
  // The socket outlives the timers; keep its last signals away from them.
  FRunning = false;
  FSocket.disconnect(this);
  FSocket.abort();
}

QString TTcpHostLink::Where() const {
  return QString::fromStdString(FSettings.Server) + ":" + QString::number(FSettings.EffectivePort());
}

void TTcpHostLink::WarnWhenQuiet() {
  FQuiet = std::make_unique<TQuietWatch>(*this, FSettings.QuietWarnMs);
}

void TTcpHostLink::Start() {
  Stop();
  if (QString error = SettingsError(); !error.isEmpty()) {
    emit StateChanged("Error: " + error);
    return;
  }
  const int port = FSettings.EffectivePort();
  if (port < 1 || port > 65535) {
    emit StateChanged("Error: port " + QString::number(port) + " is out of range (1 to 65535)");
    return;
  }
  FRunning = true;
  FRetryMs = std::max(1, FSettings.RetryFirstMs);
  Connect();
}

void TTcpHostLink::Stop() {
  FRunning = false;
  FRetryTimer.stop();
  FConnectTimer.stop();
  FIdleTimer.stop();
  if (FQuiet) FQuiet->Stop();
  FSocket.abort();
  FPending.clear();
}

void TTcpHostLink::Connect() {
  if (!FRunning) return;
  ResetDecoder();
  emit StateChanged("Connecting");
  FSocket.abort();
  if (FSettings.ConnectTimeoutMs > 0) FConnectTimer.start(FSettings.ConnectTimeoutMs);
  FSocket.connectToHost(QString::fromStdString(FSettings.Server),
                        static_cast<quint16>(FSettings.EffectivePort()));
}

void TTcpHostLink::OnConnected() {
  FConnectTimer.stop();
  FUpSince.start();
  if (IdleTimeoutMs() > 0) FIdleTimer.start(IdleTimeoutMs());
  emit StateChanged("Connected");
  if (FQuiet) FQuiet->Start("Connected");
  Connected();
}

void TTcpHostLink::Dropped(const QString& reason) {
  // A drop is reported by several socket signals at once; act on the first.
  if (!FRunning || FRetryTimer.isActive()) return;
  FConnectTimer.stop();
  FIdleTimer.stop();
  if (FQuiet) FQuiet->Stop();
  const int retryMax = std::max(1, FSettings.RetryMaxMs);
  if (FUpSince.isValid() && FUpSince.elapsed() >= FSettings.StableMs)
    FRetryMs = std::max(1, FSettings.RetryFirstMs);
  FUpSince.invalidate();
  const int wait = std::min(FRetryMs, retryMax);
  FRetryMs = std::min(retryMax, FRetryMs * 2);
  FRetryTimer.start(wait);
  FSocket.abort();
  emit StateChanged("Retrying in " + DurationText(wait) + ": " + reason);
}

void TTcpHostLink::OnReadyRead() {
  while (FRunning && FSocket.bytesAvailable() > 0) {
    const QByteArray bytes = FSocket.read(64 * 1024);
    if (bytes.isEmpty()) break;
    if (IdleTimeoutMs() > 0) FIdleTimer.start(IdleTimeoutMs());
    Received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
}

void TTcpHostLink::Send(const std::string& bytes) {
  FSocket.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void TTcpHostLink::Deliver(std::string text) {
  if (FPending.size() >= MaxPending) FPending.pop_front();
  FPending.push_back(std::move(text));
  Drain();
}

void TTcpHostLink::Drain() {
  // A handler that spins a nested event loop would otherwise see the next packet inside its
  // own call and read the wrong PacketText afterwards.
  if (FDraining) return;
  FDraining = true;
  while (FRunning && !FPending.empty()) {
    FPacketText = std::move(FPending.front());
    FPending.pop_front();
    emit OnDataAvailable();
  }
  FDraining = false;
}

}  // namespace qm
