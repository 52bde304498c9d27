// The board's server over real sockets: the door answers each bad request in a bounded way
// (no key, another origin, path tricks, oversized lines, headers and bodies, slow and many
// clients), the session is made at each start, dripping strangers never starve the key's
// requests, the state is pushed as it changes, and a stop ends every connection at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <future>
#include <set>

#include "tests/support/LoopbackServer.h"
#include "tests/support/QtTestApp.h"
#include "web/BoardKeys.h"
#include "web/BoardServer.h"

namespace qm {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

// Reads until the peer closes, `until` is seen or the bound passes.
std::string ReadFrom(int fd, int boundMs, const std::string& until = {}) {
  std::string got;
  const QDeadlineTimer deadline(boundMs);
  char buffer[4096];
  while (!deadline.hasExpired()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
    if (!until.empty() && got.find(until) != std::string::npos) break;
  }
  return got;
}

// Runs `work` on a thread of its own while this (the desk's) thread's events run.
template <class F>
auto WhileEventsRun(F work) {
  auto done = std::async(std::launch::async, std::move(work));
  const QDeadlineTimer deadline(30000);
  while (done.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready && !deadline.hasExpired())
    QCoreApplication::processEvents();
  return done.get();
}

std::string Exchange(int port, const std::string& request, int boundMs = 10000) {
  return WhileEventsRun([=] {
    const int fd = test::ConnectLoopback(port);
    if (fd < 0) return std::string("no connection");
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer = ReadFrom(fd, boundMs);
    ::close(fd);
    return answer;
  });
}

std::string StatusOf(const std::string& answer) {
  return answer.size() >= 12 && answer.starts_with("HTTP/1.1 ") ? answer.substr(9, 3) : "closed";
}

const std::string kBearer = "Authorization: Bearer " + std::string(kToken) + "\r\n";

std::string Get(const std::string& path, const std::string& headers = kBearer) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n";
}

std::string Post(const std::string& path, const std::string& body, const std::string& headers) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// The connections this process has accepted on `port` (the server's side), now.
std::size_t AcceptedOn(int port) {
  std::size_t accepted = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dirent* e = ::readdir(dir)) {
    sockaddr_in local{}, peer{};
    socklen_t size = sizeof local, peerSize = sizeof peer;
    const int fd = std::atoi(e->d_name);
    // A listening socket has no peer; a client's own socket has the port as its peer's.
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 && local.sin_family == AF_INET &&
        ntohs(local.sin_port) == port &&
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0)
      ++accepted;
  }
  ::closedir(dir);
  return accepted;
}

// A change posted from the page: each body answered with its status and words; one from another
// origin is refused.
struct TPostCase {
  const char* body;
  const char* status;
  const char* contains;
};

