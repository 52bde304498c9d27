// The desk's own messages through a real KISS TCP link: a stand-in station behind the TNC
// stand-in that acks after the second try, rejects, or never answers; a restart in the middle
// of a schedule; and the refusals that keep a message from going out.
#include <gtest/gtest.h>

#include <QDir>

#include <chrono>

#include "host/KissTcpHostLink.h"
#include "host/ReplayHostLink.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LinkStandIn.h"
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
    Rig.Choices.SendSchedule = TSendSchedule(3, 10);  // now, 10 s and 20 s later; given up 20 s on
  }
  // The desk started (again) with a link of its own.
  void Start() {
    Link.reset();
    Rig.Make();
    Link = std::make_unique<TKissTcpHostLink>(
        LinkSettings(THostSettings::htKissTcp, Tnc.Server.serverPort(), true));
    Wire(Rig, *Link);
    bool connected = false;
    QObject::connect(Link.get(), &THostLink::StateChanged,
                     [&connected](const QString& state) { connected = connected || state == "Connected"; });
    Link->Start();
    ASSERT_NE(Tnc.Accept(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return connected; }, kDeadline));
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

}  // namespace
}  // namespace qm
