// The board's door in the real program with --no-window: a client that drips its request holds
// neither the end on SIGTERM nor the store, and a port another local user took first gets no
// address with the token and nothing of the operator's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <string>

#include "store/MessageStore.h"
#include "tests/support/LogFiles.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// Whether the server has accepted the connection `client` made: its side of it has an inode
// (a socket) in /proc/net/tcp only once accepted, not while it waits in the backlog.
bool AcceptedByServer(int client) {
  sockaddr_in mine{};
  socklen_t size = sizeof mine;
  if (::getsockname(client, reinterpret_cast<sockaddr*>(&mine), &size) != 0) return false;
  QFile tcp(QStringLiteral("/proc/net/tcp"));
  if (!tcp.open(QIODevice::ReadOnly)) return false;
  const QString peer = QStringLiteral(":%1").arg(ntohs(mine.sin_port), 4, 16, QLatin1Char('0')).toUpper();
  for (const QByteArray& line : tcp.readAll().split('\n')) {
    const QStringList f = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
    if (f.size() > 9 && f[2].endsWith(peer) && f[9] != QLatin1String("0")) return true;
  }
  return false;
}

struct TRun {
  QTemporaryDir Home;
  QString Config = Home.filePath(QStringLiteral("config"));
  QProcessEnvironment Env;
  std::unique_ptr<QProcess> Process;
  QByteArray Err;

  explicit TRun(const QStringList& args) {
    test::App();
    QDir().mkpath(Config);
    QFile ini(Config + QStringLiteral("/Quillmark.ini"));
    if (ini.open(QIODevice::WriteOnly)) ini.write("[Settings]\ncbBull.Checked=True\nedMsgCount.Text=20\n");
    ini.close();
    QFile capture(Home.filePath(QStringLiteral("capture.txt")));
    if (capture.open(QIODevice::WriteOnly)) {
      capture.write("*12:00:00 N0CALL-5>APRS::BLN1     :Door item\n");
      for (int i = 0; i < 5000; ++i) capture.write("*12:00:01 W1ABC>APRS:!4903.50N/07201.75W-\n");
    }
    capture.close();
    Env = test::ProgramEnvironment(Home.path());
    Env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    Env.remove(QStringLiteral("DISPLAY"));
    Env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    Process = test::StartProgram(QStringList{QStringLiteral("--no-window"), QStringLiteral("--config"),
                                             Config, QStringLiteral("--replay"), capture.fileName(),
                                             QStringLiteral("--pace"), QStringLiteral("5")} +
                                     args,
                                 Env);
  }

  // Standard error until `pattern` is in it or the run ends; the match, or "".
  QString WaitForErr(const QString& pattern, int boundMs = 30000) {
    const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(boundMs);
    for (;;) {
      Err += Process->readAllStandardError();
      const QRegularExpressionMatch m = re.match(QString::fromUtf8(Err));
      if (m.hasMatch()) return m.captured(0);
      if (Process->state() == QProcess::NotRunning || deadline.hasExpired()) return {};
      Process->waitForReadyRead(100);
    }
  }
};

TEST(BoardDoorRun, ADrippingClientHoldsNeitherTheEndNorTheStore) {
  TRun run({QStringLiteral("--web"), QStringLiteral("127.0.0.1:0")});
  const QString url = run.WaitForErr(QStringLiteral("^Board: http://127.0.0.1:\\d+/"));
  ASSERT_FALSE(url.isEmpty()) << run.Err.toStdString();
  // The bulletin taken first, so the store has something to close.
  const QDeadlineTimer taken(30000);
  while (!test::LogText(run.Config).contains(QStringLiteral("Door item")) && !taken.hasExpired())
    QThread::msleep(50);  // polls a file another process writes
  ASSERT_TRUE(test::LogText(run.Config).contains(QStringLiteral("Door item")));
  const int port = url.section(QLatin1Char(':'), 3).section(QLatin1Char('/'), 0, 0).toInt();
  // One drips its request line, one sent half its headers and waits.
  std::atomic<bool> done{false};
  const int held = test::ConnectLoopback(port);
  ASSERT_GE(held, 0) << "port " << port;
  const std::string half = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  ::send(held, half.data(), half.size(), MSG_NOSIGNAL);
  auto dripping = std::async(std::launch::async, [port, &done] {
    const int fd = test::ConnectLoopback(port);
    const std::string line =
        "GET /api/history?text=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    for (std::size_t i = 0; !done && i < line.size() && ::send(fd, &line[i], 1, MSG_NOSIGNAL) == 1; ++i) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 400);  // the client's pace: a byte well within every read timeout
    }
    ::close(fd);
  });
  const QDeadlineTimer accepted(10000);
  while (!AcceptedByServer(held) && !accepted.hasExpired()) QThread::msleep(10);  // polls the kernel's table
  ASSERT_TRUE(AcceptedByServer(held));
  ASSERT_EQ(::kill(static_cast<pid_t>(run.Process->processId()), SIGTERM), 0);
  const auto signalled = std::chrono::steady_clock::now();
  const bool ended = run.Process->waitForFinished(10000);
  const auto took = std::chrono::steady_clock::now() - signalled;
  done = true;
  dripping.get();
  ::close(held);
  ASSERT_TRUE(ended);
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_EQ(run.Process->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(run.Process->exitCode(), 0) << (run.Err + run.Process->readAllStandardError()).toStdString();
  // Closed cleanly: SQLite's last connection folds its log into the file and removes it.
  const QString db = run.Config + QStringLiteral("/Quillmark-messages.db");
  EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-wal")));
  EXPECT_EQ(TMessageStore(db.toStdString()).Listed().size(), 1u);
}

