// A packet's road through the window: from the host's data event through the event queue,
// the verdict and the duplicate filter, into the three-line list, and onto paper.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstdio>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "base/Timing.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/DeskParts.h"
#include "tests/support/PdfTools.h"
#include "tests/support/TimeLocale.h"

namespace qm {
namespace {

using ::testing::ElementsAreArray;

// What the host's call left waiting at the window's desk, before it is judged.
struct TPacketWatch {
  void Look(const TMessageDesk& desk, std::size_t before) {
    if (desk.Waiting().size() <= before) return;
    const TAprsMsgPacket& p = *desk.Waiting().back();
    ++Seen;
    Raw.push_back(p.RawText);
    Usable.push_back(p.Selected);
    Ticks.push_back(p.TickCount);
  }
  int Seen = 0;
  std::vector<std::string> Raw;
  std::vector<bool> Usable;
  std::vector<std::uint32_t> Ticks;
};

// The 9-character addressee field.
std::string Field(const std::string& addressee) {
  std::string f = addressee;
  f.resize(9, ' ');
  return f;
}

// One APRS text message as the host hands it over (marker character first).
std::string Msg(const std::string& from, const std::string& to, const std::string& text,
                const std::string& path = ",WIDE1-1") {
  return "*" + from + ">APRS" + path + "::" + Field(to) + ":" + text;
}

// Lines as pdftotext's layout gives them back: the indent kept, each run of blanks inside
// a line (which the layout may widen) made one.
std::vector<std::string> PdfLayout(const QStringList& lines) {
  std::vector<std::string> result;
  for (const QString& line : lines) {
    qsizetype indent = 0;
    while (indent < line.size() && line.at(indent) == u' ') ++indent;
    result.push_back((line.left(indent) + line.mid(indent).simplified()).toStdString());
  }
  return result;
}

constexpr TDateTime kLocal = 46363.75;  // 2026-12-07 18:00
constexpr TDateTime kUtc = 46363.25;    // 2026-12-07 06:00

struct PacketFlow : public ::testing::Test {
  TMainFormSetup FormSetup() {
    TMainFormSetup s = env->Setup();
    s.Clock = [](TTimeFormat f) { return f == tfLocal ? kLocal : kUtc; };
    return s;
  }
  TMainForm& Make(TMainFormSetup s) {
    form = std::make_unique<TMainForm>(std::move(s));
    return *form;
  }
  TMainForm& Make() { return Make(FormSetup()); }
  void Renew() {
    form.reset();
    env = std::make_unique<test::TFormEnvironment>();
  }

  // Hands one packet to the window and lets the queue deliver it.
  void Send(const std::string& hostText) {
    const int before = watch.Seen;
    const std::size_t waiting = form->Desk().Waiting().size();
    env->Host->Deliver(hostText);
    watch.Look(form->Desk(), waiting);
    ASSERT_TRUE(test::WaitFor([&] { return watch.Seen > before && form->Desk().Settled(); })) << hostText;
  }
  // A bulletin, wanted when "All Bulletins" is checked.
  void SendBulletin(int n) { Send(Msg("N0CALL", "BLN1", "Bulletin " + std::to_string(n))); }

  QString LogText() const {
    QString all;
    for (const QFileInfo& fi : QDir(env->Dir.path()).entryInfoList({QStringLiteral("*.log")}, QDir::Files)) {
      QFile f(fi.filePath());
      if (f.open(QIODevice::ReadOnly)) all += QString::fromLatin1(f.readAll());
    }
    return all;
  }
  int LogCount(const QString& text) const { return int(LogText().count(text)); }
  bool WaitForLog(const QString& text, int times = 1) const {
    return test::WaitFor([&] { return LogCount(text) >= times; });
  }
  bool Printed() const { return QFile::exists(env->PdfFile()); }
  std::vector<std::string> PrintedLines() const { return PdfLayout(test::PdfLines(env->PdfFile())); }
  int Entries() const { return form->MessageLineCount() / 3; }

