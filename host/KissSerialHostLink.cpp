#include "host/KissSerialHostLink.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace qm {

QStringList SerialPortChoices(const QString& direwolfLink) {
  QStringList ports;
  for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) ports << port.systemLocation();
  if (QFileInfo::exists(direwolfLink) && !ports.contains(direwolfLink)) ports << direwolfLink;
  return ports;
}

TKissSerialHostLink::TKissSerialHostLink(const THostSettings& settings, QObject* parent)
    : TStreamHostLink(settings, parent) {
  WarnWhenQuiet(FSettings.RfQuietWarnMs);  // a port that speaks no KISS looks connected, but nothing comes
  connect(&FPort, &QSerialPort::readyRead, this, [this] { ReadAll(FPort); });
  // Failures to open are Open's to report. An unplugged adapter shows as a resource error; a
  // pseudo-terminal whose other end closed reads as the end of the data, which the port calls
  // a read error with whatever text the last system error left behind.
  connect(&FPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !FPort.isOpen()) return;
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    LinkDown(gone ? QString("the device went away") : FPort.errorString());
  });
}

TKissSerialHostLink::~TKissSerialHostLink() {
  FPort.disconnect(this);
  FPort.close();
}

QString TKissSerialHostLink::SettingsError() const {
  if (FSettings.SerialDevice.empty()) return "no serial device set for the KISS TNC";
  if (!IsSerialSpeed(FSettings.SerialBaud))
    return "serial speed " + QString::number(FSettings.SerialBaud) + " is not " +
           QString::fromStdString(SerialSpeedRule());
  return {};
}

QString TKissSerialHostLink::Where() const {
  return QString::fromStdString(FSettings.SerialDevice) + " at " + QString::number(FSettings.SerialBaud) +
         " baud";
}

void TKissSerialHostLink::Open() {
  FPort.setPortName(QString::fromStdString(FSettings.SerialDevice));
  FPort.setBaudRate(FSettings.SerialBaud);
  FPort.setDataBits(QSerialPort::Data8);
  FPort.setParity(QSerialPort::NoParity);
  FPort.setStopBits(QSerialPort::OneStop);
  FPort.setFlowControl(QSerialPort::NoFlowControl);
  // A KISS client that does not answer only listens.
  if (!FPort.open(FSettings.AnswerMessages ? QIODevice::ReadWrite : QIODevice::ReadOnly)) {
    LinkDown(FPort.errorString());
    return;
  }
#ifdef Q_OS_UNIX
  // The port opens the terminal exclusively. If this program is killed, a pseudo-terminal that
  // Direwolf keeps open keeps that flag, and every later open fails with "busy" until Direwolf
  // restarts. The port's lock file still keeps a second program off the device.
  ::ioctl(static_cast<int>(FPort.handle()), TIOCNXCL);
#endif
  LinkUp();
}

void TKissSerialHostLink::Close() {
  if (FPort.isOpen()) FPort.close();
  FPort.clearError();
}

QString TKissSerialHostLink::Write(const std::string& bytes) {
  if (!FPort.isOpen()) return QStringLiteral("the port is not open");
  if (!FPort.isWritable()) return QStringLiteral("the port was opened to listen only");
  if (FPort.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
    return FPort.errorString();
  FPort.flush();
  return {};
}

void TKissSerialHostLink::Received(std::string_view bytes) {
  FeedKiss(FDecoder, bytes);
}

}  // namespace qm
