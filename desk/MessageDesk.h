// The message flow from packet to paper, with no window: packets from any host link wait
// their turn, are judged against the operator's choices, lose their repeats (and, as chosen,
// resent copies), and a wanted one is taken: handed to the durable store, and once its commit
// has returned (and an NWS alert's full text has come by Finger), listed, beeped, logged and
// checked for a page, in the order the packets came. A view (the window) shows what the
// signals tell and hands over the choices whenever they change.
//
// States instead of waits: nothing here waits inside an entry. A message whose commit has not
// returned is "on its way" (FTaking); packets behind it are judged and go on their way behind
// it. An alert waiting for its full text holds the intake: packets wait in FWaiting and their
// links are held until the reply or the fetch's bound arrives as a queued call. Printing is
// a state too: a page longer than a step is laid out from the event loop a step at a time,
// and the spooler is asked from a timer; nothing lets events run inside a step, so a packet,
// the host's closing or the spooler's answer never comes in the middle of one. What arrives
// while a page is laid out is judged and listed as ever, and waits for the next page. The
// end during a fetch (tray Exit, Close, the desk destroyed) lists and logs the
// alert at once without its full text (EndTaking).
#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/OwnerThread.h"
#include "base/Timing.h"
#include "desk/DeskAlarm.h"
#include "desk/PrintQueueHost.h"
#include "desk/PrintQueueTypes.h"
#include "parse/NwsAlert.h"
#include "parse/QuillmarkParse.h"
#include "print/Ics309.h"
#include "print/PrintTypes.h"
#include "select/Alarms.h"
#include "select/Answering.h"
#include "select/EntryLines.h"
#include "select/RetryMessages.h"
#include "select/Selection.h"
#include "select/Sending.h"
#include "store/MessageStore.h"

class QPrinter;

namespace qm {

class TDupMessageList;
class TDurableStore;
struct TStoredMessage;
class TFingerClient;
class TFingerFetch;
class THostLink;
class TMessageLogger;
class TMessageStore;
class TPrintQueue;
struct TPendingJob;

// What the operator chose, as the desk judges, lists and prints by it.
struct TDeskChoices {
  TSelectionChoices Selection;
  TFullTextChoices FullText;
  bool Beep = false;
  std::string PageSetting = "20";  // "Printed messages per page" exactly as typed
  bool PrintingDisabled = false;
  bool DropResent = false;  // drop a resend with the sender and number of one listed lately
  int ResentMinutes = TRetryList::kDefaultMinutes;
  bool ArchivePdf = false;  // keep a PDF copy of every job that goes to a printer
  // Bulletins, announcements and NWS alerts are sent again for hours: with this on, the same
  // sender, addressee and text is listed once per BroadcastHours.
  bool BroadcastOnce = false;
  int BroadcastHours = kDefaultBroadcastHours;
  static constexpr int kDefaultBroadcastHours = 12;
  // The kinds of kept messages that call the operator until someone acknowledges them (none
  // unless chosen), and how often the call repeats meanwhile (kept within the bounds).
  TAlarmKinds AlarmKinds;
  int AlarmRepeatSeconds = kDefaultAlarmRepeatSeconds;
  static constexpr int kDefaultAlarmRepeatSeconds = 60;
  static constexpr int kMinAlarmRepeatSeconds = 10;
  static constexpr int kMaxAlarmRepeatSeconds = 3600;
  bool FixedPitchFullText = false;  // "Print full texts in a fixed-pitch font"
  bool NwsWordsLine = false;        // "Print NWS alerts' plain words under the entry"
  bool HeaderFooter = false;        // "Print a header and footer on every page"
  bool ReprintMark = true;          // "Mark reprints"
  // The messages the desk sends listed beside what it heard, and printed with the next page.
  bool OwnTraffic = false;
  // How long a line stays on the bulletin board.
  TBulletinAges BulletinAges;
  // How often a message of the desk's own goes out until it is answered; the schedule keeps
  // both within its bounds.
  int SendTries = TSendSchedule::kDefaultTries;
  int SendFirstGapSeconds = TSendSchedule::kDefaultFirstGapSeconds;
  TSendSchedule SendSchedule() const { return {SendTries, SendFirstGapSeconds}; }
};

// The hours of the bulletin option from its text: a whole number from 1 to 168, else the
// default.
int BroadcastHours(std::string_view text);

// The message store's file in a data folder, as the desk opens it there.
std::string StoreFileIn(const std::string& dataDir);

// What the desk takes from its surroundings; every empty part is the real thing.
struct TDeskSetup {
  // Logs, the message store, the PDF archive and the demo's pages; "" the current folder.
  std::string DataDir;
  // The message store's file; "": "Quillmark-messages.db" in DataDir.
  std::string StoreFile;
  // Printers to offer; the system's when empty.
  std::optional<TPrinterList> Printers;
  // Non-empty: every print job writes this PDF file instead of going to a printer.
  QString PrintToFile;
  // The millisecond tick counter; TickCount32 when empty.
  std::function<std::uint32_t()> Ticks;
  // The clock; CurrentDateTime when empty.
  std::function<TDateTime(TTimeFormat)> Clock;
  // How often a job the spooler has not yet confirmed is asked after.
  std::chrono::milliseconds SpoolPoll{500};
  // How often the printer is asked what keeps pages from paper there.
  std::chrono::milliseconds PrinterPoll{5000};
  // What a second of AlarmRepeatSeconds lasts (tests make it short).
  std::chrono::milliseconds AlarmSecond{1000};
  // What a second of the sending schedule lasts (tests make it short).
  std::chrono::milliseconds SendSecond{1000};
};

// A message the desk will not send, with the reason for the operator.
class ESendRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace test {
struct TDeskParts;
}

// The desk's contract, all of it: what the view, the board, the sources and the run call, and
// the signals they follow. Its parts (logger, store, queue, print jobs, Finger client, repeat
// list) stay inside; the print queue sees the desk only as its TPrintQueueHost.
class TMessageDesk : public QObject, private TPrintQueueHost {
  Q_OBJECT

