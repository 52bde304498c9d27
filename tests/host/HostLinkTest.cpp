// The host link's transports against loopback servers and capture files, on the event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/AprsIsHostLink.h"
#include "host/HostLink.h"
#include "host/KissTcpHostLink.h"
#ifdef QM_HAVE_SERIAL_HOST_LINK
#include "host/KissSerialHostLink.h"
#endif
#include "host/KissDecoder.h"
#include "host/ReplayHostLink.h"
#include "tests/host/TestFrames.h"
#include "tests/host/TestIntake.h"
#include "tests/support/AprsIsPasscode.h"
#include "tests/support/TempDir.h"

#if defined(QM_HAVE_SERIAL_HOST_LINK) && defined(__unix__)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#define QM_PSEUDO_TERMINAL_TESTS 1
#endif

namespace qm {
namespace {

using namespace std::string_literals;
constexpr int Deadline = 5000;

class TQtApp : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "host_link_test";
    static char* argv[] = {name, nullptr};
    FApp = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { FApp.reset(); }

 private:
  std::unique_ptr<QCoreApplication> FApp;
};
[[maybe_unused]] const auto* const QtApp = ::testing::AddGlobalTestEnvironment(new TQtApp);

void ExpectStationForm(const std::string& text, const std::string& line, bool timeWord) {
  EXPECT_EQ(test::StationFormError(text, line, timeWord), "");
}

// Collects PacketText while DataReady is emitted, and every state text.
struct TRecorder {
  explicit TRecorder(THostLink& link) {
    QObject::connect(&link, &THostLink::DataReady, [this, &link] { Texts.push_back(link.PacketText()); });
    QObject::connect(&link, &THostLink::StateChanged,
                     [this](const QString& s) { States.push_back(s.toStdString()); });
    QObject::connect(&link, &THostLink::Closing, [this] { ++Closings; });
    QObject::connect(&link, &THostLink::DropLogLine,
                     [this](const QString& s) { Drops.push_back(s.toStdString()); });
  }
  bool WaitTexts(std::size_t n) {
    return QTest::qWaitFor([&] { return Texts.size() >= n; }, Deadline);
  }
  bool WaitState(const std::string& prefix, std::size_t count = 1) {
    return QTest::qWaitFor([&] { return StatesStartingWith(prefix) >= count; }, Deadline);
  }
  std::size_t StatesStartingWith(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& s : States) n += s.rfind(prefix, 0) == 0;
    return n;
  }
  // "Retrying in N s" of every retry so far, the reason cut off.
  std::vector<std::string> RetryWaits() const {
    std::vector<std::string> waits;
    for (const auto& s : States)
      if (s.rfind("Retrying in ", 0) == 0) waits.push_back(s.substr(0, s.find(" s:") + 2));
    return waits;
  }
  std::vector<std::string> Texts, States, Drops;
  int Closings = 0;
};

class TLoopbackServer {
 public:
  TLoopbackServer() { EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost)); }
  int Port() const { return FServer.serverPort(); }
  // The next client connection, or nullptr after the deadline.
  QTcpSocket* Accept() {
    if (!QTest::qWaitFor([&] { return FServer.hasPendingConnections(); }, Deadline)) return nullptr;
    return FServer.nextPendingConnection();
  }
  static std::string ReadLine(QTcpSocket* s) {
    if (!QTest::qWaitFor([&] { return s->canReadLine(); }, Deadline)) return "(nothing)";
    return s->readLine().toStdString();
  }
  static void Write(QTcpSocket* s, const std::string& bytes) {
    s->write(bytes.data(), static_cast<qint64>(bytes.size()));
    s->flush();
  }

 private:
  QTcpServer FServer;
};

THostSettings TcpSettings(THostSettings::TTransport transport, int port) {
  THostSettings s;
  s.Transport = transport;
  s.Callsign = "N0CALL-5";
  s.Server = "127.0.0.1";
  s.Port = port;
  s.RetryFirstMs = 100;
  s.RetryMaxMs = 400;
  s.ConnectTimeoutMs = Deadline;
  return s;
}

TEST(AprsIsLinkTest, LoginLineExactlyAndPacketsInStationForm) {
  struct TCase {
    std::string Filter, Login;
  } cases[] = {
      {"", "user N0CALL-5 pass -1 vers Quillmark 1.3.3\r\n"},
      {"r/40/-75/100 t/m", "user N0CALL-5 pass -1 vers Quillmark 1.3.3 filter r/40/-75/100 t/m\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Filter);
    TLoopbackServer server;
    auto settings = TcpSettings(THostSettings::htAprsIs, server.Port());
    settings.Filter = c.Filter;
    auto link = CreateHostLink(settings);
    TRecorder rec(*link);
    link->Start();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(TLoopbackServer::ReadLine(peer), c.Login);
    TLoopbackServer::Write(peer,
                           "# aprsc 2.1.14-g5e22b37\r\n# logresp N0CALL-5 unverified, server T2TEST\r\n"
                           "W1ABC>APRS,TCPIP*,qAC,T2TEST::N0CALL-5 :hello{12\r\n"
                           "# 7 Dec 2026 22:00:00 GMT T2TEST 127.0.0.1:14580\r\n"
                           "12345>APRS::BLN1     :digits first\r\n");
    ASSERT_TRUE(rec.WaitTexts(2));
    ASSERT_EQ(rec.Texts.size(), 2u);
    ExpectStationForm(rec.Texts[0], "W1ABC>APRS,TCPIP*,qAC,T2TEST::N0CALL-5 :hello{12", false);
    ExpectStationForm(rec.Texts[1], "12345>APRS::BLN1     :digits first", false);
    EXPECT_EQ(rec.States, (std::vector<std::string>{"Connecting", "Connected"}));
    EXPECT_EQ(link->SourceKind() + " " + link->SourcePlace(),
              "APRS-IS 127.0.0.1:" + QString::number(server.Port()));
    // Nothing but the login ever reaches the server.
    EXPECT_EQ(peer->bytesAvailable(), 0);
    TOwnStation info;
    link->FillMyInfo(info);
    EXPECT_EQ(info.MyCallsign(), "N0CALL-5");
  }
}

TEST(AprsIsLinkTest, ReconnectsAfterDropAndLogsInAgain) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* first = server.Accept();
  ASSERT_NE(first, nullptr);
  TLoopbackServer::ReadLine(first);
  TLoopbackServer::Write(first, "A>B:one\r\nA>B:half");
  ASSERT_TRUE(rec.WaitTexts(1));
  first->disconnectFromHost();
  ASSERT_TRUE(rec.WaitState("Retrying in 0.1 s: "));
  QTcpSocket* second = server.Accept();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(TLoopbackServer::ReadLine(second), "user N0CALL-5 pass -1 vers Quillmark 1.3.3 filter t/m\r\n");
  TLoopbackServer::Write(second, "A>B:two\r\n");
  ASSERT_TRUE(rec.WaitTexts(2));
  // The half line of the dropped connection is not glued to the new one.
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:one", "*A>B:two"}));
  EXPECT_EQ(rec.Closings, 0);
}

