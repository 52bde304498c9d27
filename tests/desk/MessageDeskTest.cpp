// The rules of the message flow against the desk alone: no window, no widget. Each table
// row gets a fresh desk on a fresh folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include "base/Timing.h"
#include "host/AprsIsHostLink.h"
#include "host/HostLink.h"
#include "tests/support/DeskParts.h"
#include "tests/support/DeskRig.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

using test::HostMessage;

std::string Line1() {
  return "LOCAL:[" + DateTimeToRegionalText(46363.75) + "]  UTC:[" + DateTimeToRegionalText(46363.25) + "]";
}

QStringList BulletinEntries(int first, int last) {
  QStringList lines;
  for (int n = first; n <= last; ++n)
    lines << QString::fromStdString(Line1()) << QStringLiteral("  N0CALL>APRS via WIDE1-1")
          << QStringLiteral("  BLN1: Bulletin %1").arg(n);
  return lines;
}

// --- Verdict ----------------------------------------------------------------------------

TEST(MessageDesk, NwsCategoryAndCheckedState) {
  struct Case {
    const char* name;
    const char* addressee;
    const char* text;
    bool warnings, watches;
    const char* checkedState;  // nullptr: none checked; "*": all
    bool wanted;
  } cases[] = {
      {"warning, state checked", "NWS-WARN", "072300z,SEVERE_WEATHER,OK_Z001", true, false, "OK", true},
      {"lower-case state matches", "NWS-WARN", "072300z,SEVERE_WEATHER,ok_Z001", true, false, "OK", true},
      {"state not checked", "NWS-WARN", "072300z,SEVERE_WEATHER,OK_Z001", true, false, "TX", false},
      {"no state in the text", "NWS-WARN", "severe weather", true, false, "*", false},
      {"category not checked", "NWS-WARN", "072300z,SEVERE_WEATHER,OK_Z001", false, true, "OK", false},
      {"watch checked", "NWS-WATCH", "072300z,TORNADO,TX_Z001", false, true, "TX", true},
      {"other NWS addressee", "NWS-TORNA", "072300z,TORNADO,TX_Z001", true, true, "*", false},
      {"no state checked", "NWS-WARN", "072300z,SEVERE_WEATHER,OK_Z001", true, false, nullptr, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TDeskRig rig;
    rig.Choices.Selection.NwsWarnings = c.warnings;
    rig.Choices.Selection.NwsWatches = c.watches;
    for (auto& [code, checked] : rig.Choices.Selection.States)
      checked = c.checkedState && (std::string(c.checkedState) == "*" || code == c.checkedState);
    rig.Make();
    rig.Send(HostMessage("NWS", c.addressee, std::string(c.text) + "{" + std::to_string(++n)));
    ASSERT_EQ(rig.Entries(), c.wanted ? 1 : 0);
    // The alert's third line keeps its message number after " {".
    if (c.wanted) {
      EXPECT_EQ(rig.Lines().value(2),
                QStringLiteral("  %1: %2 {%3").arg(QLatin1String(c.addressee), QLatin1String(c.text)).arg(n));
    }
  }
}

TEST(MessageDesk, HintShowsEveryUsablePacketAndNothingElse) {
  test::TDeskRig rig;
  rig.Make();
  rig.Send(HostMessage("K1ABC-7", "W1AW", "not for us{5"));  // not wanted, but usable
  const QString shown = QStringLiteral("K1ABC-7> W1AW     :not for us{5");
  EXPECT_EQ(rig.Hint, shown);
  for (const std::string& unusable : {std::string("*N0CALL>APRS:!4903.50N/07201.75W-"),
                                      HostMessage("N0CALL", "W1AW", "ack5"), std::string("x")}) {
    SCOPED_TRACE(unusable);
    rig.Send(unusable);
    EXPECT_EQ(rig.Hint, shown);
  }
}

// A fast source wakes the view a few times a second, not once a packet: all that one queued
// call judged is told at once, what comes within kHeardEveryMs after it at its end, each time
// with the hint of the last packet; a hint of the desk's own meanwhile is not overwritten.
TEST(MessageDesk, PacketsHeardReachTheViewAtAPace) {
  struct TLink : THostLink {
    std::string PacketText() override { return Text; }
    void FillMyInfo(TOwnStation&) override {}
    void Start() override {}
    void Stop() override {}
    std::string Text;
  } link;
  test::TDeskRig rig;
  rig.Make();
  std::vector<std::uint64_t> told;
  QObject::connect(rig.Desk.get(), &TMessageDesk::PacketHeard,
                   [&] { told.push_back(rig.Desk->PacketsHeard()); });
  const auto hear = [&](int first, int last) {
    for (int n = first; n <= last; ++n) {
      link.Text = HostMessage("K1ABC", "W1AW", "n" + std::to_string(n));
      rig.Desk->DataAvailable(link);
    }
    ASSERT_TRUE(rig.Settle());
  };
  hear(1, 50);
  EXPECT_EQ(told, std::vector<std::uint64_t>{50});
  EXPECT_EQ(rig.Hint, QStringLiteral("K1ABC> W1AW     :n50"));
  hear(51, 60);
  ASSERT_TRUE(QTest::qWaitFor([&] { return told.size() == 2; }, 5000));
  EXPECT_EQ(told, (std::vector<std::uint64_t>{50, 60}));
  EXPECT_EQ(rig.Hint, QStringLiteral("K1ABC> W1AW     :n60"));
  rig.Desk->LogOutages(link);
  hear(61, 61);
  emit link.AnswerNotice(QStringLiteral("APRS-IS did not verify the login"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return told.size() == 3; }, 5000));
  EXPECT_EQ(told.back(), 61u);
  EXPECT_EQ(rig.Hint, QStringLiteral("APRS-IS did not verify the login"));
}

