// The desk's own messages through a real KISS TCP link: a stand-in station behind the TNC
// stand-in that acks after the second try, rejects, or never answers; a restart in the middle
// of a schedule; and the refusals that keep a message from going out.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include <chrono>
#include <filesystem>

#include "host/AprsIsHostLink.h"
#include "host/KissTcpHostLink.h"
#include "host/ReplayHostLink.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LinkStandIn.h"
#include "tests/support/LogFiles.h"
#include "tests/support/OlderStore.h"
#include "tests/support/PdfTools.h"
#include "tests/support/PrivateTmpfs.h"

namespace qm {
namespace {

using test::kDeadline;
using test::kOwn;
using test::LinkSettings;
using test::MessageFrame;
using test::TStandIn;
using test::Wire;
using Clock = std::chrono::steady_clock;

// A second of the schedule lasts this long here.
constexpr std::chrono::milliseconds kSecond{20};

// What the desk transmits, as monitor lines with the time the stand-in read them.
struct TOnAir {
  explicit TOnAir(TStandIn& tnc) : Tnc(tnc) {}
  void Read() {
    Decoder.Feed(Tnc.Peer->readAll().toStdString(), [&](int, std::string_view ax25) {
      Heard.push_back(DecodeAx25UiFrame(ax25).value_or("?"));
      At.push_back(Clock::now());
    });
  }
  bool WaitFor(std::size_t frames) {
    return QTest::qWaitFor(
        [&] {
          Read();
          return Heard.size() >= frames;
        },
        kDeadline);
  }
  TStandIn& Tnc;
  TKissDecoder Decoder;
  std::vector<std::string> Heard;
  std::vector<Clock::time_point> At;
};

// A desk that answers and sends on a KISS TCP link to its own TNC stand-in.
struct TSendingDesk {
  TSendingDesk() {
    Rig.Setup.SendSecond = kSecond;
    Rig.Choices.Selection.StationCall = kOwn;
    // Now, 10 s and 20 s later; given up 20 s on.
    Rig.Choices.SendTries = 3;
    Rig.Choices.SendFirstGapSeconds = 10;
  }
  // The desk started (again) with a link of its own.
  void Start() {
    Link.reset();
    Rig.Make();
    Link = std::make_unique<TKissTcpHostLink>(
        LinkSettings(THostSettings::htKissTcp, Tnc.Server.serverPort(), true));
    Wire(Rig, *Link);
    // A member: the link tells its later states too (a test may take its TNC away).
    Connected = false;
    QObject::connect(Link.get(), &THostLink::StateChanged,
                     [this](const QString& state) { Connected = Connected || state == "Connected"; });
    Link->Start();
    ASSERT_NE(Tnc.Accept(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Connected; }, kDeadline));
    Air = std::make_unique<TOnAir>(Tnc);
  }
  void Stop() {
    Link.reset();
    Rig.Desk.reset();
  }
  // The station heard by the desk, until it is judged.
  void Hear(const std::string& text) {
    const std::uint64_t heard = Rig.Desk->PacketsHeard();
    Tnc.Write(MessageFrame(kOwn, text));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rig.Desk->PacketsHeard() > heard; }, kDeadline));
    QCoreApplication::sendPostedEvents(Rig.Desk.get());
    ASSERT_TRUE(Rig.Settle());
  }
  const TSentMessage& Sent(std::size_t n = 0) const { return Rig.Desk->SentMessages().at(n); }
  bool WaitForEnd(std::size_t n = 0) {
    return QTest::qWaitFor([&] { return Sent(n).State != ssSending; }, kDeadline);
  }
  QString Place() const { return QStringLiteral("KISS 127.0.0.1:%1").arg(Tnc.Server.serverPort()); }

  test::TDeskRig Rig;
  TStandIn Tnc;
  std::unique_ptr<TKissTcpHostLink> Link;
  std::unique_ptr<TOnAir> Air;
  bool Connected = false;
};

const std::string kFrame = "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :Roger, 20 cots{1";