TEST(AprsIsLinkTest, BackOffGrowsToItsLimit) {
  int port = 0;
  {
    QTcpServer gone;
    ASSERT_TRUE(gone.listen(QHostAddress::LocalHost));
    port = gone.serverPort();
  }
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, port));
  TRecorder rec(*link);
  link->Start();
  ASSERT_TRUE(rec.WaitState("Retrying in ", 4));
  auto waits = rec.RetryWaits();
  waits.resize(4);
  EXPECT_EQ(waits, (std::vector<std::string>{"Retrying in 0.1 s", "Retrying in 0.2 s", "Retrying in 0.4 s",
                                             "Retrying in 0.4 s"}));
  link->Stop();
}

TEST(AprsIsLinkTest, StableConnectionResetsBackOff) {
  struct TCase {
    int StableMs;
    const char* SecondWait;
  } cases[] = {{0, "Retrying in 0.1 s"}, {3600000, "Retrying in 0.2 s"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.StableMs);
    TLoopbackServer server;
    auto settings = TcpSettings(THostSettings::htAprsIs, server.Port());
    settings.StableMs = c.StableMs;
    auto link = CreateHostLink(settings);
    TRecorder rec(*link);
    link->Start();
    for (int round = 1; round <= 2; ++round) {
      QTcpSocket* peer = server.Accept();
      ASSERT_NE(peer, nullptr);
      TLoopbackServer::ReadLine(peer);
      peer->disconnectFromHost();
      ASSERT_TRUE(rec.WaitState("Retrying in ", round));
    }
    EXPECT_EQ(rec.RetryWaits(), (std::vector<std::string>{"Retrying in 0.1 s", c.SecondWait}));
  }
}

TEST(StreamLinkTest, OutageDurationInTheLog) {
  const struct {
    qint64 Ms;
    const char* Text;
  } cases[] = {{0, "less than 1 s"},     {999, "less than 1 s"}, {1000, "1 s"},
               {59999, "59 s"},          {60000, "1 min"},       {252000, "4 min 12 s"},
               {3599999, "59 min 59 s"}, {3600000, "1 h"},       {7559000, "2 h 5 min"},
               {90061000, "25 h 1 min"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ms);
    EXPECT_EQ(OutageDurationText(c.Ms), QString::fromLatin1(c.Text));
  }
}

// The log hears of an outage twice, when it begins and when it ends, however many retries lie
// between; the next outage is heard of again.
TEST(StreamLinkTest, OutageIsLoggedOnceWhenItBeginsAndOnceWhenItEnds) {
  const struct {
    const char* Name;
    bool UpFirst;
    const char* Reason;
  } cases[] = {{"connected link lost", true, "connection closed by server"},
               {"first connect refused", false, "Connection refused"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    if (!c.UpFirst) server.close();
    TAprsIsHostLink link(TcpSettings(THostSettings::htAprsIs, port));
    qint64 now = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 33), Qt::UTC).toMSecsSinceEpoch();
    link.SetClock([&now] { return now; });
    std::vector<std::string> lines;
    QObject::connect(&link, &THostLink::OutageLogLine,
                     [&](const QString& l) { lines.push_back(l.toStdString()); });
    TRecorder rec(link);
    const auto accept = [&] {
      return QTest::qWaitFor([&] { return server.hasPendingConnections(); }, Deadline)
                 ? server.nextPendingConnection()
                 : nullptr;
    };
    link.Start();
    const std::string source = "APRS-IS 127.0.0.1:" + std::to_string(port);
    const std::string down = source + " down at 14:05:33 UTC: " + c.Reason;
    if (c.UpFirst) {
      QTcpSocket* peer = accept();
      ASSERT_NE(peer, nullptr);
      ASSERT_TRUE(rec.WaitState("Connected"));
      EXPECT_TRUE(lines.empty());
      server.close();
      peer->disconnectFromHost();
    }
    ASSERT_TRUE(rec.WaitState("Retrying in ", 3));
    EXPECT_EQ(lines, std::vector<std::string>{down});

    now += 252000;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    QTcpSocket* back = accept();
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(rec.WaitState("Connected", c.UpFirst ? 2 : 1));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         down, source + " back after 4 min 12 s; packets may have been missed"}));

    now += 1000;
    back->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines.size() == 3; }, Deadline));
    EXPECT_EQ(lines[2], source + " down at 14:09:46 UTC: connection closed by server");
    link.Stop();
  }
}

