// The host link: one interface the main window talks to, several transports behind it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/HostSettings.h"
#include "host/OwnStation.h"

namespace qm {

// Start's answer when the host is not there yet: the link has put the reason in its state and
// keeps trying by itself, attaching when the host appears.
class EHostAbsent : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class THostLink : public QObject {
  Q_OBJECT

 public:
  explicit THostLink(QObject* parent = nullptr) : QObject(parent) {}

  // Single-byte text of the packet just monitored, in the station program's form: a marker
  // character, optionally "hh:mm:ss" and a blank, then SRC>DST,PATH:info. Valid while
  // DataReady is being emitted.
  virtual std::string PacketText() = 0;
  // Fills info with the own station (its callsign as configured).
  virtual void FillMyInfo(TOwnStation& info) = 0;
  // Starts replaying or connecting; events then arrive through the event loop. May throw
  // EHostAbsent (the link stays and waits) or another failure (the link is of no use).
  virtual void Start() = 0;
  // Stops at once; no event is emitted afterwards until the next Start.
  virtual void Stop() = 0;
  // The receiver is in the middle of an entry and lets events run (a page printing): hand
  // over no more than the link has already taken in until ResumeIntake, so what comes waits
  // at the source (the kernel, the server, the capture file) rather than in memory.
  virtual void HoldIntake() {}
  virtual void ResumeIntake() {}
  // True for the replay of the bundled demo traffic, whose pages must never reach paper.
  virtual bool PlaysBundledDemo() const { return false; }
  // True for a replay (a capture or the demo): what it hands over was heard some other time.
  virtual bool Replays() const { return false; }
  // What the window names the source by: its kind ("APRS-IS", "KISS", "Replay") and where
  // it is ("rotate.aprs2.net:14580", "demo-traffic.txt"); empty when the link has none.
  virtual QString SourceKind() const { return {}; }
  virtual QString SourcePlace() const { return {}; }
  // Acknowledgements. CanAnswer: the transport can send them (a TNC, APRS-IS; a replay and
  // the station program cannot). Answering: the operator turned them on for this source.
  virtual bool CanAnswer() const { return false; }
  virtual bool Answering() const { return false; }
  // Why this link will refuse whatever it is given to send until something changes (a login
  // the server did not verify), or "" when a try may go out. A link merely down is not
  // refused here: it comes back, and the tries wait for it.
  virtual QString SendRefusal() const { return {}; }
  // Sends a packet of this station, `from`, with the information field `info`; "" once the
  // link has taken it, else why it could not.
  // True when the link says, with ArrivalHandedOver, that it has handed over all it took in
  // at once; a link that does not hands over packets one by one and says nothing more.
  virtual bool SaysArrivalEnd() const { return false; }
  virtual QString SendOwnPacket(const std::string& from, const std::string& info) {
    (void)from, (void)info;
    return QStringLiteral("this source cannot send");
  }

 signals:
  void DataReady();
  // Every packet of what came in at once has been through DataReady (only from a link whose
  // SaysArrivalEnd is true): the receiver may judge them now, in the link's call from the
  // event loop, instead of posting a call of its own.
  void ArrivalHandedOver();
  void Closing();
  // Connection state in words for the window, which names the source beside it
  // ("Connecting", "Connected", "Connected, but no packets for over 1 min",
  // "Retrying in N s: reason", "Error: ...").
  void StateChanged(const QString& text);
  // A line for the log when a link goes down (a connection lost, or the first attempt after
  // Start failing) and one when it is back; one pair per outage, however many retries:
  // "APRS-IS rotate.aprs2.net:14580 down at 14:05:33 UTC: Connection refused",
  // "APRS-IS rotate.aprs2.net:14580 back after 4 min 12 s; packets may have been missed".
  void OutageLogLine(const QString& line);
  // A line for the log when the source carried something no packet came of (an over-long
  // line, a frame that is not APRS): nothing it drops goes without a trace.
  // "KISS 127.0.0.1:8001 dropped 2 frames that are not AX.25 UI frames (not APRS)".
  void DropLogLine(const QString& line);
  // The host came after Start: FillMyInfo may tell another own station now.
  void OwnStationChanged();
  // Something the operator must know about answering on this source, for the log and the
  // hint bar ("APRS-IS ... did not verify the login of Q1ABC: ...").
  void AnswerNotice(const QString& text);
};

// The transport the settings name; not started yet.
std::unique_ptr<THostLink> CreateHostLink(const THostSettings& settings, QObject* parent = nullptr);

}  // namespace qm