TEST(Sending, ResentOnTheScheduleUntilItsAnswer) {
  const struct {
    const char* What;
    const char* Answer;  // what the station sends after hearing AnswerAfter tries
    std::size_t AnswerAfter;
    TSentState State;
    const char* Line;
  } cases[] = {
      {"acked after the second try", "ack1", 2, ssAcknowledged,
       "Acknowledged by K2XYZ-9 after 2 tries: Roger, 20 cots{1"},
      {"acked in the reply-ack form", "ack1}", 1, ssAcknowledged,
       "Acknowledged by K2XYZ-9 after 1 try: Roger, 20 cots{1"},
      {"rejected at once", "rej1", 1, ssRejected, "Rejected by K2XYZ-9 after 1 try: Roger, 20 cots{1"},
      {"never answered", nullptr, 3, ssGaveUp, "Gave up after 3 tries: to K2XYZ-9: Roger, 20 cots{1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TSendingDesk desk;
    desk.Start();
    const TSentMessage sent = desk.Rig.Desk->Send("k2xyz-9", "Roger, 20 cots");
    EXPECT_EQ(sent.Number, "1");
    EXPECT_EQ(sent.To, "K2XYZ-9");
    ASSERT_TRUE(desk.Air->WaitFor(c.AnswerAfter));
    // An ack for a number the desk never sent ends nothing.
    desk.Hear("ack7");
    if (c.Answer) desk.Hear(c.Answer);
    ASSERT_TRUE(desk.WaitForEnd());
    EXPECT_EQ(desk.Sent().State, c.State);
    EXPECT_EQ(desk.Sent().Tries, static_cast<int>(c.AnswerAfter));
    desk.Air->Read();
    EXPECT_EQ(desk.Air->Heard, std::vector<std::string>(c.AnswerAfter, kFrame));
    // Never sooner than the schedule: 10 s, then 20 s.
    for (std::size_t n = 1; n < desk.Air->At.size(); ++n)
      EXPECT_GE(desk.Air->At[n] - desk.Air->At[n - 1], kSecond * 10 * static_cast<int>(n) * 8 / 10);
    const QString log = desk.Rig.Log();
    EXPECT_EQ(log.count(QStringLiteral("Sent to K2XYZ-9: Roger, 20 cots{1 on ") + desk.Place()), 1);
    if (c.AnswerAfter > 1) {
      EXPECT_EQ(log.count(QStringLiteral("Sent again to K2XYZ-9: Roger, 20 cots{1 (try 2 of 3) on ")), 1);
    }
    EXPECT_EQ(log.count(QString::fromStdString(c.Line)), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Ignored an ack from K2XYZ-9 for message 7: no message with that "
                                       "number is being sent to it")),
              1);
    // The answer is no message of its own.
    EXPECT_EQ(desk.Rig.Entries(), 0);
    // What the store keeps says the same.
    const TSentMessage kept = desk.Rig.Desk->HistoryReader()->SentSince(0).at(0);
    EXPECT_EQ(kept.State, c.State);
    EXPECT_EQ(kept.Tries, static_cast<int>(c.AnswerAfter));
  }
}

// A station that wrote to us in the reply-ack form gets its number back in ours.
TEST(Sending, ReplyAckToAStationThatShowedIt) {
  TSendingDesk desk;
  desk.Start();
  desk.Hear("Need cots{AB}");
  ASSERT_TRUE(desk.Air->WaitFor(1));  // our ack of it
  desk.Rig.Desk->Send("K2XYZ-9", "Roger");
  ASSERT_TRUE(desk.Air->WaitFor(2));
  EXPECT_EQ(desk.Air->Heard[1], "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :Roger{1}AB");
  // Its next message carries the ack of ours, and is listed as its own.
  desk.Hear("Thanks{AC}1");
  ASSERT_TRUE(desk.WaitForEnd());
  EXPECT_EQ(desk.Sent().State, ssAcknowledged);
  EXPECT_EQ(desk.Rig.Entries(), 2);
}