  // Renewed for each case of a table: a window saves its choices for the next one.
  std::unique_ptr<test::TFormEnvironment> env = std::make_unique<test::TFormEnvironment>();
  TPacketWatch watch;
  std::unique_ptr<TMainForm> form;
};

std::string Line1() {
  return "LOCAL:[" + DateTimeToRegionalText(kLocal) + "]  UTC:[" + DateTimeToRegionalText(kUtc) + "]";
}

// The three lines of bulletin n as the list shows them.
QStringList BulletinEntry(int n) {
  return {QString::fromStdString(Line1()), QStringLiteral("  N0CALL>APRS via WIDE1-1"),
          QStringLiteral("  BLN1: Bulletin %1").arg(n)};
}

QStringList BulletinEntries(int first, int last) {
  QStringList lines;
  for (int n = first; n <= last; ++n) lines << BulletinEntry(n);
  return lines;
}

// --- Intake -----------------------------------------------------------------------

TEST_F(PacketFlow, IntakeCleansTheHostTextBeforeParsing) {
  struct Case {
    const char* name;
    std::string host;
    std::string raw;
    bool usable;
  } cases[] = {
      {"time word stripped", "*12:00:00 N0CALL>APRS,WIDE1-1::NOCALL-9 :hi{1",
       "N0CALL>APRS,WIDE1-1::NOCALL-9 :hi{1", true},
      {"time word and blanks after it", "*12:00:00   N0CALL>APRS::NOCALL-9 :hi", "N0CALL>APRS::NOCALL-9 :hi",
       true},
      {"no time word", "*N0CALL>APRS::NOCALL-9 :hi", "N0CALL>APRS::NOCALL-9 :hi", true},
      {"digit without colon keeps its word", "*12345 N0CALL>APRS::NOCALL-9 :hi",
       "12345 N0CALL>APRS::NOCALL-9 :hi", false},
      {"time word without a blank empties", "*12:00:00", "", false},
      {"one character", "x", "", false},
      {"empty", "", "", false},
      {"CR and LF removed", "*N0CALL>APRS::NOCALL-9 :hel\r\nlo\r\n", "N0CALL>APRS::NOCALL-9 :hello", true},
      {"other control characters stay", "*N0CALL>APRS::NOCALL-9 :a\tb", "N0CALL>APRS::NOCALL-9 :a\tb", true},
  };
  Make();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Send(c.host);
    EXPECT_EQ(watch.Raw.back(), c.raw);
    EXPECT_EQ(watch.Usable.back(), c.usable);
  }
}

TEST_F(PacketFlow, PacketIsJudgedFromTheQueueNotInsideTheHostsCall) {
  Make();
  form->cbBull->setChecked(true);
  int listedDuringCall = -1;
  QObject::connect(env->Host, &THostLink::DataReady, form.get(),
                   [&] { listedDuringCall = form->MessageLineCount(); });
  env->Host->Deliver(Msg("N0CALL", "BLN1", "Net tonight"));
  EXPECT_EQ(listedDuringCall, 0);
  EXPECT_EQ(form->Desk().Waiting().size(), 1u);
  EXPECT_EQ(form->MessageLineCount(), 0);
  EXPECT_TRUE(form->HintText().isEmpty());
  ASSERT_TRUE(test::WaitFor([&] { return form->MessageLineCount() == 3; }));
  EXPECT_EQ(form->HintText(), QStringLiteral("N0CALL> BLN1     :Net tonight"));
}

TEST_F(PacketFlow, HostReadFailureIsLoggedOnceAndNothingIsPosted) {
  Make();
  form->cbBull->setChecked(true);
  env->Host->FailNextRead = true;
  env->Host->Deliver(Msg("N0CALL", "BLN1", "lost"));
  EXPECT_TRUE(form->Desk().Waiting().empty());
  ASSERT_TRUE(WaitForLog(QStringLiteral("The host could not give the packet text")));
  EXPECT_EQ(form->MessageLineCount(), 0);
  EXPECT_TRUE(form->HintText().isEmpty());
  EXPECT_TRUE(env->Errors.isEmpty());
  // The next event is handled afresh.
  Send(Msg("N0CALL", "BLN1", "next"));
  EXPECT_EQ(form->MessageLineCount(), 3);
  ASSERT_TRUE(WaitForLog(QStringLiteral("N0CALL>APRS,WIDE1-1::BLN1     :next")));
  EXPECT_EQ(LogCount(QStringLiteral("The host could not give the packet text")), 1);
}

// --- Selection --------------------------------------------------------------------

TEST_F(PacketFlow, OwnStationWithTheCallsignReadWhenShown) {
  struct Case {
    const char* name;
    std::string from, to;
    bool wanted;
  } cases[] = {
      {"from own call", "NOCALL-9", "W1AW", true},
      {"to own call", "W1AW", "NOCALL-9", true},
      {"other SSID", "NOCALL", "W1AW", false},
      {"to own call in lower case", "W1AW", "nocall-9", false},
      {"lower-case sender is upper-cased", "nocall-9", "W1AW", true},
  };
  Make();
  form->show();  // FormShow asks the host for the callsign ("nocall-9")
  ASSERT_EQ(form->FStationCall, "NOCALL-9");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = Entries();
    Send(Msg(c.from, c.to, "hello " + std::to_string(++n)));
    EXPECT_EQ(Entries() - before, c.wanted ? 1 : 0);
  }
  form->cbThisStation->setChecked(false);
  const int before = Entries();
  Send(Msg("NOCALL-9", "W1AW", "unchecked"));
  EXPECT_EQ(Entries(), before);
}