TEST(AprsIsLinkTest, OverLongLineDropped) {
  TLoopbackServer server;
  TAprsIsHostLink link(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(link);
  link.Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  TLoopbackServer::Write(
      peer, "A>B:" + std::string(600, 'x') + "\r\nA>B:" + std::string(508, 'k') + "\r\nA>B:after\r\n");
  ASSERT_TRUE(rec.WaitTexts(2));
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:" + std::string(508, 'k'), "*A>B:after"}));
  EXPECT_EQ(link.DroppedLines(), 1u);
  EXPECT_EQ(rec.Drops, (std::vector<std::string>{"APRS-IS 127.0.0.1:" + std::to_string(server.Port()) +
                                                 " dropped 1 line longer than 512 bytes"}));
}

TEST(AprsIsLinkTest, StopInsideHandlerEndsDelivery) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(*link);
  QObject::connect(link.get(), &THostLink::DataReady, [&] { link->Stop(); });
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  TLoopbackServer::Write(peer, "A>B:1\r\nA>B:2\r\nA>B:3\r\n");
  ASSERT_TRUE(rec.WaitTexts(1));
  EXPECT_TRUE(QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, Deadline));
  EXPECT_EQ(rec.Texts.size(), 1u);
}

TEST(AprsIsLinkTest, HandlerWithNestedEventLoopKeepsItsPacket) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  std::string afterNestedLoop;
  // Packets handed over by the time each arrival was said to be over.
  std::vector<std::size_t> arrivals;
  QObject::connect(link.get(), &THostLink::ArrivalHandedOver, [&] { arrivals.push_back(rec.Texts.size()); });
  QObject::connect(link.get(), &THostLink::DataReady, [&] {
    if (rec.Texts.size() != 1) return;
    // A handler that processes events (as a print job does) while more packets arrive.
    TLoopbackServer::Write(peer, "A>B:2\r\n");
    QTest::qWait(100);
    afterNestedLoop = link->PacketText();
  });
  TLoopbackServer::Write(peer, "A>B:1\r\n");
  ASSERT_TRUE(rec.WaitTexts(2));
  EXPECT_EQ(afterNestedLoop, "*A>B:1");
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:1", "*A>B:2"}));
  // The read inside the nested loop is not an arrival of its own: the outer one ends after both.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !arrivals.empty(); }, Deadline));
  EXPECT_EQ(arrivals, std::vector<std::size_t>{2});
}

TEST(AprsIsLinkTest, ArrivalHandedOverFollowsItsPackets) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  ASSERT_TRUE(link->SaysArrivalEnd());
  TRecorder rec(*link);
  std::vector<std::size_t> arrivals;
  QObject::connect(link.get(), &THostLink::ArrivalHandedOver, [&] { arrivals.push_back(rec.Texts.size()); });
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  // A comment line alone hands nothing over, so it ends no arrival.
  TLoopbackServer::Write(peer, "# keepalive\r\n");
  TLoopbackServer::Write(peer, "A>B:1\r\nA>B:2\r\nA>B:3\r\n");
  ASSERT_TRUE(rec.WaitTexts(3));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !arrivals.empty() && arrivals.back() == 3; }, Deadline));
  // However the kernel cut the bytes, each arrival said so once, after packets of its own.
  for (std::size_t i = 0; i < arrivals.size(); ++i) EXPECT_GT(arrivals[i], i == 0 ? 0 : arrivals[i - 1]);
}

// Traffic within the idle time keeps the link up however long it lasts; a whole idle time of
// silence after it counts as a dead server, and the link connects again.
TEST(AprsIsLinkTest, SilentServerCountsAsDead) {
  TLoopbackServer server;
  auto settings = TcpSettings(THostSettings::htAprsIs, server.Port());
  settings.IdleTimeoutMs = 200;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  // Each packet handed over brings the next, until the link has been up for three idle times.
  QElapsedTimer up, sinceLast;
  up.start();
  bool feeding = true;
  QObject::connect(link.get(), &THostLink::DataReady, [&] {
    sinceLast.start();
    if (up.elapsed() > 3 * settings.IdleTimeoutMs) feeding = false;
    if (feeding)
      QMetaObject::invokeMethod(
          peer, [&] { TLoopbackServer::Write(peer, "A>B:more\r\n"); }, Qt::QueuedConnection);
  });
  TLoopbackServer::Write(peer, "A>B:first\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !feeding; }, Deadline));
  EXPECT_EQ(rec.StatesStartingWith("Retrying"), 0u);
  // Then silence: down once a whole idle time has passed since the last packet.
  ASSERT_TRUE(rec.WaitState("Retrying in 0.1 s: nothing received for too long"));
  EXPECT_GE(sinceLast.elapsed(), settings.IdleTimeoutMs * 9 / 10);
  EXPECT_NE(server.Accept(), nullptr);
}

TEST(AprsIsLinkTest, FastFeedWaitsOutsideTheProgram) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  // 2 MB of 50-byte lines, in the kernel before the link reads any of it.
  std::string feed;
  char line[51];
  for (int i = 0; feed.size() < (2u << 20); ++i) {
    std::snprintf(line, sizeof line, "A>B:%038d{%05d\r\n", i, i % 100000);
    feed += line;
  }
  peer->write(feed.data(), static_cast<qint64>(feed.size()));
  while (peer->bytesToWrite() > 0 && peer->waitForBytesWritten(200)) {
  }
  // Packets handed over before the event loop comes round again: one socket buffer's worth.
  std::size_t beforeLoop = 0;
  QObject::connect(link.get(), &THostLink::DataReady, [&] {
    if (rec.Texts.size() == 1)
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [&] { beforeLoop = rec.Texts.size(); }, Qt::QueuedConnection);
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return beforeLoop > 0; }, Deadline));
  EXPECT_LE(beforeLoop, 64u * 1024 / 50 + 1);
  // Held (the desk in the middle of an entry), it takes in nothing more; resumed, the rest.
  link->HoldIntake();
  const std::size_t held = rec.Texts.size();
  QTest::qWait(200);
  EXPECT_LE(rec.Texts.size(), held + 64u * 1024 / 50 + 1);
  link->ResumeIntake();
  EXPECT_TRUE(rec.WaitTexts(std::count(feed.begin(), feed.end(), '\n')));
}

