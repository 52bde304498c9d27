#include "web/BoardServer.h"

#include <httplib.h>

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
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "base/IntegerText.h"
#include "base/OwnerThread.h"
#include "web/BoardDoor.h"
#include "web/BoardHttp.h"
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

// The key the request carries: the token or the session as a bearer, or the token in the
// address. A cookie is no key: a browser sends it to every port of the host.
std::string GivenKey(const httplib::Request& req) {
  if (req.has_header("Authorization")) return BearerToken(req.get_header_value("Authorization"));
  return req.get_param_value("token");
}

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
        Session(NewBoardSession()),
        Hooks(std::move(hooks)),
        Desk(desk),
        Streams(streams),
        Http(Limits(config)) {}

  static TBoardHttp::TLimits Limits(const TBoardConfig& c) {
    TBoardHttp::TLimits limits;
    limits.Request = std::chrono::milliseconds(c.RequestMs);
    // Strangers never hold more than half the workers: the operator's requests find one free.
    limits.Strangers = std::max<std::size_t>(
        1, std::min<std::size_t>(static_cast<std::size_t>(c.MaxStrangers), Workers(c) / 2));
    return limits;
  }
  static std::size_t Workers(const TBoardConfig& c) { return static_cast<std::size_t>(c.MaxStreams) + 8; }

  const TBoardConfig Config;
  // What the page keeps instead of the token: made anew at each start, so one that leaked is
  // worthless at the next.
  const std::string Session;
  const TBoardHooks Hooks;
  QObject* const Desk;  // the server object: queued calls run on its (the desk's) thread
  const TOwnerThread Owner;
  std::atomic<int>& Streams;
  TBoardHttp Http;

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
    // A desk busy for longer (a page spooling, the end) leaves the state as it was last made.
    OnDesk<bool>(
        [this] {
          if (Stale) Publish();
          return true;
        },
        error, kFreshStateWait);
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

  // The door, before any route: the token or the session on every request but the page's own
  // files, a change only from the board's own page.
  httplib::Server::HandlerResponse Door(const httplib::Request& req, httplib::Response& res) {
    const std::string key = GivenKey(req);
    // Both compared whatever the first said: the time tells nothing of which matched.
    const bool token = SameToken(key, Config.Token);
    const bool session = SameToken(key, Session);
    if (token || session) {
      Http.MarkKeyed();
    } else if (!IsOpenToAll(req)) {
      Refuse(res, 401, "Unauthorized: open the address with the token (quillmark --status shows it)");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD" &&
        !SameOriginChange(req.get_header_value("Origin"), req.get_header_value("Sec-Fetch-Site"),
                          req.get_header_value("Host"))) {
      Refuse(res, 403, "Forbidden: changes come from the board's own page");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
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

  // POST /api/session
  void GiveSession(const httplib::Request&, httplib::Response& res) {
    ReplyJson(res, QJsonObject{{QStringLiteral("session"), QString::fromStdString(Session)}});
  }

  // GET /api/state
  void State(const httplib::Request&, httplib::Response& res) {
    Refresh();
    std::lock_guard lock(Mutex);
    res.set_content(StateJson, "application/json");
  }

  // GET /api/events: the state as it changes, for as long as the page is open.
  void Events(const httplib::Request&, httplib::Response& res) {
    if (Streams.fetch_add(1) >= Config.MaxStreams) {
      Streams.fetch_sub(1);
      return Refuse(res, 503, "Too many boards are open");
    }
    // Counted first: a change from now on is published to it.
    Refresh();
    auto seen = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](std::size_t, httplib::DataSink& sink) {
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

  // POST /api/reprint: id=…&id=…
  void Reprint(const httplib::Request& req, httplib::Response& res) {
    const std::size_t count = req.get_param_value_count("id");
    if (count == 0 || count > kMaxReprintIds) return Refuse(res, 400, "Choose the messages to reprint");
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < count; ++i) {
      const std::optional<std::int64_t> id = ReadId(req.get_param_value("id", i));
      if (!id) return Refuse(res, 400, "Not a message number");
      ids.push_back(*id);
    }
    ReplyReprinted(res, [this, ids] { Hooks.ReprintMessages(ids); });
  }

  // POST /api/reprint-job: job=…
  void ReprintJob(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::int64_t> job = ReadId(req.get_param_value("job"));
    if (!job) return Refuse(res, 400, "Not a job number");
    ReplyReprinted(res, [this, job = *job] { Hooks.ReprintJob(job); });
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
  http.Get("/api/state", route(&TShared::State));
  http.Get("/api/events", route(&TShared::Events));
  http.Get("/api/history", route(&TShared::History));
  http.Post("/api/reprint", route(&TShared::Reprint));
  http.Post("/api/reprint-job", route(&TShared::ReprintJob));
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
  s->Publish();
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