class BoardServerTest : public ::testing::Test {
 protected:
  void Start(TBoardConfig config = {}) {
    test::App();
    config.Token = kToken;
    config.KeyFile = KeyFile();
    TBoardHooks hooks;
    hooks.State = [this] {
      ++FStateMade;
      return QJsonObject{{QStringLiteral("n"), FState}};
    };
    hooks.LastHistoryKind = 4;
    hooks.StoreFile = [this] { return FStoreFile; };
    // Finds as many of the asked kind as it may be asked for, on the store it was given.
    hooks.FindMessages = [this](const std::string& file, const TBoardSearch& search, std::size_t limit) {
      const bool asked = file == FStoreFile && search.Callsign == "W1AW" && search.Text == "net";
      return std::vector<std::int64_t>(asked ? limit : 0, search.Kind);
    };
    hooks.Messages = [](const std::vector<std::int64_t>& ids) {
      QJsonArray rows;
      for (const std::int64_t id : ids)
        rows.append(QJsonObject{{QStringLiteral("id"), static_cast<double>(id)}});
      return rows;
    };
    // Messages 1 to 450 are kept.
    hooks.MessagesAfter = [](std::int64_t after, std::size_t limit) {
      QJsonArray rows;
      for (std::int64_t id = after + 1; id <= 450 && rows.size() < static_cast<qsizetype>(limit); ++id)
        rows.append(QJsonObject{{QStringLiteral("id"), static_cast<double>(id)}});
      return rows;
    };
    hooks.ReprintMessages = [this](const std::vector<std::int64_t>& ids, const std::string& by) {
      if (ids == std::vector<std::int64_t>{99}) throw std::runtime_error("There is no message 99");
      FReprinted.insert(FReprinted.end(), ids.begin(), ids.end());
      FReprintedBy.push_back(by);
    };
    hooks.ReprintJob = [](std::int64_t job, const std::string&) {
      if (job == 2324) throw EBoardNotFound("No job 2324 was printed");
    };
    hooks.ClearBulletin = [this](const std::string& from, const std::string& lineId) {
      if (lineId == "BLN9") throw EBoardNotFound("No line BLN9 of Q7CLUB is on the bulletin board");
      FCleared.push_back(from + " " + lineId);
    };
    hooks.Log = [this](const std::string& line) { FLogged.push_back(line); };
    hooks.ArchiveFolder = [this] { return FArchive.path(); };
    // The period's rule is the log's own; here only a word that it refused.
    hooks.ReadLogPeriod = [](const std::string& from, const std::string& to, double& f, double& t) {
      if (from == "bad") return std::string("\"bad\" is no time");
      f = 1;
      t = to == "later" ? 2 : 3;
      return std::string();
    };
    hooks.CommsLogCsv = [](double f, double t) {
      return "Time (UTC),From,To,Subject/Message\r\n" + std::to_string(int(f)) + "," +
             std::to_string(int(t)) + ",W1AW,\"a, b\"\r\n";
    };
    // Alarm 5 sounds; "all" acknowledges two.
    hooks.AcknowledgeAlarms = [this](std::optional<std::int64_t> id, const std::string& who) {
      FAcknowledged.push_back((id ? std::to_string(*id) : std::string("all")) + " by " + who);
      return id ? (*id == 5 ? 1 : 0) : 2;
    };
    // The desk refuses a text with '|' as its rule does; everything else goes as number 7.
    hooks.SendOwnMessage = [this](const std::string& to, const std::string& text, const std::string& who) {
      FSent.push_back(to + ": " + text + " by " + who);
      return text.find('|') == std::string::npos
                 ? std::pair<std::string, std::string>{"7", ""}
                 : std::pair<std::string, std::string>{"", "Cannot send '|': APRS reserves it"};
    };
    // Message 7 is being sent, 6 was acknowledged; no other number is known.
    hooks.CancelSent = [this](const std::string& number, const std::string& who) {
      FSent.push_back("cancel " + number + " by " + who);
      if (number == "6") return std::string("Message 6 to K2XYZ is no longer being sent: acknowledged");
      if (number != "7") throw EBoardNotFound("No message " + number + " is being sent");
      return std::string();
    };
    FServer = std::make_unique<TBoardServer>(config, std::move(hooks));
    FServer->Start();
    FPort = FServer->Port();
  }

  // The session the page gets for the token (or `key`) at this start.
  std::string Session(const std::string& key = kToken) {
    const std::string answer = Exchange(
        FPort, Post("/api/session", "", "Authorization: Bearer " + key + "\r\nOrigin: http://127.0.0.1\r\n"));
    const std::size_t at = answer.find("\"session\":\"");
    return at == std::string::npos ? std::string() : answer.substr(at + 11, 64);
  }

  std::string KeyFile() const { return FKeys.filePath(QString::fromLatin1(kBoardKeysFile)).toStdString(); }
  std::string MakeKey(const std::string& name, bool canAct) {
    bool replaced = false;
    return MakeBoardKey(KeyFile(), name, canAct, replaced).Key;
  }

  int FState = 1;
  int FStateMade = 0;
  std::string FStoreFile;  // "": no store is open
  std::vector<std::int64_t> FReprinted;
  std::vector<std::string> FReprintedBy;
  std::vector<std::string> FLogged;
  std::vector<std::string> FAcknowledged;
  std::vector<std::string> FSent;

