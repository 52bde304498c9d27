#include "host/QuietWatch.h"

namespace qm {

QString DurationText(int ms) {
  if (ms > 0 && ms % 60000 == 0) return QString::number(ms / 60000) + QStringLiteral(" min");
  if (ms % 1000 == 0) return QString::number(ms / 1000) + QStringLiteral(" s");
  return QString::number(ms / 1000.0, 'f', 1) + QStringLiteral(" s");
}

TQuietWatch::TQuietWatch(THostLink& link, int quietMs) : FLink(link), FQuietMs(quietMs) {
  FTimer.setSingleShot(true);
  connect(&FTimer, &QTimer::timeout, this, &TQuietWatch::Check);
  connect(&link, &THostLink::DataReady, this, &TQuietWatch::PacketArrived);
}

void TQuietWatch::Start(const QString& stateText) {
  Stop();
  if (FQuietMs <= 0) return;
  FStateText = stateText;
  FSinceLast.start();
  FTimer.start(FQuietMs);
}

void TQuietWatch::Stop() {
  FTimer.stop();
  FSinceLast.invalidate();
  FWarned = false;
}

void TQuietWatch::PacketArrived() {
  if (!FSinceLast.isValid()) return;
  // A timer restarted for every packet costs more than a clock read; Check waits the rest.
  FSinceLast.restart();
  if (!FWarned) return;
  FWarned = false;
  FTimer.start(FQuietMs);
  emit FLink.StateChanged(FStateText);
}

void TQuietWatch::Check() {
  const qint64 quiet = FSinceLast.elapsed();
  if (quiet < FQuietMs) {
    FTimer.start(static_cast<int>(FQuietMs - quiet));
    return;
  }
  FWarned = true;
  emit FLink.StateChanged(FStateText + QStringLiteral(", but no packets for over ") + DurationText(FQuietMs));
}

}  // namespace qm
