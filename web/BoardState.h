// The board's state, made on the desk's thread: what the page shows and --status prints.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstddef>

namespace qm {

class TMessageDesk;

// One packet source as the board shows it.
struct TBoardSource {
  QString Name;   // "KISS 127.0.0.1:8001"
  QString State;  // the link's own words
  bool Down = false;
  quint64 Packets = 0;
  QString LastHeard;  // local time of the last packet, "" while none
};

// A UTC time as the board's JSON carries it: "2026-12-10T14:03:00Z".
QString IsoUtc(double utc);

// The desk's state: the alarms that sound (oldest first), the printer (its problems, the last page the
// spooler confirmed), the store, the log, the count as the window shows it and the last `maxEntries` listed
// entries (three lines each); `sources` and `lastFailure` come from the run around the desk.
QJsonObject DeskState(const TMessageDesk& desk, const QList<TBoardSource>& sources, const QString& countText,
                      const QString& lastFailure, std::size_t maxEntries);

// The state's facts one line each ("Source KISS 127.0.0.1:8001: Connected, 120 packets, last
// heard 12:01:02"), each alarm that sounds among them ("Alarm: K1ABC to N0CALL-5: Call me (number
// 12, since 2026-12-10 14:03 UTC)"); `well` false when a source is down or the printer has a
// problem (an alarm leaves it as it is).
QStringList StateLines(const QJsonObject& state, bool& well);

}  // namespace qm