// Another user listening on 127.0.0.1 at a port of the system's choosing, recording what comes;
// its process id, and the port through `port`.
pid_t ListenAsNobody(int& port, int& record) {
  int ready[2], seen[2];
  if (::pipe(ready) != 0 || ::pipe(seen) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    // Only system calls from here: the parent has threads.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      ::_exit(4);
    const int got = ntohs(a.sin_port);
    if (::write(ready[1], &got, sizeof got) != sizeof got) ::_exit(5);
    for (;;) {
      const int c = ::accept(fd, nullptr, nullptr);
      if (c < 0) continue;
      char buffer[4096];
      ssize_t n = 0;
      while ((n = ::read(c, buffer, sizeof buffer)) > 0)
        if (::write(seen[1], buffer, static_cast<std::size_t>(n)) != n) ::_exit(6);
      ::close(c);
    }
  }
  ::close(ready[1]);
  ::close(seen[1]);
  if (::read(ready[0], &port, sizeof port) != sizeof port) port = 0;
  ::close(ready[0]);
  record = seen[0];
  return child;
}

TEST(BoardDoorRun, APortAnotherUserTookGetsNoAddressAndNothingOfTheOperators) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user (uid 65534)";
  int port = 0, record = -1;
  const pid_t squatter = ListenAsNobody(port, record);
  ASSERT_GT(squatter, 0);
  ASSERT_GT(port, 0) << "the other user could not listen";
  TRun run({QStringLiteral("--web"), QStringLiteral("127.0.0.1:%1").arg(port)});
  const QString said = run.WaitForErr(QStringLiteral("^quillmark: the desk runs without its board$"));
  run.WaitForErr(QStringLiteral("running without a window"));
  const test::TProgramResult status = test::Finish(
      *test::StartProgram({QStringLiteral("--status"), QStringLiteral("--config"), run.Config}, run.Env));
  ::kill(static_cast<pid_t>(run.Process->processId()), SIGTERM);
  const test::TProgramResult ended = test::Finish(*run.Process, 20000);
  const QString err = QString::fromUtf8(run.Err + ended.Err);
  ::kill(squatter, SIGKILL);
  ::waitpid(squatter, nullptr, 0);
  std::string received;
  char buffer[4096];
  for (ssize_t n = 0; (n = ::read(record, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
  ::close(record);

  EXPECT_FALSE(said.isEmpty()) << err.toStdString();
  EXPECT_TRUE(
      err.contains(QStringLiteral("The board cannot listen on 127.0.0.1:%1: another program holds that "
                                  "port; what answers there is not this desk's board: do not open it")
                       .arg(port)))
      << err.toStdString();
  EXPECT_FALSE(err.contains(QStringLiteral("token="))) << err.toStdString();
  EXPECT_FALSE(status.Out.contains("token=")) << status.Out.toStdString();
  if (status.Code != 3) {  // a desk that answers says why it has no board
    EXPECT_TRUE(status.Out.contains("Board: not serving: The board cannot listen on"))
        << status.Out.toStdString();
  }
  EXPECT_EQ(received, "") << "the program sent the other user's port something";
  QFile token(run.Config + QStringLiteral("/Quillmark-board.token"));
  ASSERT_TRUE(token.open(QIODevice::ReadOnly));
  EXPECT_EQ(err.indexOf(QString::fromLatin1(token.readAll().trimmed())), -1);
}

}  // namespace
}  // namespace qm