// A restart in the middle of a schedule resumes it where it stands, gives up one whose schedule
// ran out meanwhile, and never sends again what was answered.
TEST(Sending, ARestartResumesOrGivesUpAndNeverResendsTheAnswered) {
  TSendingDesk desk;
  desk.Start();
  desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Air->WaitFor(1));
  desk.Stop();

  desk.Start();
  ASSERT_EQ(desk.Rig.Desk->SentMessages().size(), 1u);
  ASSERT_TRUE(desk.Air->WaitFor(1));
  EXPECT_EQ(desk.Air->Heard[0], kFrame);
  EXPECT_EQ(desk.Sent().Tries, 2);
  desk.Hear("ack1");
  ASSERT_TRUE(desk.WaitForEnd());
  desk.Rig.Desk->Send("W1AW", "Second");
  ASSERT_TRUE(desk.Air->WaitFor(2));
  desk.Stop();

  desk.Rig.Utc += 1.0 / 24;  // an hour later: the schedule of "Second" is long past
  desk.Start();
  ASSERT_EQ(desk.Rig.Desk->SentMessages().size(), 1u);
  ASSERT_TRUE(desk.WaitForEnd());
  EXPECT_EQ(desk.Sent().State, ssGaveUp);
  desk.Stop();
  const QString log = desk.Rig.Log();
  EXPECT_EQ(log.count(QStringLiteral("Gave up after 1 try (its schedule ended while the desk was closed): to "
                                     "W1AW: Second{2")),
            1)
      << log.toStdString();
  EXPECT_EQ(log.count(QStringLiteral("Roger, 20 cots{1 (try")), 1);  // the one resumed try
  EXPECT_EQ(log.count(QStringLiteral("Sent again to W1AW")), 0);
}

// With own traffic chosen, a message sent is listed beside what is heard and goes to paper with
// the next page; it is kept with its listing for the next start, and counted once, as sent, in
// the communications log.
TEST(Sending, OwnTrafficIsListedAndPrintedButNotCountedAsHeard) {
  TSendingDesk desk;
  desk.Rig.Choices.OwnTraffic = true;
  desk.Rig.Choices.PageSetting = "1";  // printed once a second is listed
  desk.Start();
  desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Rig.Settle());
  ASSERT_EQ(desk.Rig.Entries(), 1);
  const std::string own = "  " + std::string(kOwn) + " sent on " + desk.Place().toStdString();
  EXPECT_EQ(desk.Rig.Desk->Listed().at(0).Lines[1], own);
  EXPECT_EQ(desk.Rig.Desk->Listed().at(0).Lines[2], "  K2XYZ-9: Roger, 20 cots{1");
  EXPECT_EQ(desk.Rig.Beeps, 0);
  desk.Stop();

  desk.Start();
  ASSERT_EQ(desk.Rig.Entries(), 1);
  desk.Hear("Cots arrived{5");
  ASSERT_TRUE(desk.Rig.Printed());
  EXPECT_EQ(desk.Rig.Entries(), 0);
  const QString page = test::PdfText(desk.Rig.PdfFile());
  EXPECT_TRUE(page.contains(test::AsPdfTextLine(QString::fromStdString(own)).trimmed()))
      << page.toStdString();
  EXPECT_TRUE(page.contains(QStringLiteral("Cots arrived"))) << page.toStdString();
  const THistoryReader reader(desk.Rig.Dir.File("Quillmark-messages.db"));
  EXPECT_EQ(reader.ReceivedBetween(0, 1e6).size(), 1u);
  EXPECT_EQ(reader.SentBetween(0, 1e6, kOwn).size(), 1u);
  // Its log lines are the sending's: the row is no packet heard, logged again at a start.
  EXPECT_EQ(desk.Rig.LogCount(":K2XYZ-9 :Roger"), 0);
}

// A schedule chosen while a message is under way holds for it from its last try on: with one
// try in all it is given up, with nothing more on the air.
TEST(Sending, ANewScheduleHoldsForWhatIsUnderWay) {
  TSendingDesk desk;
  desk.Start();
  desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Air->WaitFor(1));
  desk.Rig.Choices.SendTries = 1;
  desk.Rig.Choose();
  ASSERT_TRUE(desk.WaitForEnd());
  EXPECT_EQ(desk.Sent().State, ssGaveUp);
  EXPECT_EQ(desk.Rig.LogCount("Gave up after 1 try: to K2XYZ-9: Roger, 20 cots{1"), 1);
  EXPECT_EQ(test::FramesHeard(desk.Tnc, *desk.Link), std::vector<std::string>{});
  EXPECT_EQ(desk.Air->Heard, std::vector<std::string>{kFrame});
}