  template <std::size_t N>
  void PostEach(const char* path, const TPostCase (&cases)[N], const std::string& elsewhere) {
    const std::string same = kBearer + "Origin: http://127.0.0.1\r\n";
    for (const auto& c : cases) {
      SCOPED_TRACE(c.body);
      const std::string answer = Exchange(FPort, Post(path, c.body, same));
      EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 300);
      EXPECT_NE(answer.find(c.contains), std::string::npos) << answer.substr(0, 300);
    }
    EXPECT_EQ(StatusOf(Exchange(FPort, Post(path, elsewhere, kBearer + "Origin: http://evil.example\r\n"))),
              "403");
  }
  std::vector<std::string> FCleared;
  QTemporaryDir FArchive;
  QTemporaryDir FKeys;
  std::unique_ptr<TBoardServer> FServer;
  int FPort = 0;
};

TEST_F(BoardServerTest, TheDoorAnswersEachRequestAsItMay) {  // slow
  const QString day = FArchive.filePath(QDate::currentDate().toString(Qt::ISODate));
  ASSERT_TRUE(QDir().mkpath(day));
  QFile page(day + QStringLiteral("/001530-job41.pdf"));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.write("%PDF-1.4 page");
  page.close();
  QFile secret(FArchive.filePath(QStringLiteral("secret.txt")));
  ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
  secret.write("SECRET");
  secret.close();
  ASSERT_TRUE(QFile::link(secret.fileName(), day + QStringLiteral("/link.pdf")));
  TBoardConfig config;
  config.TimeoutSeconds = 1;  // what cannot be read whole ends sooner
  Start(config);

  const std::string cookie = kBearer;
  const std::string same = cookie + "Origin: http://127.0.0.1\r\n";
  const std::string session = "Authorization: Bearer " + Session() + "\r\n";
  const struct {
    const char* what;
    std::string request;
    const char* status;
    const char* contains;
  } cases[] = {
      {"no key", Get("/api/state", ""), "401",
       "\"hint\":\"Ask the desk's operator for a key of your own: they run quillmark --board-key NAME"},
      {"no key for a page", Get("/pages/001530-job41.pdf", ""), "401", "<h1>This board needs a key</h1>"},
      {"a wrong key", Get("/api/state", "Authorization: Bearer 0123\r\n"), "401", ""},
      {"the token in a cookie is no key",
       Get("/api/state", "Cookie: quillmark_board=" + std::string(kToken) + "\r\n"), "401", ""},
      {"the token in the address", Get("/api/state?token=" + std::string(kToken), ""), "200", "\"n\":1"},
      {"the session", Get("/api/state", session), "200", "\"n\":1"},
      {"the session opens no session", Post("/api/session", "", "Origin: http://127.0.0.1\r\n"), "401", ""},
      // The page's own files hold nothing of the desk; the old cookie with the token goes.
      {"the page without a key", Get("/", ""), "200",
       "Set-Cookie: quillmark_board=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"},
      {"the first visit", Get("/?token=" + std::string(kToken), ""), "200", "<script src=\"/board.js\""},
      {"the script without a key", Get("/board.js", ""), "200", "localStorage"},
      {"the page", Get("/"), "200", "<script src=\"/board.js\""},
      {"a job reprinted by number", Post("/api/reprint-job", "job=41", same), "200", "Reprinted"},
      {"a mistyped job number", Post("/api/reprint-job", "job=2324", same), "404", "No job 2324 was printed"},
      {"no page elsewhere", Get("/index.html"), "404", ""},
      {"a reprint from the page", Post("/api/reprint", "id=3&id=4", same), "200", "Reprinted"},
      {"a reprint the desk refuses", Post("/api/reprint", "id=99", same), "409", "There is no message 99"},
      {"a reprint of nothing", Post("/api/reprint", "", same), "400", ""},
      {"a reprint of words", Post("/api/reprint", "id=abc", same), "400", ""},
      {"a reprint from elsewhere", Post("/api/reprint", "id=5", cookie + "Origin: http://evil.example\r\n"),
       "403", ""},
      {"a reprint with no origin", Post("/api/reprint", "id=5", cookie), "403", ""},
      {"a reprint without the token", Post("/api/reprint", "id=5", "Origin: http://127.0.0.1\r\n"), "401",
       ""},
      {"a reprint by GET", Get("/api/reprint?id=5"), "404", ""},
      {"a body too large", Post("/api/reprint", "id=" + std::string(20000, '1'), same), "413", ""},
      {"a bulletin line cleared", Post("/api/bulletins/clear", R"({"from":"Q7CLUB","id":" BLN1"})", same),
       "200", "Cleared"},
      {"a line not on the board", Post("/api/bulletins/clear", R"({"from":"Q7CLUB","id":"BLN9"})", same),
       "404", "No line BLN9"},
      {"a clear in form fields", Post("/api/bulletins/clear", "from=Q7CLUB&id=BLN1", same), "400",
       "Name the line to clear"},
      {"a clear of blanks", Post("/api/bulletins/clear", R"({"from":"Q7CLUB","id":"  "})", same), "400", ""},
      {"a clear of no text", Post("/api/bulletins/clear", R"({"from":"Q7CLUB","id":1})", same), "400", ""},
      {"a clear from elsewhere",
       Post("/api/bulletins/clear", R"({"from":"Q7CLUB","id":"BLN1"})",
            cookie + "Origin: http://evil.example\r\n"),
       "403", ""},
      {"the day's page", Get("/pages/001530-job41.pdf"), "200", "%PDF-1.4 page"},
      {"the day's pages listed", Get("/api/pages"), "200", "001530-job41.pdf"},
      {"a link out of the archive", Get("/pages/link.pdf"), "404", ""},
      {"a climb", Get("/pages/..%2Fsecret.txt"), "404", ""},
      {"a climb with dots", Get("/pages/%2e%2e%2f%2e%2e%2fsecret.pdf"), "404", ""},
      {"a plain climb", Get("/../../../etc/passwd"), "", ""},
      {"a climb past the script", Get("/board.js/../secret.txt"), "", ""},
      {"a request line too long", Get("/api/state?x=" + std::string(20000, 'a')), "414", ""},
      {"a header too long", Get("/api/state", cookie + "X-Big: " + std::string(20000, 'b') + "\r\n"), "", ""},
      {"headers without end",
       Get("/api/state", cookie + std::string(2000, 'h') + ":" + std::string(60000, 'v') + "\r\n"), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string answer = Exchange(FPort, c.request);
    if (*c.status) {
      EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 300);
    } else {
      // No status chosen: anything but success, and within the bound.
      EXPECT_NE(StatusOf(answer), "200") << answer.substr(0, 300);
    }
    EXPECT_NE(answer.find(c.contains), std::string::npos) << answer.substr(0, 300);
    EXPECT_EQ(answer.find("SECRET"), std::string::npos);
    EXPECT_EQ(answer.find("root:"), std::string::npos);
  }
  EXPECT_EQ(FReprinted, (std::vector<std::int64_t>{3, 4}));
  EXPECT_EQ(FCleared, std::vector<std::string>{"Q7CLUB BLN1"});
}

