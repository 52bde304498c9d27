// Says so when a connected link hands over no packet for a while: a KISS port that speaks no
// KISS, or an APRS-IS filter that lets nothing through, would otherwise look like a good link.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "host/HostLink.h"

namespace qm {

// "1 min", "90 s", "0.2 s".
QString DurationText(int ms);

class TQuietWatch : public QObject {
 public:
  // Watches the packets link hands over; quietMs 0 or less never warns.
  TQuietWatch(THostLink& link, int quietMs);

  // The link has connected and said so with stateText; the wait starts. After quietMs
  // without a packet its state reads "<stateText>, but no packets for over <quietMs>", and
  // the next packet brings stateText back.
  void Start(const QString& stateText);
  // The link is down or stopped: no warning until the next Start.
  void Stop();
  bool Warning() const { return FWarned; }

 private:
  void PacketArrived();
  void Check();

  THostLink& FLink;
  const int FQuietMs;
  QTimer FTimer;
  QElapsedTimer FSinceLast;  // invalid while not watching
  QString FStateText;
  bool FWarned = false;
};

}  // namespace qm