// A burst from an APRS-IS server, read as it comes: every wanted message is listed and logged
// in the order it was sent, the unwanted lines between them heard and left out; judged at the
// end of each arrival where the desk follows the link's arrivals, else by its queued call.
TEST(MessageDesk, ABurstFromTheServerIsListedAndLoggedInItsOrder) {
  constexpr int kWanted = 24;
  std::string burst;
  for (int n = 1; n <= kWanted; ++n) {
    const std::string number = (n < 10 ? "0" : "") + std::to_string(n);
    burst.append("N0CALL>APRS,TCPIP*::BLN1     :Burst ").append(number);
    burst.append("\r\nK1ABC>APRS,TCPIP*:>here ").append(number).append("\r\n");
  }
  for (const bool followed : {false, true}) {
    SCOPED_TRACE(followed ? "arrivals followed" : "queued call");
    test::TLoopbackServer server([&](int fd) {
      char login[512];
      if (::recv(fd, login, sizeof login, 0) <= 0) return;
      test::SendAll(fd, burst);
      (void)test::ReadToEnd(fd);
    });
    test::TDeskRig rig;
    rig.Choices.Selection.Bulletins = true;
    rig.Choices.PrintingDisabled = true;
    rig.Make();
    THostSettings settings;
    settings.Transport = THostSettings::htAprsIs;
    settings.Callsign = "Q1ABC-7";
    settings.Server = "127.0.0.1";
    settings.Port = server.Port();
    TAprsIsHostLink link(settings);
    QObject::connect(&link, &THostLink::DataReady, rig.Desk.get(), [&] { rig.Desk->DataAvailable(link); });
    if (followed) rig.Desk->FollowArrivals(link);
    // Told after the desk: what was left waiting once an arrival was handed over.
    std::size_t arrivals = 0, leftWaiting = 0;
    QObject::connect(&link, &THostLink::ArrivalHandedOver, [&] {
      ++arrivals;
      leftWaiting += rig.Desk->Waiting().size();
    });
    link.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.Entries() == kWanted && rig.Desk->Settled(); }, 10000));
    EXPECT_GT(arrivals, 0u);
    EXPECT_EQ(leftWaiting > 0, !followed);
    EXPECT_EQ(rig.Desk->PacketsHeard(), 2u * kWanted);
    const QString listed = rig.Lines().join('\n');
    const QString log = rig.Log();
    qsizetype inList = -1, inLog = -1;
    for (int n = 1; n <= kWanted; ++n) {
      SCOPED_TRACE(n);
      const QString text = QStringLiteral("Burst %1").arg(n, 2, 10, QLatin1Char('0'));
      EXPECT_GT(listed.indexOf(text), inList);
      EXPECT_GT(log.indexOf(text), inLog);
      inList = listed.indexOf(text);
      inLog = log.indexOf(text);
    }
    link.Stop();
  }
}

