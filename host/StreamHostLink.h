// Common ground of the transports that read a byte stream (a TCP connection, a serial port):
// packets handed over in order, one at a time, and reconnecting with a growing wait.
#pragma once

#include <QElapsedTimer>
#include <QIODevice>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "host/HostLink.h"
#include "host/KissDecoder.h"
#include "host/QuietWatch.h"

namespace qm {

// How long an outage lasted, for the log: "less than 1 s", "42 s", "4 min 12 s", "2 h 5 min".
QString OutageDurationText(qint64 ms);

class TStreamHostLink : public THostLink {
  Q_OBJECT

 public:
  TStreamHostLink(const THostSettings& settings, QObject* parent);

  std::string PacketText() override { return FPacketText; }
  void FillMyInfo(TOwnStation& info) override { info.SetMyCallsign(FSettings.Callsign); }
  void Start() override;
  void Stop() override;
  void HoldIntake() override { FHeld = true; }
  void ResumeIntake() override;
  QString SourcePlace() const override { return Where(); }
  bool CanAnswer() const override { return true; }
  bool SaysArrivalEnd() const override { return true; }
  bool Answering() const override { return FSettings.AnswerMessages; }
  // The wall clock of the outage lines, in ms since 1970 UTC; the system's unless set.
  void SetClock(std::function<qint64()> clock) { FClock = std::move(clock); }
  // How often drops are logged at most (then with their number since); a minute unless set.
  void SetDropReportInterval(int ms) { FDropTimer.setInterval(ms); }

  // Packets held back while a handler of DataReady runs a nested event loop.
  static constexpr std::size_t MaxPending = 10000;

 protected:
  // Checks what the transport needs before connecting; a message means it cannot start.
  virtual QString SettingsError() const { return {}; }
  // The other end as the state texts name it.
  virtual QString Where() const = 0;
  // Begins one attempt; the transport answers with LinkUp or LinkDown, now or later.
  virtual void Open() = 0;
  // Closes the stream at once; called with no attempt open too.
  virtual void Close() = 0;
  // Bytes as they arrive; the transport hands packet texts to Deliver.
  virtual void Received(std::string_view bytes) = 0;
  // Forget half-received data before a new connection.
  virtual void ResetDecoder() = 0;
  // Writes to the open stream; "" once taken, else why not.
  virtual QString Write(const std::string& bytes) = 0;
  // An own packet to a TNC: a KISS frame by the operator's path.
  QString SendKiss(const std::string& from, const std::string& info);
  // What keeps acknowledgements from going out at all, said once at each start while the
  // operator answers here; "" when nothing does.
  virtual QString AnswerProblem() const { return {}; }
  // For a TNC: the own callsign and the path must fit an AX.25 frame.
  QString KissAnswerProblem() const;

  // Call once from the constructor: a connection that hands over no packet for quietMs then
  // says so in its state.
  void WarnWhenQuiet(int quietMs);
  void LinkUp();
  // Connected, but not as well as it could be (a login the server did not verify): the state
  // says so, also once the quiet warning comes and goes.
  void SayConnected(const QString& state);
  // Closes and tries again after the current wait; the first report of a drop counts.
  void LinkDown(const QString& reason);
  bool Running() const { return FRunning; }
  // Reads what the device holds and hands it to Received; then ArrivalHandedOver.
  void ReadAll(QIODevice& device);
  // Hands one packet text over through DataReady, in order, one at a time.
  void Deliver(std::string text);
  // `count` pieces the stream carried were dropped (`one` / `many` name them): logged at
  // once, and a fast stream of them at most once per interval with their number since.
  void NoteDropped(std::size_t count, const char* one, const char* many);
  // A KISS TNC's bytes: each AX.25 UI frame delivered as monitor text, the rest noted.
  void FeedKiss(TKissDecoder& decoder, std::string_view bytes);

  const THostSettings FSettings;

 private:
  void Connect();
  void Drain();
  void ReportDropped();

  QTimer FRetryTimer;
  QTimer FDropTimer;
  std::map<std::pair<const char*, const char*>, std::size_t> FDropped;  // not yet logged
  QElapsedTimer FUpSince;
  TRetryWaits FRetryWaits;
  bool FRunning = false;
  bool FDraining = false;
  bool FHeld = false;
  bool FHandedOver = false;      // DataReady was emitted since the last ArrivalHandedOver
  QIODevice* FDevice = nullptr;  // the one ReadAll read last, read again on ResumeIntake
  std::deque<std::string> FPending;
  std::string FPacketText;
  std::unique_ptr<TQuietWatch> FQuiet;
  std::function<qint64()> FClock;
  qint64 FDownSince = -1;  // clock time the current outage began; -1 while up or not started
};

}  // namespace qm