// A line is handed over once its end has come, whatever the reads split it into: one whose
// last byte comes alone, with nothing behind it, too.
TEST(AprsIsLinkTest, ALineSplitAcrossReadsIsHandedOverWhenItsEndComes) {
  TLoopbackServer server;
  auto link = CreateHostLink(TcpSettings(THostSettings::htAprsIs, server.Port()));
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  TLoopbackServer::Write(peer, "A>B:1\r\nA>B:2");
  ASSERT_TRUE(rec.WaitTexts(1));
  TLoopbackServer::Write(peer, "\r");
  ASSERT_TRUE(rec.WaitTexts(2));
  TLoopbackServer::Write(peer, "\nA>B:3\r\n");
  ASSERT_TRUE(rec.WaitTexts(3));
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:1", "*A>B:2", "*A>B:3"}));
}

TEST(AprsIsLinkTest, NoCallsignIsAnErrorNotALogin) {
  THostSettings settings = TcpSettings(THostSettings::htAprsIs, 1);
  settings.Callsign = " \r\n";
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  link->Start();
  EXPECT_EQ(rec.States, (std::vector<std::string>{"Error: no callsign set for the APRS-IS login"}));
}

TEST(KissTcpLinkTest, DecodesFramesIntoStationForm) {
  TLoopbackServer server;
  TKissTcpHostLink kiss(TcpSettings(THostSettings::htKissTcp, server.Port()));
  kiss.SetDropReportInterval(100);
  THostLink* const link = &kiss;
  TRecorder rec(*link);
  link->Start();
  QTcpSocket* peer = server.Accept();
  ASSERT_NE(peer, nullptr);
  using test::Ax25Ui;
  using test::Kiss;
  std::string stream =
      Kiss(Ax25Ui("W1ABC-7", "APRS", {"RELAY*", "WIDE2-1"}, ":N0CALL-5 :hi\xC0\xDB{3"), 0) +
      Kiss("garbage\xFF", 0) + "\xC0\x00\xDB\x41\xC0"s +
      Kiss(Ax25Ui("K1A", "APRS", {}, "x").replace(14, 1, "\x00"s), 1) +  // I frame: ignored
      Kiss(Ax25Ui("IGATE", "APRS", {"WIDE2-1*"}, "}KB2XYZ-9>APRS,TCPIP,IGATE*::BLN2     :net"), 2) +
      "\xC0\x0F\x01\xC0"s + Kiss(Ax25Ui("N0CALL", "APZ", {}, ">last"), 15);
  // Split in awkward places so frames straddle reads.
  for (std::size_t i = 0; i < stream.size(); i += 7) TLoopbackServer::Write(peer, stream.substr(i, 7));
  ASSERT_TRUE(rec.WaitTexts(3));
  ASSERT_EQ(rec.Texts.size(), 3u);
  ExpectStationForm(rec.Texts[0], "W1ABC-7>APRS,RELAY*,WIDE2-1::N0CALL-5 :hi\xC0\xDB{3", true);
  // A third-party packet as it came: the desk's intake unwraps every source's alike.
  ExpectStationForm(rec.Texts[1], "IGATE>APRS,WIDE2-1*:}KB2XYZ-9>APRS,TCPIP,IGATE*::BLN2     :net", true);
  ExpectStationForm(rec.Texts[2], "N0CALL>APZ:>last", true);
  // What no packet came of is logged: the first drop at once, the rest with their number.
  const auto dropped = [&](const std::string& what) {
    int n = 0;
    for (const std::string& line : rec.Drops)
      if (line.ends_with(what)) n += std::stoi(line.substr(line.find(" dropped ") + 9));
    return n;
  };
  const std::string notUi = "(not APRS)", kissLayer = "or too long";
  ASSERT_TRUE(QTest::qWaitFor([&] { return dropped(notUi) + dropped(kissLayer) == 4; }, Deadline))
      << ::testing::PrintToString(rec.Drops);
  EXPECT_EQ(dropped(notUi), 2) << "the garbage and the I frame";
  EXPECT_EQ(dropped(kissLayer), 2) << "the bad escape and the command frame";
  // A KISS client only listens.
  EXPECT_EQ(peer->bytesAvailable(), 0);
  peer->disconnectFromHost();
  ASSERT_TRUE(rec.WaitState("Retrying in 0.1 s"));
  ASSERT_NE(server.Accept(), nullptr);
}