// Sends `request` a byte at a time, one every `paceMs`, until it is sent or the server
// closes; answers what came back.
std::string Drip(int fd, const std::string& request, int paceMs) {
  std::string got;
  for (char c : request) {
    if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, paceMs) > 0) return ReadFrom(fd, 1000);  // the client's pace, not a wait
  }
  return got + ReadFrom(fd, 10000);
}

TEST_F(BoardServerTest, AWholeRequestMustArriveByItsDeadlineHoweverItDrips) {
  TBoardConfig config;
  config.TimeoutSeconds = 5;  // each byte comes well within this
  config.RequestMs = 1000;
  Start(config);
  const int fd = test::ConnectLoopback(FPort);
  ASSERT_GE(fd, 0);
  const auto began = std::chrono::steady_clock::now();
  const std::string answer = WhileEventsRun([fd] { return Drip(fd, Get("/api/state"), 200); });
  const auto took = std::chrono::steady_clock::now() - began;
  ::close(fd);
  EXPECT_EQ(StatusOf(answer), "closed") << answer;
  EXPECT_LT(took, std::chrono::milliseconds(2500)) << "closed at the request's deadline, not per read";
}

TEST_F(BoardServerTest, TwoHundredDrippingStrangersLeaveTheKeysRequestsServed) {
  TBoardConfig config;
  config.TimeoutSeconds = 30;
  config.RequestMs = 60000;  // none of them is cut off by its deadline while this runs
  Start(config);
  std::atomic<bool> done{false};
  std::promise<void> connected;
  // 200 connections that never finish their request, each sent a byte every half second.
  auto strangers = std::async(std::launch::async, [this, &done, &connected] {
    std::vector<int> fds;
    fds.reserve(200);
    for (int i = 0; i < 200; ++i) fds.push_back(test::ConnectLoopback(FPort));
    connected.set_value();
    const std::string start = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Drip: ";
    for (std::size_t at = 0; !done; ++at) {
      for (int fd : fds) ::send(fd, &start[at % start.size()], 1, MSG_NOSIGNAL);
      pollfd none{-1, 0, 0};
      ::poll(&none, 0, 500);  // the strangers' pace
    }
    for (int fd : fds) ::close(fd);
  });
  EXPECT_EQ(connected.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/state"), 5000)), "200");
  }
  done = true;
  strangers.get();
}