 public:
  explicit TMessageDesk(TDeskSetup setup, QObject* parent = nullptr);
  ~TMessageDesk() override;

  // --- Start, in this order; each step may throw (the owner reports it) ------------
  // The logger with its writer thread, writing into the data folder.
  void CreateLogger();
  // Opens the message store and purges what is older than the logs keep.
  void OpenStore();
  // The list and the jobs the store kept from the last run.
  void RestoreListed();
  // Packets are judged from now on (those that came earlier waited). The printer's state is
  // asked for at once, or, with ppLater, when CheckPrinter is called (a window asks after its
  // first paint: the spooler's answer can take longer than the whole paint).
  void SetReady(TFirstPrinterCheck printerCheck = ppAtOnce);
  void CheckPrinter();

  // The bundled demo plays: its messages are listed and printed (to PDF files) but never
  // stored; when it stops they leave the list.
  void SetDemo(bool demo);
  bool PlaysDemo() const { return FDemo; }
  // The link's outage and drop lines go to the log, its notes on answering to the log and the
  // hint bar.
  void LogOutages(THostLink& link);

  // --- Choices -----------------------------------------------------------------------
  void SetChoices(TDeskChoices choices);
  const TDeskChoices& Choices() const { return FChoices; }
  // The list's font (pages) and the text font (full texts), as the view shows them.
  void SetFonts(const QFont& list, const QFont& text);
  // The printers offered, the one chosen, and the choice by its place in Printers() (-1: the
  // system's default); throws when there is no such printer.
  QStringList Printers() const;
  QString PrinterName() const;
  void SelectPrinter(int index);
  // The printer's own settings for the chosen one: `confirm` is shown them (a dialog) and
  // answers whether they are taken.
  void SetUpPrinter(const std::function<bool(QPrinter&)>& confirm);
  // Non-empty: every page becomes a PDF file in this folder instead of paper.
  void SetPrintFolder(const QString& folder);
  QString PrintFolder() const;
  // The Finger server full texts are fetched from.
  void SetFingerServer(const std::string& host, int port);
  // Repeats are forgotten (a new source, a new station call); with several sources heard at
  // once every earlier message of a sender is compared, not only its first.
  void ClearRepeats();
  void CompareEveryRepeat(bool every);
  std::size_t RepeatCount() const;