TEST_F(PacketFlow, OwnStationBeforeTheCallsignIsKnown) {
  struct Case {
    const char* name;
    std::string host;
    bool wanted;
  } cases[] = {
      {"ordinary message", Msg("NOCALL-9", "W1AW", "a"), false},
      {"empty addressee", Msg("W1AW", "", "b"), true},
      {"empty source", "*>APRS::W1AW     :c", true},
  };
  Make();
  env->Host->Callsign.clear();  // the host cannot tell
  form->show();
  ASSERT_EQ(form->FStationCall, "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = Entries();
    Send(c.host);
    EXPECT_EQ(Entries() - before, c.wanted ? 1 : 0);
  }
}

TEST_F(PacketFlow, StationListEntriesAddedWithTheButton) {
  struct Case {
    const char* name;
    const char* entry;  // typed into the field and added
    std::string from, to;
    bool wanted;
  } cases[] = {
      {"wildcard, sender itself", "NOCALL*", "NOCALL", "W1AW", true},
      {"wildcard, sender with SSID", "NOCALL*", "NOCALL-7", "W1AW", true},
      {"wildcard, longer sender", "NOCALL*", "NOCALLX", "W1AW", true},
      {"wildcard, addressee", "NOCALL*", "W1AW", "NOCALL-3", true},
      {"wildcard, other station", "NOCALL*", "W1AW", "K1ABC", false},
      {"SSID wildcard needs the SSID", "NOCALL-1*", "NOCALL", "W1AW", false},
      {"exact entry", "NOCALL-7", "NOCALL-7", "W1AW", true},
      {"exact entry, other SSID", "NOCALL-7", "NOCALL-8", "W1AW", false},
      {"lower-case entry is upper-cased", "nocall", "NOCALL", "W1AW", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Renew();
    Make();
    form->cbThisStation->setChecked(false);
    form->cbStationList->setChecked(true);
    form->edStation->setText(QString::fromLatin1(c.entry));
    form->btnAdd->click();
    EXPECT_EQ(form->lbStationList->count(), 1);
    EXPECT_TRUE(form->edStation->text().isEmpty());
    Send(Msg(c.from, c.to, "hi " + std::to_string(++n)));
    EXPECT_EQ(Entries(), c.wanted ? 1 : 0);
  }
}

// Any text goes into the station list as typed (tactical names, stars anywhere); nothing,
// "*" alone and a control character add nothing, and only the last says why. The field is
// emptied every time.
TEST_F(PacketFlow, StationListTakesWhatIsTyped) {
  Make();
  const struct {
    const char* Typed;
    const char* Listed;  // nullptr: nothing added
    bool Refused;
  } cases[] = {
      {"NO*ALL", "NO*ALL", false},
      {"*x", "*X", false},
      {" eoc-alpha ", "EOC-ALPHA", false},
      {"NET-CTRL", "NET-CTRL", false},
      {"   ", nullptr, false},
      {" * ", nullptr, false},
      {"N0\x01"
       "CALL",
       nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Typed);
    const int before = form->lbStationList->count();
    const auto errors = env->Errors.size();
    form->edStation->setText(QString::fromLatin1(c.Typed));
    form->btnAdd->click();
    EXPECT_TRUE(form->edStation->text().isEmpty());
    EXPECT_EQ(env->Errors.size(), errors + (c.Refused ? 1 : 0));
    if (c.Listed) {
      ASSERT_EQ(form->lbStationList->count(), before + 1);
      EXPECT_EQ(form->lbStationList->item(before)->text(), QString::fromLatin1(c.Listed));
    } else {
      EXPECT_EQ(form->lbStationList->count(), before);
    }
  }
}

TEST_F(PacketFlow, StationListIsNotConsultedForBulletins) {
  Make();
  form->cbStationList->setChecked(true);
  form->edStation->setText(QStringLiteral("N0CALL"));
  form->btnAdd->click();
  SendBulletin(1);
  EXPECT_EQ(Entries(), 0);
  form->cbBull->setChecked(true);
  SendBulletin(2);
  EXPECT_EQ(Entries(), 1);
}

TEST_F(PacketFlow, AllAndNoneStatesSteerTheVerdict) {
  Make();
  form->cbNWSAdvisiories->setChecked(true);
  form->btnAllStates->click();
  Send(Msg("NWS", "NWS-ADVIS", "072300z,WIND,KS_Z001{1"));
  EXPECT_EQ(Entries(), 1);
  form->btnNoneStates->click();
  Send(Msg("NWS", "NWS-ADVIS", "072300z,WIND,KS_Z001{2"));
  EXPECT_EQ(Entries(), 1);
}

// Every choice the desk judges, lists and prints by comes from its control, as it changes.
TEST_F(PacketFlow, ControlsHandTheirChoicesToTheDesk) {
  Make();
  form->cbThisStation->setChecked(false);
  form->cbStationList->setChecked(true);
  form->lbStationList->addItem(QStringLiteral("KB1AB-*"));
  form->cbBull->setChecked(true);
  form->cbAnn->setChecked(true);
  form->cbNWSWatches->setChecked(true);
  form->cbNWSWarnings->setChecked(true);
  form->cbNWSAdvisiories->setChecked(true);
  form->clbStates->item(1)->setCheckState(Qt::Checked);
  form->cbNWSWarningsPrint->setChecked(true);
  form->cbBeepOnReceive->setChecked(true);
  form->edMsgCount->setText(QStringLiteral("ten"));
  form->cbDisablePrinting->setChecked(true);
  form->History()->cbDropRetries->setChecked(true);
  form->History()->edRetryMinutes->setText(QStringLiteral("soon"));  // no number: the usual 30
  form->History()->cbArchivePdf->setChecked(true);
  const TDeskChoices& c = form->Desk().Choices();
  const TSelectionChoices& s = c.Selection;
  EXPECT_FALSE(s.ThisStation);
  EXPECT_TRUE(s.UseStationList && s.Bulletins && s.Announcements && s.NwsWatches && s.NwsWarnings &&
              s.NwsAdvisories);
  EXPECT_EQ(s.StationList, std::vector<std::string>{"KB1AB-*"});
  EXPECT_EQ(s.States[1], (std::pair<std::string, bool>{"AL", true}));
  EXPECT_FALSE(s.States[0].second);
  EXPECT_TRUE(!c.FullText.WatchText && c.FullText.WarningText && !c.FullText.AdvisoryText);
  EXPECT_TRUE(c.Beep && c.PrintingDisabled && c.DropResent && c.ArchivePdf);
  EXPECT_EQ(c.PageSetting, "ten");
  EXPECT_EQ(c.ResentMinutes, 30);
}

TEST_F(PacketFlow, HintBarKeepsUpWithABurstAndEndsOnItsLastPacket) {
  Make();
  int shown = 0;
  QObject::connect(form->HintBar, &QStatusBar::messageChanged, form.get(), [&] { ++shown; });
  QElapsedTimer took;
  took.start();
  for (int i = 1; i <= 300; ++i) env->Host->Deliver(Msg("K1ABC-7", "W1AW", "burst " + std::to_string(i)));
  const QString last = QStringLiteral("K1ABC-7> W1AW     :burst 300");
  ASSERT_TRUE(test::WaitFor([&] { return form->HintBar->currentMessage() == last; }));
  // The first at once, then with the clock's tick: not once a packet.
  EXPECT_LE(shown, 2 + int(took.elapsed() / 1000));
}

// --- Duplicates -------------------------------------------------------------------

// --- The message list ---------------------------------------------------------------

// Line 1 in the user's regional forms: here day.month.year and a 24-hour clock.
TEST_F(PacketFlow, TimeLineFollowsTheRegionalFormats) {
  const test::TTimeLocale german("de_DE");
  ASSERT_TRUE(german.Active());
  Make();
  form->cbBull->setChecked(true);
  SendBulletin(1);
  ASSERT_EQ(Entries(), 1);
  EXPECT_EQ(form->MessageLines().front(),
            QStringLiteral("LOCAL:[07.12.2026 18:00:00]  UTC:[07.12.2026 06:00:00]"));
}

TEST_F(PacketFlow, TwentyFirstMessagePrintsOnePageOfTwentyOne) {
  Make();
  form->cbBull->setChecked(true);
  for (int n = 1; n <= 20; ++n) SendBulletin(n);
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("20 of 20 messages collected"));
  EXPECT_EQ(form->MessageLines(), BulletinEntries(1, 20));
  EXPECT_FALSE(Printed());
  SendBulletin(21);
  ASSERT_TRUE(Printed());
  EXPECT_THAT(PrintedLines(), ElementsAreArray(PdfLayout(BulletinEntries(1, 21))));
  EXPECT_EQ(form->Desk().LastPrinted().Pages, 1);
  EXPECT_EQ(form->Desk().LastPrinted().Lines, 64);  // 21 entries and the blank line
  EXPECT_EQ(form->MessageLineCount(), 0);
  // The count follows the list as it empties.
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("0 of 20 messages collected"));
  SendBulletin(22);
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("1 of 20 messages collected"));
  EXPECT_EQ(form->MessageLines(), BulletinEntry(22));
}

