// The board's HTTP server. It lives on the desk's thread and serves on threads of its own
// (cpp-httplib's workers): whatever a request needs of the desk is asked for as a queued call
// onto the desk's thread and waited for with a bound, so no desk object is touched elsewhere.
// The live state is made on the desk's thread at most a few times a second, whatever the
// traffic, and pushed to every open page as Server-Sent Events.
//
// The door: every request but the page's own files needs a key: the owner's token, or a key
// the operator made for a position (read-only or acting), each as "Authorization: Bearer",
// ?key= or ?token=; or a session the page traded one of them for (sent as a bearer; never a
// cookie, which a browser sends to every port of the host). A session carries its key's name
// and rights, lasts a set time and only this run, and ends with its key. Without a key the
// answer is 401 with how to ask for one. A change (reprint, acknowledge) needs an acting key
// (403 to a read-only one) and is a POST from the board's own page. Request lines, headers and bodies, the
// number of connections, of strangers and of open pages, and the time a whole request may take are bounded; a
// stop shuts every connection down. Only the page, its script and style, the answers below and the day's
// archived pages are served; no path reaches any other file.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QTimer;

namespace qm {

// The board's port is held by another program (perhaps another user's): what answers there is
// not this desk's board.
class EBoardPortTaken : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TBoardConfig {
  std::string Host = "127.0.0.1";
  int Port = 0;  // 0: any free port
  std::string Token;
  // Pages that may follow the state at once; one more is answered 503.
  int MaxStreams = 64;
  // Connections waiting for a worker; more wait in the system's backlog until one is free.
  int MaxWaiting = 64;
  int TimeoutSeconds = 5;  // each read of a request, each write of an answer
  // A whole request (line, headers, body) from its connection's accept, or from the end of
  // the keep-alive wait, to its last byte.
  int RequestMs = 10000;
  // Connections that have not yet shown the token or the session, at once (at most half the
  // workers); one more sheds the oldest of them.
  int MaxStrangers = 32;
  std::size_t MaxBody = 16 * 1024;
  // The keys made for other positions ("" none but the token).
  std::string KeyFile;
  // How long a session the page trades a key for lasts.
  int SessionHours = 12;
  // Sessions at once; one more ends the one that ends soonest.
  std::size_t MaxSessions = 1024;
};

// What was asked for is not there (a message or a job never stored): the asker's mistake, not
// the desk's failure; answered 404 with its text.
class EBoardNotFound : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A search of the history as the page asks it, with the History window's filters.
struct TBoardSearch {
  std::string Callsign;
  std::string Text;
  int Kind = 0;  // the store's number of the kind; 0 any
};

// What the board asks of the run around the desk; each runs on the desk's thread but
// FindMessages. A failure is thrown with the text the page shows.
struct TBoardHooks {
  // The state as the page and --status show it.
  std::function<QJsonObject()> State;
  // The highest kind a search may name; a higher one is answered 400.
  int LastHistoryKind = 0;
  // The store's file for the history's search ("" while none).
  std::function<std::string()> StoreFile;
  // On the asking worker's thread, so that a long search holds no one else: the ids of at
  // most `limit` messages of `storeFile` that `search` finds, newest first, read on a
  // connection of the hook's own.
  std::function<std::vector<std::int64_t>(const std::string& storeFile, const TBoardSearch& search,
                                          std::size_t limit)>
      FindMessages;
  // The stored messages `ids` as the history's rows, in the order given.
  std::function<QJsonArray(const std::vector<std::int64_t>& ids)> Messages;
  // At most `limit` stored messages kept after the message `after`, as the history's rows, in
  // the order kept.
  std::function<QJsonArray(std::int64_t after, std::size_t limit)> MessagesAfter;
  // Reprints for the key named `by`; what is not stored is thrown as EBoardNotFound.
  std::function<void(const std::vector<std::int64_t>& ids, const std::string& by)> ReprintMessages;
  std::function<void(std::int64_t job, const std::string& by)> ReprintJob;
  // A line for the desk's log: a key made or revoked, acts refused.
  std::function<void(const std::string& line)> Log;
  // Takes a line (sender, line ID) off the bulletin board; one not on it is thrown as
  // EBoardNotFound.
  std::function<void(const std::string& from, const std::string& lineId)> ClearBulletin;
  // The archive's folder while the PDF archive is on, else "".
  std::function<QString()> ArchiveFolder;
  // Acknowledges the alarm of message `id`, or every one, in the name of `who`; answers how
  // many were (0: `id` sounds none).
  std::function<int(std::optional<std::int64_t> id, const std::string& who)> AcknowledgeAlarms;
  // Sends `text` to `to` in the name of `who`: the message's number, or "" and why the desk
  // refused it.
  std::function<std::pair<std::string, std::string>(const std::string& to, const std::string& text,
                                                    const std::string& who)>
      SendOwnMessage;
  // Stops the message numbered `number` while it is still sent, in the name of `who`: "" once
  // stopped, else why not (it was answered or has ended); an unknown number is thrown as
  // EBoardNotFound.
  std::function<std::string(const std::string& number, const std::string& who)> CancelSent;
  // The communications log's period from the request's texts: "" and the times (UTC), or why
  // not. On the asking worker's thread.
  std::function<std::string(const std::string& from, const std::string& to, double& fromUtc, double& toUtc)>
      ReadLogPeriod;
  // The communications log of a period as CSV.
  std::function<std::string(double fromUtc, double toUtc)> CommsLogCsv;
};

class TBoardServer : public QObject {
  Q_OBJECT

 public:
  TBoardServer(TBoardConfig config, TBoardHooks hooks, QObject* parent = nullptr);
  // Stops serving: open pages end, a request waiting for the desk is answered 503.
  ~TBoardServer() override;

  // Binds and starts serving; throws std::runtime_error when the address cannot be had,
  // saying why (another program holds the port, not an address of this machine).
  void Start();
  void Stop();
  int Port() const { return FPort; }
  // "http://127.0.0.1:8073/?token=…"
  QString Url() const;

  // Something the board shows changed: the state is made again soon (once for many calls)
  // while a page follows it, else when a request asks for it.
  void Changed();
  // Pages following the state now.
  int Streams() const { return FStreamCount.load(); }
  // Reads the key file again if it changed (logging what did); requests do so too.
  void CheckKeys();

 private:
  struct TShared;

  TBoardConfig FConfig;
  std::atomic<int> FStreamCount{0};  // before FShared, which counts in it
  std::unique_ptr<TShared> FShared;
  // Serves until Stop; cpp-httplib's workers are its own (TBoundedPool).
  std::thread FListener;
  int FPort = 0;
  QTimer* FPublish = nullptr;
};

}  // namespace qm