  // --- Intake ------------------------------------------------------------------------
  // A host link's data event: reads its packet text, cleans and parses it, stamps it with
  // the desk's clocks and queues it to be judged from the event loop, once for all the
  // packets the link hands over in one go: when a followed link says its arrival is handed
  // over, else by a queued call. A failure is logged.
  void DataAvailable(THostLink& link);
  // The packets of a link that says when an arrival is handed over are judged then, with no
  // queued call (and no wake of the event loop) of their own.
  void FollowArrivals(THostLink& link);
  // Judges packets in the order they come, never in the middle of another entry.
  void Take(std::unique_ptr<TAprsMsgPacket> packet);
  // The packets waiting to be judged, oldest first.
  const std::deque<std::unique_ptr<TAprsMsgPacket>>& Waiting() const { return FWaiting; }
  // PacketHeard, and the hint of the last packet judged, come at most this often while
  // packets flow; the first after a quiet spell at once.
  static constexpr int kHeardEveryMs = 250;
  std::uint64_t PacketsHeard() const { return FPacketsHeard; }
  TDateTime LastPacketAt() const { return FLastPacketAt; }  // local time
  void ResetPacketsHeard();

  // --- What the view shows, read only ------------------------------------------------
  // The entries listed, oldest first, as lines, and the jobs the spooler has yet to confirm.
  const std::vector<TListedEntry>& Listed() const;
  QStringList ListedLines() const;
  const std::vector<TPendingJob>& PendingJobs() const;
  std::size_t PendingJobCount() const;
  // What keeps pages from paper at the printer, one line each; empty when nothing does.
  const QStringList& PrinterProblems() const;
  // What the last job handed to the printer held.
  TPrintStats LastPrinted() const;
  // The last page or full text the spooler confirmed, in the words of its log line ("3
  // messages, job 12 on Office"); "" while none was.
  const QString& LastConfirmed() const;
  // The store for the history's reading, or null while none was ever opened.
  TMessageStore* HistoryReader() const;
  // The listed entries' messages by their StoreId (those still held in memory too), in the
  // order asked; none while no store is open.
  std::vector<TStoredMessage> ListedMessages(const std::vector<std::int64_t>& storeIds) const;
  // The store's file and whether it fails now ("" and false while none is open).
  std::string StoreFile() const;
  bool StoreFailing() const;
  // Whether the logger runs, and the file it writes now.
  bool Logging() const { return FLogger != nullptr; }
  std::string LogFile() const;
  // Whether the desk is ready and waiting for no full text.
  bool Idle() const override { return FReady && !FFetch; }
  // Whether nothing waits to be judged and nothing is on its way to the list.
  bool Settled() const { return FWaiting.empty() && FTaking.empty() && !FFetch; }
  // The page choices and the archive's folder, handed to the queue whenever they change.
  void HandChoicesToQueue();
  // "archive" in the data folder, and the data folder.
  QString ArchiveFolder() const;
  QString DataDir() const;
  TDateTime Now(TTimeFormat format) const override;

  // --- The operator's actions (failures are thrown) --------------------------------
  void PrintNow();
  void ClearList();
  // Prints one text as a job of its own, unless printing is disabled.
  void Print(const std::string& text);
  // The stored messages (ids in any order) as a page, oldest first, in the list's font; a
  // stored job's document as it was printed, the job named by its JobNumber. A reprint is
  // recorded nowhere. A message or job that is not stored is refused (EMessageStoreError,
  // ekRefused) and is no failure of the store. `from`: where it was asked ("in the window",
  // "on the board"), for the log and the journal.
  void ReprintMessages(const std::vector<std::int64_t>& ids, const std::string& from = "in the window");
  void ReprintJob(std::int64_t number, const std::string& from = "in the window");
  // The communications log from `fromUtc` up to `toUtc`: what the store kept (read on a
  // connection of its own) and what OutgoingRows hands in, under the own call and the
  // account's name. Throws EMessageStoreError when the store cannot be read or is not open.
  TCommsLog CommsLog(TDateTime fromUtc, TDateTime toUtc) const;
  // The desk's own traffic of a period, for the log; empty: none.
  std::function<std::vector<TLogRow>(TDateTime fromUtc, TDateTime toUtc)> OutgoingRows;
  // The log as a job of its own on the current printer, logged; throws the printer's failure.
  void PrintCommsLog(const TCommsLog& log, const std::string& from = "in the window");
  // When this run's desk became ready (UTC): the start of its operational period.
  TDateTime StartedUtc() const { return FStartedUtc; }
  // The bulletin board now, as the store reads it with the choices' ages; empty while no
  // store is open. Throws EMessageStoreError when the store cannot be read.
  std::vector<TBulletinLine> BulletinBoard() const;
  // The operator takes the line `lineId` of `from` off the board; logged with `where`. A line
  // not on the board is refused (EMessageStoreError, ekRefused), as is every line while no
  // store is open (std::runtime_error).
  void ClearBulletinLine(const std::string& from, const std::string& lineId,
                         const std::string& where = "in the window");
  // Lets events run until every pending job is confirmed or failed, or the bound passes;
  // answers why a job failed meanwhile, or "" (also when some are still pending).
  QString WaitForPendingJobs(std::chrono::milliseconds bound);
  // A line for the log.
  void LogMessage(const std::string& text) override;

