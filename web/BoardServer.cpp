#include "web/BoardServer.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "base/IntegerText.h"
#include "base/OwnerThread.h"
#include "web/BoardAlarms.h"
#include "web/BoardDoor.h"
#include "web/BoardHttp.h"
#include "web/BoardKeys.h"
#include "web/BoardSend.h"
#include "web/BoardSockets.h"
#include "web/BoardToken.h"

namespace qm {

namespace {

using namespace std::chrono_literals;

// The longest a request waits for the desk's thread (a page being printed holds it).
constexpr auto kDeskWait = 10s;
// The longest a request for the state waits for it to be made anew; then it gets the last.
constexpr auto kFreshStateWait = 1s;
// A page that follows the state hears at least this often that the board is there.
constexpr auto kStreamBeat = 15s;
// How often the state is made anew at most while things change.
constexpr int kPublishMs = 250;
constexpr std::size_t kHistoryRows = 200;
constexpr std::size_t kFeedRows = 200;
// Refused acts are logged at most this often, with a count of the others.
constexpr auto kRefusalLogGap = 60s;
// The name the owner's token goes by in logs and on the page.
constexpr char kOwnerName[] = "owner";
constexpr char kAskForKey[] =
    "Ask the desk's operator for a key of your own: they run quillmark --board-key NAME (with "
    "--can-act for one that may reprint and acknowledge) and hand you the address it prints.";
constexpr int kBacklog = 128;
constexpr std::size_t kMaxReprintIds = 1000;
constexpr qint64 kMaxPageFile = 32 * 1024 * 1024;

// Every answer but a file or the stream: its status, and its text on a line of its own.
void Reply(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

// A request that cannot be answered as asked: the status leads its text ("400 No such kind").
void Refuse(httplib::Response& res, int status, const std::string& why) {
  Reply(res, status, std::to_string(status) + " " + why);
}

void ReplyJson(httplib::Response& res, const QJsonObject& object) {
  res.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

// A refusal a script reads: {"error": why, "hint": what to do}.
void RefuseJson(httplib::Response& res, int status, const std::string& why, const std::string& hint = {}) {
  res.status = status;
  QJsonObject body{{QStringLiteral("error"), QString::fromStdString(why)}};
  if (!hint.empty()) body.insert(QStringLiteral("hint"), QString::fromStdString(hint));
  ReplyJson(res, body);
}

// A request without a key: a script is told in JSON, a browser with a page.
void NoKey(const httplib::Request& req, httplib::Response& res) {
  if (req.path.starts_with("/api/")) return RefuseJson(res, 401, "This board needs a key", kAskForKey);
  res.status = 401;
  res.set_content(std::string("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                              "<title>Quillmark board: a key is needed</title></head><body>"
                              "<h1>This board needs a key</h1><p>") +
                      kAskForKey + "</p></body></html>\n",
                  "text/html; charset=utf-8");
}

// What a session is found by: its digest, so that finding it tells nothing of its bytes.
std::string SessionDigest(std::string_view session) {
  return QCryptographicHash::hash(QByteArray(session.data(), static_cast<qsizetype>(session.size())),
                                  QCryptographicHash::Sha256)
      .toStdString();
}

// What every answer carries, whichever route made it: nothing cached, framed, sniffed or
// referred, and the page's script only from the board itself.
void SecureHeaders(const httplib::Request&, httplib::Response& res) {
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Content-Security-Policy",
                 "default-src 'self'; object-src 'none'; frame-ancestors 'none'; base-uri 'none'");
}

QByteArray Resource(const char* name) {
  QFile file(QStringLiteral(":/board/") + QString::fromLatin1(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The key the request carries: a key, the token or a session as a bearer, or a key or the
// token in the address. A cookie is no key: a browser sends it to every port of the host.
std::string GivenKey(const httplib::Request& req) {
  if (req.has_header("Authorization")) return BearerToken(req.get_header_value("Authorization"));
  return req.has_param("key") ? req.get_param_value("key") : req.get_param_value("token");
}

// Who asks: the key's name and rights, and whether the key was a session.
struct TCaller {
  std::string Name;
  bool CanAct = false;
  bool Session = false;
};

// The caller of the request the calling worker serves, set by the door. It is kept in
// storage with nothing to destroy: MinGW runs a thread_local's destructor, when its thread
// ends, on storage it has freed already, and the program crashed at its end on Windows.
class TCallerSeat {
 public:
  void Take(const std::optional<TCaller>& caller) {
    FKnown = caller.has_value();
    if (!caller) return;
    FLength = std::min(caller->Name.size(), sizeof FName);
    std::memcpy(FName, caller->Name.data(), FLength);
    FCanAct = caller->CanAct;
    FSession = caller->Session;
  }
  std::optional<TCaller> Get() const {
    if (!FKnown) return std::nullopt;
    return TCaller{std::string(FName, FLength), FCanAct, FSession};
  }

 private:
  bool FKnown = false;
  bool FCanAct = false;
  bool FSession = false;
  std::size_t FLength = 0;
  char FName[kMaxBoardKeyName] = {};  // a key's name is no longer; "owner" neither
};
static_assert(std::is_trivially_destructible_v<TCallerSeat>);
thread_local TCallerSeat tCaller;

// The page, its script and style hold nothing of the desk: they are served to anyone, so that
// the page can find its session (it keeps it per tab and sends it as a header).
bool IsOpenToAll(const httplib::Request& req) {
  return (req.method == "GET" || req.method == "HEAD") &&
         (req.path == "/" || req.path == "/board.js" || req.path == "/board.css");
}

// Why `host`:`port` cannot be listened on, asked of the system with a socket of our own; sets
// `taken` when another program holds the port.
std::string WhyNotListening(const std::string& host, int port, bool& taken) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return "not an address of this machine";
  int error = 0;
  const socket_t fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (fd == INVALID_SOCKET || !boardsock::OwnPort(fd) || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 ||
      ::listen(fd, 1) != 0)
    error = boardsock::LastError();
  if (fd != INVALID_SOCKET) boardsock::Close(fd);
  ::freeaddrinfo(found);
  taken = boardsock::IsAddressInUse(error);
  if (taken) return "another program holds that port";
  if (boardsock::IsAddressNotAvailable(error)) return "not an address of this machine";
  return error != 0 ? boardsock::ErrorText(error) : "in use, or not an address of this machine";
}

// A sender and a bulletin line ID as the page names a line to clear: a JSON object with two
// short strings of printable ASCII; anything else is no line.
std::optional<std::pair<std::string, std::string>> ReadLineToClear(const std::string& body) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const auto field = [&doc](const char* name) -> std::optional<std::string> {
    const QJsonValue value = doc.object().value(QLatin1String(name));
    if (!value.isString()) return std::nullopt;
    const QString text = value.toString().trimmed();
    constexpr qsizetype kMostChars = 16;  // a callsign with its SSID, a line ID
    if (text.isEmpty() || text.size() > kMostChars) return std::nullopt;
    for (const QChar c : text)
      if (c.unicode() <= 0x20 || c.unicode() >= 0x7F) return std::nullopt;
    return text.toStdString();
  };
  const std::optional<std::string> from = field("from");
  const std::optional<std::string> id = field("id");
  if (!from || !id) return std::nullopt;
  return std::pair{*from, *id};
}

std::optional<std::int64_t> ReadId(const std::string& text) {
  std::int32_t value = 0;
  if (!TryParseDecimal(text, value) || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

// What the board's threads share: the listener's and the workers' side reads it, the desk's
// thread makes the state. The routes are its members, one each.
struct TBoardServer::TShared {
  TShared(const TBoardConfig& config, TBoardHooks hooks, QObject* desk, std::atomic<int>& streams)
      : Config(config),
        Hooks(std::move(hooks)),
        Desk(desk),
        Streams(streams),
        Http(Limits(config)),
        Keys(config.KeyFile, [this](const std::string& line) { Log(line); }) {}

  static TBoardHttp::TLimits Limits(const TBoardConfig& c) {
    TBoardHttp::TLimits limits;
    limits.Request = std::chrono::milliseconds(c.RequestMs);
    // Strangers never hold more than half the workers: the operator's requests find one free.
    limits.Strangers = std::max<std::size_t>(
        1, std::min<std::size_t>(static_cast<std::size_t>(c.MaxStrangers), Workers(c) / 2));
    return limits;
  }
  static std::size_t Workers(const TBoardConfig& c) { return static_cast<std::size_t>(c.MaxStreams) + 8; }

  // A session the page keeps instead of its key: made for one trade, in memory only, so one
  // that leaked is worthless at the next start, its time's end, or once its key is revoked.
  struct TSession {
    TCaller Caller;
    std::string Key;  // the key it was traded for; "" the token
    TBoardClock::time_point Ends;
  };

  const TBoardConfig Config;
  const TBoardHooks Hooks;
  QObject* const Desk;  // the server object: queued calls run on its (the desk's) thread
  const TOwnerThread Owner;
  std::atomic<int>& Streams;
  TBoardHttp Http;
  TBoardKeyring Keys;

  std::mutex SessionMutex;
  std::unordered_map<std::string, TSession> Sessions;  // by digest
  TBoardClock::time_point LastRefusalLogged;
  int RefusalsUnlogged = 0;

  std::mutex Mutex;
  std::condition_variable Changed;
  bool Stopping = false;
  std::uint64_t Version = 0;
  std::string StateJson = "{}";
  // Something changed since StateJson was made; with no page following, it is made only when
  // asked for.
  std::atomic<bool> Stale{false};

  // Runs `work` on the desk's thread and waits for it, within a bound; nullopt (with `error`)
  // when it threw, the bound passed or the server is stopping. `notFound` tells a request for
  // what is not stored (the operator's mistake) from a failure.
  template <class T>
  std::optional<T> OnDesk(std::function<T()> work, std::string& error,
                          std::chrono::milliseconds bound = kDeskWait, bool* notFound = nullptr) {
    struct TCall {
      std::mutex Mutex;
      std::condition_variable Done;
      bool Finished = false;
      std::optional<T> Value;
      std::string Error;
      bool NotFound = false;
    };
    auto call = std::make_shared<TCall>();
    QMetaObject::invokeMethod(
        Desk,
        [call, work = std::move(work)] {
          std::optional<T> value;
          std::string failure;
          bool missing = false;
          try {
            value = work();
          } catch (const EBoardNotFound& e) {
            failure = e.what();
            missing = true;
          } catch (const std::exception& e) {
            failure = e.what();
          }
          std::lock_guard lock(call->Mutex);
          call->Value = std::move(value);
          call->Error = std::move(failure);
          call->NotFound = missing;
          call->Finished = true;
          call->Done.notify_all();
        },
        Qt::QueuedConnection);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(call->Mutex);
    while (!call->Finished) {
      if (std::chrono::steady_clock::now() >= deadline || StoppingNow()) {
        error = "The desk is busy; try again";
        return std::nullopt;
      }
      call->Done.wait_for(lock, 100ms);
    }
    error = call->Error;
    if (notFound) *notFound = call->NotFound;
    return error.empty() ? std::move(call->Value) : std::nullopt;
  }

  bool StoppingNow() {
    std::lock_guard lock(Mutex);
    return Stopping;
  }

  // On the desk's thread: the state made anew, and the pages that follow it woken when it is
  // not what they have.
  void Publish() {
    QM_ASSERT_OWNER_THREAD(Owner);
    Stale = false;
    const QJsonObject state = Hooks.State ? Hooks.State() : QJsonObject();
    std::string json = QJsonDocument(state).toJson(QJsonDocument::Compact).toStdString();
    {
      std::lock_guard lock(Mutex);
      if (json == StateJson) return;
      StateJson = std::move(json);
      ++Version;
    }
    Changed.notify_all();
  }

  // From a worker: the state made anew on the desk's thread if it changed since it was made.
  void Refresh() {
    if (!Stale) return;
    std::string error;
    // A desk busy for longer (a page spooling, the end) leaves the state as it was last made;
    // the first is waited for as long as any answer of the desk's.
    bool made = false;
    {
      std::lock_guard lock(Mutex);
      made = Version > 0;
    }
    OnDesk<bool>(
        [this] {
          if (Stale) Publish();
          return true;
        },
        error, made ? std::chrono::milliseconds(kFreshStateWait) : std::chrono::milliseconds(kDeskWait));
  }

  // Reprints `work` on the desk's thread: 200, 404 for what is not stored, 409 for a failure.
  void ReplyReprinted(httplib::Response& res, std::function<void()> work) {
    std::string error;
    bool notFound = false;
    if (!OnDesk<bool>(
            [work = std::move(work)] {
              work();
              return true;
            },
            error, kDeskWait, &notFound))
      return Reply(res, notFound ? 404 : 409, error);
    Reply(res, 200, "Reprinted");
  }

  // On the desk's thread, when it gets to it: a line for its log.
  void Log(const std::string& line) {
    if (!Hooks.Log) return;
    QMetaObject::invokeMethod(
        Desk, [this, line] { Hooks.Log(line); }, Qt::QueuedConnection);
  }

  // Who `key` opens the board for: the token, a key of the file, or a live session whose key
  // still stands; nullopt none.
  std::optional<TCaller> Identify(const std::string& key) {
    if (key.empty()) return std::nullopt;
    // Each compared whatever the one before said: the time tells nothing of which matched.
    const bool token = SameToken(key, Config.Token);
    const std::optional<TBoardKey> made = Keys.Find(key);
    std::optional<TSession> session;
    {
      std::lock_guard lock(SessionMutex);
      if (auto it = Sessions.find(SessionDigest(key)); it != Sessions.end()) {
        if (TBoardClock::now() < it->second.Ends)
          session = it->second;
        else
          Sessions.erase(it);
      }
    }
    if (token) return TCaller{kOwnerName, true, false};
    if (made) return TCaller{made->Name, made->CanAct, false};
    if (!session) return std::nullopt;
    if (!session->Key.empty()) {
      // Revoked, or made anew with other rights: its sessions end with it.
      const std::optional<TBoardKey> still = Keys.Find(session->Key);
      if (!still || still->Name != session->Caller.Name || still->CanAct != session->Caller.CanAct) {
        std::lock_guard lock(SessionMutex);
        Sessions.erase(SessionDigest(key));
        return std::nullopt;
      }
    }
    return session->Caller;
  }

  // A change asked with a key that may only read: logged once a minute at most.
  void LogRefusal(const httplib::Request& req, const TCaller& caller) {
    std::unique_lock lock(SessionMutex);
    const auto now = TBoardClock::now();
    if (LastRefusalLogged != TBoardClock::time_point() && now - LastRefusalLogged < kRefusalLogGap) {
      ++RefusalsUnlogged;
      return;
    }
    std::string line = "Board: refused " + req.path + " to the read-only key " + caller.Name;
    if (RefusalsUnlogged > 0) line += " (and " + std::to_string(RefusalsUnlogged) + " refusals before it)";
    LastRefusalLogged = now;
    RefusalsUnlogged = 0;
    lock.unlock();
    Log(line);
  }

  // The door, before any route: a key on every request but the page's own files; a change
  // only with an acting key and from the board's own page.
  httplib::Server::HandlerResponse Door(const httplib::Request& req, httplib::Response& res) {
    const std::optional<TCaller> caller = Identify(GivenKey(req));
    tCaller.Take(caller);
    if (caller) {
      Http.MarkKeyed();
    } else if (!IsOpenToAll(req)) {
      NoKey(req, res);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      if (caller && !caller->CanAct && req.path != "/api/session") {
        LogRefusal(req, *caller);
        RefuseJson(
            res, 403,
            "The key \"" + caller->Name + "\" may only read: " + req.path + " needs a key that can act",
            "The operator makes one with quillmark --board-key NAME --can-act");
        return httplib::Server::HandlerResponse::Handled;
      }
      if (!SameOriginChange(req.get_header_value("Origin"), req.get_header_value("Sec-Fetch-Site"),
                            req.get_header_value("Host"))) {
        Refuse(res, 403, "Forbidden: changes come from the board's own page");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  std::string CallerName() const {
    const std::optional<TCaller> caller = tCaller.Get();
    return caller ? caller->Name : std::string(kOwnerName);
  }

  // GET /: on the first visit the token is in the address; the page trades it for the
  // session (POST /api/session) and takes it out of the address. A cookie that earlier builds
  // left with the token in it is removed.
  void Page(const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie",
                   std::string(kBoardCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    const QByteArray page = Resource("board.html");
    res.set_content(page.constData(), static_cast<std::size_t>(page.size()), "text/html; charset=utf-8");
  }

  // GET /board.js, /board.css
  void PageFile(const httplib::Request& req, httplib::Response& res) {
    const bool script = req.path == "/board.js";
    const QByteArray bytes = Resource(script ? "board.js" : "board.css");
    res.set_content(bytes.constData(), static_cast<std::size_t>(bytes.size()),
                    script ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8");
  }

  // POST /api/session: a session for the key the request carries (not for a session: one
  // would never end), with its name, rights and hours.
  void GiveSession(const httplib::Request& req, httplib::Response& res) {
    const std::optional<TCaller> caller = tCaller.Get();
    if (!caller || caller->Session)
      return RefuseJson(res, 401, "A session is made for a key, not for another session", kAskForKey);
    const std::string key = GivenKey(req);
    TSession made{*caller, SameToken(key, Config.Token) ? std::string() : key,
                  TBoardClock::now() + std::chrono::hours(Config.SessionHours)};
    made.Caller.Session = true;
    const std::string session = NewBoardSession();
    {
      std::lock_guard lock(SessionMutex);
      if (Sessions.size() >= Config.MaxSessions) {
        auto soonest = std::min_element(Sessions.begin(), Sessions.end(), [](const auto& a, const auto& b) {
          return a.second.Ends < b.second.Ends;
        });
        Sessions.erase(soonest);
      }
      Sessions.emplace(SessionDigest(session), made);
    }
    ReplyJson(res, QJsonObject{{QStringLiteral("session"), QString::fromStdString(session)},
                               {QStringLiteral("name"), QString::fromStdString(made.Caller.Name)},
                               {QStringLiteral("canAct"), made.Caller.CanAct},
                               {QStringLiteral("hours"), Config.SessionHours}});
  }

  // GET /api/me: who the key is, for the page.
  void Me(const httplib::Request&, httplib::Response& res) {
    const TCaller caller = tCaller.Get().value_or(TCaller{});
    ReplyJson(res, QJsonObject{{QStringLiteral("name"), QString::fromStdString(caller.Name)},
                               {QStringLiteral("canAct"), caller.CanAct}});
  }

  // GET /api/state
  void State(const httplib::Request&, httplib::Response& res) {
    Refresh();
    std::lock_guard lock(Mutex);
    res.set_content(StateJson, "application/json");
  }

  // GET /api/events: the state as it changes, for as long as the page is open.
  void Events(const httplib::Request& req, httplib::Response& res) {
    if (Streams.fetch_add(1) >= Config.MaxStreams) {
      Streams.fetch_sub(1);
      return Refuse(res, 503, "Too many boards are open");
    }
    // Counted first: a change from now on is published to it.
    Refresh();
    auto seen = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen, key = GivenKey(req)](std::size_t, httplib::DataSink& sink) {
          // A revoked key or a session at its end: the page hears no more.
          if (!Identify(key)) return false;
          std::string chunk;
          {
            std::unique_lock lock(Mutex);
            Changed.wait_for(lock, kStreamBeat, [&] { return Stopping || Version != *seen; });
            if (Stopping) return false;
            if (Version != *seen) {
              *seen = Version;
              chunk = "event: state\ndata: " + StateJson + "\n\n";
            } else {
              chunk = ": still here\n\n";
            }
          }
          return sink.write(chunk.data(), chunk.size());
        },
        [this](bool) { Streams.fetch_sub(1); });
  }

  // GET /api/history with the History window's filters: the ids found on this worker's
  // thread, the rows read on the desk's.
  void History(const httplib::Request& req, httplib::Response& res) {
    TBoardSearch search;
    search.Callsign = req.get_param_value("call");
    search.Text = req.get_param_value("text");
    if (req.has_param("kind") &&
        (!TryParseDecimal(req.get_param_value("kind"), search.Kind) || search.Kind > Hooks.LastHistoryKind))
      return Refuse(res, 400, "No such kind");
    std::string error;
    const std::optional<std::string> file = OnDesk<std::string>(Hooks.StoreFile, error);
    if (!file) return Refuse(res, 503, error);
    if (file->empty()) return Refuse(res, 503, "The message store is not open");
    std::vector<std::int64_t> ids;
    try {
      ids = Hooks.FindMessages(*file, search, kHistoryRows + 1);
    } catch (const std::exception& e) {
      return Refuse(res, 503, e.what());
    }
    const bool more = ids.size() > kHistoryRows;
    if (more) ids.resize(kHistoryRows);
    const std::optional<QJsonArray> rows =
        OnDesk<QJsonArray>([this, ids] { return Hooks.Messages(ids); }, error);
    if (!rows) return Refuse(res, 503, error);
    ReplyJson(res, QJsonObject{{QStringLiteral("rows"), *rows}, {QStringLiteral("more"), more}});
  }

  // GET /api/ics309?from=…&to=…&format=csv: the communications log of the period, for any key.
  void CommsLog(const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("from") || !req.has_param("to"))
      return Refuse(res, 400, "Give the period: from=yyyy-mm-ddThh:mm&to=yyyy-mm-ddThh:mm (UTC)");
    if (req.get_param_value("format") != "csv") return Refuse(res, 400, "The log is served as format=csv");
    double from = 0, to = 0;
    const std::string why =
        Hooks.ReadLogPeriod(req.get_param_value("from"), req.get_param_value("to"), from, to);
    if (!why.empty()) return Refuse(res, 400, why);
    std::string error;
    const std::optional<std::string> csv =
        OnDesk<std::string>([this, from, to] { return Hooks.CommsLogCsv(from, to); }, error);
    if (!csv) return Refuse(res, 503, error);
    res.set_header("Content-Disposition", "attachment; filename=\"ics309.csv\"");
    res.set_content(*csv, "text/csv; charset=utf-8");
  }

  // Who makes a change (reprint, acknowledge) with the request's key: the key's name. The door
  // lets a change through only with an acting key.
  std::optional<std::string> Actor(const httplib::Request&, httplib::Response&) { return CallerName(); }

  // POST /api/alarms/acknowledge: {"id": N} for one alarm, {} for every one.
  void AcknowledgeAlarms(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::string> who = Actor(req, res);
    if (!who) return;
    const std::optional<TAcknowledgeAsked> asked = ReadAcknowledgeBody(req.body);
    if (!asked) return Refuse(res, 400, "Send {\"id\": N} for one alarm or {} for every one");
    std::string error;
    const std::optional<int> done =
        OnDesk<int>([this, id = asked->Id, who = *who] { return Hooks.AcknowledgeAlarms(id, who); }, error);
    if (!done) return Refuse(res, 503, error);
    if (asked->Id && *done == 0)
      return Refuse(res, 404, "No alarm " + std::to_string(*asked->Id) + " sounds");
    ReplyJson(res, QJsonObject{{QStringLiteral("acknowledged"), *done}});
  }

  // POST /api/send: {"to":"CALL","text":"…"}, a message sent in the name of the key.
  void SendOwnMessage(const httplib::Request& req, httplib::Response& res) {
    const std::optional<TSendAsked> asked = ReadSendBody(req.body);
    if (!asked) return Refuse(res, 400, "Send {\"to\":\"CALL\",\"text\":\"the message\"}");
    std::string error;
    const auto sent = OnDesk<std::pair<std::string, std::string>>(
        [this, asked, who = CallerName()] {
          if (!Hooks.SendOwnMessage) throw std::runtime_error("This desk sends no messages");
          return Hooks.SendOwnMessage(asked->To, asked->Text, who);
        },
        error);
    if (!sent) return Refuse(res, 503, error);
    if (sent->first.empty()) return Refuse(res, 422, sent->second);
    ReplyJson(res, QJsonObject{{QStringLiteral("number"), QString::fromStdString(sent->first)}});
  }

  // POST /api/sent/N/cancel: the message numbered N stops being sent, in the name of the key.
  void CancelSent(const httplib::Request& req, httplib::Response& res) {
    const std::string number = req.matches[1];
    if (number.size() > 5 || !std::all_of(number.begin(), number.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        }))
      return Refuse(res, 400, "Not a message number");
    std::string error;
    bool notFound = false;
    const std::optional<std::string> refused = OnDesk<std::string>(
        [this, number, who = CallerName()] {
          if (!Hooks.CancelSent) throw EBoardNotFound("This desk sends no messages");
          return Hooks.CancelSent(number, who);
        },
        error, kDeskWait, &notFound);
    if (!refused) return Refuse(res, notFound ? 404 : 503, error);
    if (!refused->empty()) return Refuse(res, 409, *refused);
    ReplyJson(res, QJsonObject{{QStringLiteral("cancelled"), QString::fromStdString(number)}});
  }

  // POST /api/reprint: id=…&id=…
  void Reprint(const httplib::Request& req, httplib::Response& res) {
    if (!Actor(req, res)) return;
    const std::size_t count = req.get_param_value_count("id");
    if (count == 0 || count > kMaxReprintIds) return Refuse(res, 400, "Choose the messages to reprint");
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < count; ++i) {
      const std::optional<std::int64_t> id = ReadId(req.get_param_value("id", i));
      if (!id) return Refuse(res, 400, "Not a message number");
      ids.push_back(*id);
    }
    ReplyReprinted(res, [this, ids, by = CallerName()] { Hooks.ReprintMessages(ids, by); });
  }

  // POST /api/reprint-job: job=…
  void ReprintJob(const httplib::Request& req, httplib::Response& res) {
    if (!Actor(req, res)) return;
    const std::optional<std::int64_t> job = ReadId(req.get_param_value("job"));
    if (!job) return Refuse(res, 400, "Not a job number");
    ReplyReprinted(res, [this, job = *job, by = CallerName()] { Hooks.ReprintJob(job, by); });
  }

  // GET /api/messages?after=N: the messages kept after the message N, oldest first, a bounded
  // number at a time; "next" is where to ask from next.
  void Feed(const httplib::Request& req, httplib::Response& res) {
    std::int64_t after = 0;
    if (req.has_param("after")) {
      const std::string text = req.get_param_value("after");
      std::int32_t read = 0;
      if (!TryParseDecimal(text, read) || read < 0)
        return RefuseJson(res, 400, "after= takes a message number");
      after = read;
    }
    if (!Hooks.MessagesAfter) return RefuseJson(res, 503, "The message store is not open");
    std::string error;
    const std::optional<QJsonArray> rows =
        OnDesk<QJsonArray>([this, after] { return Hooks.MessagesAfter(after, kFeedRows + 1); }, error);
    if (!rows) return RefuseJson(res, 503, error);
    QJsonArray page = *rows;
    const bool more = page.size() > static_cast<qsizetype>(kFeedRows);
    while (page.size() > static_cast<qsizetype>(kFeedRows)) page.removeLast();
    const double next = page.isEmpty() ? static_cast<double>(after)
                                       : page.last().toObject().value(QLatin1String("id")).toDouble();
    ReplyJson(res, QJsonObject{{QStringLiteral("messages"), page},
                               {QStringLiteral("more"), more},
                               {QStringLiteral("next"), next}});
  }

  // POST /api/bulletins/clear: {"from":"…","id":"…"}, a line of the bulletin board.
  void ClearBulletin(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::pair<std::string, std::string>> line = ReadLineToClear(req.body);
    if (!line) return Refuse(res, 400, "Name the line to clear: {\"from\":\"CALL\",\"id\":\"BLN1\"}");
    std::string error;
    bool notFound = false;
    if (!OnDesk<bool>(
            [this, line] {
              if (!Hooks.ClearBulletin) throw EBoardNotFound("This desk keeps no bulletin board");
              Hooks.ClearBulletin(line->first, line->second);
              return true;
            },
            error, kDeskWait, &notFound))
      return Reply(res, notFound ? 404 : 409, error);
    Reply(res, 200, "Cleared");
  }

  // The day's archive folder, asked of the desk; nullopt (answered) when the desk did not say.
  std::optional<QString> ArchiveDay(httplib::Response& res, QString& folder) {
    std::string error;
    const std::optional<QString> asked = OnDesk<QString>(Hooks.ArchiveFolder, error);
    if (!asked) {
      Refuse(res, 503, error);
      return std::nullopt;
    }
    folder = *asked;
    return QDir(folder).filePath(QDate::currentDate().toString(Qt::ISODate));
  }

  // GET /api/pages: the day's archived pages.
  void Pages(const httplib::Request&, httplib::Response& res) {
    QString folder;
    const std::optional<QString> day = ArchiveDay(res, folder);
    if (!day) return;
    QJsonArray pages;
    if (!folder.isEmpty())
      for (const QFileInfo& f : QDir(*day).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
        if (IsPageName(f.fileName().toStdString()) && !f.isSymLink())
          pages.append(
              QJsonObject{{QStringLiteral("name"), f.fileName()}, {QStringLiteral("size"), f.size()}});
    ReplyJson(res,
              QJsonObject{{QStringLiteral("archive"), !folder.isEmpty()}, {QStringLiteral("pages"), pages}});
  }

  // GET /pages/NAME: one of the day's pages, by a name only as the list has them.
  void PageOfDay(const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    if (!IsPageName(name)) return Refuse(res, 404, "No such page");
    QString folder;
    const std::optional<QString> day = ArchiveDay(res, folder);
    if (!day) return;
    if (folder.isEmpty()) return Refuse(res, 404, "The PDF archive is off");
    const QFileInfo file(QDir(*day).filePath(QString::fromStdString(name)));
    QFile pdf(file.filePath());
    if (!file.isFile() || file.isSymLink() || file.size() > kMaxPageFile || !pdf.open(QIODevice::ReadOnly))
      return Refuse(res, 404, "No such page");
    const QByteArray bytes = pdf.readAll();
    res.set_content(bytes.constData(), static_cast<std::size_t>(bytes.size()), "application/pdf");
  }
};

TBoardServer::TBoardServer(TBoardConfig config, TBoardHooks hooks, QObject* parent)
    : QObject(parent),
      FConfig(std::move(config)),
      FShared(std::make_unique<TShared>(FConfig, std::move(hooks), this, FStreamCount)) {
  FPublish = new QTimer(this);
  FPublish->setSingleShot(true);
  FPublish->setInterval(kPublishMs);
  connect(FPublish, &QTimer::timeout, this, [this] { FShared->Publish(); });
}

TBoardServer::~TBoardServer() {
  Stop();
}

void TBoardServer::CheckKeys() {
  FShared->Keys.Refresh();
}

QString TBoardServer::Url() const {
  const bool v6 = FConfig.Host.find(':') != std::string::npos;
  const QString host = QString::fromStdString(FConfig.Host);
  return QStringLiteral("http://%1:%2/?token=%3")
      .arg(v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host)
      .arg(FPort)
      .arg(QString::fromStdString(FConfig.Token));
}

void TBoardServer::Changed() {
  QM_ASSERT_OWNER_THREAD(FShared->Owner);
  FShared->Stale = true;
  if (FStreamCount.load() > 0 && !FPublish->isActive()) FPublish->start();
}

void TBoardServer::Start() {
  // The handlers live in s->Http: they hold the shared part by its address (a shared_ptr
  // would keep it alive for ever). Stop joins every thread that runs them before it goes.
  TShared* s = FShared.get();
  TBoardHttp& http = s->Http;
  const TBoardConfig& c = FConfig;
  const std::size_t workers = TShared::Workers(c);
  const std::size_t waiting = static_cast<std::size_t>(c.MaxWaiting);
  http.new_task_queue = [workers, waiting] { return new TBoundedPool(workers, waiting); };
  // Not cpp-httplib's SO_REUSEPORT: with it a second board of the same user would share the
  // port with this one, each answering some of the requests.
  http.set_socket_options([](socket_t sock) { boardsock::OwnPort(sock); });
  http.set_read_timeout(c.TimeoutSeconds, 0);
  http.set_write_timeout(c.TimeoutSeconds, 0);
  http.set_keep_alive_timeout(c.TimeoutSeconds);
  http.set_keep_alive_max_count(100);
  http.set_payload_max_length(c.MaxBody);

  http.set_pre_routing_handler(
      [s](const httplib::Request& req, httplib::Response& res) { return s->Door(req, res); });
  http.set_post_routing_handler(SecureHeaders);
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Refuse(res, 500, "The board could not answer");
  });
  using TRoute = void (TShared::*)(const httplib::Request&, httplib::Response&);
  auto route = [s](TRoute handler) {
    return [s, handler](const httplib::Request& req, httplib::Response& res) { (s->*handler)(req, res); };
  };
  http.Get("/", route(&TShared::Page));
  http.Get("/board.js", route(&TShared::PageFile));
  http.Get("/board.css", route(&TShared::PageFile));
  http.Post("/api/session", route(&TShared::GiveSession));
  http.Get("/api/me", route(&TShared::Me));
  http.Get("/api/messages", route(&TShared::Feed));
  http.Get("/api/state", route(&TShared::State));
  http.Get("/api/events", route(&TShared::Events));
  http.Get("/api/history", route(&TShared::History));
  http.Get("/api/ics309", route(&TShared::CommsLog));
  http.Post("/api/reprint", route(&TShared::Reprint));
  http.Post("/api/reprint-job", route(&TShared::ReprintJob));
  http.Post("/api/alarms/acknowledge", route(&TShared::AcknowledgeAlarms));
  http.Post("/api/send", route(&TShared::SendOwnMessage));
  http.Post(R"(/api/sent/([^/]+)/cancel)", route(&TShared::CancelSent));
  http.Post("/api/bulletins/clear", route(&TShared::ClearBulletin));
  http.Get("/api/pages", route(&TShared::Pages));
  http.Get(R"(/pages/([^/]+))", route(&TShared::PageOfDay));

  const int port =
      c.Port == 0 ? http.bind_to_any_port(c.Host) : (http.bind_to_port(c.Host, c.Port) ? c.Port : -1);
  if (port <= 0) {
    bool taken = false;
    const std::string why = "The board cannot listen on " + c.Host + ":" + std::to_string(c.Port) + ": " +
                            WhyNotListening(c.Host, c.Port, taken);
    if (taken) throw EBoardPortTaken(why);
    throw std::runtime_error(why);
  }
  FPort = port;
  http.WidenBacklog(kBacklog);
  // Made when first asked for, not before the window's first paint: the state names the
  // printer, and the spooler's list of printers is the slowest part of it.
  s->Stale = true;
  FListener = std::thread([s] { s->Http.listen_after_bind(); });
}

void TBoardServer::Stop() {
  if (!FListener.joinable()) return;
  {
    std::lock_guard lock(FShared->Mutex);
    FShared->Stopping = true;
  }
  FShared->Changed.notify_all();
  // Every socket shut down: no worker waits for a client, so the join is short.
  FShared->Http.StopNow();
  FListener.join();
}

}  // namespace qm