TEST_F(PacketFlow, ClearEmptiesTheListButKeepsTheRepeatList) {
  Make();
  form->cbBull->setChecked(true);
  form->edMsgCount->setText(QStringLiteral("5"));
  SendBulletin(1);
  SendBulletin(2);
  form->btnClearMessages->click();
  EXPECT_EQ(form->MessageLineCount(), 0);
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("0 of 5 messages collected"));
  EXPECT_EQ(form->Desk().RepeatCount(), 2u);
  EXPECT_FALSE(Printed());
  SendBulletin(1);  // still a repeat of the sender's first entry
  EXPECT_EQ(form->MessageLineCount(), 0);
}

TEST_F(PacketFlow, BeepOnlyWhenCheckedAndRawTextLogged) {
  Make();
  form->cbBull->setChecked(true);
  SendBulletin(1);
  EXPECT_EQ(env->Beeps, 0);
  form->cbBeepOnReceive->setChecked(true);
  SendBulletin(2);
  EXPECT_EQ(env->Beeps, 1);
  Send(Msg("K1ABC", "W1AW", "not wanted"));
  EXPECT_EQ(env->Beeps, 1);
  ASSERT_TRUE(WaitForLog(QStringLiteral("N0CALL>APRS,WIDE1-1::BLN1     :Bulletin 2")));
  EXPECT_EQ(LogCount(QStringLiteral("N0CALL>APRS,WIDE1-1::BLN1     :Bulletin 1")), 1);
  EXPECT_EQ(LogCount(QStringLiteral("not wanted")), 0);
}