#ifdef QM_PSEUDO_TERMINAL_TESTS
// A pseudo-terminal whose serial end is reached through a link at a fixed path, the way a
// USB TNC's device node comes and goes. Closing it is pulling the plug.
class TPseudoTerminal {
 public:
  explicit TPseudoTerminal(const std::string& link) : FLink(link) {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) return;
    termios raw{};
    ::tcgetattr(FMaster, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(FMaster, TCSANOW, &raw);
    const std::string staged = link + ".new";
    ::unlink(staged.c_str());
    FOk =
        ::symlink(::ptsname(FMaster), staged.c_str()) == 0 && std::rename(staged.c_str(), link.c_str()) == 0;
  }
  ~TPseudoTerminal() { Close(); }
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  bool Ok() const { return FOk; }
  bool Write(const std::string& bytes) const {
    return ::write(FMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What the serial end wrote, once `n` bytes came or the deadline passed.
  std::string Read(std::size_t n) const {
    std::string got;
    QDeadlineTimer deadline(Deadline);
    while (got.size() < n && !deadline.hasExpired()) {
      pollfd p{FMaster, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(deadline.remainingTime())) <= 0) break;
      char buffer[256];
      const ssize_t r = ::read(FMaster, buffer, sizeof buffer);
      if (r <= 0) break;
      got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
  }
  void Close() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
    ::unlink(FLink.c_str());
  }

 private:
  std::string FLink;
  int FMaster = -1;
  bool FOk = false;
};

THostSettings SerialSettings(const std::string& device) {
  THostSettings s = TcpSettings(THostSettings::htKissSerial, 0);
  s.SerialDevice = device;
  s.SerialBaud = 9600;
  return s;
}

TEST(KissSerialLinkTest, WaitsForTheDeviceDecodesAndReopensItWhenItComesBack) {
  test::TTempDir dir;
  // The port's lock file is named after the device's file name: one of its own per test.
  const std::string device = dir.File(dir.Path().filename().string() + ".tty");
  auto link = CreateHostLink(SerialSettings(device));
  TRecorder rec(*link);
  link->Start();
  // Not plugged in yet.
  ASSERT_TRUE(rec.WaitState("Retrying in 0.1 s: "));
  EXPECT_EQ(rec.States[0], "Connecting");
  EXPECT_EQ(link->SourceKind() + " " + link->SourcePlace(),
            QString::fromStdString("KISS " + device + " at 9600 baud"));

  using test::Ax25Ui;
  using test::Kiss;
  const std::string connected = "Connected";
  {
    TPseudoTerminal tnc(device);
    ASSERT_TRUE(tnc.Ok());
    ASSERT_TRUE(rec.WaitState(connected));
    const std::string stream = Kiss(Ax25Ui("W1ABC-7", "APRS", {"WIDE1-1*"}, ":N0CALL-5 :hi\xC0{3")) +
                               "\xC0\x01\x05\xC0"s +  // a TNC setting, not data
                               Kiss(Ax25Ui("K1A", "APRS", {}, ">two"), 1);
    for (std::size_t i = 0; i < stream.size(); i += 5) ASSERT_TRUE(tnc.Write(stream.substr(i, 5)));
    // Half a frame whose end the unplugging cuts off.
    std::string half = Kiss(Ax25Ui("K1A", "APRS", {}, ">cut off"));
    half.pop_back();
    ASSERT_TRUE(tnc.Write(half));
    ASSERT_TRUE(rec.WaitTexts(2));
    ExpectStationForm(rec.Texts[0], "W1ABC-7>APRS,WIDE1-1*::N0CALL-5 :hi\xC0{3", true);
    ExpectStationForm(rec.Texts[1], "K1A>APRS:>two", true);
  }
  ASSERT_TRUE(rec.WaitState("Retrying in 0.2 s: the device went away"));
  // Still gone at the next try: the wait grows as for a server that is down.
  ASSERT_TRUE(rec.WaitState("Retrying in ", 3));
  EXPECT_EQ(rec.RetryWaits(),
            (std::vector<std::string>{"Retrying in 0.1 s", "Retrying in 0.2 s", "Retrying in 0.4 s"}));

  TPseudoTerminal again(device);
  ASSERT_TRUE(again.Ok());
  ASSERT_TRUE(rec.WaitState(connected, 2));
  ASSERT_TRUE(again.Write(Kiss(Ax25Ui("N0CALL", "APZ", {}, ">back"))));
  ASSERT_TRUE(rec.WaitTexts(3));
  // The cut-off frame is not completed by the new device's first byte.
  ASSERT_EQ(rec.Texts.size(), 3u);
  ExpectStationForm(rec.Texts[2], "N0CALL>APZ:>back", true);
  EXPECT_EQ(rec.Closings, 0);
}

TEST(KissSerialLinkTest, AnAcknowledgementGoesToTheTncAsAKissFrame) {
  test::TTempDir dir;
  const std::string device = dir.File(dir.Path().filename().string() + ".tty");
  TPseudoTerminal tnc(device);
  ASSERT_TRUE(tnc.Ok());
  THostSettings s = SerialSettings(device);
  s.AnswerMessages = true;
  s.AnswerPath = "WIDE1-1";
  auto link = CreateHostLink(s);
  TRecorder rec(*link);
  link->Start();
  ASSERT_TRUE(rec.WaitState("Connected"));
  EXPECT_EQ(link->SendOwnPacket("Q1ABC-7", ":K2XYZ    :ack5"), "");
  const std::string expected =
      KissDataFrame(*EncodeAx25UiFrame("Q1ABC-7", "APZQMK", {"WIDE1-1"}, ":K2XYZ    :ack5"));
  EXPECT_EQ(tnc.Read(expected.size()), expected);
}

// Direwolf's pseudo-terminal is offered beside the system's ports while its link leads to it.
TEST(KissSerialLinkTest, PortChoicesOfferDirewolfsLinkWhileItLeadsSomewhere) {
  test::TTempDir dir;
  const std::string link = dir.File("kisstnc");
  const QString shown = QString::fromStdString(link);
  EXPECT_FALSE(SerialPortChoices(shown).contains(shown));
  {
    TPseudoTerminal tnc(link);
    ASSERT_TRUE(tnc.Ok());
    const QStringList ports = SerialPortChoices(shown);
    EXPECT_EQ(ports.count(shown), 1);
    EXPECT_EQ(ports.back(), shown);
  }
  // Left behind by a Direwolf that ended: it leads nowhere.
  ASSERT_EQ(::symlink("/dev/pts/no-such-terminal", link.c_str()), 0);
  EXPECT_FALSE(SerialPortChoices(shown).contains(shown));
}

TEST(KissSerialLinkTest, SettingsThatCannotOpenAPortAreErrors) {
  const struct {
    const char* Device;
    int Baud;
    const char* State;
  } cases[] = {
      {"", 9600, "Error: no serial device set for the KISS TNC"},
      {"/dev/ttyUSB0", 0, "Error: serial speed 0 is not one of 300, "},
      {"/dev/ttyUSB0", -1200, "Error: serial speed -1200 is not one of 300, "},
      {"/dev/ttyUSB0", 12, "Error: serial speed 12 is not one of 300, "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.State);
    THostSettings settings = SerialSettings(c.Device);
    settings.SerialBaud = c.Baud;
    auto link = CreateHostLink(settings);
    TRecorder rec(*link);
    link->Start();
    ASSERT_EQ(rec.States.size(), 1u);
    EXPECT_EQ(rec.States[0].rfind(c.State, 0), 0u) << rec.States[0];
  }
}
#endif
// A peer that connects and then sends nothing a packet can be made of: after the quiet time
// the state says so, a packet takes the warning back, silence brings it again, and a stopped
// link stays silent.
TEST(TcpLinkTest, QuietConnectionIsReportedUntilAPacketArrives) {  // slow
  using test::Ax25Ui;
  using test::Kiss;
  // Only the quiet time of the transport's kind is shortened: the other one (1 min for
  // APRS-IS, 30 min for a radio channel) would never warn within the test.
  struct TCase {
    const char* Name;
    THostSettings::TTransport Transport;
    std::string Noise, Packet;
    int THostSettings::*QuietMs;
  } cases[] = {
      {"APRS-IS server sending keep-alives only", THostSettings::htAprsIs,
       "# aprsc 2.1.14\r\n# 7 Dec 2026 22:00:00 GMT T2TEST 127.0.0.1:14580\r\n", "W1ABC>APRS:>hi\r\n",
       &THostSettings::QuietWarnMs},
      {"port that speaks no KISS", THostSettings::htKissTcp, "SSH-2.0-OpenSSH_9.2p1\r\n",
       Kiss(Ax25Ui("W1ABC", "APRS", {}, ">hi")), &THostSettings::RfQuietWarnMs},
      {"KISS frames that are no UI frames", THostSettings::htKissTcp,
       Kiss(Ax25Ui("K1A", "APRS", {}, "x").replace(14, 1, "\x00"s)) + "\xC0\x0F\x01\xC0"s,
       Kiss(Ax25Ui("W1ABC", "APRS", {}, ">hi")), &THostSettings::RfQuietWarnMs},
  };
  const std::string warning = "Connected, but no packets for over 0.2 s";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TLoopbackServer server;
    auto settings = TcpSettings(c.Transport, server.Port());
    settings.*c.QuietMs = 200;
    auto link = CreateHostLink(settings);
    TRecorder rec(*link);
    link->Start();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    TLoopbackServer::Write(peer, c.Noise);
    ASSERT_TRUE(rec.WaitState(warning));
    EXPECT_TRUE(rec.Texts.empty());
    TLoopbackServer::Write(peer, c.Packet);
    ASSERT_TRUE(rec.WaitTexts(1));
    EXPECT_EQ(rec.States.back(), "Connected");
    ASSERT_TRUE(rec.WaitState(warning, 2));
    TLoopbackServer::Write(peer, c.Packet);
    ASSERT_TRUE(rec.WaitTexts(2));
    link->Stop();
    QTest::qWait(300);
    EXPECT_EQ(rec.States, (std::vector<std::string>{"Connecting", "Connected", warning, "Connected", warning,
                                                    "Connected"}));
  }
}