  // --- Once a second -----------------------------------------------------------------
  // A failing store is tried again, and its files checked to be in place.
  void RetryStore();
  // Purges the store and the PDF archive once a UTC day; `utc` is now.
  void PurgeIfNewDay(TDateTime utc);
  // An hour with acknowledgements is over: one line counts those sent and those not.
  void HourlyCounts(TDateTime utc);

  // --- Alarms ----------------------------------------------------------------------------
  // The alarms that sound, oldest first: raised for a message the store has kept (never for
  // one it does not hold, nor for the demo's), restored at the start until acknowledged.
  const std::vector<TDeskAlarm>& Alarms() const { return FAlarms; }
  // Acknowledges the alarm of message `id`, or every one when none is given, by `who` (an
  // account, a board key's name) at `where` (kAckInWindow, kAckOnBoard, kAckOnCommandLine): kept
  // with the message in the store and noted. Returns how many were; 0 when `id` sounds no alarm.
  int Acknowledge(std::optional<std::int64_t> id, const std::string& who, const std::string& where);

  // --- Sending ---------------------------------------------------------------------------
  // Sends `text` to `to` as the own call on the source that answers (the first opened when
  // several do), kept in the store before it goes out and resent on the choices' schedule
  // until the addressee's ack or rej, the operator's cancel, or its end. Returns it as kept,
  // its number too; a message that cannot go out is refused (ESendRefused) with the reason:
  // a bad addressee or text, the demo, an own call no frame may carry, no source that can
  // send, a store that cannot keep it.
  // `where` it was asked, and by whom, for the log ("on the board by wall").
  TSentMessage Send(const std::string& to, const std::string& text,
                    const std::string& where = "in the window");
  // Ends the message with this number while it is still sent; `where` for the log. False
  // when no such message is being sent.
  bool CancelSent(const std::string& number, const std::string& where = "in the window");
  // The messages sent this run and those of earlier runs still being sent, oldest first.
  const std::vector<TSentMessage>& SentMessages() const { return FSentShown; }

  // --- Ending --------------------------------------------------------------------------
  // The host is closing: packets it handed over are judged, then EndRequested follows (at
  // once, or once the entry being accepted is complete). Nothing is printed on the way out.
  void HostClosing();
  // Logs how many unprinted messages the store keeps for the next start; what is on its way
  // (an alert waiting for its full text too) is listed and logged first.
  void KeepUnprintedForNextStart();
  // The end: no packet is judged and no spooler asked any more; the logger writes what is
  // queued and is freed.
  void Close();

 signals:
  // A wanted message was listed: it stands last in Listed().
  void EntryListed();
  // Entries left the list: the view shows Listed() again.
  void ListChanged();
  void CountChanged(const QString& text);
  void HintChanged(const QString& text);
  // A failure the operator should see; operatorAction: shown at once, else without waiting.
  void FailureToReport(const QString& text, bool operatorAction);
  void BeepRequested();
  // Packets came from the links (wanted or not): PacketsHeard and LastPacketAt moved. At most
  // once every kHeardEveryMs.
  void PacketHeard();
  // The host closed and the desk is done: the program may end.
  void EndRequested();
  // What keeps pages from paper at the printer, one line each (empty: nothing); for the hint
  // bar and the tray tip.
  void PrinterProblemsChanged(const QStringList& problems);
  // A line given to Note, once it is logged.
  void Noted(const QString& text);
  // A sent message went out again or ended: SentMessages() changed.
  void SentChanged();
  // An alarm was raised or acknowledged: Alarms() changed.
  void AlarmsChanged();
  // Every AlarmRepeatSeconds while an alarm sounds: the call is to be repeated.
  void AlarmDue();
  // The operator cleared a line of the bulletin board.
  void BulletinsChanged();
  // Advice the operator must not miss (messages not acknowledged, a login not verified); the
  // window keeps it in sight until the operator has seen it.
  void Advised(const QString& text);
  // Another thread (the store's, the log writer) left calls for the desk's (emitted there,
  // queued here).
  void ThreadCallsWaiting(QPrivateSignal);