// Over APRS-IS a message goes out once the server verified the login: the stand-in checks the
// passcode, and the ack it passes on ends the message.
// Over APRS-IS a message goes out only on a login the server verified; on one it did not, the
// operator is told at once instead of watching every try fail.
TEST(Sending, OverAprsIsOnlyAfterAVerifiedLogin) {
  for (const char* answer : {"unverified", "verified"}) {
    SCOPED_TRACE(answer);
    test::TDeskRig rig;
    rig.Choices.Selection.StationCall = kOwn;
    rig.Make();
    TStandIn server;
    THostSettings settings = LinkSettings(THostSettings::htAprsIs, server.Server.serverPort(), true);
    settings.Passcode = test::AprsIsPasscode(kOwn);
    TAprsIsHostLink link(settings);
    Wire(rig, link);
    link.Start();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Peer->canReadLine(); }, kDeadline));
    const std::string login = server.Peer->readLine().toStdString();
    ASSERT_EQ(std::stoi(login.substr(login.find(" pass ") + 6)), test::AprsIsPasscode("Q1ABC"));
    // A packet behind the server's answer: once it is heard, the answer was read.
    server.Write(std::string("# logresp Q1ABC-7 ") + answer +
                 ", server T2TEST\r\nW1AW>APRS,TCPIP*::W2XYZ    :hi\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.Desk->PacketsHeard() == 1; }, kDeadline));
    if (std::string_view(answer) == "unverified") {
      try {
        rig.Desk->Send("K2XYZ-9", "Roger");
        ADD_FAILURE() << "sent on an unverified login";
      } catch (const ESendRefused& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot send: APRS-IS " + link.SourcePlace().toStdString() +
                                             ": the server did not verify the login");
      }
      EXPECT_TRUE(rig.Desk->SentMessages().empty());
      continue;
    }
    rig.Desk->Send("K2XYZ-9", "Roger");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Peer->canReadLine(); }, kDeadline));
    EXPECT_NE(server.Peer->readLine().toStdString().find("Q1ABC-7>APZQMK,TCPIP*::K2XYZ-9  :Roger{1"),
              std::string::npos);
    server.Write("K2XYZ-9>APRS,TCPIP*,qAC,T2TEST::Q1ABC-7  :ack1\r\n");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return rig.Desk->SentMessages().at(0).State == ssAcknowledged; }, kDeadline));
  }
}

// The operator ends a message before its answer: nothing more goes out for it, and a second
// cancel finds nothing.
TEST(Sending, CancelledByTheOperator) {
  TSendingDesk desk;
  desk.Start();
  const TSentMessage sent = desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Air->WaitFor(1));
  int changes = 0;
  QObject::connect(desk.Rig.Desk.get(), &TMessageDesk::SentChanged, [&changes] { ++changes; });
  EXPECT_TRUE(desk.Rig.Desk->CancelSent(sent.Number));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(desk.Sent().State, ssCancelled);
  EXPECT_FALSE(desk.Rig.Desk->CancelSent(sent.Number));
  EXPECT_FALSE(desk.Rig.Desk->CancelSent("ZZ"));
  EXPECT_EQ(desk.Rig.LogCount("Cancelled in the window after 1 try: to K2XYZ-9: Roger, 20 cots{1"), 1);
  EXPECT_EQ(desk.Rig.Desk->HistoryReader()->SentSince(0).at(0).State, ssCancelled);
  // What the link still had for the stand-in once it closed: nothing after the first try.
  EXPECT_TRUE(test::FramesHeard(desk.Tnc, *desk.Link).empty());
  EXPECT_EQ(desk.Air->Heard, std::vector<std::string>{kFrame});
}

// A capture replayed beside the TNC holds an ack, a rej and a reply-ack for our number 1: heard
// some other time, none of them ends the message (said once), and the station's own ack does.
TEST(Sending, AnswersHeardOnAReplayEndNothing) {
  TSendingDesk desk;
  desk.Start();
  desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Air->WaitFor(1));
  THostSettings settings;
  settings.Transport = THostSettings::htReplay;
  settings.CaptureFile = desk.Rig.Dir.File("capture.txt");
  settings.Callsign = kOwn;
  settings.Pace = 0;
  test::WriteFileBytes(settings.CaptureFile,
                       "*14:00:01 K2XYZ-9>APRS,WIDE1-1::Q1ABC-7  :ack1\n"
                       "*14:00:02 K2XYZ-9>APRS,WIDE1-1::Q1ABC-7  :rej1\n"
                       "*14:00:03 K2XYZ-9>APRS,WIDE1-1::Q1ABC-7  :Thanks{AC}1\n");
  TReplayHostLink replay(settings);
  Wire(desk.Rig, replay);
  bool over = false;
  QObject::connect(&replay, &THostLink::Closing, [&over] { over = true; });
  replay.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return over && desk.Rig.Desk->PacketsHeard() == 3; }, kDeadline));
  ASSERT_TRUE(desk.Rig.Settle());
  EXPECT_EQ(desk.Sent().State, ssSending);
  EXPECT_EQ(desk.Rig.LogCount("Ignored an ack from K2XYZ-9 for message 1 heard on Replay capture.txt: "), 1);
  EXPECT_EQ(desk.Rig.LogCount("Ignored a"), 1);
  EXPECT_EQ(desk.Rig.Entries(), 1);  // the replayed message is traffic all the same
  desk.Hear("ack1");
  ASSERT_TRUE(desk.WaitForEnd());
  EXPECT_EQ(desk.Sent().State, ssAcknowledged);
}

