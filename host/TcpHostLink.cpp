#include "host/TcpHostLink.h"

namespace qm {

TTcpHostLink::TTcpHostLink(const THostSettings& settings, QObject* parent)
    : TStreamHostLink(settings, parent) {
  FConnectTimer.setSingleShot(true);
  FIdleTimer.setSingleShot(true);
  connect(&FConnectTimer, &QTimer::timeout, this, [this] { LinkDown("connection timed out"); });
  connect(&FIdleTimer, &QTimer::timeout, this, [this] { LinkDown("nothing received for too long"); });
  // A feed faster than the desk judges waits in the kernel and at the server, not in this
  // program: the socket takes at most this much before the packets read last were handed over
  // and the event loop came round again. Unbounded, a burst became hundreds of MiB of packets
  // waiting in the event queue, and the heap kept them after the burst.
  FSocket.setReadBufferSize(kReadBuffer);
  connect(&FSocket, &QTcpSocket::connected, this, &TTcpHostLink::OnConnected);
  FReadPace.setSingleShot(true);
  FReadPace.setInterval(kReadEveryMs);
  connect(&FReadPace, &QTimer::timeout, this, &TTcpHostLink::EndReadPace);
  connect(&FSocket, &QTcpSocket::readyRead, this, [this] {
    if (IdleTimeoutMs() > 0) FIdleTimer.start(IdleTimeoutMs());
    if (!FReadPace.isActive()) Read();
  });
  connect(&FSocket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    LinkDown(error == QAbstractSocket::RemoteHostClosedError ? QString("connection closed by server")
                                                             : FSocket.errorString());
  });
  connect(&FSocket, &QTcpSocket::disconnected, this, [this] { LinkDown("connection closed"); });
}

TTcpHostLink::~TTcpHostLink() {
  // The socket outlives the timers; keep its last signals away from them.
  FSocket.disconnect(this);
  FSocket.abort();
}

QString TTcpHostLink::SettingsError() const {
  const int port = FSettings.EffectivePort();
  if (port < 1 || port > 65535) return "port " + QString::number(port) + " is out of range (1 to 65535)";
  return {};
}

QString TTcpHostLink::Where() const {
  return QString::fromStdString(FSettings.EffectiveServer()) + ":" +
         QString::number(FSettings.EffectivePort());
}

void TTcpHostLink::Open() {
  if (FSettings.ConnectTimeoutMs > 0) FConnectTimer.start(FSettings.ConnectTimeoutMs);
  FSocket.connectToHost(QString::fromStdString(FSettings.EffectiveServer()),
                        static_cast<quint16>(FSettings.EffectivePort()));
}

void TTcpHostLink::Close() {
  FConnectTimer.stop();
  FIdleTimer.stop();
  FSocket.abort();
  FReadPace.stop();
  FSocket.setReadBufferSize(kReadBuffer);
}

void TTcpHostLink::Read() {
  const qint64 had = FSocket.bytesAvailable();
  ReadAll(FSocket);
  // A feed catching up is read on at once; what is left unread (the intake held) is read on
  // resuming.
  if (had >= kPaceBelow || FSocket.bytesAvailable() > 0) return;
  // The socket takes one more byte and then leaves the rest in the kernel, unwoken, until the
  // pace ends (a socket's buffer of 0 would be unbounded).
  if (FSocket.state() != QAbstractSocket::ConnectedState) return;
  FSocket.setReadBufferSize(1);
  FReadPace.start();
}

void TTcpHostLink::EndReadPace() {
  // Room again: the socket reads what waits in the kernel and says so with readyRead, which
  // reads it all and starts the next pace.
  FSocket.setReadBufferSize(kReadBuffer);
  // The byte it took during the pace, should nothing more wait behind it, is read too; without
  // a pace, so a readyRead after it is not held back.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!FReadPace.isActive() && FSocket.bytesAvailable() > 0) ReadAll(FSocket);
      },
      Qt::QueuedConnection);
}

void TTcpHostLink::OnConnected() {
  FConnectTimer.stop();
  if (IdleTimeoutMs() > 0) FIdleTimer.start(IdleTimeoutMs());
  LinkUp();
  Connected();
}

QString TTcpHostLink::Write(const std::string& bytes) {
  if (FSocket.state() != QAbstractSocket::ConnectedState) return QStringLiteral("not connected");
  if (FSocket.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
    return FSocket.errorString();
  FSocket.flush();
  return {};
}

}  // namespace qm