// --- Repeats and resends ------------------------------------------------------------------

struct TStep {
  const char* From;
  const char* Text;
  std::uint32_t After;  // ms since the previous packet
  bool Listed;
};

// Sends the steps; answers how many were dropped, checking the list after each.
int SendSteps(test::TDeskRig& rig, const char* to, const std::vector<TStep>& steps) {
  int listed = 0, dropped = 0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    rig.Tick += steps[i].After;
    rig.Send(HostMessage(steps[i].From, to, steps[i].Text));
    steps[i].Listed ? ++listed : ++dropped;
    EXPECT_EQ(rig.Entries(), listed);
  }
  return dropped;
}

TEST(MessageDesk, RepeatsWithinTwentySecondsOfTheLastCopyAreDropped) {
  struct Case {
    const char* name;
    std::uint32_t start;
    std::vector<TStep> steps;
  } cases[] = {
      {"19.9 s then 20 s after the dropped copy",
       100000,
       {{"N0CALL", "Same body", 0, true},
        {"N0CALL", "Same body", 19900, false},
        {"N0CALL", "Same body", 20000, true}}},
      {"19.999 s", 100000, {{"N0CALL", "Same body", 0, true}, {"N0CALL", "Same body", 19999, false}}},
      {"20 s", 100000, {{"N0CALL", "Same body", 0, true}, {"N0CALL", "Same body", 20000, true}}},
      {"every 15 s",
       100000,
       {{"N0CALL", "Same body", 0, true},
        {"N0CALL", "Same body", 15000, false},
        {"N0CALL", "Same body", 15000, false},
        {"N0CALL", "Same body", 15000, false}}},
      {"across the counter's wrap",
       0xFFFFF000u,
       {{"N0CALL", "Same body", 0, true},
        {"N0CALL", "Same body", 10000, false},
        {"N0CALL", "Same body", 20000, true}}},
      {"another sender, another body: no repeat; only the sender's first entry is compared",
       100000,
       {{"N0CALL", "first", 0, true},
        {"W1AW", "first", 1000, true},
        {"N0CALL", "second", 1000, true},
        {"N0CALL", "second", 1000, true},
        {"N0CALL", "first", 1000, false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TDeskRig rig;
    rig.Choices.Selection.Bulletins = true;
    rig.Tick = c.start;
    rig.Make();
    const int dropped = SendSteps(rig, "BLN1", c.steps);
    const QString text = QString::fromLatin1(c.steps.back().Text);
    EXPECT_EQ(
        rig.LogCount(QStringLiteral("Duplicate packet: N0CALL>APRS,WIDE1-1::BLN1     :") + text + "\r\n"),
        dropped);
    // A dropped copy is still shown.
    EXPECT_EQ(rig.Hint, QStringLiteral("N0CALL> BLN1     :") + text);
  }
}

// A repeat judged while its original's commit is still out is logged after the original.
TEST(MessageDesk, ARepeatIsLoggedAfterTheMessageItRepeats) {
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Make();
  const std::string packet = HostMessage("N0CALL", "BLN1", "Net at 8");
  for (int copy = 0; copy < 2; ++copy)
    rig.Desk->Take(ParseAprsPacket(IntakePacketLine(packet), rig.Tick, rig.Utc));
  ASSERT_TRUE(rig.Settle());
  const QString log = rig.Log();
  const auto original = log.indexOf(QStringLiteral("> N0CALL>APRS,WIDE1-1::BLN1     :Net at 8\r\n"));
  const auto repeat =
      log.indexOf(QStringLiteral("Duplicate packet: N0CALL>APRS,WIDE1-1::BLN1     :Net at 8"));
  ASSERT_GE(original, 0) << log.toStdString();
  EXPECT_GT(repeat, original) << log.toStdString();
}

// A client resends a message until it is acknowledged. With the option on, a copy with the same
// sender and number is dropped for the minutes set; with it off only the 20-second rule holds.
TEST(MessageDesk, ResentMessagesAreDroppedOnlyWithTheOption) {
  struct Case {
    const char* name;
    bool option;
    int minutes;
    std::vector<TStep> steps;
  } cases[] = {
      {"off: a resend after 30 s is listed again",
       false,
       30,
       {{"KB1AB-7", "Lunch?{42", 0, true}, {"KB1AB-7", "Lunch?{42", 30000, true}}},
      {"on: resends within 30 minutes dropped, a new number kept",
       true,
       30,
       {{"KB1AB-7", "Lunch?{42", 0, true},
        {"KB1AB-7", "Lunch?{42", 30000, false},
        {"KB1AB-7", "Lunch?{42", 29 * 60000, false},
        {"KB1AB-7", "Lunch?{43", 1000, true},
        {"W1AW", "Lunch?{42", 1000, true}}},
      {"on: the window counts from the first listing",
       true,
       2,
       {{"KB1AB-7", "Lunch?{42", 0, true},
        {"KB1AB-7", "Lunch?{42", 60000, false},
        {"KB1AB-7", "Lunch?{42", 60000, true}}},
      {"on: messages without a number fall to the 20-second rule only",
       true,
       30,
       {{"KB1AB-7", "No number", 0, true}, {"KB1AB-7", "No number", 30000, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TDeskRig rig;
    rig.Choices.Selection.UseStationList = true;
    rig.Choices.Selection.StationList = {"KB1AB-7", "W1AW"};
    rig.Choices.DropResent = c.option;
    rig.Choices.ResentMinutes = c.minutes;
    rig.Make();
    const int dropped = SendSteps(rig, "NOCALL-9", c.steps);
    // Every copy is still in the log, as a duplicate.
    EXPECT_EQ(rig.LogCount(QStringLiteral("Duplicate packet: KB1AB-7>APRS,WIDE1-1::NOCALL-9 :Lunch?{42")),
              dropped);
  }
}

// --- The list and its pages ---------------------------------------------------------------

TEST(MessageDesk, EntryLinesAsListed) {
  struct Case {
    const char* name;
    std::string host;
    QStringList lines;  // lines 2 and 3
  } cases[] = {
      {"path",
       HostMessage("N0CALL-5", "BLN1", "Net at 8", ",WIDE1-1,WIDE2-1"),
       {QStringLiteral("  N0CALL-5>APRS via WIDE1-1,WIDE2-1"), QStringLiteral("  BLN1: Net at 8")}},
      {"empty path",
       HostMessage("N0CALL", "BLN2", "Net at 9", ""),
       {QStringLiteral("  N0CALL>APRS via "), QStringLiteral("  BLN2: Net at 9")}},
      {"message number not shown",
       HostMessage("N0CALL", "BLN3", "Net at 10{42"),
       {QStringLiteral("  N0CALL>APRS via WIDE1-1"), QStringLiteral("  BLN3: Net at 10")}},
      {"NWS without number",
       HostMessage("NWS", "NWS-WARN", "072300z,WIND,OK_Z001"),
       {QStringLiteral("  NWS>APRS via WIDE1-1"), QStringLiteral("  NWS-WARN: 072300z,WIND,OK_Z001 {")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TDeskRig rig;
    rig.Choices.Selection.Bulletins = rig.Choices.Selection.NwsWarnings = true;
    for (auto& state : rig.Choices.Selection.States) state.second = true;
    rig.Make();
    rig.Send(c.host);
    EXPECT_EQ(rig.Lines(), (QStringList{QString::fromStdString(Line1()), c.lines[0], c.lines[1]}));
    EXPECT_EQ(rig.Count, QStringLiteral("1 of 20 messages collected"));
  }
}

// How many messages make a page: the setting as typed, decimal digits only, else 40; 0 prints
// every message; with printing disabled nothing prints by itself.
TEST(MessageDesk, PageSetting) {
  struct Case {
    const char* setting;
    bool disabled;
    int sent;
    int printedAt;  // the message that made the page; 0: none
    const char* count;
  } cases[] = {
      {"20", false, 21, 21, "0 of 20 messages collected"},
      {"20", false, 20, 0, "20 of 20 messages collected"},
      {"0", false, 1, 1, "0 of 0 messages collected"},
      {"ten", false, 41, 41, "0 of ten messages collected"},
      {"ten", false, 40, 0, "40 of ten messages collected"},
      {"$1", false, 3, 0, "3 of $1 messages collected"},
      {"0x1", false, 3, 0, "3 of 0x1 messages collected"},
      {" 1", false, 3, 0, "3 of  1 messages collected"},
      {"+1", false, 3, 0, "3 of +1 messages collected"},
      {"-1", false, 3, 0, "3 of -1 messages collected"},
      {"007", false, 8, 8, "0 of 007 messages collected"},
      {"20", true, 22, 0, "22 of 20 messages collected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.setting) + (c.disabled ? ", printing disabled" : ""));
    test::TDeskRig rig;
    rig.Choices.Selection.Bulletins = true;
    rig.Choices.PageSetting = c.setting;
    rig.Choices.PrintingDisabled = c.disabled;
    rig.Make();
    for (int n = 1; n <= c.sent; ++n) rig.SendBulletin(n);
    ASSERT_EQ(rig.Printed(), c.printedAt != 0);
    EXPECT_EQ(rig.Count, QString::fromLatin1(c.count));
    if (c.printedAt == 0) continue;
    EXPECT_EQ(rig.Desk->LastPrinted().Lines, 3 * c.printedAt + 1);  // and the blank line
    EXPECT_EQ(test::PdfLines(rig.PdfFile()).size(), 3 * c.printedAt);
    EXPECT_EQ(rig.Entries(), c.sent - c.printedAt);
  }
}

// With printing disabled, "Print messages in list now" still prints; a text does not.
TEST(MessageDesk, DisabledPrintingStopsOnlyTheAutomaticAndTextPrints) {
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = rig.Choices.PrintingDisabled = true;
  rig.Make();
  rig.Desk->PrintNow();
  EXPECT_FALSE(rig.Printed());  // an empty list prints nothing
  for (int n = 1; n <= 22; ++n) rig.SendBulletin(n);
  rig.Desk->Print("An alert's full text");
  EXPECT_FALSE(rig.Printed());
  rig.Desk->PrintNow();
  ASSERT_TRUE(rig.Printed());
  EXPECT_EQ(test::PdfLines(rig.PdfFile()).size(), 66);
  EXPECT_EQ(rig.Entries(), 0);
  EXPECT_EQ(rig.Count, QStringLiteral("0 of 20 messages collected"));
  EXPECT_TRUE(rig.Failures.isEmpty());
}

// A kill costs nothing: the list comes back at the next start on the same folder, and the end
// of a run says how many messages wait for it.
TEST(MessageDesk, TheListOutlivesTheRun) {
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = rig.Choices.PrintingDisabled = true;
  rig.Make();
  for (int n = 1; n <= 3; ++n) rig.SendBulletin(n);
  rig.Desk->HostClosing();
  EXPECT_EQ(rig.Ended, 1);
  EXPECT_EQ(rig.LogCount(QStringLiteral("3 unprinted messages are kept for the next start")), 1);
  rig.Make();
  EXPECT_EQ(rig.Lines(), BulletinEntries(1, 3));
  EXPECT_EQ(rig.Count, QStringLiteral("3 of 20 messages collected"));
}

// The bundled demo is never the operator's record: its messages and pages are not stored, and
// they leave the list when a real source comes; the next start knows nothing of them.
TEST(MessageDesk, TheDemoLeavesNoTrace) {
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.PageSetting = "2";
  rig.Make();
  rig.Desk->SetDemo(true);
  for (int n = 1; n <= 5; ++n) rig.SendBulletin(n);
  EXPECT_TRUE(rig.Printed());  // a page of three, as a PDF file here
  EXPECT_EQ(rig.Entries(), 2);
  EXPECT_TRUE(rig.Desk->HistoryReader()->FindMessages({}).empty());
  EXPECT_TRUE(rig.Desk->HistoryReader()->PendingJobs().empty());
  rig.Desk->SetDemo(false);  // a real source
  EXPECT_EQ(rig.Entries(), 0);
  EXPECT_EQ(rig.Count, QStringLiteral("0 of 2 messages collected"));
  rig.SendBulletin(6);
  rig.Desk->HostClosing();
  EXPECT_EQ(rig.LogCount(QStringLiteral("1 unprinted messages are kept for the next start")), 1);
  rig.Make();
  EXPECT_EQ(rig.Lines(), BulletinEntries(6, 6));
}

// Sources that speak while an entry is being accepted hold their packets at the source; each
// of them goes on once the entry is complete.
// A relayed packet is often the only copy that reaches a capture or an APRS-IS feed: whatever
// source it comes from, it is listed and logged as the packet it carries.
TEST(MessageDesk, AThirdPartyPacketFromACaptureIsListedAsThePacketItCarries) {
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Make();
  THostSettings settings;
  settings.Transport = THostSettings::htReplay;
  settings.CaptureFile = rig.Dir.File("relayed.txt");
  settings.Pace = 0;
  test::WriteFileBytes(settings.CaptureFile,
                       "*12:00:00 IGATE>APRS,TCPIP*:}N0CALL>APRS,TCPIP,IGATE*::BLN1     :Relayed once\r\n");
  const std::unique_ptr<THostLink> capture = CreateHostLink(settings);
  QObject::connect(capture.get(), &THostLink::DataReady, [&] { rig.Desk->DataAvailable(*capture); });
  bool ended = false;
  QObject::connect(capture.get(), &THostLink::Closing, [&] { ended = true; });
  capture->Start();
  QElapsedTimer timer;
  timer.start();
  while ((!ended || rig.Entries() == 0) && timer.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_EQ(rig.Lines().at(1), QStringLiteral("  N0CALL>APRS via TCPIP,IGATE*"));
  EXPECT_EQ(rig.Lines().at(2), QStringLiteral("  BLN1: Relayed once"));
  EXPECT_EQ(rig.LogCount(QStringLiteral("N0CALL>APRS,TCPIP,IGATE*::BLN1     :Relayed once")), 1);
}

// The desk destroyed while it waits for an alert's full text (its events run meanwhile):
// the alert is logged first, and the wait unwinds without touching the desk.
// A desk whose alerts' full texts come from a server that never answers (300 ms bound).
struct TSilentFingerRig : test::TDeskRig {
  test::TLoopbackServer Server{[](int fd) { (void)test::ReadToEnd(fd); }};
  const std::string Alert = HostMessage("NOCALL", "NWS-WARN", "072130z,TORNADO,OK_C017 CLEVELAND{1");
  TSilentFingerRig() {
    Choices.Selection.Bulletins = Choices.Selection.NwsWarnings = Choices.FullText.WarningText = true;
    for (auto& [code, checked] : Choices.Selection.States) checked = code == "OK";
    Choices.PrintingDisabled = true;
  }
  void Make() {
    TFingerClient& finger = test::TDeskParts::Finger(TDeskRig::Make());
    finger.Host = "127.0.0.1";
    finger.Port = Server.Port();
    finger.Bounds.Idle = std::chrono::milliseconds(300);
  }
};

// Sources that speak while an alert waits for its full text are held, each once, and each
// goes on once the entry is done.
TEST(MessageDesk, EverySourceHeldDuringAnEntryGoesOnAfterIt) {
  struct THeldLink : THostLink {
    std::string PacketText() override { return HostMessage("N0CALL", "BLN2", "Later"); }
    void FillMyInfo(TOwnStation&) override {}
    void Start() override {}
    void Stop() override {}
    void HoldIntake() override { ++Holds; }
    void ResumeIntake() override { ++Resumes; }
    int Holds = 0, Resumes = 0;
  } radio, internet;
  TSilentFingerRig rig;
  rig.Make();
  QTimer::singleShot(0, [&] {
    rig.Desk->DataAvailable(radio);
    rig.Desk->DataAvailable(internet);
  });
  rig.Send(rig.Alert);
  for (const THeldLink* link : {&radio, &internet}) {
    EXPECT_EQ(link->Holds, 1);
    EXPECT_EQ(link->Resumes, 1);
  }
}

// "Clear" during a fetch clears what was listed; the alert on its way is listed after it and
// comes back at the next start like any unprinted entry.
TEST(MessageDesk, ClearDuringAFetchKeepsTheAlertOnItsWay) {
  TSilentFingerRig rig;
  rig.Make();
  rig.SendBulletin(1);
  QTimer::singleShot(0, [&] { rig.Desk->ClearList(); });
  rig.Send(rig.Alert);
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_THAT(rig.Lines().last().toStdString(), testing::HasSubstr("CLEVELAND"));
  rig.Desk->HostClosing();
  EXPECT_EQ(rig.LogCount(QStringLiteral("1 unprinted messages are kept for the next start")), 1);
  rig.Make();
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_THAT(rig.Lines().last().toStdString(), testing::HasSubstr("CLEVELAND"));
}

// An alert whose query would carry more than a callsign's characters (here the relay form of
// RFC 1288): nothing goes to the server, and the alert is listed and logged without its full
// text, as after a failed fetch.
TEST(MessageDesk, AnAlertWhoseQueryIsNoNameIsListedWithoutAFetch) {
  std::atomic<bool> asked = false;
  test::TLoopbackServer server([&](int) { asked = true; });
  test::TDeskRig rig;
  rig.Choices.Selection.NwsWarnings = rig.Choices.FullText.WarningText = true;
  for (auto& [code, checked] : rig.Choices.Selection.States) checked = code == "OK";
  TFingerClient& finger = test::TDeskParts::Finger(rig.Make());
  finger.Host = "127.0.0.1";
  finger.Port = server.Port();
  rig.Send(HostMessage("X@EVIL.CO", "NWS-WARN", "072130z,TORNADO,OK_C017 CLEVELAND{M12"));
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_EQ(
      rig.LogCount(QStringLiteral("The Finger query X@EVIL.COM12 would carry more than letters, digits and "
                                  "'-', so it was not sent")),
      1);
  EXPECT_EQ(rig.LogCount(QStringLiteral("The alert X@EVIL.COM12 was listed without its full text")), 1);
  EXPECT_FALSE(asked);
}

// With an area list, only the alerts of the areas kept are fetched: the rest of the state is
// neither listed nor asked for.
TEST(MessageDesk, AnAreaListFetchesOnlyTheKeptAlertsFullText) {
  std::mutex lock;
  std::vector<std::string> queries;
  test::TLoopbackServer server([&](int fd) {
    char query[64] = {};
    const ssize_t got = ::recv(fd, query, sizeof query - 1, 0);
    {
      const std::lock_guard held(lock);
      queries.emplace_back(query, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    test::SendAll(fd, "Tornado warning until 22:00\r\n");
  });
  test::TDeskRig rig;
  rig.Choices.Selection.NwsWarnings = rig.Choices.FullText.WarningText = true;
  rig.Choices.Selection.NwsAreas = {"OK_C017"};
  for (auto& [code, checked] : rig.Choices.Selection.States) checked = code == "OK";
  TFingerClient& finger = test::TDeskParts::Finger(rig.Make());
  finger.Host = "127.0.0.1";
  finger.Port = server.Port();
  rig.Send(HostMessage("NWSBOT", "NWS-WARN", "072130z,TORNADO,OK_C109 OKLAHOMA{A1"));
  rig.Send(HostMessage("NWSBOT", "NWS-WARN", "072130z,TORNADO,OK_C017 CLEVELAND{A2"));
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_THAT(rig.Lines().last().toStdString(), testing::HasSubstr("CLEVELAND"));
  const std::lock_guard held(lock);
  EXPECT_EQ(queries, std::vector<std::string>{"NWSBOTA2\r\n"});
}

// What a run without a window tells the journal (the desk's notes): which alert a printed full
// text was, and what went to paper again and who asked for it.
TEST(MessageDesk, NotesNameThePrintedAlertAndWhatWasReprintedFromWhere) {
  test::TLoopbackServer server([](int fd) {
    char query[64];
    (void)::recv(fd, query, sizeof query, 0);
    test::SendAll(fd, "Tornado warning until 22:00\r\n");
  });
  test::TDeskRig rig;
  rig.Choices.Selection.NwsWarnings = rig.Choices.FullText.WarningText = true;
  for (auto& [code, checked] : rig.Choices.Selection.States) checked = code == "OK";
  TFingerClient& finger = test::TDeskParts::Finger(rig.Make());
  finger.Host = "127.0.0.1";
  finger.Port = server.Port();
  QStringList notes;
  QObject::connect(rig.Desk.get(), &TMessageDesk::Noted, [&](const QString& t) { notes << t; });
  rig.Send(HostMessage("NWSBOT", "NWS-WARN", "072130z,TORNADO,OK_C017 CLEVELAND{Q1B"));
  ASSERT_EQ(rig.Entries(), 1);
  EXPECT_TRUE(notes.contains(QStringLiteral("Full text printed: the alert NWSBOTQ1B on ") + rig.PdfFile()))
      << notes.join('|').toStdString();
  rig.Desk->ReprintMessages({rig.Desk->Listed().front().StoreId}, "on the board");
  ASSERT_FALSE(notes.isEmpty());
  EXPECT_TRUE(notes.back().startsWith(QStringLiteral("Reprinted "))) << notes.back().toStdString();
  EXPECT_TRUE(
      notes.back().endsWith(rig.PdfFile() + QStringLiteral(": 1 message from NWSBOT, asked on the board")))
      << notes.back().toStdString();
}

TEST(MessageDesk, DestroyedDuringAFetchLogsTheAlertFirst) {
  TSilentFingerRig rig;
  rig.Make();
  const std::string alert = rig.Alert;
  QTimer::singleShot(0, [&] { rig.Desk.reset(); });
  rig.Send(alert);
  ASSERT_EQ(rig.Desk, nullptr);
  const QString log = rig.Log();
  const auto ended = log.indexOf(QStringLiteral("> The program ended before the full text came"));
  EXPECT_NE(ended, -1) << log.toStdString();
  EXPECT_LT(ended, log.indexOf(QString::fromStdString("> " + alert.substr(1)))) << log.toStdString();
}

}  // namespace
}  // namespace qm