// The TNC gone after the first try: the turns that follow send nothing and are no tries, and
// the schedule ends all the same, saying so.
TEST(Sending, TurnsWithNoSourceAreNoTries) {
  TSendingDesk desk;
  desk.Start();
  desk.Rig.Desk->Send("K2XYZ-9", "Roger, 20 cots");
  ASSERT_TRUE(desk.Air->WaitFor(1));
  desk.Tnc.Server.close();
  desk.Tnc.Peer->abort();
  ASSERT_TRUE(desk.WaitForEnd());
  EXPECT_EQ(desk.Sent().State, ssGaveUp);
  EXPECT_EQ(desk.Sent().Tries, 1);
  EXPECT_EQ(desk.Rig.LogCount("Did not send to K2XYZ-9: Roger, 20 cots{1: "), 2);
  EXPECT_EQ(desk.Rig.LogCount("Gave up after 1 try and 2 turns with no source that could transmit: to "
                              "K2XYZ-9: Roger, 20 cots{1"),
            1)
      << desk.Rig.Log().toStdString();
  EXPECT_EQ(desk.Rig.Desk->HistoryReader()->SentSince(0).at(0).Tries, 1);
}

TEST(Sending, RefusedWithTheReason) {
  TSendingDesk desk;
  desk.Rig.Make();
  const auto refusal = [&](const std::string& to, const std::string& text) -> std::string {
    try {
      desk.Rig.Desk->Send(to, text);
    } catch (const ESendRefused& e) {
      return e.what();
    }
    return "sent";
  };
  EXPECT_EQ(refusal("K2XYZ", "a|b"), "Cannot send '|': APRS reserves it");
  EXPECT_EQ(
      refusal("K2XYZ", "hi"),
      "Cannot send: no source that can transmit answers (a TNC or a verified APRS-IS login, with Answer on)");
  desk.Rig.Choices.Selection.StationCall = "N0CALL";
  desk.Rig.Choose();
  EXPECT_EQ(refusal("K2XYZ", "hi"), "Cannot send as N0CALL: N0CALL is a placeholder, no one's callsign");
  desk.Rig.Desk->SetDemo(true);
  EXPECT_EQ(refusal("K2XYZ", "hi"), "Cannot send while the demo plays");
}

// A store that cannot keep the message (its disk full) sends nothing: the next start could not
// stop resending it.
TEST(Sending, NothingGoesOutThatTheStoreCannotKeep) {
  TSendingDesk desk;
  const std::string point = desk.Rig.Dir.File("disk");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(point)));
  test::TPrivateTmpfs disk(point, "1m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  ASSERT_TRUE(disk.FillUp(disk.File("filler")));
  desk.Rig.Setup.StoreFile = disk.File("store.db");
  desk.Start();
  ASSERT_TRUE(desk.Rig.Desk->StoreFailing());
  EXPECT_THROW(desk.Rig.Desk->Send("K2XYZ-9", "Roger"), ESendRefused);
  EXPECT_TRUE(test::FramesHeard(desk.Tnc, *desk.Link).empty());
  EXPECT_TRUE(desk.Rig.Desk->SentMessages().empty());
}

