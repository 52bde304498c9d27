// Answering through real links: a stand-in station that resends its message until it hears the
// acknowledgement, behind a KISS TNC stand-in; and an APRS-IS stand-in that does not verify the
// login, so the acknowledgement fails while the message is listed all the same.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

#include "host/AprsIsHostLink.h"
#include "host/HostText.h"
#include "host/KissDecoder.h"
#include "host/KissTcpHostLink.h"
#include "store/MessageStore.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LinkStandIn.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using test::FramesHeard;
using test::kDeadline;
using test::kOwn;
using test::LinkSettings;
using test::MessageFrame;
using test::TStandIn;
using test::Wire;

// K2XYZ-9 sends "Meet at 5{12" to the own call and sends it again every 30 s (the rig's clock)
// until it hears "ack12", five times at most, as radios do.
TEST(Answering, TheSenderStopsOnceAcknowledged) {
  const struct {
    const char* What;
    bool Answer, DropResent;
    int Sent, Listed, Acks;
    bool Told;
  } cases[] = {
      {"answering on", true, false, 1, 1, 1, false},
      {"off: each resend listed, and the operator told once", false, false, 5, 5, 0, true},
      {"off, resent copies dropped", false, true, 5, 1, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    test::TDeskRig rig;
    rig.Choices.Selection.StationCall = kOwn;
    rig.Choices.DropResent = c.DropResent;
    rig.Make();
    TStandIn tnc;
    TKissTcpHostLink link(LinkSettings(THostSettings::htKissTcp, tnc.Server.serverPort(), c.Answer));
    Wire(rig, link);
    link.Start();
    ASSERT_NE(tnc.Accept(), nullptr);
    const std::string message =
        KissDataFrame(*EncodeAx25UiFrame("K2XYZ-9", "APRS", {"WIDE1-1"}, ":Q1ABC-7  :Meet at 5{12"));
    std::vector<std::string> heard;  // what the sender hears back
    TKissDecoder decoder;
    int sent = 0;
    while (sent < 5 && heard.empty()) {
      tnc.Write(message);
      ++sent;
      ASSERT_TRUE(QTest::qWaitFor(
          [&] { return rig.Desk->PacketsHeard() == static_cast<std::uint64_t>(sent); }, kDeadline));
      // The packet is posted to the desk when heard; it is listed once its commit returned.
      QCoreApplication::sendPostedEvents(rig.Desk.get());
      ASSERT_TRUE(rig.Settle());
      if (c.Answer) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return tnc.Peer->bytesAvailable() > 0; }, kDeadline));
      }
      decoder.Feed(tnc.Peer->readAll().toStdString(), [&](int, std::string_view ax25) {
        heard.push_back(DecodeAx25UiFrame(ax25).value_or("?"));
      });
      rig.Tick += 30000;
    }
    // Whatever the link would still send is with the stand-in once the link is gone.
    link.Stop();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return tnc.Peer->state() == QAbstractSocket::UnconnectedState; }, kDeadline));
    decoder.Feed(tnc.Peer->readAll().toStdString(),
                 [&](int, std::string_view ax25) { heard.push_back(DecodeAx25UiFrame(ax25).value_or("?")); });
    EXPECT_EQ(sent, c.Sent);
    EXPECT_EQ(rig.Entries(), c.Listed);
    EXPECT_EQ(heard, std::vector<std::string>(c.Acks, "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :ack12"));
    const QString place = QStringLiteral("KISS 127.0.0.1:%1").arg(tnc.Server.serverPort());
    EXPECT_EQ(rig.LogCount("Acknowledged K2XYZ-9's message 12 on " + place), c.Acks);
    // The entry keeps when and where it was answered, for the history.
    const std::vector<TStoredMessage> stored = rig.Desk->HistoryReader()->Listed();
    ASSERT_EQ(stored.size(), static_cast<std::size_t>(c.Listed));
    EXPECT_EQ(stored[0].Answered, c.Answer ? "18:00:00 on " + place.toStdString() : "");
    EXPECT_EQ(
        rig.LogCount(QStringLiteral("Messages to Q1ABC-7 are not acknowledged: senders will repeat them "
                                    "(turn on Answer, or Drop resent copies)")),
        c.Told ? 1 : 0);
  }
}