class ReplayLinkTest : public ::testing::Test {
 protected:
  std::string Capture(const std::string& text) {
    std::string path = (FDir.path() + "/capture.txt").toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  QTemporaryDir FDir;
};

TEST_F(ReplayLinkTest, ReplaysEveryLineThenCloses) {
  THostSettings settings;
  settings.Callsign = "Q0TEST-2";
  settings.CaptureFile = Capture("*12:00:01 W1ABC>APRS::Q0TEST-2 :one{1\r\n\r\n  \n*W1ABC>APRS:>two\n*" +
                                 std::string(5000, 'x') + "\n~3 K1A>APRS:three");
  settings.Pace = 0;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  link->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rec.Closings > 0; }, Deadline));
  ASSERT_EQ(rec.Texts.size(), 3u);
  ExpectStationForm(rec.Texts[0], "W1ABC>APRS::Q0TEST-2 :one{1", true);
  ExpectStationForm(rec.Texts[1], "W1ABC>APRS:>two", false);
  EXPECT_EQ(rec.Texts[2], "~3 K1A>APRS:three");  // as the capture holds it
  EXPECT_EQ(rec.Drops, std::vector<std::string>{"Replay capture.txt dropped 1 line longer than 4096 bytes"});
  EXPECT_EQ(rec.Closings, 1);
  EXPECT_EQ(rec.States, (std::vector<std::string>{"Replaying", "Capture finished"}));
  EXPECT_EQ(link->SourceKind() + " " + link->SourcePlace(), "Replay capture.txt");
  TOwnStation info;
  link->FillMyInfo(info);
  EXPECT_EQ(info.MyCallsign(), "Q0TEST-2");
}

