#include "host/TcpHostLink.h"

namespace qm {

TTcpHostLink::TTcpHostLink(const THostSettings& settings, QObject* parent)
    : TStreamHostLink(settings, parent) {
  FConnectTimer.setSingleShot(true);
  FIdleTimer.setSingleShot(true);
  connect(&FConnectTimer, &QTimer::timeout, this, [this] { LinkDown("connection timed out"); });
  connect(&FIdleTimer, &QTimer::timeout, this, &TTcpHostLink::CheckIdle);
  // A feed faster than the desk judges waits in the kernel and at the server, not in this
  // program: the socket takes at most this much before the packets read last were handed over
  // and the event loop came round again. Unbounded, a burst became hundreds of MiB of packets
  // waiting in the event queue, and the heap kept them after the burst.
  FSocket.setReadBufferSize(kReadBuffer);
  connect(&FSocket, &QTcpSocket::connected, this, &TTcpHostLink::OnConnected);
  // Read as it comes: a wanted line waits in no buffer of ours. Everything the socket holds
  // is taken in one go, so a busy feed wakes the program once per arrival, not once a line,
  // and the desk judges what one read brought with one call.
  connect(&FSocket, &QTcpSocket::readyRead, this, [this] {
    // A clock read: the idle timer is not restarted at every arrival, it waits out the rest.
    FLastRead.restart();
    ReadAll(FSocket);
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
}

void TTcpHostLink::OnConnected() {
  FConnectTimer.stop();
  FLastRead.start();
  if (IdleTimeoutMs() > 0) FIdleTimer.start(IdleTimeoutMs());
  LinkUp();
  Connected();
}

void TTcpHostLink::CheckIdle() {
  const qint64 quiet = FLastRead.elapsed();
  if (quiet < IdleTimeoutMs()) {
    FIdleTimer.start(static_cast<int>(IdleTimeoutMs() - quiet));
    return;
  }
  LinkDown("nothing received for too long");
}

QString TTcpHostLink::Write(const std::string& bytes) {
  if (FSocket.state() != QAbstractSocket::ConnectedState) return QStringLiteral("not connected");
  if (FSocket.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
    return FSocket.errorString();
  FSocket.flush();
  return {};
}

}  // namespace qm
