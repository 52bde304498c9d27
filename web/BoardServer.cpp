#include "web/BoardServer.h"

#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "base/IntegerText.h"
#include "store/MessageStore.h"
#include "web/BoardDoor.h"
#include "web/BoardHttp.h"
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

void Answer(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

void AnswerJson(httplib::Response& res, const QJsonObject& object) {
  res.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), "application/json");
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
  const int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  const int yes = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 1) != 0)
    error = errno;
  if (fd >= 0) ::close(fd);
  ::freeaddrinfo(found);
  taken = error == EADDRINUSE;
  if (taken) return "another program holds that port";
  if (error == EADDRNOTAVAIL) return "not an address of this machine";
  return error != 0 ? std::strerror(error) : "in use, or not an address of this machine";
}

// What is not stored was asked for: the asker's mistake, not the desk's failure.
bool IsRefusal(const EMessageStoreError& e) {
  return e.Kind() == EMessageStoreError::TKind::ekRefused;
}

std::optional<std::int64_t> ReadId(const std::string& text) {
  std::int32_t value = 0;
  if (!TryParseDecimal(text, value) || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

struct TBoardServer::TShared {
  explicit TShared(const TBoardConfig& config)
      : Config(config), Session(NewBoardSession()), Http(Limits(config)) {}

  static TBoardHttp::TLimits Limits(const TBoardConfig& c) {
    TBoardHttp::TLimits limits;
    limits.Request = std::chrono::milliseconds(c.RequestMs);
    // Strangers never hold more than half the workers: the operator's requests find one free.
    limits.Strangers = std::max<std::size_t>(
        1, std::min<std::size_t>(static_cast<std::size_t>(c.MaxStrangers), Workers(c) / 2));
    return limits;
  }
  static std::size_t Workers(const TBoardConfig& c) { return static_cast<std::size_t>(c.MaxStreams) + 8; }

  TBoardConfig Config;
  // What the page keeps instead of the token: made anew at each start, so one that leaked is
  // worthless at the next.
  const std::string Session;
  TBoardHooks Hooks;
  QObject* Desk = nullptr;  // the server object: queued calls run on its (the desk's) thread
  TBoardHttp Http;

  std::mutex Mutex;
  std::condition_variable Changed;
  bool Stopping = false;
  std::uint64_t Version = 0;
  std::string StateJson = "{}";
  std::atomic<int>* Streams = nullptr;
  // Something changed since StateJson was made; with no page following, it is made only when
  // asked for.
  std::atomic<bool> Stale{false};

  // Runs `work` on the desk's thread and waits for it, within a bound; nullopt (with `error`)
  // when it threw, the bound passed or the server is stopping. `refused` tells a request for
  // what is not stored (the operator's mistake) from a failure.
  template <class T>
  std::optional<T> OnDesk(std::function<T()> work, std::string& error,
                          std::chrono::milliseconds bound = kDeskWait, bool* refused = nullptr) {
    struct TCall {
      std::mutex Mutex;
      std::condition_variable Done;
      bool Finished = false;
      std::optional<T> Value;
      std::string Error;
      bool Refused = false;
    };
    auto call = std::make_shared<TCall>();
    QMetaObject::invokeMethod(
        Desk,
        [call, work = std::move(work)] {
          std::optional<T> value;
          std::string failure;
          bool refused = false;
          try {
            value = work();
          } catch (const EMessageStoreError& e) {
            failure = e.what();
            refused = IsRefusal(e);
          } catch (const std::exception& e) {
            failure = e.what();
          }
          std::lock_guard lock(call->Mutex);
          call->Value = std::move(value);
          call->Error = std::move(failure);
          call->Refused = refused;
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
    if (refused) *refused = call->Refused;
    return error.empty() ? std::move(call->Value) : std::nullopt;
  }

  bool StoppingNow() {
    std::lock_guard lock(Mutex);
    return Stopping;
  }
};

TBoardServer::TBoardServer(TBoardConfig config, TBoardHooks hooks, QObject* parent)
    : QObject(parent), FConfig(std::move(config)), FShared(std::make_unique<TShared>(FConfig)) {
  FShared->Hooks = std::move(hooks);
  FShared->Desk = this;
  FShared->Streams = &FStreamCount;
  FPublish = new QTimer(this);
  FPublish->setSingleShot(true);
  FPublish->setInterval(kPublishMs);
  connect(FPublish, &QTimer::timeout, this, [this] { Publish(); });
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
  Q_ASSERT(QThread::currentThread() == thread());
  FShared->Stale = true;
  if (FStreamCount.load() > 0 && !FPublish->isActive()) FPublish->start();
}

void TBoardServer::Refresh() {
  if (!FShared->Stale) return;
  std::string error;
  // A desk busy for longer (a page spooling, the end) leaves the state as it was last made.
  FShared->OnDesk<bool>(
      [this] {
        if (FShared->Stale) Publish();
        return true;
      },
      error, kFreshStateWait);
}

void TBoardServer::Publish() {
  Q_ASSERT(QThread::currentThread() == thread());
  FShared->Stale = false;
  const QJsonObject state = FShared->Hooks.State ? FShared->Hooks.State() : QJsonObject();
  std::string json = QJsonDocument(state).toJson(QJsonDocument::Compact).toStdString();
  {
    std::lock_guard lock(FShared->Mutex);
    if (json == FShared->StateJson) return;
    FShared->StateJson = std::move(json);
    ++FShared->Version;
  }
  FShared->Changed.notify_all();
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
  http.set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http.set_read_timeout(c.TimeoutSeconds, 0);
  http.set_write_timeout(c.TimeoutSeconds, 0);
  http.set_keep_alive_timeout(c.TimeoutSeconds);
  http.set_keep_alive_max_count(100);
  http.set_payload_max_length(c.MaxBody);

  // The door: the token or the session on every request but the page's own files, a change
  // only from the board's own page.
  http.set_pre_routing_handler([s](const httplib::Request& req, httplib::Response& res) {
    const std::string key = GivenKey(req);
    // Both compared whatever the first said: the time tells nothing of which matched.
    const bool token = SameToken(key, s->Config.Token);
    const bool session = SameToken(key, s->Session);
    if (token || session) {
      s->Http.MarkKeyed();
    } else if (!IsOpenToAll(req)) {
      Answer(res, 401, "401 Unauthorized: open the address with the token (quillmark --status shows it)");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD" &&
        !SameOriginChange(req.get_header_value("Origin"), req.get_header_value("Sec-Fetch-Site"),
                          req.get_header_value("Host"))) {
      Answer(res, 403, "403 Forbidden: changes come from the board's own page");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; object-src 'none'; frame-ancestors 'none'; base-uri 'none'");
  });
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Answer(res, 500, "500 The board could not answer");
  });

  // The page: on the first visit the token is in the address; the page trades it for the
  // session (POST /api/session) and takes it out of the address. A cookie that earlier builds
  // left with the token in it is removed.
  http.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie",
                   std::string(kBoardCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    const QByteArray page = Resource("board.html");
    res.set_content(page.constData(), static_cast<std::size_t>(page.size()), "text/html; charset=utf-8");
  });
  for (const auto& [path, type] : {std::pair{"board.js", "text/javascript; charset=utf-8"},
                                   std::pair{"board.css", "text/css; charset=utf-8"}}) {
    const std::string kind = type;
    const std::string name = path;
    http.Get("/" + name, [name, kind](const httplib::Request&, httplib::Response& res) {
      const QByteArray bytes = Resource(name.c_str());
      res.set_content(bytes.constData(), static_cast<std::size_t>(bytes.size()), kind);
    });
  }

  http.Post("/api/session", [s](const httplib::Request&, httplib::Response& res) {
    AnswerJson(res, QJsonObject{{QStringLiteral("session"), QString::fromStdString(s->Session)}});
  });

  http.Get("/api/state", [this, s](const httplib::Request&, httplib::Response& res) {
    Refresh();
    std::lock_guard lock(s->Mutex);
    res.set_content(s->StateJson, "application/json");
  });

  // The state as it changes, for as long as the page is open.
  http.Get("/api/events", [this, s](const httplib::Request&, httplib::Response& res) {
    if (s->Streams->fetch_add(1) >= s->Config.MaxStreams) {
      s->Streams->fetch_sub(1);
      Answer(res, 503, "503 Too many boards are open");
      return;
    }
    // Counted first: a change from now on is published to it.
    Refresh();
    auto seen = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [s, seen](std::size_t, httplib::DataSink& sink) {
          std::string chunk;
          {
            std::unique_lock lock(s->Mutex);
            s->Changed.wait_for(lock, kStreamBeat, [&] { return s->Stopping || s->Version != *seen; });
            if (s->Stopping) return false;
            if (s->Version != *seen) {
              *seen = s->Version;
              chunk = "event: state\ndata: " + s->StateJson + "\n\n";
            } else {
              chunk = ": still here\n\n";
            }
          }
          return sink.write(chunk.data(), chunk.size());
        },
        [s](bool) { s->Streams->fetch_sub(1); });
  });

  // The history with the History window's filters: the ids found on this worker's own
  // read-only connection, the rows read on the desk's thread.
  http.Get("/api/history", [s](const httplib::Request& req, httplib::Response& res) {
    THistoryFilter filter;
    filter.Callsign = req.get_param_value("call");
    filter.Text = req.get_param_value("text");
    std::int32_t kind = 0;
    if (req.has_param("kind") &&
        (!TryParseDecimal(req.get_param_value("kind"), kind) || kind > StoredNumber(hkNwsAdvisory)))
      return Answer(res, 400, "400 No such kind");
    filter.Kind = static_cast<THistoryKind>(kind);
    std::string error;
    const std::optional<std::string> file = s->OnDesk<std::string>(s->Hooks.StoreFile, error);
    if (!file) return Answer(res, 503, "503 " + error);
    if (file->empty()) return Answer(res, 503, "503 The message store is not open");
    std::vector<std::int64_t> ids;
    try {
      ids = THistoryReader(*file).FindMessages(filter, kHistoryRows + 1);
    } catch (const std::exception& e) {
      return Answer(res, 503, std::string("503 ") + e.what());
    }
    const bool more = ids.size() > kHistoryRows;
    if (more) ids.resize(kHistoryRows);
    const std::optional<QJsonArray> rows =
        s->OnDesk<QJsonArray>([s, ids] { return s->Hooks.Messages(ids); }, error);
    if (!rows) return Answer(res, 503, "503 " + error);
    AnswerJson(res, QJsonObject{{QStringLiteral("rows"), *rows}, {QStringLiteral("more"), more}});
  });

  http.Post("/api/reprint", [s](const httplib::Request& req, httplib::Response& res) {
    const std::size_t count = req.get_param_value_count("id");
    if (count == 0 || count > kMaxReprintIds) return Answer(res, 400, "400 Choose the messages to reprint");
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < count; ++i) {
      const std::optional<std::int64_t> id = ReadId(req.get_param_value("id", i));
      if (!id) return Answer(res, 400, "400 Not a message number");
      ids.push_back(*id);
    }
    std::string error;
    bool unknown = false;
    if (!s->OnDesk<bool>(
            [s, ids] {
              s->Hooks.ReprintMessages(ids);
              return true;
            },
            error, kDeskWait, &unknown))
      return Answer(res, unknown ? 404 : 409, error);
    Answer(res, 200, "Reprinted");
  });
  http.Post("/api/reprint-job", [s](const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::int64_t> job = ReadId(req.get_param_value("job"));
    if (!job) return Answer(res, 400, "400 Not a job number");
    std::string error;
    bool unknown = false;
    if (!s->OnDesk<bool>(
            [s, job] {
              s->Hooks.ReprintJob(*job);
              return true;
            },
            error, kDeskWait, &unknown))
      return Answer(res, unknown ? 404 : 409, error);
    Answer(res, 200, "Reprinted");
  });

  // The day's archived pages: listed, and each served by a name from that list only.
  http.Get("/api/pages", [s](const httplib::Request&, httplib::Response& res) {
    std::string error;
    const std::optional<QString> folder = s->OnDesk<QString>(s->Hooks.ArchiveFolder, error);
    if (!folder) return Answer(res, 503, "503 " + error);
    QJsonArray pages;
    if (!folder->isEmpty()) {
      const QDir day(QDir(*folder).filePath(QDate::currentDate().toString(Qt::ISODate)));
      for (const QFileInfo& f : day.entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
        if (IsPageName(f.fileName().toStdString()) && !f.isSymLink())
          pages.append(
              QJsonObject{{QStringLiteral("name"), f.fileName()}, {QStringLiteral("size"), f.size()}});
    }
    AnswerJson(
        res, QJsonObject{{QStringLiteral("archive"), !folder->isEmpty()}, {QStringLiteral("pages"), pages}});
  });
  http.Get(R"(/pages/([^/]+))", [s](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    if (!IsPageName(name)) return Answer(res, 404, "404 No such page");
    std::string error;
    const std::optional<QString> folder = s->OnDesk<QString>(s->Hooks.ArchiveFolder, error);
    if (!folder) return Answer(res, 503, "503 " + error);
    if (folder->isEmpty()) return Answer(res, 404, "404 The PDF archive is off");
    const QFileInfo file(QDir(QDir(*folder).filePath(QDate::currentDate().toString(Qt::ISODate)))
                             .filePath(QString::fromStdString(name)));
    QFile pdf(file.filePath());
    if (!file.isFile() || file.isSymLink() || file.size() > kMaxPageFile || !pdf.open(QIODevice::ReadOnly))
      return Answer(res, 404, "404 No such page");
    const QByteArray bytes = pdf.readAll();
    res.set_content(bytes.constData(), static_cast<std::size_t>(bytes.size()), "application/pdf");
  });

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
  Publish();
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