 private:
  friend struct test::TDeskParts;

  // --- For the print queue ----------------------------------------------------------
  // Logs a line an operator must hear of even without a window (a page printed, a job failed,
  // the list restored or kept) and emits Noted with it.
  void Note(const std::string& text) override;
  // Runs work on the store; a failure is reported (once per distinct failure) and false.
  bool WithMessageStore(const std::function<void(TDurableStore&)>& work) override;
  TDurableStore* OpenedStore() override;
  // Shows a failure found while packets are handled: once until it changes.
  void ReportFailureOnce(const QString& reason, bool operatorAction) override;
  // A page went through: the failure shown last is shown again should it come back.
  void ForgetReportedFailure() override { FLastFailure.clear(); }
  // A hint of the desk's own: a packet's hint not yet shown comes no more after it.
  void Hint(const QString& text) override {
    FPacketHint.reset();
    emit HintChanged(text);
  }
  void UpdateCount() override;
  // Points the print jobs at the archive while the option is on.

  std::uint32_t Ticks() const;
  // From any thread: `call` runs on the desk's thread, after those left before it.
  void PostHere(std::function<void()> call);
  void RunThreadCalls();

  // An acknowledgement a message asks for, sent once the message is in the store's file.
  struct TAckDue {
    std::uint32_t Origin = 0;  // the link it came from
    std::string Sender, Number;
    std::string Refused;  // why it cannot go out at all (the own call), logged in its place
  };

  // A wanted message on its way: handed to the store, listed once its commit has returned
  // and (an alert) its full text has come or failed.
  struct TTaking {
    TListedEntry Entry;
    std::string RawText;
    std::string Query;      // an alert's Finger query
    bool FullText = false;  // its full text is fetched
    bool Fetched = false;   // the fetch is over: Reply, or Failure when not empty
    std::string Reply, Failure;
    // Only a line for the log (a dropped repeat's), kept in order behind the messages on their
    // way: RawText is the line.
    bool LogOnly = false;
    // Its acknowledgement, once its commit has returned; with AckOnly a dropped repeat's,
    // once the copy it repeats (Entry.StoreId) is settled, or at once when KeptBefore (that
    // copy is in the file from an earlier run).
    std::optional<TAckDue> Ack;
    bool AckOnly = false;
    bool KeptBefore = false;
    // The alarm it raises once the store holds it.
    std::optional<TDeskAlarm> Alarm;
    // A message of the desk's own, listed for paper: its log lines are the sending's.
    bool Own = false;
  };
  // Logs the line now, or after the messages on their way when there are any.
  void LogInOrder(const std::string& line);