// --- Closing ------------------------------------------------------------------------

TEST_F(PacketFlow, CloseQuestionAnswers) {
  struct Case {
    const char* name;
    QMessageBox::StandardButton answer;
    bool disabled;  // "Disable printing" does not stop the print offered at close
    bool closes;
    bool prints;
  } cases[] = {
      {"Yes prints and closes", QMessageBox::Yes, false, true, true},
      {"Yes prints while printing is disabled", QMessageBox::Yes, true, true, true},
      {"No closes without printing", QMessageBox::No, false, true, false},
      {"Cancel keeps the window", QMessageBox::Cancel, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Renew();
    Make();
    form->cbBull->setChecked(true);
    form->cbDisablePrinting->setChecked(c.disabled);
    form->show();
    SendBulletin(1);
    env->Answer = c.answer;
    EXPECT_EQ(form->close(), c.closes);
    EXPECT_EQ(form->isVisible(), !c.closes);
    EXPECT_EQ(Printed(), c.prints);
    if (c.prints) {
      EXPECT_THAT(PrintedLines(), ElementsAreArray(PdfLayout(BulletinEntry(1))));
      EXPECT_EQ(form->MessageLineCount(), 0);
    } else {
      EXPECT_EQ(form->MessageLines(), BulletinEntry(1));
    }
  }
}

TEST_F(PacketFlow, EmptyListClosesWithoutAsking) {
  TMainFormSetup s = FormSetup();
  int asked = 0;
  s.AskPrintOnClose = [&] {
    ++asked;
    return QMessageBox::Cancel;
  };
  Make(std::move(s));
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_EQ(asked, 0);
}

// --- Printing failures --------------------------------------------------------------

TEST_F(PacketFlow, NoPrinterInstalled) {
  TMainFormSetup s = FormSetup();
  s.Printers = TPrinterList{};
  s.PrintToFile.clear();
  Make(std::move(s));
  form->cbBull->setChecked(true);
  form->edMsgCount->setText(QStringLiteral("2"));
  for (int n = 1; n <= 4; ++n) SendBulletin(n);
  const QString noDefault = QStringLiteral("There is no default printer currently selected");
  ASSERT_TRUE(WaitForLog(noDefault, 2));
  // Every entry stays listed, whole and counted; every message is logged; the failure is
  // shown once, not once a message.
  EXPECT_EQ(form->MessageLines(), BulletinEntries(1, 4));
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("4 of 2 messages collected"));
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(LogCount(QStringLiteral(":Bulletin %1").arg(n)), 1) << n;
  EXPECT_EQ(form->HintText(), QStringLiteral("Printing failed: ") + noDefault);
  EXPECT_EQ(env->Errors, QStringList{noDefault});

  // The button reports the failure and leaves the list.
  form->btnPrintNow->click();
  EXPECT_EQ(env->Errors, (QStringList{noDefault, noDefault}));
  EXPECT_EQ(form->MessageLines(), BulletinEntries(1, 4));

  // Yes at the close question: the failed print keeps the window open.
  form->show();
  env->Answer = QMessageBox::Yes;
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(env->Errors.size(), 3);
  EXPECT_FALSE(Printed());
}