TEST_F(BoardServerTest, ASessionOpensOnlyTheStartItWasMadeFor) {
  Start();
  const std::string first = Session();
  ASSERT_EQ(first.size(), 64u);
  EXPECT_NE(Session(), first) << "each trade its own session";
  FServer.reset();
  Start();  // the same token, as after a restart
  const std::string second = Session();
  EXPECT_EQ(second.size(), 64u);
  EXPECT_NE(second, first);
  EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/state", "Authorization: Bearer " + first + "\r\n"))), "401");
  EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/state", "Authorization: Bearer " + second + "\r\n"))), "200");
}

TEST_F(BoardServerTest, StopEndsAtOnceWhateverTheClientsDo) {
  TBoardConfig config;
  config.TimeoutSeconds = 60;
  config.RequestMs = 60000;
  Start(config);
  std::vector<int> clients;
  // Half a request, half a body, a page following the state.
  for (const std::string& part : {std::string("GET /api/state HTTP/1.1\r\nHost: 1"),
                                  "POST /api/reprint HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kBearer +
                                      "Origin: http://127.0.0.1\r\nContent-Length: 100\r\n\r\nid",
                                  Get("/api/events")}) {
    clients.push_back(test::ConnectLoopback(FPort));
    ::send(clients.back(), part.data(), part.size(), MSG_NOSIGNAL);
  }
  EXPECT_NE(WhileEventsRun([fd = clients.back()] { return ReadFrom(fd, 5000, "\n\n"); }).find("event: state"),
            std::string::npos);
  const auto began = std::chrono::steady_clock::now();
  FServer->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
  for (int fd : clients) {
    EXPECT_EQ(ReadFrom(fd, 5000).find("HTTP/1.1 200"), std::string::npos);
    ::close(fd);
  }
}

TEST_F(BoardServerTest, ManyConnectionsWaitInTheBacklogNotInTheProcess) {  // slow
  TBoardConfig config;
  config.MaxStreams = 2;  // 10 workers
  config.MaxWaiting = 4;
  config.TimeoutSeconds = 1;
  Start(config);
  // The listener takes connections only while its 10 workers and 4 places in the waiting room
  // (and the one in its hand) have room: the rest wait in the system's backlog, and each
  // connect waits there until it is taken. The idle ones are let go as each read times out,
  // and a real request behind them is answered. (cpp-httplib's own backlog of 5 paces the
  // arrivals too, so without the bound this count varies with the machine's speed.)
  std::atomic<std::size_t> held{0};
  auto answered = std::async(std::launch::async, [this, &held] {
    std::vector<int> clients;
    clients.reserve(60);
    for (int i = 0; i < 60; ++i) clients.push_back(test::ConnectLoopback(FPort));
    // Some of them are in the server's hands before the real request comes (the server may
    // let strangers go as fast as they come, so the watch below alone can miss them).
    for (const QDeadlineTimer taken(10000); held == 0 && !taken.hasExpired();) held = AcceptedOn(FPort);
    const int fd = test::ConnectLoopback(FPort);
    const std::string request = Get("/api/state");
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer = ReadFrom(fd, 60000);
    ::close(fd);
    for (int c : clients) ::close(c);
    return answer;
  });
  std::size_t most = 0;
  const QDeadlineTimer deadline(90000);
  while (answered.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready &&
         !deadline.hasExpired())
    most = std::max(most, AcceptedOn(FPort));
  EXPECT_EQ(StatusOf(answered.get()), "200");
  most = std::max(most, held.load());
  EXPECT_GE(most, 1u);
  EXPECT_LE(most, 15u) << "connections held at once";
}

