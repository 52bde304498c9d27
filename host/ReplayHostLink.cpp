#include "host/ReplayHostLink.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace qm {

TReplayHostLink::TReplayHostLink(const THostSettings& settings, QObject* parent)
    : THostLink(parent), FSettings(settings) {
  FTimer.setSingleShot(false);
  FTimer.setTimerType(Qt::PreciseTimer);
  connect(&FTimer, &QTimer::timeout, this, &TReplayHostLink::Tick);
}

std::string TReplayHostLink::DemoTrafficPath() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QString beside = exeDir + "/samples/demo-traffic.txt";
  if (QFileInfo::exists(beside)) return beside.toStdString();
#ifdef QM_DEMO_TRAFFIC_FROM_BIN
  // Installed: <prefix>/bin/quillmark finds <prefix>/share/quillmark/demo-traffic.txt.
  const QString installed = QFileInfo(exeDir + "/" QM_DEMO_TRAFFIC_FROM_BIN).absoluteFilePath();
  if (QFileInfo::exists(installed)) return installed.toStdString();
#endif
#ifdef QM_DEMO_TRAFFIC
  return QM_DEMO_TRAFFIC;
#else
  return beside.toStdString();
#endif
}

std::string TReplayHostLink::CapturePath() const {
  return FSettings.CaptureFile.empty() ? DemoTrafficPath() : FSettings.CaptureFile;
}

QString TReplayHostLink::SourcePlace() const {
  return QFileInfo(QString::fromLocal8Bit(CapturePath().c_str())).fileName();
}

namespace {

// At most this many packets a tick, about what one read of an APRS-IS socket hands over, and
// at most the reader's turn of the file (a megabyte, also where no line ends): the desk's
// events and the window's have their turn between the ticks, also while a pace catches up
// after a stall.
constexpr int kBatch = 1024;

}  // namespace

void TReplayHostLink::Start() {
  Stop();
  const std::string path = CapturePath();
  const QString shown = QString::fromLocal8Bit(path.c_str());
  if (!FReader.Open(path)) {
    // An operator's typo must not end the program: say so and stay idle.
    emit StateChanged("Error: cannot open capture file " + shown + ": " +
                      QString::fromLocal8Bit(FReader.Error().c_str()));
    return;
  }
  const double pace = FSettings.Pace;
  int intervalMs = 0;
  if (std::isfinite(pace) && pace > 0)
    intervalMs = static_cast<int>(std::lround(std::max(1.0, 1000.0 / pace)));
  FTimer.setInterval(intervalMs);
  FDelivered = 0;
  FSince.start();
  emit StateChanged("Replaying");
  FTimer.start();
}

void TReplayHostLink::Stop() {
  FTimer.stop();
  FHeld = false;
  FReader.Close();
}

void TReplayHostLink::Tick() {
  if (FTicking || FHeld) return;
  // A tick hands over every packet that is due by the pace (several when the pace is faster
  // than the timer), or a batch without one; one timer event a packet cost more than the
  // packet itself.
  const double pace = FSettings.Pace;
  const bool paced = std::isfinite(pace) && pace > 0;
  const auto due =
      paced ? static_cast<std::uint64_t>(static_cast<double>(FSince.elapsed()) * pace / 1000.0) : 0;
  const QPointer<TReplayHostLink> self(this);
  FReader.NewTurn();
  FTicking = true;
  for (int n = 0; n < kBatch && (!paced || FDelivered < due); ++n) {
    const bool more = DeliverNext();
    // A handler may have stopped the link, or ended the program with the capture and freed it.
    if (!self) return;
    if (!more || !FTimer.isActive() || FHeld) break;
  }
  FTicking = false;
}

bool TReplayHostLink::DeliverNext() {
  const std::size_t dropped = FReader.DroppedLines();
  auto line = FReader.NextLine();
  if (const std::size_t now = FReader.DroppedLines(); now > dropped)
    emit DropLogLine(SourceKind() + ' ' + SourcePlace() + " dropped " + QString::number(now - dropped) +
                     (now - dropped == 1 ? " line" : " lines") + " longer than " +
                     QString::number(TCaptureReader::DefaultMaxLine) + " bytes");
  // The tick's bytes are read (blank or over-long lines): the rest at the next tick.
  if (!line && !FReader.AtEnd()) return false;
  if (!line) {
    Stop();
    emit StateChanged("Capture finished");
    emit Closing();
    return false;
  }
  ++FDelivered;
  FPacketText = std::move(*line);
  emit DataReady();
  return true;
}

}  // namespace qm