// A hand-set own call no acknowledgement may go out as (the reasons are the select room's):
// said once, and with each message after its line; nothing reaches the TNC.
TEST(Answering, AnOwnCallNoAcknowledgementCanCarryIsSaidOnceAndWithEachMessage) {
  test::TDeskRig rig;
  rig.Choices.Selection.StationCall = "N0CALL-7";
  rig.Make();
  TStandIn tnc;
  TKissTcpHostLink link(LinkSettings(THostSettings::htKissTcp, tnc.Server.serverPort(), true));
  Wire(rig, link);
  link.Start();
  ASSERT_NE(tnc.Accept(), nullptr);
  for (int n = 1; n <= 2; ++n) {
    tnc.Write(MessageFrame("N0CALL-7", "Number " + std::to_string(n) + "{" + std::to_string(n)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.Entries() == n; }, kDeadline));
  }
  EXPECT_TRUE(FramesHeard(tnc, link).empty());
  const QString log = rig.Log();
  EXPECT_EQ(log.count(QStringLiteral("Messages to N0CALL-7 are not acknowledged: N0CALL is a placeholder")),
            1);
  for (int n = 1; n <= 2; ++n) {
    const QString refused =
        QStringLiteral("Could not acknowledge K2XYZ-9's message %1 on KISS 127.0.0.1:%2: N0CALL")
            .arg(n)
            .arg(tnc.Server.serverPort());
    EXPECT_EQ(log.count(refused), 1) << log.toStdString();
    EXPECT_LT(log.indexOf(QStringLiteral("Number %1{").arg(n)), log.indexOf(refused));
  }
}

// The store's disk full: the messages are listed and held in memory, and no acknowledgement says
// "received" for them, a repeat's neither; once the disk has room and they are in the file, the
// next copy is answered.
TEST(Answering, NothingIsAcknowledgedThatTheStoreHasNotKept) {
  test::TDeskRig rig;
  const std::string point = rig.Dir.File("disk");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(point)));
  test::TPrivateTmpfs disk(point, "1m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  ASSERT_TRUE(disk.FillUp(disk.File("filler")));
  rig.Setup.StoreFile = disk.File("store.db");
  rig.Choices.Selection.StationCall = kOwn;
  rig.Make();
  ASSERT_TRUE(rig.Desk->StoreFailing());
  QStringList notes;  // what a run without a window tells the journal
  QObject::connect(rig.Desk.get(), &TMessageDesk::Noted, [&](const QString& t) { notes << t; });
  TStandIn tnc;
  TKissTcpHostLink link(LinkSettings(THostSettings::htKissTcp, tnc.Server.serverPort(), true));
  Wire(rig, link);
  link.Start();
  ASSERT_NE(tnc.Accept(), nullptr);
  const std::string message = MessageFrame(kOwn, "Meet at 5{12");
  const auto copy = [&](std::uint64_t heard) {
    tnc.Write(message);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.Desk->PacketsHeard() == heard; }, kDeadline));
    QCoreApplication::sendPostedEvents(rig.Desk.get());
    ASSERT_TRUE(rig.Settle());
    rig.Tick += 12000;  // each copy within 20 s of the last: a repeat
  };
  copy(1);
  copy(2);
  EXPECT_EQ(rig.Entries(), 1);
  const QString place = QStringLiteral("KISS 127.0.0.1:%1").arg(tnc.Server.serverPort());
  EXPECT_EQ(rig.LogCount("Did not acknowledge K2XYZ-9's message 12 on " + place +
                         ": the message store has not kept it, so the sender will send it again"),
            2);

  ASSERT_EQ(::unlink(disk.File("filler").c_str()), 0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        rig.Desk->RetryStore();
        return !rig.Desk->StoreFailing();
      },
      3 * kDeadline));
  copy(3);
  const std::vector<std::string> heard = FramesHeard(tnc, link);
  EXPECT_EQ(heard, std::vector<std::string>{"Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :ack12"});
  const QString log = rig.Log();
  EXPECT_EQ(log.count(QStringLiteral("Acknowledged K2XYZ-9's message 12 on ") + place), 1);
  EXPECT_LT(log.lastIndexOf(QStringLiteral("Duplicate packet")), log.indexOf(QStringLiteral("Acknowledged")));
  // The journal: each one not sent, the store back with what it wrote, and the hour's count.
  EXPECT_EQ(notes.filter(QStringLiteral("Did not acknowledge K2XYZ-9's message 12")).size(), 2);
  EXPECT_EQ(notes
                .filter(QRegularExpression(
                    QStringLiteral(" is written again; [1-9]\\d* changes kept in memory were stored$")))
                .size(),
            1)
      << notes.join('|').toStdString();
  rig.Desk->HourlyCounts(rig.Utc + 1.0 / 24);
  EXPECT_EQ(notes.back(), QStringLiteral("Acknowledgements from 06:00 to 07:00 UTC: 1 sent, 2 not sent"));
  // The copy in the file says when and where it was answered.
  const std::vector<TStoredMessage> stored = rig.Desk->HistoryReader()->Listed();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].Answered, "18:00:00 on " + place.toStdString());
}