TEST_F(ReplayLinkTest, KeepsThePace) {
  THostSettings settings;
  settings.CaptureFile = Capture("*A>B:1\n*A>B:2\n*A>B:3\n*A>B:4\n");
  settings.Pace = 20;  // one every 50 ms
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  std::vector<qint64> at;
  QElapsedTimer clock;
  QObject::connect(link.get(), &THostLink::DataReady, [&] { at.push_back(clock.elapsed()); });
  clock.start();
  link->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rec.Closings > 0; }, Deadline));
  ASSERT_EQ(at.size(), 4u);
  // Never ahead of the pace's schedule (the timer is precise to the millisecond).
  for (std::size_t i = 0; i < at.size(); ++i) EXPECT_GE(at[i], 50 * static_cast<qint64>(i + 1) - 1) << i;
}

TEST_F(ReplayLinkTest, MissingFileReportsAndStaysOpen) {
  THostSettings settings;
  settings.CaptureFile = (FDir.path() + "/typo.txt").toStdString();
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  link->Start();
  ASSERT_EQ(rec.States.size(), 1u);
  EXPECT_EQ(rec.States[0].rfind("Error: cannot open capture file " + settings.CaptureFile + ": ", 0), 0u)
      << rec.States[0];
  // Give a wrongly started timer the chance to show itself.
  QTest::qWait(200);
  EXPECT_EQ(rec.Closings, 0);
  EXPECT_TRUE(rec.Texts.empty());
}

// Megabytes without a line end are read a tick at a time: the events queued meanwhile run.
TEST_F(ReplayLinkTest, AStretchWithoutLineEndsLetsEventsRun) {
  THostSettings settings;
  settings.CaptureFile = Capture(std::string(8 * 1024 * 1024, '\0') + "\n*A>B:1\n");
  settings.Pace = 0;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  // An event that posts itself again until the packet comes: it runs between the ticks.
  int ranBeforeThePacket = 0;
  std::function<void()> post = [&] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
          if (!rec.Texts.empty()) return;
          ++ranBeforeThePacket;
          post();
        },
        Qt::QueuedConnection);
  };
  link->Start();
  post();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rec.Closings > 0; }, Deadline));
  EXPECT_GE(ranBeforeThePacket, 4);
  EXPECT_EQ(rec.Texts, std::vector<std::string>{"*A>B:1"});
}

TEST_F(ReplayLinkTest, StopAndStartAgainBeginsAnew) {
  THostSettings settings;
  settings.CaptureFile = Capture("*A>B:1\n*A>B:2\n");
  settings.Pace = 0;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  QObject::connect(link.get(), &THostLink::DataReady, [&] {
    if (rec.Texts.size() == 1) link->Stop();
  });
  link->Start();
  ASSERT_TRUE(rec.WaitTexts(1));
  QTest::qWait(50);
  EXPECT_EQ(rec.Texts.size(), 1u);
  EXPECT_EQ(rec.Closings, 0);
  link->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rec.Closings > 0; }, Deadline));
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:1", "*A>B:1", "*A>B:2"}));
}

TEST_F(ReplayLinkTest, ClosingHandlerMayFreeTheLink) {
  THostSettings settings;
  settings.CaptureFile = Capture("*A>B:1\n*A>B:2\n");
  settings.Pace = 0;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  // As the program does when the capture ends: the link goes in the middle of its batch.
  QObject::connect(link.get(), &THostLink::Closing, [&] { link.reset(); });
  link->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !link; }, Deadline));
  EXPECT_EQ(rec.Texts, (std::vector<std::string>{"*A>B:1", "*A>B:2"}));
}

TEST_F(ReplayLinkTest, HeldItHandsOverNothingUntilResumed) {
  THostSettings settings;
  settings.CaptureFile = Capture("*A>B:1\n*A>B:2\n*A>B:3\n");
  settings.Pace = 0;
  auto link = CreateHostLink(settings);
  TRecorder rec(*link);
  QObject::connect(link.get(), &THostLink::DataReady, [&] {
    if (rec.Texts.size() == 1) link->HoldIntake();
  });
  link->Start();
  ASSERT_TRUE(rec.WaitTexts(1));
  QTest::qWait(100);
  EXPECT_EQ(rec.Texts.size(), 1u);
  link->ResumeIntake();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rec.Closings > 0; }, Deadline));
  EXPECT_EQ(rec.Texts.size(), 3u);
}