  // Queues a packet to be judged, unless too many wait already.
  void Wait(std::unique_ptr<TAprsMsgPacket> packet);
  // Judges what waits and lists what has arrived, until the desk must wait for something.
  void Advance();
  // Packets were heard or judged: the view hears of it now, or when kHeardEveryMs is over.
  void Heard();
  void TellHeard();
  void JudgePacket(TAprsMsgPacket& packet);
  bool IsResentCopy(const TAprsMsgPacket& packet);
  bool IsRepeatedBroadcast(const TAprsMsgPacket& packet);
  // Whether the store knows a repeat of the packet since `hours` ago (false while demo).
  // earlierRuns: only what was stored before this run (this run's copies are judged on the
  // tick counter).
  bool StoredRepeat(const TAprsMsgPacket& packet, bool byNumber, double hours, bool earlierRuns);
  // The acknowledgement a wanted message to the own call is due on the source it came from,
  // when the operator answers there; `hint`: a line for the hint bar, if any.
  std::optional<TAckDue> AckDue(const TAprsMsgPacket& packet, std::string& hint);
  // A dropped repeat's acknowledgement, in order behind what is on its way.
  void AnswerRepeat(TAckDue due);
  // Sends it when the message (storeId) is in the file, or `keptBefore`; answers a line for
  // the hint bar, if any. The store keeps when and where it went.
  std::string SendAck(const TAckDue& due, std::int64_t storeId, bool keptBefore);
  // Once an hour with acknowledgements is over (or `end`), one line counts them.
  void CountAcknowledgements(TDateTime utc, bool end = false);
  // An own call no acknowledgement can go out as is said once while a source answers.
  void SayOwnCallProblem();
  // The row that lists a message of the desk's own for paper, and its listing once kept.
  TStoredMessage OwnTrafficRow(const TSentMessage& sent) const;
  void ListOwnTraffic(const TStoredMessage& row, std::int64_t storeId);
  // The number packets carry for the link they came from.
  std::uint32_t OriginOf(THostLink& link);
  // Hands a wanted message to the store and sets it on its way (an alert's fetch started).
  void TakeMessage(TAprsMsgPacket& packet, std::optional<TAckDue> ack);
  // Lists, logs and pages the messages on their way whose commit (and fetch) have returned;
  // `all`: every one, as the end does after the store was flushed.
  void FollowTaken(bool all);
  // Lists, logs and counts one; answers a warning for the hint bar, if any.
  std::string Follow(TTaking& taken);
  void FullTextBranch(TTaking& taken, std::string& warning);
  // The fetch's queued call: its alert may follow, and the intake goes on.
  void FetchReturned();
  // The end: the fetch goes without its reply, the store's queue is committed, and every
  // message on its way is listed and logged.
  void EndTaking();
  // A cancel the operator does not list still ends the alerts it cancels.
  void FollowNwsCancel(const TAprsMsgPacket& packet);
  std::int64_t KeepInStore(const TAprsMsgPacket& packet, const TListedEntry& entry,
                           std::optional<TAlarmKind> alarm, const std::optional<TNwsAlert>& alert);
  // The alarm a wanted message raises, if any (none while the demo plays).
  std::optional<TDeskAlarm> AlarmFor(const TAprsMsgPacket& packet);
  // Sounds the alarm of message `storeId` (as the store handed it out) once the file holds it.
  void RaiseAlarm(TDeskAlarm alarm, std::int64_t storeId);
  // The alarms whose messages waited in memory and are in the file now sound.
  void RaiseKeptAlarms();
  void RestoreAlarms();
  // The alarms of NWS alerts past their expiry end, in the store too, with a log line each.
  void EndExpiredAlarms();
  // The repeat runs while an alarm sounds, at the chosen pace.
  void PaceAlarms();
  void Purge(TDateTime utc);
  // `of`: what the page says it is a reprint of ("job 12").
  void Reprint(const QString& document, const QFont& font, const std::string& what, const QString& of);
  // Logs a stored message's packet and notes in the store once the line is in the file.
  void LogStored(std::int64_t storeId, const std::string& rawText);
  void MarkWrittenLogLines();

  // A message of the desk's own still being sent, and when its next try (or its end) is due.
  struct TOutgoing {
    TSentMessage Kept;
    std::chrono::steady_clock::time_point Due;
    bool Restored = false;  // from an earlier run: resumed or given up at its first turn
    // Turns of its schedule that found no source able to transmit: no tries (nothing went
    // out), but they use up the schedule as tries would.
    int Missed = 0;
  };
  void RestoreSent();
  // A new schedule: what is under way keeps its last try and takes the new gap from there.
  void Reschedule(const TSendSchedule& before);
  // Sends or ends what is due, and sets the timer for the next one.
  void SendDue();
  void TrySend(TOutgoing& out, THostLink& link);
  // A turn that sent nothing (no source, or the link took nothing): said, and no try.
  void MissTurn(TOutgoing& out, const std::string& why);
  // A restored message: resumed where its schedule stands now, or given up when it is past.
  bool ResumeOrGiveUp(TOutgoing& out);
  void EndSent(std::size_t index, TSentState state, const std::string& line);
  // Writes the message's state and shows it; a store that cannot keep it is logged.
  void KeepSentState(const TSentMessage& sent);
  // An ack or rej to the own call, or a reply-ack in a message: ends the message it names.
  // True when the packet answered one of ours (it is no traffic of its own then).
  bool TakeAnswer(const TAprsMsgPacket& packet);
  // The first answering link that would take a try now; else why nothing can be sent.
  THostLink* SendingLink() const;
  std::string NoSendingLinkReason() const;
  std::chrono::steady_clock::duration SendSeconds(double seconds) const;
  // "Q1ABC: Roger{7", and without the addressee.
  static std::string SentText(const TSentMessage& sent);
  static std::string SentBody(const TSentMessage& sent);