TEST_F(PacketFlow, PacketsWhileAnEntryIsAcceptedWaitForIt) {
  Make();
  form->cbBull->setChecked(true);
  for (int n = 1; n <= 20; ++n) SendBulletin(n);
  // The 21st message starts a page; the 22nd arrives with it, before either is judged: it
  // waits until the 21st is complete and is then listed after it, with no attempt at a second
  // job.
  env->Host->Deliver(Msg("N0CALL", "BLN1", "Bulletin 21"));
  env->Host->Deliver(Msg("N0CALL", "BLN1", "Bulletin 22"));
  ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().size() == 1 && form->Desk().Settled(); }));
  EXPECT_THAT(PrintedLines(), ElementsAreArray(PdfLayout(BulletinEntries(1, 21))));
  EXPECT_EQ(form->Desk().LastPrinted().Lines, 64);
  EXPECT_EQ(form->MessageLines(), BulletinEntry(22));
  EXPECT_EQ(LogCount(QStringLiteral("Printing in progress")), 0);
  EXPECT_TRUE(env->Errors.isEmpty());
  SendBulletin(23);
  EXPECT_EQ(Entries(), 2);
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("2 of 20 messages collected"));
}

TEST_F(PacketFlow, ClearDuringAJobKeepsWhatArrivesAfterIt) {
  Make();
  form->cbBull->setChecked(true);
  form->cbDisablePrinting->setChecked(true);
  // A page longer than a step of its layout, so the job runs over several turns of the loop.
  constexpr int kCount = TPrintJobs::kStepLines / 3 + 1;
  for (int n = 1; n <= kCount; ++n) SendBulletin(n);
  // While the list spools, the operator clears the window and a new message arrives.
  form->btnPrintNow->click();
  ASSERT_TRUE(test::TDeskParts::PrintJobs(form->Desk()).Busy());
  form->btnClearMessages->click();
  env->Host->Deliver(Msg("N0CALL", "BLN1", "Bulletin " + std::to_string(kCount + 1)));
  ASSERT_TRUE(test::WaitFor([&] {  // its commit came back, and the page is out
    return form->Desk().Settled() && !test::TDeskParts::PrintJobs(form->Desk()).Busy() && Printed();
  }));
  EXPECT_THAT(PrintedLines(), ElementsAreArray(PdfLayout(BulletinEntries(1, kCount))));
  EXPECT_EQ(form->MessageLines(), BulletinEntry(kCount + 1));
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("1 of 20 messages collected"));
  EXPECT_TRUE(env->Errors.isEmpty());
}