// With no page following it, the state is made when a request asks for it, not each time
// something changes, and the answer is never older than the change.
TEST_F(BoardServerTest, WithNoPageOpenTheStateIsMadeWhenAskedFor) {
  Start();
  const int atStart = FStateMade;
  FState = 2;
  for (int i = 0; i < 100; ++i) FServer->Changed();
  const std::string answer = Exchange(FPort, Get("/api/state"));
  EXPECT_NE(answer.find("{\"n\":2}"), std::string::npos) << answer;
  EXPECT_EQ(FStateMade, atStart + 1);
  // Nothing changed since: the next answer is the same state, not made again.
  EXPECT_NE(Exchange(FPort, Get("/api/state")).find("{\"n\":2}"), std::string::npos);
  EXPECT_EQ(FStateMade, atStart + 1);
}

// The search is the run's: the server hands it the filters and the store's file, answers a
// page of what it found and says whether there is more.
TEST_F(BoardServerTest, AHistorySearchIsAnsweredFromTheRunsHooks) {
  Start();
  const std::string search = "/api/history?call=W1AW&text=net&kind=3";
  EXPECT_EQ(StatusOf(Exchange(FPort, Get(search))), "503") << "no store is open";
  FStoreFile = "/tmp/messages.db";
  const std::string answer = Exchange(FPort, Get(search));
  EXPECT_EQ(StatusOf(answer), "200") << answer.substr(0, 300);
  std::size_t rows = 0;
  for (std::size_t at = answer.find("{\"id\":3}"); at != std::string::npos;
       at = answer.find("{\"id\":3}", at + 1))
    ++rows;
  EXPECT_EQ(rows, 200u);
  EXPECT_NE(answer.find("\"more\":true"), std::string::npos);
  EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/history?kind=5"))), "400");
}

// The communications log as CSV for the period asked; what is missing or refused is said.
TEST_F(BoardServerTest, TheCommunicationsLogIsServedAsCsv) {
  Start();
  const std::string answer = Exchange(FPort, Get("/api/ics309?from=x&to=later&format=csv"));
  EXPECT_EQ(StatusOf(answer), "200") << answer;
  EXPECT_NE(answer.find("Content-Type: text/csv; charset=utf-8"), std::string::npos) << answer;
  EXPECT_NE(answer.find("\r\n\r\nTime (UTC),From,To,Subject/Message\r\n1,2,W1AW,\"a, b\"\r\n"),
            std::string::npos)
      << answer;
  const struct {
    const char* Path;
    const char* Said;
  } refused[] = {
      {"/api/ics309?from=x&format=csv", "Give the period: from=yyyy-mm-ddThh:mm&to=yyyy-mm-ddThh:mm (UTC)"},
      {"/api/ics309?from=x&to=y", "The log is served as format=csv"},
      {"/api/ics309?from=x&to=y&format=pdf", "The log is served as format=csv"},
      {"/api/ics309?from=bad&to=y&format=csv", "\"bad\" is no time"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.Path);
    const std::string bad = Exchange(FPort, Get(r.Path));
    EXPECT_EQ(StatusOf(bad), "400");
    EXPECT_NE(bad.find(r.Said), std::string::npos) << bad;
  }
}