// The desk killed with SIGKILL while every fsync of its process waits 0.3 s (a shim in
// LD_PRELOAD): whatever acknowledgement the TNC got by then is for a message in the store.
TEST(Answering, AKilledDeskAcknowledgedOnlyWhatItsStoreKept) {
  test::GuiApp();
  for (int killAt = 1; killAt <= 3; ++killAt) {
    SCOPED_TRACE("killed at acknowledgement " + std::to_string(killAt));
    test::TTempDir dir;
    TStandIn tnc;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QM_SLOW_SYNC));
    // A sanitizer's runtime need not come first for the shim's sake.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(QM_ACK_CHILD),
                {QString::number(tnc.Server.serverPort()), QString::fromStdString(dir.Path().string())});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tnc.Server.hasPendingConnections(); }, 6 * kDeadline));
    tnc.Peer = tnc.Server.nextPendingConnection();
    // Eight messages at once: their commits queue behind the slow disk.
    for (int n = 1; n <= 8; ++n)
      tnc.Write(MessageFrame(kOwn, "Item " + std::to_string(n) + "{" + std::to_string(n)));
    std::vector<std::string> heard;
    TKissDecoder decoder;
    const auto read = [&] {
      decoder.Feed(tnc.Peer->readAll().toStdString(), [&](int, std::string_view ax25) {
        heard.push_back(DecodeAx25UiFrame(ax25).value_or("?"));
      });
      return heard.size() >= static_cast<std::size_t>(killAt);
    };
    ASSERT_TRUE(QTest::qWaitFor(read, 6 * kDeadline)) << heard.size() << " acknowledgements";
    ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    ASSERT_TRUE(child.waitForFinished(kDeadline));
    // What the child wrote before it died is still in the socket.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return tnc.Peer->state() == QAbstractSocket::UnconnectedState; }, kDeadline));
    read();
    // Read with a bare connection: a store opened here would start its checkpoint thread in a
    // process that has just forked, where the thread checker no longer sees this thread's locks.
    for (const std::string& ack : heard) {
      const std::string number = ack.substr(ack.rfind(":ack") + 4);
      EXPECT_EQ(test::QueryStoreFile(dir.File("Quillmark-messages.db"),
                                     "SELECT count(*) FROM messages WHERE message_no = '" + number + "'"),
                1)
          << ack << " acknowledges a message not in the store";
    }
  }
}

// A login the server did not verify: the acknowledgement fails and says why; the message is
// listed and logged as ever, and a message to another call is not answered at all.
TEST(Answering, AFailedAcknowledgementIsLoggedAndTheMessageKept) {
  test::TDeskRig rig;
  rig.Choices.Selection.StationCall = kOwn;
  rig.Choices.Selection.UseStationList = true;
  rig.Choices.Selection.StationList = {"W1AW"};
  rig.Make();
  TStandIn server;
  TAprsIsHostLink link(LinkSettings(THostSettings::htAprsIs, server.Server.serverPort(), true));
  QStringList notices;
  QObject::connect(rig.Desk.get(), &TMessageDesk::HintChanged, [&](const QString& t) { notices << t; });
  Wire(rig, link);
  link.Start();
  ASSERT_NE(server.Accept(), nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Peer->canReadLine(); }, kDeadline));
  EXPECT_EQ(server.Peer->readLine().toStdString(), AprsIsLoginLine(kOwn, "t/m", 1));
  server.Write(
      "# logresp Q1ABC-7 unverified, server T2TEST\r\n"
      "K2XYZ>APRS,TCPIP*,qAC,T2TEST::Q1ABC-7  :Are you there?{7\r\n"
      "K2XYZ>APRS,TCPIP*,qAC,T2TEST::W1AW     :Not for us{8\r\n");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return rig.Desk->PacketsHeard() == 2 && rig.Entries() == 2; }, kDeadline));
  const QString place = QStringLiteral("APRS-IS 127.0.0.1:%1").arg(server.Server.serverPort());
  EXPECT_EQ(rig.LogCount("Could not acknowledge K2XYZ's message 7 on " + place +
                         ": the server did not verify the login"),
            1);
  EXPECT_EQ(rig.LogCount(QStringLiteral("message 8")), 0);
  EXPECT_EQ(rig.LogCount(place + " did not verify the login of Q1ABC-7"), 1);
  EXPECT_TRUE(notices.contains(place + " did not verify the login of Q1ABC-7: the passcode does not fit the "
                                       "callsign, so messages are not acknowledged there"));
  EXPECT_EQ(rig.LogCount(QStringLiteral("Are you there?{7")), 1);
}

}  // namespace
}  // namespace qm