TEST(ReplayDemoTest, BundledTrafficIsTheDefault) {
  const std::string path = TReplayHostLink::DemoTrafficPath();
  EXPECT_TRUE(path.ends_with("/samples/demo-traffic.txt")) << path;
  EXPECT_EQ(TReplayHostLink(THostSettings{}).SourcePlace(), "demo-traffic.txt");
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A stand-in APRS-IS server checks the passcode of the login and says so; an acknowledgement
// goes out only over a verified login, and the operator is told when the server did not verify it.
TEST(AprsIsLinkTest, AnswersOnlyOverAVerifiedLogin) {
  const int right = test::AprsIsPasscode("Q1ABC");
  ASSERT_EQ(right, test::AprsIsPasscode("q1abc-7"));
  const struct {
    const char* What;
    bool Answer;
    int Passcode;
    const char* Refusal;  // "" when the ack goes out
    const char* Notice;
    const char* State;  // after the server's answer
  } cases[] = {
      {"verified", true, right, "", "", "Connected"},
      {"wrong passcode", true, (right + 1) % 32768, "the server did not verify the login",
       "did not verify the login of Q1ABC-7", "Connected, login not verified"},
      {"answering on, no passcode", true, -1, "the server did not verify the login",
       "no passcode is set, so the login is read-only", "Connected, login not verified"},
      {"answering off: read-only", false, right, "the server did not verify the login", "", "Connected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TLoopbackServer server;
    THostSettings s = TcpSettings(THostSettings::htAprsIs, server.Port());
    s.Callsign = "Q1ABC-7";
    s.AnswerMessages = c.Answer;
    s.Passcode = c.Passcode;
    auto link = CreateHostLink(s);
    TRecorder rec(*link);
    std::vector<std::string> notices;
    QObject::connect(link.get(), &THostLink::AnswerNotice,
                     [&](const QString& t) { notices.push_back(t.toStdString()); });
    link->Start();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    const std::string login = TLoopbackServer::ReadLine(peer);
    const int sent = std::stoi(login.substr(login.find(" pass ") + 6));
    EXPECT_EQ(sent, c.Answer ? c.Passcode : -1) << login;
    const bool verified = sent == test::AprsIsPasscode("Q1ABC-7");
    TLoopbackServer::Write(peer, std::string("# logresp Q1ABC-7 ") + (verified ? "verified" : "unverified") +
                                     ", server T2TEST\r\nK2XYZ>APRS,TCPIP*::Q1ABC-7  :hi{7\r\n");
    ASSERT_TRUE(rec.WaitTexts(1));  // the answer came before the packet behind it
    EXPECT_EQ(rec.States.back(), c.State);
    EXPECT_EQ(link->SendOwnPacket("Q1ABC-7", ":K2XYZ    :ack7").toStdString(), c.Refusal);
    if (*c.Notice) {
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_NE(notices[0].find(c.Notice), std::string::npos) << notices[0];
    } else {
      EXPECT_TRUE(notices.empty());
    }
    // What reached the server after the login, once the link is gone.
    link->Stop();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, Deadline));
    EXPECT_EQ(peer->readAll().toStdString(), *c.Refusal ? "" : "Q1ABC-7>APZQMK,TCPIP*::K2XYZ    :ack7\r\n");
  }
}

// A path or callsign set by hand in the file that no AX.25 frame can carry: said once at the
// start while answering is on, refused with the same reason at each send, and nothing reaches
// the TNC; never a default path in its place.
TEST(KissTcpLinkTest, AnAnswerNoFrameCarriesIsSaidAtTheStartAndRefused) {
  const struct {
    const char *Callsign, *Path, *Reason;
  } cases[] = {
      {"Q1ABC-7", "A1,A2,A3,A4,A5,A6,A7,A8,A9", "the answer path \"A1,A2,A3,A4,A5,A6,A7,A8,A9\""},
      {"Q1ABC-7", "WIDE1-1,,WIDE2-1", "the answer path \"WIDE1-1,,WIDE2-1\""},
      {"Q1ABC-7", "WIDE1-16", "the answer path \"WIDE1-16\""},
      {"KD9QMK-16", "WIDE1-1", "the callsign \"KD9QMK-16\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reason);
    TLoopbackServer tnc;
    THostSettings s = TcpSettings(THostSettings::htKissTcp, tnc.Port());
    s.Callsign = c.Callsign;
    s.AnswerPath = c.Path;
    s.AnswerMessages = true;
    auto link = CreateHostLink(s);
    std::vector<std::string> notices;
    QObject::connect(link.get(), &THostLink::AnswerNotice,
                     [&](const QString& t) { notices.push_back(t.toStdString()); });
    link->Start();
    QTcpSocket* peer = tnc.Accept();
    ASSERT_NE(peer, nullptr);
    const std::string refusal = link->SendOwnPacket(c.Callsign, ":K2XYZ    :ack5").toStdString();
    EXPECT_EQ(refusal.rfind(std::string(c.Reason) + " cannot go in an AX.25 frame (", 0), 0u) << refusal;
    EXPECT_EQ(notices, std::vector<std::string>{"KISS 127.0.0.1:" + std::to_string(tnc.Port()) + ": " +
                                                refusal + ", so messages are not acknowledged there"});
    link->Stop();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, Deadline));
    EXPECT_EQ(peer->readAll().toStdString(), "");
  }
}

// Which sources can answer, and whether they do: the operator's choice, on a TNC or APRS-IS only.
TEST(HostLinkTest, OnlyLiveSourcesAnswerAndOnlyWhenTurnedOn) {
  const struct {
    THostSettings::TTransport Transport;
    bool Can;
  } cases[] = {
      {THostSettings::htReplay, false},
      {THostSettings::htKissTcp, true},
      {THostSettings::htAprsIs, true},
#ifdef QM_HAVE_SERIAL_HOST_LINK
      {THostSettings::htKissSerial, true},
#endif
  };
  for (const auto& c : cases) {
    for (const bool on : {false, true}) {
      SCOPED_TRACE(std::string(TransportName(c.Transport)) + (on ? " on" : " off"));
      THostSettings s = TcpSettings(c.Transport, 1);
      s.AnswerMessages = on;
      const auto link = CreateHostLink(s);
      EXPECT_EQ(link->CanAnswer(), c.Can);
      EXPECT_EQ(link->Answering(), c.Can && on);
    }
  }
}

}  // namespace
}  // namespace qm