TEST_F(BoardServerTest, TheStateIsPushedAsItChangesToABoundedNumberOfPages) {
  TBoardConfig config;
  config.MaxStreams = 2;
  Start(config);
  const std::string stream = Get("/api/events");
  std::vector<int> pages;
  for (int i = 0; i < 2; ++i) {
    const int fd = test::ConnectLoopback(FPort);
    ::send(fd, stream.data(), stream.size(), MSG_NOSIGNAL);
    const std::string first = WhileEventsRun([fd] { return ReadFrom(fd, 5000, "\n\n"); });
    EXPECT_NE(first.find("event: state\ndata: {\"n\":1}"), std::string::npos) << first;
    pages.push_back(fd);
  }
  EXPECT_EQ(StatusOf(Exchange(FPort, stream)), "503") << "a third page is one too many";

  FState = 2;
  FServer->Changed();
  for (int fd : pages) {
    const std::string next = WhileEventsRun([fd] { return ReadFrom(fd, 5000, "{\"n\":2}"); });
    EXPECT_NE(next.find("data: {\"n\":2}"), std::string::npos) << next;
  }
  // A stop ends the open pages.
  const auto ended = std::async(std::launch::async, [fd = pages[0]] { return ReadFrom(fd, 10000); });
  FServer->Stop();
  EXPECT_EQ(ended.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  for (int fd : pages) ::close(fd);
}

// A read-only key (and a session made from it) reads, and is refused every change on the
// server with the reason; an acting key's change is made in its name. Refusals are logged,
// a burst of them in one line.
TEST_F(BoardServerTest, AReadOnlyKeyReadsAndIsRefusedEveryChange) {
  Start();
  const std::string reader = MakeKey("wall", false);
  const std::string actor = MakeKey("ops", true);
  const std::string same = "Origin: http://127.0.0.1\r\n";
  auto bearer = [](const std::string& key) { return "Authorization: Bearer " + key + "\r\n"; };
  const std::string readerSession = Session(reader);
  ASSERT_EQ(readerSession.size(), 64u);
  for (const std::string& key : {reader, readerSession}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/state?key=" + key, ""))), "200");
    EXPECT_EQ(StatusOf(Exchange(FPort, Get("/api/state", bearer(key)))), "200");
    for (const auto& [path, body] : {std::pair{"/api/reprint", "id=3"},
                                     {"/api/reprint-job", "job=41"},
                                     {"/api/alarms/acknowledge", "{}"},
                                     {"/api/send", "{\"to\":\"K2XYZ\",\"text\":\"hi\"}"},
                                     {"/api/sent/7/cancel", ""}}) {
      const std::string answer = Exchange(FPort, Post(path, body, bearer(key) + same));
      EXPECT_EQ(StatusOf(answer), "403") << answer;
      EXPECT_NE(answer.find("{\"error\":\"The key \\\"wall\\\" may only read: " + std::string(path) +
                            " needs a key that can act\""),
                std::string::npos)
          << answer;
    }
  }
  EXPECT_TRUE(FReprinted.empty());
  EXPECT_TRUE(FSent.empty());
  const std::string acted = Exchange(FPort, Post("/api/reprint", "id=7", bearer(Session(actor)) + same));
  EXPECT_EQ(StatusOf(acted), "200") << acted;
  EXPECT_EQ(FReprintedBy, std::vector<std::string>{"ops"});
  EXPECT_NE(Exchange(FPort, Get("/api/me", bearer(actor))).find("{\"canAct\":true,\"name\":\"ops\"}"),
            std::string::npos);
  WhileEventsRun([] { return 0; });  // the log's lines are handed over on this thread
  ASSERT_EQ(FLogged.size(), 1u);
  EXPECT_EQ(FLogged[0], "Board: refused /api/reprint to the read-only key wall");
}

// Keys are made and revoked by another process while the board serves: each counts at the
// next request, and a revoked key's sessions end with it.
TEST_F(BoardServerTest, AKeyMadeOrRevokedWhileServingCountsAtOnce) {
  Start();
  auto state = [this](const std::string& key) {
    return StatusOf(Exchange(FPort, Get("/api/state", "Authorization: Bearer " + key + "\r\n")));
  };
  const std::string key = MakeKey("desk2", false);
  EXPECT_EQ(state(key), "200");
  const std::string session = Session(key);
  EXPECT_EQ(state(session), "200");
  EXPECT_EQ(StatusOf(Exchange(FPort,
                              Post("/api/session", "",
                                   "Authorization: Bearer " + session + "\r\nOrigin: http://127.0.0.1\r\n"))),
            "401")
      << "a session makes no session";
  ASSERT_TRUE(RevokeBoardKey(KeyFile(), "desk2"));
  EXPECT_EQ(state(key), "401");
  EXPECT_EQ(state(session), "401");
  const std::string remade = MakeKey("desk2", false);
  EXPECT_EQ(state(remade), "200");
  EXPECT_EQ(state(session), "401") << "the old session stays ended";
}

// The feed: what was kept after a message, oldest first, a bounded page at a time.
TEST_F(BoardServerTest, TheFeedPagesThroughWhatWasKeptAfterAMessage) {
  Start();
  const std::string first = Exchange(FPort, Get("/api/messages?after=10"));
  EXPECT_NE(first.find("{\"id\":11}"), std::string::npos);
  EXPECT_NE(first.find("{\"id\":210}],\"more\":true,\"next\":210}"), std::string::npos)
      << first.substr(0, 300);
  EXPECT_EQ(first.find("{\"id\":211}"), std::string::npos);
  const std::string last = Exchange(FPort, Get("/api/messages?after=410"));
  EXPECT_NE(last.find("{\"id\":450}],\"more\":false,\"next\":450}"), std::string::npos)
      << last.substr(0, 300);
  EXPECT_NE(
      Exchange(FPort, Get("/api/messages?after=450")).find("{\"messages\":[],\"more\":false,\"next\":450}"),
      std::string::npos);
  for (const char* bad : {"-1", "x", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(StatusOf(Exchange(FPort, Get(std::string("/api/messages?after=") + bad))), "400");
  }
}

// An acknowledgement from the page: one alarm by its number or every one, in the key's name;
// a body that is neither is refused, as is a change from elsewhere.
TEST_F(BoardServerTest, AlarmsAreAcknowledgedFromThePage) {
  Start();
  const TPostCase cases[] = {
      {"{\"id\": 5}", "200", "{\"acknowledged\":1}"},
      {"{\"id\":9}", "404", "No alarm 9 sounds"},
      {"{}", "200", "{\"acknowledged\":2}"},
      {"", "400", ""},
      {"[5]", "400", ""},
      {"{\"id\":\"5\"}", "400", ""},
      {"{\"id\":1.5}", "400", ""},
      {"{\"id\":0}", "400", ""},
      {"{\"id\":5,\"all\":true}", "400", ""},
  };
  PostEach("/api/alarms/acknowledge", cases, "{}");
  EXPECT_EQ(FAcknowledged, (std::vector<std::string>{"5 by owner", "9 by owner", "all by owner"}));
}

// A message sent from the page in the key's name: its number back, the desk's refusal as 422
// with the reason, a body that names no call and text refused before the desk hears of it.
TEST_F(BoardServerTest, AMessageIsSentFromThePage) {
  Start();
  const TPostCase cases[] = {
      {"{\"to\":\"K2XYZ-9\",\"text\":\"Roger, 20 cots\"}", "200", "{\"number\":\"7\"}"},
      {"{\"to\":\"K2XYZ\",\"text\":\"a|b\"}", "422", "Cannot send '|': APRS reserves it"},
      {"{\"to\":\"K2XYZ\"}", "400", "Send {"},
      {"{\"to\":\"K2XYZ\",\"text\":5}", "400", ""},
      {"{\"to\":\"K2XYZ-9-TOO-LONG\",\"text\":\"hi\"}", "400", ""},
      {"{\"to\":\"K2XYZ\",\"text\":\"hi\",\"via\":\"x\"}", "400", ""},
      {"not json", "400", ""},
  };
  PostEach("/api/send", cases, "{\"to\":\"K2XYZ\",\"text\":\"hi\"}");
  EXPECT_EQ(FSent, (std::vector<std::string>{"K2XYZ-9: Roger, 20 cots by owner", "K2XYZ: a|b by owner"}));
}

// A message stopped from the page in the key's name: its number back, an ended one refused 409
// with where it stands, an unknown one 404, a path that names no number 400 before the desk
// hears of it.
TEST_F(BoardServerTest, AMessageIsStoppedFromThePage) {
  Start();
  const std::string same = kBearer + "Origin: http://127.0.0.1\r\n";
  const TPostCase cases[] = {
      {"7", "200", "{\"cancelled\":\"7\"}"},
      {"6", "409", "409 Message 6 to K2XYZ is no longer being sent: acknowledged"},
      {"ZZ", "404", "404 No message ZZ is being sent"},
      {"TOOLONG", "400", "Not a message number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const std::string answer =
        Exchange(FPort, Post(std::string("/api/sent/") + c.body + "/cancel", "", same));
    EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 300);
    EXPECT_NE(answer.find(c.contains), std::string::npos) << answer.substr(0, 300);
  }
  EXPECT_EQ(FSent,
            (std::vector<std::string>{"cancel 7 by owner", "cancel 6 by owner", "cancel ZZ by owner"}));
}

}  // namespace
}  // namespace qm