TEST_F(PacketFlow, NothingIsDroppedWhilePrintingIsDisabled) {  // slow
  Make();
  form->cbBull->setChecked(true);
  form->cbDisablePrinting->setChecked(true);
  constexpr int kCount = 3000;
  for (int n = 1; n <= kCount; ++n) SendBulletin(n);
  EXPECT_EQ(form->MessageLineCount(), kCount * 3);
  EXPECT_EQ(form->MessageLines(), BulletinEntries(1, kCount));
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("3000 of 20 messages collected"));
  EXPECT_FALSE(Printed());
}

TEST_F(PacketFlow, ListFollowsTheNewestEntryUnlessScrolledUpAndCopiesTheSelectedLines) {
  Make();
  form->cbBull->setChecked(true);
  form->cbDisablePrinting->setChecked(true);
  form->show();
  TMessageList* list = form->MessageList;
  QScrollBar* bar = list->verticalScrollBar();
  for (int n = 1; n <= 10; ++n) SendBulletin(n);
  ASSERT_TRUE(test::WaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
  struct Case {
    const char* name;
    int from;  // where the operator leaves the list; -1: at the bottom
    bool follows;
  } cases[] = {{"scrolled up", 0, false}, {"at the bottom", -1, true}};
  int n = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bar->setValue(c.from < 0 ? bar->maximum() : c.from);
    const int before = bar->maximum(), at = bar->value();
    SendBulletin(++n);
    ASSERT_TRUE(test::WaitFor([&] { return bar->maximum() > before; }));
    EXPECT_EQ(bar->value(), c.follows ? bar->maximum() : at);
  }

  // The horizontal reach is the widest line's, not the newest one's.
  Send(Msg("N0CALL", "BLN1", std::string(150, 'W')));
  const int widest = list->fontMetrics().horizontalAdvance(form->MessageLines().back());
  SendBulletin(++n);
  EXPECT_TRUE(test::WaitFor(
      [&] { return list->horizontalScrollBar()->maximum() + list->viewport()->width() >= widest; }));

  // Every line picked is copied, not just the current one, and top to bottom.
  bar->setValue(0);
  QCoreApplication::processEvents();
  const auto click = [&](int row, Qt::KeyboardModifiers keys) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, keys,
                      list->visualRect(list->model()->index(row, 0)).center());
  };
  click(5, {});
  click(3, Qt::ControlModifier);
  click(4, Qt::ControlModifier);
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), BulletinEntry(2).join(u'\n').toStdString());
}

// --- Nothing lost ---------------------------------------------------------------------

TEST_F(PacketFlow, LineSeparatorsInAPacketShowAsBlanks) {
  Make();
  form->cbBull->setChecked(true);
  Send(Msg("N0CALL", "BLN1",
           "one\xE2\x80\xA8two\xE2\x80\xA9three\xC2\x85"
           "four\x0B"
           "five"));
  ASSERT_EQ(form->MessageLines().size(), 3);
  EXPECT_EQ(form->MessageLines()[2], QStringLiteral("  BLN1: one two three four five"));
  EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("1 of 20 messages collected"));
}

