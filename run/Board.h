// The board and `quillmark --status` for a run, window or not: where the board listens (the
// INI's [Board] section, --web), its token, the state it shows made from the desk and its
// sources, and the answer a later `--status` gets through the instance lock.
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/Timing.h"
#include "run/CommandLine.h"
#include "web/BoardServer.h"
#include "web/BoardState.h"

namespace qm {

class TMessageDesk;
class TPacketSources;
struct TStoredMessage;

struct TBoardPlan {
  bool Off = false;
  TBoardConfig Config;
};

inline constexpr int kDefaultBoardPort = 8073;

// A stored message as the board's feed and history give it (docs/board-feed.md), in the History
// window's words at `nowUtc`; the message hook gets the same object.
QJsonObject HistoryRow(const TStoredMessage& m, TDateTime nowUtc);

// What the run's board will be, from --web ("off" or ADDRESS:PORT; "" none given) over
// [Board] Listen and Token in the INI; the token kept in `dataDir` is made when needed.
// Answers what is wrong, or "": another address than this machine's own needs a token the
// operator set.
QString PlanBoard(const QString& webOption, const std::string& iniFile, const std::string& dataDir,
                  TBoardPlan& plan);

class TBoardRun : public QObject {
  Q_OBJECT

 public:
  TBoardRun(TMessageDesk& desk, TPacketSources& sources, TBoardPlan plan, QObject* parent = nullptr);
  ~TBoardRun() override;

  // Starts serving, unless the board is off; writes its address, or why it cannot serve, on
  // standard error. The desk runs on either way.
  void Start();
  // "" while it does not serve.
  QString Url() const;
  // Why it does not serve though it was meant to ("" when it serves or is off); one line for
  // the window and --status.
  QString Refusal() const { return FRefusal; }
  // The state the board shows and --status prints: the desk's, its health ("well",
  // "degraded" or "down", and each part not well since when) and the listed messages' rows.
  QJsonObject State() const;
  // For --status: the exit code on the first line (0 all well, 1 a source, the printer or
  // the store not), then the facts one line each and the board's address.
  QByteArray StatusAnswer() const;
  // For --acknowledge: `which` is "" (every alarm) or an alarm's number, `who` the asking
  // account. The exit code on the first line (0, or kAcknowledgeNoAlarm), then what was done.
  QByteArray AcknowledgeAnswer(const QByteArray& which, const QString& who);
  // For --send: `message` is "CALL TEXT". The exit code on the first line (0, or kSendRefused),
  // then the message's number or why it was not sent.
  QByteArray SendAnswer(const QByteArray& message, const QString& who);
  // For --cancel-send: `number` is the message's. The exit code on the first line (0, or
  // kSendRefused), then what was stopped or why nothing was.
  QByteArray CancelSendAnswer(const QByteArray& number, const QString& who);
  TBoardServer* Server() const { return FServer.get(); }
  // The file of the keys for other positions.
  const std::string& KeyFile() const { return FPlan.Config.KeyFile; }
  // The address to hand over with `key`: where this board listens.
  QString KeyUrl(const std::string& key) const;

 private:
  // Stops a message for the board or the command line, `where` said in the log: Refused ""
  // once stopped, else why not; Unknown when no message has that number.
  struct TCancelled {
    std::string Refused;
    bool Unknown = false;
    std::string To;
  };
  TCancelled CancelFor(const std::string& number, const std::string& where);
  // Sends for the board or the command line, `where` said in the log: the number, or "" and
  // the refusal.
  std::pair<std::string, std::string> SendFor(const std::string& to, const std::string& text,
                                              const std::string& where);

  TMessageDesk& FDesk;
  TPacketSources& FSources;
  TBoardPlan FPlan;
  std::unique_ptr<TBoardServer> FServer;
  QString FLastFailure;
  // The desk's facts that no signal tells, as last looked at.
  QJsonObject FLooked;
  QString FRefusal;
  // Since when each part has not been well; the listed messages' rows as last read.
  mutable std::map<QString, QDateTime> FSince;
  mutable std::unordered_map<std::int64_t, QJsonObject> FRows;
  mutable QString FLastPage;
  mutable QDateTime FLastPageAt;

  QList<TBoardSource> Sources() const;
  QJsonObject Health(const QList<TBoardSource>& sources) const;
  QJsonArray WithMessages(const QJsonArray& entries) const;
};

// The asking side of --status for the data folder `dataDir`: what the running desk answers
// (for standard output) or why there is none (for standard error), and the exit code: the
// desk's 0 or 1, 3 when no desk runs there, 4 when one holds the folder and does not answer
// within `timeoutMs` (stopped, hung). Only the desk holding the folder is believed.
inline constexpr int kStatusNoDesk = 3;
inline constexpr int kStatusSilentDesk = 4;
int AskStatus(const QString& dataDir, QString& out, QString& err, int timeoutMs = 5000);
// The address (with its token) of the board the desk holding `dataDir` serves, "" when it
// serves none or does not answer within `timeoutMs`.
QString RunningBoardUrl(const QString& dataDir, int timeoutMs = 2000);

// The file of the board's keys in the data folder `dataDir`.
std::string BoardKeyFile(const std::string& dataDir);
// The address that opens the board at `host`:`port` with `key`; a board on every address is
// named by this machine's name, and a port not known yet (0) says "PORT".
QString BoardKeyUrl(const std::string& host, int port, const std::string& key);

// --board-key NAME [--can-act], --board-key-revoke NAME and --board-keys for the data folder
// `dataDir`: what to print on standard output and on standard error, and the exit code (0
// done, 1 not). The address handed over is where the board listens as `webOption` and the INI
// say.
int BoardKeyCommand(const TCommandLine& command, const std::string& iniFile, const std::string& dataDir,
                    QString& out, QString& err);
// The asking side of --acknowledge [N] (`which` "" or the number): what the running desk did,
// and the exit code: 0, kAcknowledgeNoAlarm for a number that sounds no alarm, and as AskStatus
// when no desk answers.
inline constexpr int kAcknowledgeNoAlarm = 2;
int AskAcknowledge(const QString& dataDir, const QByteArray& which, QString& out, QString& err,
                   int timeoutMs = 5000);
// The asking side of --send CALL TEXT: the number of the message the running desk sent, and
// the exit code: 0, kSendRefused with the reason, and as AskStatus when no desk answers.
inline constexpr int kSendRefused = 2;
int AskSend(const QString& dataDir, const QString& call, const QString& text, QString& out, QString& err,
            int timeoutMs = 5000);
// The asking side of --cancel-send N: what the running desk stopped, and the exit code: 0,
// kSendRefused with the reason (no such number, already answered or ended), and as AskStatus
// when no desk answers.
int AskCancelSend(const QString& dataDir, const QString& number, QString& out, QString& err,
                  int timeoutMs = 5000);

}  // namespace qm