  std::vector<TOutgoing> FOutgoing;
  std::vector<TSentMessage> FSentShown;
  // Senders who showed they read reply-acks, and the number of their last message to us.
  std::vector<std::pair<std::string, std::string>> FReplyAcks;
  QTimer FSendTimer;

  // The window's thread: every call of the desk comes from there, the other threads' results
  // as queued calls.
  TOwnerThread FOwner;
  TDeskSetup FSetup;
  TDeskChoices FChoices;
  // Before the logger and the store, whose threads may leave calls until they are gone.
  std::mutex FThreadCallsMutex;
  std::deque<std::function<void()>> FThreadCalls;  // left by the store's thread and the writer
  std::unique_ptr<TMessageLogger> FLogger;
  std::unique_ptr<TDurableStore> FStore;
  std::unique_ptr<TPrintQueue> FQueue;
  std::unique_ptr<TFingerClient> FFinger;
  std::unique_ptr<TDupMessageList> FDupMessages;
  TRetryList FRetries;
  // The links packets came from (TAprsMsgPacket::Origin - 1), and the acknowledgements' pace.
  std::vector<QPointer<THostLink>> FOrigins;
  // Of each origin, the replay's name ("Replay capture.txt"), "" for a live source; an answer
  // heard on a replay ends no message of ours, said once a run (FReplayAnswerSaid).
  std::vector<std::string> FReplayOrigins;
  bool FReplayAnswerSaid = false;
  TAckLimiter FAckLimiter;
  bool FUnansweredSaid = false;  // "not acknowledged" is said once a run
  std::string FOwnCallSaid;      // the own call whose problem was said last
  std::vector<QPointer<THostLink>> FAnsweringLinks;
  // The store id of the last message taken for each sender and number asking for an
  // acknowledgement, oldest first: a repeat is answered only once that one is kept.
  std::deque<std::pair<std::string, std::int64_t>> FAskedIds;
  static constexpr std::size_t kAskedIdsKept = 1000;
  bool FRepeatOfEarlierRun = false;  // the packet judged repeats a message of an earlier run
  // The acknowledgements of the hour FAckHour (hours since the clock's day 0, UTC).
  std::uint64_t FAcksSent = 0, FAcksNotSent = 0;
  std::int64_t FAckHour = 0;
  QString FLastStoreFailure;
  QString FLastFailure;
  int FPurgeDay = 0;
  // Packets wait here until the desk is ready and while an entry is being accepted.
  std::deque<std::unique_ptr<TAprsMsgPacket>> FWaiting;
  std::uint64_t FWaitingDropped = 0;
  // The links told to hold their packets while an entry is being accepted; resumed after it.
  std::vector<QPointer<THostLink>> FHeldLinks;
  bool FReady = false;
  TDateTime FStartedUtc = 0;
  bool FAdvancePosted = false;  // an Advance is queued for the packets DataAvailable took
  // Links whose ArrivalHandedOver judges their packets, and whether one took packets since.
  std::vector<QPointer<THostLink>> FArrivalLinks;
  bool FArrivalJudgeDue = false;
  bool FHostClosing = false;
  bool FDemo = false;
  TDateTime FStartUtc = 0;  // when the store was opened
  std::uint64_t FPacketsHeard = 0;
  TDateTime FLastPacketAt = 0;
  // PacketHeard's pace: while it runs, what is heard waits for its end (FHeardWaits).
  QTimer FHeardPace;
  bool FHeardWaits = false;
  std::uint64_t FHeardTold = 0;  // PacketsHeard when the view was told last
  // The hint of the last packet judged, until it is shown or another hint comes.
  std::optional<std::string> FPacketHint;
  // Stored messages whose log line is queued, with its number at the logger, oldest first.
  std::deque<std::pair<std::int64_t, std::uint64_t>> FLogPending;
  // Messages on their way to the list, in the order they were judged.
  std::deque<TTaking> FTaking;
  // The running fetch, for the last alert in FTaking; packets wait while it runs.
  std::unique_ptr<TFingerFetch> FFetch;
  // The run ends: no more fetches, no page on the way out.
  bool FEnding = false;
  std::vector<TDeskAlarm> FAlarms;
  // Alarms of messages a failing store holds in memory (as it handed them out), oldest first.
  std::deque<std::pair<std::int64_t, TDeskAlarm>> FAlarmsHeld;
  static constexpr std::size_t kAlarmsHeldKept = 1000;
  QTimer FAlarmRepeat;
};

}  // namespace qm