TEST_F(PacketFlow, PacketsDuringTheWindowsCreationWaitForItsChoicesAndCall) {
  // A box during creation (a read-only settings file refuses the new version) runs an event
  // loop while the host link already delivers; the packets wait for the window's own call.
  {
    QFile ini(QString::fromStdString(env->IniFile()));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Info]\r\nVersion=0.1\r\n");
  }
  ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(env->IniFile()), QFileDevice::ReadOwner));
  TMainFormSetup s = FormSetup();
  bool delivered = false;
  s.ReportError = [&](const QString& m) {
    env->Errors << m;
    if (delivered || !env->Host) return;
    delivered = true;
    for (int n = 1; n <= 3; ++n) env->Host->Deliver(Msg("W1AW", "NOCALL-9", "to me " + std::to_string(n)));
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = qobject_cast<TMainForm*>(w)) f->btnPrintNow->click();  // nothing to print yet
  };
  Make(std::move(s));
  ASSERT_TRUE(delivered);
  ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().size() == 3; }));
  EXPECT_EQ(form->MessageLines()[2], QStringLiteral("  NOCALL-9: to me 1"));
  EXPECT_TRUE(env->Errors.first().startsWith(QStringLiteral("Unable to write to ")))
      << env->Errors.first().toStdString();
  QFile::setPermissions(QString::fromStdString(env->IniFile()),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  form.reset();
}

// The host closing and the tray's Exit end at once: nothing is printed on the way out, and
// the list comes back at the next start.
TEST_F(PacketFlow, EndingKeepsTheListForTheNextStart) {
  for (bool byExit : {false, true}) {
    SCOPED_TRACE(byExit ? "tray's Exit" : "host closing");
    Renew();
    Make();
    int ended = 0;
    form->EndApplication = [&] { ++ended; };
    form->cbBull->setChecked(true);
    for (int n = 1; n <= 3; ++n) SendBulletin(n);
    if (byExit)
      form->miExitClick();
    else
      env->Host->Close();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(Printed());
    ASSERT_TRUE(WaitForLog(QStringLiteral("3 unprinted messages are kept for the next start")));
    form.reset();
    Make();
    EXPECT_EQ(form->MessageLines(), BulletinEntries(1, 3));
    EXPECT_EQ(form->lbMsgStatus->text(), QStringLiteral("3 of 20 messages collected"));
    EXPECT_TRUE(WaitForLog(QStringLiteral("3 unprinted messages were restored from the last run")));
  }
}

TEST(PacketFlowCrash, Child) {
  // Run only as the child of the test below: lists three messages, says so once the store
  // counts them as kept, waits to be killed.
  const QByteArray dir = qgetenv("QM_CRASH_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "runs only as the child of ListedMessagesSurviveAKill";
  test::App();
  TMainFormSetup s;
  s.IniFile = (QString::fromLocal8Bit(dir) + QStringLiteral("/Quillmark.ini")).toStdString();
  s.LogDir = dir.toStdString();
  test::TFakeHost* host = nullptr;
  s.CreateHost = [&](const THostSettings&) {
    auto h = std::make_unique<test::TFakeHost>();
    host = h.get();
    return std::unique_ptr<THostLink>(std::move(h));
  };
  s.Printers = TPrinterList{};
  s.ReportError = [](const QString&) {};
  TMainForm form(std::move(s));
  form.cbDisablePrinting->setChecked(true);
  form.cbBull->setChecked(true);
  for (int n = 1; n <= 3; ++n) host->Deliver(Msg("N0CALL", "BLN1", "Bulletin " + std::to_string(n)));
  ASSERT_TRUE(test::WaitFor([&] {
    const auto& listed = form.Desk().Listed();
    return listed.size() == 3 && std::all_of(listed.begin(), listed.end(), [&](const TListedEntry& entry) {
             return test::TDeskParts::Store(form.Desk())->IsKept(entry.StoreId);
           });
  }));
  std::puts("listed");
  std::fflush(stdout);
  for (;;) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1000);
}

TEST_F(PacketFlow, ListedMessagesSurviveAKill) {
  QProcess child;
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  e.insert(QStringLiteral("QM_CRASH_DIR"), env->Dir.path());
  child.setProcessEnvironment(e);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=PacketFlowCrash.Child")});
  ASSERT_TRUE(child.waitForStarted());
  ASSERT_TRUE(test::WaitFor([&] { return child.readAllStandardOutput().contains("listed"); }, 30000));
  ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
  ASSERT_TRUE(child.waitForFinished());
  Make();
  ASSERT_EQ(form->Desk().Listed().size(), 3u);
  EXPECT_EQ(form->MessageLines()[2], QStringLiteral("  BLN1: Bulletin 1"));
  EXPECT_EQ(form->MessageLines()[8], QStringLiteral("  BLN1: Bulletin 3"));
}

}  // namespace
}  // namespace qm