#ifdef QM_SEND_CHILD
// One run of the child desk on the stand-in, which acks every try of message 1 from the second
// on; the tries it heard. `killAt` 0: not killed.
struct TChildRun {
  TChildRun(TStandIn& tnc, const std::string& dir, int killAt, bool send, int triesBefore) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("QM_TEST_KILL_AT"));
    if (killAt > 0) env.insert(QStringLiteral("QM_TEST_KILL_AT"), QString::number(killAt));
    Child.setProcessEnvironment(env);
    Child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QString::number(tnc.Server.serverPort()), QString::fromStdString(dir)};
    if (send) args << QStringLiteral("send");
    Child.start(QStringLiteral(QM_SEND_CHILD), args);
    EXPECT_TRUE(Child.waitForStarted());
    QTcpSocket* peer = nullptr;
    TKissDecoder decoder;
    const auto read = [&] {
      if (!peer && tnc.Server.hasPendingConnections()) peer = tnc.Server.nextPendingConnection();
      if (!peer) return;
      decoder.Feed(peer->readAll().toStdString(), [&](int, std::string_view ax25) {
        const std::string frame = DecodeAx25UiFrame(ax25).value_or("?");
        EXPECT_EQ(frame, kFrame);
        if (++Tries + triesBefore < 2) return;
        const std::string ack = MessageFrame(kOwn, "ack1");
        peer->write(ack.data(), static_cast<qint64>(ack.size()));
      });
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          read();
          return Child.state() == QProcess::NotRunning;
        },
        6 * kDeadline));
    // What the child wrote before it ended is still in the socket.
    if (peer) {
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, kDeadline));
    }
    read();
    Killed = Child.exitStatus() == QProcess::CrashExit;
    Said = Child.readAllStandardOutput().toStdString();
  }
  QProcess Child;
  int Tries = 0;
  bool Killed = false;
  std::string Said;
};

// The desk killed with SIGKILL at each of its points in turn (the store's, the log's, and
// sending's: before a try is kept, after it went out, after its end is kept), then started
// again: the message is resumed or given up with a line, and once its ack is in the store
// nothing more of it goes out.
TEST(Sending, EveryKillPointResumesOrGivesUpAndNeverResendsAfterTheAck) {
  test::GuiApp();
  int swept = 0;
  for (int k = 1; k < 200; ++k) {
    SCOPED_TRACE("killed at point " + std::to_string(k));
    test::TTempDir dir;
    const std::string file = dir.File("Quillmark-messages.db");
    // A store killed before it made its tables keeps nothing.
    const auto kept = [&](const std::string& sql) -> long long {
      if (!std::filesystem::exists(file)) return 0;
      try {
        return test::QueryStoreFile(file, sql);
      } catch (const std::runtime_error&) {
        return 0;
      }
    };
    TStandIn tnc;
    const TChildRun first(tnc, dir.Path().string(), k, true, 0);
    if (!first.Killed) {
      EXPECT_EQ(first.Said, "acknowledged 2\nended\n");
      EXPECT_EQ(first.Tries, 2);
      break;
    }
    ++swept;
    const bool stored = kept("SELECT count(*) FROM sent_messages") == 1;
    const bool ackStored = kept("SELECT count(*) FROM sent_messages WHERE state = 1") == 1;
    const long long triesKept = kept("SELECT tries FROM sent_messages");
    // Its listing as own traffic goes with it, never one without the other.
    EXPECT_EQ(kept("SELECT count(*) FROM messages WHERE sent_id <> 0"), stored ? 1 : 0);
    // Every try on the air was kept before it went out; one kept may not have gone.
    EXPECT_LE(first.Tries, triesKept);
    EXPECT_GE(first.Tries, triesKept - 1);

    const TChildRun again(tnc, dir.Path().string(), 0, false, first.Tries);
    ASSERT_FALSE(again.Killed);
    const QString log = test::LogText(QString::fromStdString(dir.Path().string()));
    if (ackStored || !stored) {
      EXPECT_EQ(again.Tries, 0);
      EXPECT_EQ(again.Said, "ended\n");
    } else {
      // Resumed until the stand-in's ack, or given up with its line.
      const bool acked = again.Said.starts_with("acknowledged ");
      EXPECT_TRUE(acked || again.Said.starts_with("gave up ")) << again.Said;
      EXPECT_TRUE(log.contains(acked ? QStringLiteral("Acknowledged by K2XYZ-9 after ")
                                     : QStringLiteral("Gave up after ")))
          << log.toStdString();
      if (acked) {
        EXPECT_GE(first.Tries + again.Tries, 2);
      }
    }
    EXPECT_EQ(kept("SELECT count(*) FROM sent_messages WHERE state = 0"), 0);
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  std::printf("kill points swept: %d\n", swept);
  EXPECT_GT(swept, 5);
}
#endif

}  // namespace
}  // namespace qm
