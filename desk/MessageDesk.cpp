// The road of a packet: intake, judging, accepting (entry, store, full text, log) and the
// page check; the logger and the store the desk keeps.
#include "desk/MessageDesk.h"

#include <QDir>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "base/AsciiText.h"
#include "base/KillPoint.h"
#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "desk/PrintQueue.h"
#include "finger/FingerClient.h"
#include "finger/FingerFetch.h"
#include "host/HostLink.h"
#include "log/MessageLogger.h"
#include "parse/HostIntake.h"
#include "parse/NwsAlert.h"
#include "parse/NwsWords.h"
#include "print/PdfArchive.h"
#include "print/PrintJobs.h"
#include "select/DupMessages.h"
#include "store/DurableStore.h"
#include "store/MessageStore.h"

namespace qm {
namespace {

constexpr const char* kStoreFileName = "Quillmark-messages.db";
// Stored messages and archived pages go with the log files of the same age.
constexpr int kPurgeDays = 14;
// Packets that wait while the desk starts or an entry is being accepted; past this many the
// newest are dropped and counted.
constexpr std::size_t kMaxWaitingPackets = 100000;
// Why an alert went without its full text when the end came during the fetch.
constexpr const char* kEndedBeforeFullText = "The program ended before the full text came";

// Error texts span lines ("Socket Error # 10061\r\nConnection refused."); a hint is one line.
std::string OneLine(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\r' || c == '\n') c = ' ';
    if (!(c == ' ' && !result.empty() && result.back() == ' ')) result += c;
  }
  return result;
}

}  // namespace

int BroadcastHours(std::string_view text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed.size() > 3 ||
      !std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return TDeskChoices::kDefaultBroadcastHours;
  const int hours = std::stoi(trimmed);
  return hours >= 1 && hours <= 168 ? hours : TDeskChoices::kDefaultBroadcastHours;
}

TMessageDesk::TMessageDesk(TDeskSetup setup, QObject* parent)
    : QObject(parent),
      FSetup(std::move(setup)),
      FFinger(std::make_unique<TFingerClient>()),
      FDupMessages(std::make_unique<TDupMessageList>()) {
  auto jobs =
      FSetup.Printers ? std::make_unique<TPrintJobs>(*FSetup.Printers) : std::make_unique<TPrintJobs>();
  if (!FSetup.PrintToFile.isEmpty()) jobs->SetOutputFile(FSetup.PrintToFile);
  FQueue =
      std::make_unique<TPrintQueue>(static_cast<TPrintQueueHost&>(*this), std::move(jobs), FSetup.SpoolPoll);
  HandChoicesToQueue();
  connect(FQueue.get(), &TPrintQueue::ListChanged, this, &TMessageDesk::ListChanged);
  connect(FQueue.get(), &TPrintQueue::PrinterProblemsChanged, this, &TMessageDesk::PrinterProblemsChanged);
  // The other threads' calls wait in a box under a lock every checker sees, and this
  // connection, made here on the desk's thread, fetches them: a functor posted from the other
  // thread would be read here past Qt's own queue lock only.
  connect(this, &TMessageDesk::ThreadCallsWaiting, this, &TMessageDesk::RunThreadCalls, Qt::QueuedConnection);
  connect(&FSendTimer, &QTimer::timeout, this, [this] { SendDue(); });
  connect(&FAlarmRepeat, &QTimer::timeout, this, [this] {
    EndExpiredAlarms();
    if (!FAlarms.empty()) emit AlarmDue();
  });
}

TMessageDesk::~TMessageDesk() {
  // Destroyed while messages are on their way (an alert waiting for its full text): they are
  // logged first; nobody listens any more.
  blockSignals(true);
  EndTaking();
  FQueue.reset();  // stops following the spooler before the store and logger go
  if (FLogger && !FLogPending.empty() && FLogger->WaitIdle(TMessageLogger::kFlushBound))
    MarkWrittenLogLines();
  FLogger.reset();  // writes what is still queued
}

std::string StoreFileIn(const std::string& dataDir) {
  return (std::filesystem::path(dataDir.empty() ? std::string(".") : dataDir) / kStoreFileName).string();
}

QString TMessageDesk::DataDir() const {
  return QString::fromStdString(FSetup.DataDir.empty() ? std::string(".") : FSetup.DataDir);
}

// --- Start ----------------------------------------------------------------------------

void TMessageDesk::CreateLogger() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FLogger = std::make_unique<TMessageLogger>();
  FLogger->SetPurgeFileDays(kPurgeDays);
  FLogger->SetShowLocalZulu(false);
  FLogger->SetUTC(true);
  FLogger->SetPriority(tpNormal);
  if (!FSetup.DataDir.empty()) FLogger->SetLogFilePath(FSetup.DataDir);
  // The writer hands its file event and its failure to this thread and waits for them.
  FLogger->SetOwnerPost([this](TMessageLogger::TOwnerCall call) { PostHere(std::move(call)); });
  // Each pass of the writer tells this thread which stored messages' lines are in the file.
  FLogger->SetOnWritten([this] { MarkWrittenLogLines(); });
  // A failed write is shown once without stopping the packets; the writer keeps retrying.
  FLogger->SetOnWriterError(
      [this](const std::string& message) { ReportFailureOnce(DisplayText(message), false); });
  FLogger->SetOnWriterRecovered([this](const std::string& message) {
    LogMessage(message);
    Hint(DisplayText(message));
  });
}

void TMessageDesk::OpenStore() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  std::string path = FSetup.StoreFile;
  if (path.empty()) {
    const std::filesystem::path dir = DataDir().toStdString();
    std::error_code ignored;
    MakePrivateFolders(dir.string(), ignored);  // a failure shows when the store opens
    path = StoreFileIn(dir.string());
  }
  // A failing store is said once and tried again; the messages go on to the list and paper.
  FStore = std::make_unique<TDurableStore>(path, [this](const std::string& note, bool trouble) {
    // A failure is reported; the news that it passed (with what was stored) is noted, so a
    // run without a window tells it too.
    if (trouble)
      LogMessage(note);
    else
      Note(note);
    Hint(QString::fromStdString(note));
    if (trouble) ReportFailureOnce(QString::fromStdString(note), false);
  });
  // Commits leave the window's thread; the store's thread hands its notes back here, and
  // each returned commit lets the messages it carried go on to the list.
  FStore->OnCommitReturned([this] { Advance(); });
  FStore->CommitOnThread([this](std::function<void()> call) { PostHere(std::move(call)); });
  FStartUtc = Now(tfUTC);
  Purge(FStartUtc);
}

void TMessageDesk::PostHere(std::function<void()> call) {
  {
    const std::lock_guard lock(FThreadCallsMutex);
    FThreadCalls.push_back(std::move(call));
  }
  emit ThreadCallsWaiting(QPrivateSignal());
}

void TMessageDesk::RunThreadCalls() {
  // One at a time, oldest first, each taken out of the box before it runs.
  for (;;) {
    std::function<void()> call;
    {
      const std::lock_guard lock(FThreadCallsMutex);
      if (FThreadCalls.empty()) return;
      call = std::move(FThreadCalls.front());
      FThreadCalls.pop_front();
    }
    call();
  }
}

void TMessageDesk::RestoreListed() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // A kill between keeping a message and writing its log line: the line is written now.
  std::vector<TStoredMessage> unlogged;
  WithMessageStore([&](TDurableStore& store) { unlogged = store.Unlogged(); });
  if (!unlogged.empty()) {
    LogMessage(std::to_string(unlogged.size()) +
               " messages kept in the last run were never logged; they follow");
    for (const TStoredMessage& m : unlogged) LogStored(m.Id, m.RawText);
  }
  RestoreAlarms();
  RestoreSent();
  FQueue->Restore();
  if (!FQueue->Listed().empty()) {
    Note(std::to_string(FQueue->Listed().size()) + " unprinted messages were restored from the last run");
    emit ListChanged();
    UpdateCount();
  }
}

void TMessageDesk::SetReady(TFirstPrinterCheck printerCheck) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FReady = true;
  FStartedUtc = Now(tfUTC);
  FQueue->WatchPrinter(FSetup.PrinterPoll, printerCheck);
  QMetaObject::invokeMethod(
      this, [this] { Advance(); }, Qt::QueuedConnection);
}

void TMessageDesk::SetDemo(bool demo) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (FDemo && !demo) {
    FQueue->DropDemo();
    UpdateCount();
  }
  FDemo = demo;
  FQueue->SetDemo(demo);
}

void TMessageDesk::LogOutages(THostLink& link) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const auto log = [this](const QString& line) { LogMessage(ProgramText(line)); };
  connect(&link, &THostLink::OutageLogLine, this, log);
  connect(&link, &THostLink::DropLogLine, this, log);
  connect(&link, &THostLink::AnswerNotice, this, [this](const QString& line) {
    Note(ProgramText(line));
    Hint(line);
    emit Advised(line);
  });
  if (link.CanAnswer() && link.Answering()) {
    FAnsweringLinks.emplace_back(&link);
    SayOwnCallProblem();
  }
}

void TMessageDesk::SetChoices(TDeskChoices choices) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const TSendSchedule schedule = FChoices.SendSchedule();
  FChoices = std::move(choices);
  HandChoicesToQueue();
  SayOwnCallProblem();
  PaceAlarms();
  Reschedule(schedule);
}

void TMessageDesk::HandChoicesToQueue() {
  FQueue->SetPageChoices({FChoices.PrintingDisabled, FChoices.PageSetting, FChoices.FixedPitchFullText,
                          FChoices.NwsWordsLine, FChoices.HeaderFooter, FChoices.ReprintMark,
                          FChoices.Selection.StationCall});
  FQueue->SetArchiveFolder(FChoices.ArchivePdf ? ArchiveFolder() : QString());
}

void TMessageDesk::SayOwnCallProblem() {
  const std::string& ownCall = FChoices.Selection.StationCall;
  if (FDemo || ownCall.empty() || ownCall == FOwnCallSaid) return;
  const std::string problem = TransmitCallsignProblem(ownCall);
  if (problem.empty()) return;
  std::erase_if(FAnsweringLinks, [](const QPointer<THostLink>& link) { return !link; });
  if (FAnsweringLinks.empty()) return;
  FOwnCallSaid = ownCall;
  const std::string text = "Messages to " + ownCall + " are not acknowledged: " + problem;
  Note(text);
  Hint(DisplayText(text));
  emit Advised(DisplayText(text));
}

// --- Intake ---------------------------------------------------------------------------

void TMessageDesk::DataAvailable(THostLink& link) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  try {
    // Stamped with the desk's own clocks, which the duplicate filter ages entries by.
    auto packet = ParseAprsPacket(IntakePacketLine(link.PacketText()), Ticks(), Now(tfUTC));
    packet->Origin = OriginOf(link);
    // Every packet heard counts, wanted or not.
    FLastPacketAt = Now(tfLocal);
    ++FPacketsHeard;
    Wait(std::move(packet));
    // Judged from the event loop, never in the middle of the link's hand-over: at its end, or
    // with one queued call for all the packets the link hands over before the loop runs again.
    if (std::find(FArrivalLinks.begin(), FArrivalLinks.end(), &link) != FArrivalLinks.end()) {
      FArrivalJudgeDue = true;
    } else if (!FAdvancePosted) {
      FAdvancePosted = true;
      QMetaObject::invokeMethod(
          this,
          [this] {
            FAdvancePosted = false;
            Advance();
            Heard();  // also while the packets wait
          },
          Qt::QueuedConnection);
    }
    // While an alert waits for its full text (or the desk is not ready yet) the link holds
    // the rest, or a fast source would fill the waiting packets past their bound.
    if (!Idle()) {
      link.HoldIntake();
      // Each source that spoke meanwhile is held, and each goes on when the wait is over.
      if (std::find(FHeldLinks.begin(), FHeldLinks.end(), &link) == FHeldLinks.end())
        FHeldLinks.emplace_back(&link);
    }
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

void TMessageDesk::FollowArrivals(THostLink& link) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (!link.SaysArrivalEnd()) return;
  std::erase_if(FArrivalLinks, [](const QPointer<THostLink>& l) { return !l; });
  FArrivalLinks.emplace_back(&link);
  connect(&link, &THostLink::ArrivalHandedOver, this, [this] {
    if (!std::exchange(FArrivalJudgeDue, false)) return;
    Advance();
    Heard();  // also while the packets wait
  });
}

void TMessageDesk::Take(std::unique_ptr<TAprsMsgPacket> packet) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  Wait(std::move(packet));
  Advance();
}

void TMessageDesk::Wait(std::unique_ptr<TAprsMsgPacket> packet) {
  // The packet is the desk's from here on and is freed on every path.
  if (!packet) return;
  if (FWaiting.size() >= kMaxWaitingPackets) {
    ++FWaitingDropped;
    return;
  }
  FWaiting.push_back(std::move(packet));
}

void TMessageDesk::Heard() {
  if (FPacketsHeard == FHeardTold && !FPacketHint) return;
  // A fast source wakes the view a few times a second, not once a packet.
  if (FHeardPace.isActive()) {
    FHeardWaits = true;
    return;
  }
  TellHeard();
}

void TMessageDesk::TellHeard() {
  FHeardWaits = false;
  if (FHeardPace.interval() != kHeardEveryMs) {
    FHeardPace.setSingleShot(true);
    FHeardPace.setInterval(kHeardEveryMs);
    connect(&FHeardPace, &QTimer::timeout, this, [this] {
      if (FHeardWaits) TellHeard();
    });
  }
  FHeardPace.start();
  if (std::exchange(FHeardTold, FPacketsHeard) != FPacketsHeard) emit PacketHeard();
  if (FPacketHint) emit HintChanged(DisplayText(*std::exchange(FPacketHint, std::nullopt)));
}

void TMessageDesk::Advance() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (!FReady) return;
  if (!FAlarmsHeld.empty()) RaiseKeptAlarms();
  // Nothing in a step lets events run (a page is laid out from the event loop, in steps of
  // its own), so no other step can start in the middle of this one.
  for (;;) {
    FollowTaken(false);
    // An alert waiting for its full text holds the packets behind it.
    if (FFetch || FWaiting.empty() || !FReady) break;
    const std::unique_ptr<TAprsMsgPacket> packet = std::move(FWaiting.front());
    FWaiting.pop_front();
    JudgePacket(*packet);
  }
  Heard();
  if (FFetch || !FReady) return;
  for (const QPointer<THostLink>& link : std::exchange(FHeldLinks, {}))
    if (link) link->ResumeIntake();
  if (FWaitingDropped > 0) {
    LogMessage(std::to_string(FWaitingDropped) + " packets were dropped because more than " +
               std::to_string(kMaxWaitingPackets) + " were waiting to be judged");
    FWaitingDropped = 0;
  }
  if (FHostClosing) {
    FHostClosing = false;
    HostClosing();
  }
}

// --- Judging --------------------------------------------------------------------------

void TMessageDesk::JudgePacket(TAprsMsgPacket& packet) {
  try {
    // The answer to a message of ours ends it and is no traffic of its own.
    if (TakeAnswer(packet)) return;
    if (!packet.Selected) return;
    packet.Selected = IsWantedMessage(packet, FChoices.Selection);
    const bool wanted = packet.Selected;
    FRepeatOfEarlierRun = false;
    if (packet.Selected) {
      FDupMessages->Prune(Ticks());
      // A repeat within 20 seconds, or (with the option on) a resend of a message listed
      // lately: logged, not listed.
      if (FDupMessages->IsDuplicate(packet) || IsResentCopy(packet) || IsRepeatedBroadcast(packet)) {
        packet.Selected = false;
        LogInOrder("Duplicate packet: " + packet.RawText);
      }
    }
    // Every copy is answered, repeats too (the sender did not hear the last acknowledgement),
    // but only once the message is kept: after its commit, a repeat after its first copy's.
    std::string answer;
    std::optional<TAckDue> ack = wanted ? AckDue(packet, answer) : std::nullopt;
    // Shown with the next PacketHeard: the last packet judged by then.
    FPacketHint = answer.empty() ? packet.Source.FullCall + "> " + packet.Body : answer;
    if (packet.Selected)
      TakeMessage(packet, std::move(ack));
    else if (ack)
      AnswerRepeat(std::move(*ack));
    if (!wanted && packet.Kind == mkNwsAlert) FollowNwsCancel(packet);
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

bool TMessageDesk::IsResentCopy(const TAprsMsgPacket& packet) {
  const auto windowMs = static_cast<std::uint32_t>(FChoices.ResentMinutes) * 60000u;
  // Asked with the option off too, so the pairs kept meanwhile stay few.
  const bool copy = FRetries.IsRetry(packet.Source.FullCall, packet.MessageId, packet.TickCount, windowMs);
  if (!FChoices.DropResent) return false;
  // The store remembers the last run's too.
  if (copy) return true;
  FRepeatOfEarlierRun = StoredRepeat(packet, true, FChoices.ResentMinutes / 60.0, true);
  return FRepeatOfEarlierRun;
}

bool TMessageDesk::IsRepeatedBroadcast(const TAprsMsgPacket& packet) {
  const bool broadcast =
      packet.Kind == mkBulletin || packet.Kind == mkAnnouncement || packet.Kind == mkNwsAlert;
  return FChoices.BroadcastOnce && broadcast && StoredRepeat(packet, false, FChoices.BroadcastHours, false);
}

bool TMessageDesk::StoredRepeat(const TAprsMsgPacket& packet, bool byNumber, double hours, bool earlierRuns) {
  if (FDemo || !FStore) return false;
  TStoredMessage m;
  m.Source = packet.Source.FullCall;
  m.MessageId = packet.MessageId;
  m.Addressee = packet.Addressee;
  m.MessageText = packet.MessageText;
  bool seen = false;
  WithMessageStore([&](TDurableStore& store) {
    const TDateTime now = Now(tfUTC);
    seen = store.HasRepeatSince(m, byNumber, now - hours / 24, earlierRuns ? FStartUtc : now + 1);
  });
  return seen;
}

void TMessageDesk::TakeMessage(TAprsMsgPacket& packet, std::optional<TAckDue> ack) {
  TTaking taking;
  TListedEntry& entry = taking.Entry;
  entry.Key = FQueue->NextKey();
  entry.Lines[0] = EntryLine1(Now(tfLocal), Now(tfUTC));
  entry.Lines[1] = EntryLine2(packet);
  entry.Lines[2] = EntryLine3(packet);
  taking.Alarm = AlarmFor(packet);
  // The alert read in words; one that does not read is taken all the same, without them.
  std::optional<TNwsAlert> alert;
  if (packet.Kind == mkNwsAlert) alert = ReadNwsAlert(packet.Addressee, packet.MessageText, Now(tfUTC));
  if (alert && !alert->Event.empty()) {
    entry.NwsWords = NwsAlertWords(*alert);
    entry.NwsExpiresUtc = alert->ExpiresUtc.value_or(0);
  }
  entry.StoreId =
      KeepInStore(packet, entry, taking.Alarm ? std::optional(taking.Alarm->Kind) : std::nullopt, alert);
  entry.Demo = FDemo;
  KillPoint();  // handed to the store, its commit not yet returned
  taking.RawText = packet.RawText;
  if (ack) {
    // Its repeats are answered once this one is kept.
    FAskedIds.emplace_back(UpperCase(ack->Sender) + '\0' + ack->Number, entry.StoreId);
    if (FAskedIds.size() > kAskedIdsKept) FAskedIds.pop_front();
    taking.Ack = std::move(ack);
  }
  // The next packet's verdict knows this one at once.
  FDupMessages->Add(packet.Source.FullCall, packet.TickCount, packet.Body);
  FRetries.Add(packet.Source.FullCall, packet.MessageId, packet.TickCount);
  if (packet.Kind == mkNwsAlert) {
    taking.FullText = FullTextCategoryFor(packet, FChoices.FullText) != ncNone;
    if (const auto query = FingerQuery(packet)) {
      FFinger->Query = *query;
      taking.Query = *query;
    } else {
      // Packet bytes never reach the Finger server beyond a name: the alert goes without.
      taking.Query = AlertName(packet.Source.FullCall, packet.MessageId);
      if (taking.FullText) {
        taking.Fetched = true;
        taking.Failure = "The Finger query " + taking.Query +
                         " would carry more than letters, digits and '-', so it was not sent";
      }
    }
  }
  if (taking.FullText && taking.Fetched) {
    // Refused above: no fetch.
  } else if (taking.FullText && FEnding) {
    taking.Fetched = true;
    taking.Failure = kEndedBeforeFullText;
  } else if (taking.FullText) {
    FFetch.reset();  // an earlier one is over: the next starts only after it
    // The reply comes back as a queued call onto this thread; the desk waits for it as a
    // state, never inside this call.
    FFetch = std::make_unique<TFingerFetch>(*FFinger, [this] {
      QMetaObject::invokeMethod(
          this, [this] { FetchReturned(); }, Qt::QueuedConnection);
    });
  }
  FTaking.push_back(std::move(taking));
}

void TMessageDesk::FetchReturned() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (!FFetch || !FFetch->Finished()) return;
  const std::unique_ptr<TFingerFetch> done = std::move(FFetch);  // its thread is joined here
  // The alert it fetched for is the last on its way.
  for (auto it = FTaking.rbegin(); it != FTaking.rend(); ++it) {
    if (!it->FullText || it->Fetched) continue;
    it->Fetched = true;
    try {
      it->Reply = done->Reply();
    } catch (const std::exception& e) {
      it->Failure = e.what();
      if (it->Failure.empty()) it->Failure = "The full text could not be fetched";
    }
    break;
  }
  Advance();
}

void TMessageDesk::FollowTaken(bool all) {
  while (!FTaking.empty()) {
    TTaking& front = FTaking.front();
    if (!all) {
      if (front.FullText && !front.Fetched) return;
      if (front.Entry.StoreId != 0 && FStore && !FStore->Settled(front.Entry.StoreId)) return;
    }
    TTaking taken = std::move(front);
    FTaking.pop_front();
    const std::string warning = Follow(taken);
    if (!warning.empty()) Hint(DisplayText(warning));
  }
}

void TMessageDesk::LogInOrder(const std::string& line) {
  if (FTaking.empty()) {
    LogMessage(line);
    return;
  }
  TTaking logOnly;
  logOnly.RawText = line;
  logOnly.LogOnly = true;
  FTaking.push_back(std::move(logOnly));
}

std::string TMessageDesk::Follow(TTaking& taken) {
  if (taken.LogOnly) {
    LogMessage(taken.RawText);
    return {};
  }
  if (taken.AckOnly) return SendAck(*taken.Ack, taken.Entry.StoreId, taken.KeptBefore);
  KillPoint();  // its commit returned, not yet listed or logged
  std::string warning;
  if (taken.FullText) FullTextBranch(taken, warning);
  TListedEntry& entry = taken.Entry;
  // The demo stopped meanwhile: its entries have left the list, and so does this one.
  if (entry.Demo && !FDemo) return warning;
  // The entry is listed whole, after its full text: nothing can come between its lines.
  const std::int64_t storeId = entry.StoreId;
  FQueue->Add(std::move(entry));
  emit EntryListed();
  if (taken.Own) {
    // Logged as it was sent; no beep, alarm or answer for what the operator wrote.
    UpdateCount();
    return FEnding ? std::string() : FQueue->CheckPage();
  }
  if (FChoices.Beep) emit BeepRequested();
  // Logged before the page check, so a page that fails never costs the message its log line.
  LogStored(storeId, taken.RawText);
  // Its acknowledgement's line follows the message's own, and its alarm's.
  if (taken.Alarm) RaiseAlarm(std::move(*taken.Alarm), storeId);
  const std::string answer = taken.Ack ? SendAck(*taken.Ack, storeId, false) : std::string();
  UpdateCount();
  // Nothing is printed on the way out.
  const std::string failure = FEnding ? std::string() : FQueue->CheckPage();
  if (!warning.empty()) return warning;
  return failure.empty() ? answer : failure;
}

void TMessageDesk::FullTextBranch(TTaking& taken, std::string& warning) {
  if (!taken.Failure.empty()) {
    // The alert is listed and logged all the same; only its full text is missing. The log
    // line starts with the socket error, as people search for it; the rest is indented.
    if (taken.Failure != kEndedBeforeFullText)
      warning = "The full text of " + taken.Query + " could not be fetched: " + OneLine(taken.Failure);
    LogMessage(taken.Failure + "\r\nThe alert " + taken.Query + " was listed without its full text");
    return;
  }
  // Fetched while printing is disabled (as chosen when the reply came), it stays off paper
  // for good, also after a restart.
  const bool toPrint = !FChoices.PrintingDisabled;
  const std::int64_t storeId = taken.Entry.StoreId;
  if (storeId != 0)
    WithMessageStore([&](TDurableStore& store) { store.SetFullText(storeId, taken.Reply, toPrint); });
  LogMessage(taken.Reply);
  if (!toPrint) return;
  try {
    FQueue->PrintText(storeId,
                      DisplayText(FullTextDocument(taken.Entry.Lines[0], taken.Entry.Lines[2], taken.Reply)),
                      DisplayText("the alert " + taken.Query));
  } catch (const std::exception& e) {
    ReportFailureOnce(QString::fromUtf8(e.what()), false);
  }
}

void TMessageDesk::EndTaking() {
  FEnding = true;
  if (FFetch) {
    // The exchange is abandoned; its thread is joined within a moment.
    FFetch->LetGo();
    FFetch.reset();
    for (TTaking& t : FTaking)
      if (t.FullText && !t.Fetched) {
        t.Fetched = true;
        t.Failure = kEndedBeforeFullText;
      }
  }
  if (FTaking.empty()) return;
  // Whatever is on its way was judged wanted: committed (or held by a failing store) first,
  // then listed and logged, so the end counts it.
  if (FStore) FStore->Flush();
  FollowTaken(true);
}

std::uint32_t TMessageDesk::OriginOf(THostLink& link) {
  const auto known = std::find(FOrigins.begin(), FOrigins.end(), &link);
  if (known != FOrigins.end()) return static_cast<std::uint32_t>(known - FOrigins.begin()) + 1;
  FOrigins.emplace_back(&link);
  // Known while its packets wait, also should the link go before they are judged.
  FReplayOrigins.push_back(link.Replays() ? ProgramText(link.SourceKind() + ' ' + link.SourcePlace())
                                          : std::string());
  return static_cast<std::uint32_t>(FOrigins.size());
}

std::optional<TMessageDesk::TAckDue> TMessageDesk::AckDue(const TAprsMsgPacket& packet, std::string& hint) {
  if (FDemo || packet.Origin == 0 || packet.Origin > FOrigins.size()) return std::nullopt;
  THostLink* const link = FOrigins[packet.Origin - 1];
  if (!link || !link->CanAnswer()) return std::nullopt;
  const std::string& ownCall = FChoices.Selection.StationCall;
  const auto number = AckNumberAsked(packet, ownCall);
  if (!number) return std::nullopt;
  const std::string& sender = packet.Source.FullCall;
  if (!link->Answering()) {
    if (FUnansweredSaid || !IsTransmitCallsign(ownCall)) return std::nullopt;
    FUnansweredSaid = true;
    hint = "Messages to " + ownCall +
           " are not acknowledged: senders will repeat them (turn on Answer, or "
           "Drop resent copies)";
    LogMessage(hint);
    emit Advised(DisplayText(hint));
    return std::nullopt;
  }
  // An own call no frame or login may carry is said once at the start; each message it could
  // not answer says so too, after the message's line.
  return TAckDue{packet.Origin, sender, *number, TransmitCallsignProblem(ownCall)};
}

void TMessageDesk::AnswerRepeat(TAckDue due) {
  TTaking repeat;
  repeat.AckOnly = true;
  const std::string key = UpperCase(due.Sender) + '\0' + due.Number;
  const auto asked =
      std::find_if(FAskedIds.rbegin(), FAskedIds.rend(), [&](const auto& a) { return a.first == key; });
  if (asked != FAskedIds.rend())
    repeat.Entry.StoreId = asked->second;
  else
    repeat.KeptBefore = FRepeatOfEarlierRun;  // otherwise its first copy is not known to be kept
  repeat.Ack = std::move(due);
  if (FTaking.empty() && (repeat.Entry.StoreId == 0 || !FStore || FStore->Settled(repeat.Entry.StoreId))) {
    if (const std::string hint = Follow(repeat); !hint.empty()) Hint(DisplayText(hint));
    return;
  }
  FTaking.push_back(std::move(repeat));
}

std::string TMessageDesk::SendAck(const TAckDue& due, std::int64_t storeId, bool keptBefore) {
  THostLink* const link =
      due.Origin >= 1 && due.Origin <= FOrigins.size() ? FOrigins[due.Origin - 1] : nullptr;
  const std::string what = due.Sender + "'s message " + due.Number;
  CountAcknowledgements(Now(tfUTC));
  // Each one that does not go out is said at once, in the journal too.
  const auto notSent = [this](std::string text) {
    Note(text);
    emit Advised(DisplayText(text));
    ++FAcksNotSent;
    return text;
  };
  // The source went (the end, another choice) while the message was on its way.
  if (!link) return notSent("Did not acknowledge " + what + ": the source it came from is closed");
  const std::string where = ProgramText(link->SourceKind() + ' ' + link->SourcePlace());
  if (!due.Refused.empty())
    return notSent("Could not acknowledge " + what + " on " + where + ": " + due.Refused);
  // "Received" is said only of what the next start lists: never of a message held in memory
  // by a failing store, or not stored at all.
  if (!keptBefore && (storeId == 0 || !FStore || !FStore->IsKept(storeId)))
    return notSent("Did not acknowledge " + what + " on " + where +
                   ": the message store has not kept it, so the sender will send it again");
  switch (FAckLimiter.Ask(due.Sender, due.Number, Ticks())) {
    case TAckLimiter::avSend:
      break;
    case TAckLimiter::avAnsweredJustNow:
      return {};
    case TAckLimiter::avOverTheMinute:
      return notSent("Did not acknowledge " + what + ": " + std::to_string(TAckLimiter::PerMinute) +
                     " acknowledgements went out this minute");
  }
  const QString failure =
      link->SendOwnPacket(FChoices.Selection.StationCall, AckInformation(due.Sender, due.Number));
  if (!failure.isEmpty())
    return notSent("Could not acknowledge " + what + " on " + where + ": " + ProgramText(failure));
  LogMessage("Acknowledged " + what + " on " + where);
  ++FAcksSent;
  const std::string answered = FormatDateTime("hh:nn:ss", Now(tfLocal)) + " on " + where;
  if (storeId != 0) WithMessageStore([&](TDurableStore& store) { store.SetAnswered(storeId, answered); });
  return {};
}

void TMessageDesk::CountAcknowledgements(TDateTime utc, bool end) {
  const auto hour = static_cast<std::int64_t>(std::floor(utc * 24));
  if (FAcksSent + FAcksNotSent > 0 && (end || hour != FAckHour)) {
    const TDateTime from = static_cast<TDateTime>(FAckHour) / 24;
    std::string line = "Acknowledgements " + (end ? "since " + FormatDateTime("hh:nn", from) + " UTC"
                                                  : "from " + FormatDateTime("hh:nn", from) + " to " +
                                                        FormatDateTime("hh:nn", from + 1.0 / 24) + " UTC");
    line += ": " + std::to_string(FAcksSent) + " sent, " + std::to_string(FAcksNotSent) + " not sent";
    FAcksSent = FAcksNotSent = 0;
    Note(line);
  }
  FAckHour = hour;
}

// The store keeps the parser's kinds by number.
static_assert(StoredNumber(mkPersonal) == kStoredPersonal && StoredNumber(mkBulletin) == kStoredBulletin &&
              StoredNumber(mkAnnouncement) == kStoredAnnouncement &&
              StoredNumber(mkNwsAlert) == kStoredNwsAlert);

namespace {

// The areas' names as the store keeps them, "; " between them.
std::string NwsAreaNames(const TNwsAlert& alert) {
  std::string names;
  for (const TNwsArea& area : alert.Areas) {
    if (!names.empty()) names += "; ";
    names += NwsAreaWords(area);
  }
  return names;
}

// A cancel ends the earlier alerts of its office for the same event and areas; any other
// alert replaces those of its own category. An alert that names no area ends none.
TNwsEnding NwsEndingOf(const TNwsAlert& alert) {
  if (alert.Areas.empty() || alert.AreasCut) return {};
  if (alert.Category == acCancel) return {nsCancelled, std::string(), alert.CategoryWord};
  return {nsSuperseded, alert.CategoryWord, std::string()};
}

}  // namespace

void TMessageDesk::FollowNwsCancel(const TAprsMsgPacket& packet) {
  if (FDemo || !FStore) return;
  const std::optional<TNwsAlert> alert = ReadNwsAlert(packet.Addressee, packet.MessageText, Now(tfUTC));
  if (!alert || alert->Category != acCancel || alert->Event.empty()) return;
  const TNwsEnding ending = NwsEndingOf(*alert);
  if (ending.Makes == nsLive) return;
  TStoredMessage by;
  by.UtcTime = Now(tfUTC);
  by.Source = packet.Source.FullCall;
  by.MessageId = packet.MessageId;
  by.NwsEvent = alert->Event;
  by.NwsAreas = NwsAreaNames(*alert);
  WithMessageStore([&](TDurableStore& store) { store.EndNwsAlerts(by, ending); });
}

std::int64_t TMessageDesk::KeepInStore(const TAprsMsgPacket& packet, const TListedEntry& entry,
                                       std::optional<TAlarmKind> alarm,
                                       const std::optional<TNwsAlert>& alert) {
  if (FDemo) return 0;  // made-up traffic is no part of the operator's record
  TStoredMessage m;
  m.LocalTime = Now(tfLocal);
  m.UtcTime = Now(tfUTC);
  m.Source = packet.Source.FullCall;
  m.Destination = packet.Destination.FullCall;
  m.Path = packet.Path;
  m.Addressee = packet.Addressee;
  m.MessageText = packet.MessageText;
  m.MessageId = packet.MessageId;
  m.Kind = static_cast<int>(packet.Kind);
  m.State = packet.State;
  m.RawText = packet.RawText;
  m.Line1 = entry.Lines[0];
  m.Line2 = entry.Lines[1];
  m.Line3 = entry.Lines[2];
  // The alarm goes into the file in the message's own commit.
  if (alarm) {
    m.Alarm = asSounding;
    m.AlarmKind = StoredNumber(*alarm);
  }
  TNwsEnding ending;
  if (!entry.NwsWords.empty()) {
    m.NwsEvent = alert->Event;
    m.NwsAreas = NwsAreaNames(*alert);
    m.NwsExpiresUtc = entry.NwsExpiresUtc;
    m.NwsWords = entry.NwsWords;
    ending = NwsEndingOf(*alert);
  }
  std::int64_t id = 0;
  WithMessageStore([&](TDurableStore& store) { id = store.Add(m, ending); });
  return id;
}

// --- The operator's actions -------------------------------------------------------------

void TMessageDesk::ClearList() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // What is on its way is committed and listed first, so that the store clears what the
  // list shows; an alert whose full text is being fetched is not listed yet: it stays, in the
  // store too, and is listed when the fetch is over.
  if (FStore && !FTaking.empty()) FStore->Flush();
  FollowTaken(false);
  // The message still on its way, not a line or a repeat's acknowledgement queued behind.
  const auto onItsWay =
      std::find_if(FTaking.begin(), FTaking.end(), [](const TTaking& t) { return !t.LogOnly && !t.AckOnly; });
  FQueue->Clear(onItsWay == FTaking.end() ? 0 : onItsWay->Entry.StoreId);
  UpdateCount();
}

void TMessageDesk::Print(const std::string& text) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (FChoices.PrintingDisabled) return;
  FQueue->PrintText(0, DisplayText(text));
}

namespace {

// What a page of stored messages reprints: the jobs that carried them ("jobs 12, 14"), and the
// messages that none carried yet by their numbers.
QString ReprintedJobs(const std::vector<TStoredMessage>& messages) {
  QStringList jobs;
  QStringList ids;
  for (const TStoredMessage& m : messages) {
    const QString job = QString::number(JobNumber(m));
    if (JobNumber(m) > 0 && !jobs.contains(job)) jobs << job;
    if (JobNumber(m) <= 0) ids << QString::number(m.Id);
  }
  const auto named = [](const char* word, const QStringList& numbers) {
    return QString::fromLatin1(word) + (numbers.size() == 1 ? QStringLiteral(" ") : QStringLiteral("s ")) +
           numbers.join(QStringLiteral(", "));
  };
  if (jobs.isEmpty()) return named("message", ids);
  if (ids.isEmpty()) return named("job", jobs);
  return named("job", jobs) + QStringLiteral(" (%1 not printed before)").arg(named("message", ids));
}

}  // namespace

void TMessageDesk::ReprintMessages(const std::vector<std::int64_t>& ids, const std::string& from) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  std::vector<std::int64_t> ordered = ids;
  std::sort(ordered.begin(), ordered.end());
  ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
  std::vector<TStoredMessage> messages;
  if (!WithMessageStore([&](TDurableStore& store) { messages = store.Messages(ordered); }))
    throw std::runtime_error("The message store is not open: nothing was reprinted");
  // All or nothing: a mistyped number is the operator's mistake, never half a page. The ids
  // may be the store's own or those handed out while their commit was on its way.
  if (messages.size() != ordered.size())
    for (const std::int64_t asked : ordered) {
      std::vector<TStoredMessage> one;
      WithMessageStore([&](TDurableStore& store) { one = store.Messages({asked}); });
      if (!one.empty()) continue;
      const std::string id = std::to_string(asked);
      if (StoreFailing()) throw std::runtime_error("Message " + id + " cannot be read while the store fails");
      throw EMessageStoreError("No message " + id + " is stored");
    }
  QStringList lines;
  for (const TStoredMessage& m : messages) {
    for (const std::string* line : {&m.Line1, &m.Line2, &m.Line3}) lines << ListLineText(*line);
    if (FChoices.NwsWordsLine && !m.NwsWords.empty()) lines << ListLineText(m.NwsWords);
  }
  if (lines.isEmpty()) return;
  // The journal's reader learns whose messages went to paper again.
  std::string what =
      std::to_string(messages.size()) + (messages.size() == 1 ? " message from " : " messages from ");
  std::vector<std::string> senders;
  for (const TStoredMessage& m : messages)
    if (std::find(senders.begin(), senders.end(), m.Source) == senders.end()) senders.push_back(m.Source);
  for (std::size_t i = 0; i < senders.size() && i < 3; ++i) what += (i > 0 ? ", " : "") + senders[i];
  if (senders.size() > 3) what += " and " + std::to_string(senders.size() - 3) + " more";
  Reprint(ListJobDocument(lines), FQueue->ListFont(), what + ", asked " + from, ReprintedJobs(messages));
}

void TMessageDesk::ReprintJob(std::int64_t number, const std::string& from) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // The number every surface shows (JobNumber): a typo is the operator's mistake, answered as
  // such, never a failure of the store.
  std::optional<TStoredJob> stored;
  if (!WithMessageStore([&](TDurableStore& store) { stored = store.JobByNumber(number); }))
    throw std::runtime_error("The message store is not open: nothing was reprinted");
  if (!stored) throw EMessageStoreError("No job " + std::to_string(number) + " was printed");
  // The fonts the job was printed in: the list's for a page, the text font for a full text.
  Reprint(DisplayText(stored->Document), stored->Kind == jkList ? FQueue->ListFont() : FQueue->FullTextFont(),
          "job " + std::to_string(number) + ", asked " + from, QStringLiteral("job %1").arg(number));
}

TCommsLog TMessageDesk::CommsLog(TDateTime fromUtc, TDateTime toUtc) const {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const std::string file = StoreFile();
  if (file.empty()) throw EMessageStoreError("The message store is not open");
  const THistoryReader reader(file);
  const std::string& station = FChoices.Selection.StationCall;
  std::vector<TLogRow> outgoing = reader.SentBetween(fromUtc, toUtc, station);
  if (OutgoingRows)
    for (TLogRow& row : OutgoingRows(fromUtc, toUtc)) outgoing.push_back(std::move(row));
  return MakeCommsLog(QString::fromStdString(station), AccountName(), fromUtc, toUtc,
                      reader.ReceivedBetween(fromUtc, toUtc), outgoing);
}

void TMessageDesk::PrintCommsLog(const TCommsLog& log, const std::string& from) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->PrepareJob();
  const TJobTicket ticket = qm::PrintCommsLog(FQueue->PrintJobs(), log);
  const QString where = ticket.SpoolerJob > 0
                            ? QStringLiteral("job %1 on %2").arg(ticket.SpoolerJob).arg(ticket.Printer)
                            : QStringLiteral("on %1").arg(ticket.Printer);
  const QString text = QStringLiteral("Communications log %1 to %2 printed, %3 rows: ")
                           .arg(MinuteText(log.FromUtc), MinuteText(log.ToUtc))
                           .arg(log.Rows.size()) +
                       where + QStringLiteral(", asked ") + DisplayText(from);
  Note(ProgramText(text));
  Hint(text);
}

std::vector<TBulletinLine> TMessageDesk::BulletinBoard() const {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // On a read-only connection of its own, as the history's searches: it never waits for the
  // store's commits, so a board asking often never holds up an entry.
  const std::string file = StoreFile();
  if (file.empty()) return {};
  return THistoryReader(file).BulletinBoard(Now(tfUTC), FChoices.BulletinAges);
}

void TMessageDesk::ClearBulletinLine(const std::string& from, const std::string& lineId,
                                     const std::string& where) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  int cleared = -1;
  WithMessageStore([&](TDurableStore& store) {
    if (TMessageStore* write = store.Store())
      cleared = write->ClearBulletin(from, lineId, Now(tfUTC), FChoices.BulletinAges);
  });
  if (cleared < 0) throw std::runtime_error("The message store is not open: no line was cleared");
  if (cleared == 0)
    throw EMessageStoreError("No line " + Trim(lineId) + " of " + from + " is on the bulletin board");
  LogMessage("Bulletin line " + UpperCase(Trim(lineId)) + " of " + from + " cleared " + where);
  emit BulletinsChanged();
}

void TMessageDesk::Reprint(const QString& document, const QFont& font, const std::string& what,
                           const QString& of) {
  FQueue->PrepareJob(of);
  TPrintJobs& jobs = FQueue->PrintJobs();
  const TJobTicket ticket = jobs.PrintText(document, font);
  const QString text =
      QStringLiteral("Reprinted %1 lines on %2: ").arg(jobs.LastJob().Lines).arg(ticket.Printer) +
      DisplayText(what);
  Note(ProgramText(text));
  Hint(text);
}

// --- Ending -----------------------------------------------------------------------------

void TMessageDesk::HostClosing() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // Closed during a fetch, or before the desk is ready: ended once the packets that came
  // before are judged.
  if (FFetch || !FReady) {
    FHostClosing = true;
    return;
  }
  // Packets the host handed over before it closed are judged first; then the program ends at
  // once, and what is unprinted waits in the store for the next start.
  Advance();
  // A packet among them may be an alert whose full text is fetched: the end waits for it.
  if (FFetch) {
    FHostClosing = true;
    return;
  }
  // What is on its way is committed and listed as ever, pages included.
  if (FStore && !FTaking.empty()) FStore->Flush();
  FollowTaken(true);
  KeepUnprintedForNextStart();
  emit EndRequested();
}

void TMessageDesk::KeepUnprintedForNextStart() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  EndTaking();
  CountAcknowledgements(Now(tfUTC), true);
  FQueue->KeepUnprintedForNextStart();
}

void TMessageDesk::Close() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  EndTaking();  // before the logger goes
  FReady = false;
  FWaiting.clear();
  // What is still being sent stays so in the store: the next start takes it up.
  FSendTimer.stop();
  FOutgoing.clear();
  FQueue->StopFollowing();
  if (FLogger && !FLogPending.empty() && FLogger->WaitIdle(TMessageLogger::kFlushBound))
    MarkWrittenLogLines();
  FLogger.reset();
}

// --- The printer and the other choices ------------------------------------------------------

QStringList TMessageDesk::Printers() const {
  return FQueue->PrintJobs().Printers();
}

QString TMessageDesk::PrinterName() const {
  return FQueue->PrintJobs().CurrentPrinterName();
}

void TMessageDesk::SelectPrinter(int index) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->PrintJobs().SelectPrinter(index);
}

void TMessageDesk::SetUpPrinter(const std::function<bool(QPrinter&)>& confirm) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  TPrintJobs& jobs = FQueue->PrintJobs();
  if (confirm(jobs.SetupPrinter())) jobs.AcceptSetup();
}

void TMessageDesk::SetPrintFolder(const QString& folder) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->PrintJobs().SetOutputFolder(folder);
}

QString TMessageDesk::PrintFolder() const {
  return FQueue->PrintJobs().OutputFolder();
}

void TMessageDesk::SetFingerServer(const std::string& host, int port) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FFinger->Host = host;
  FFinger->Port = port;
}

// --- Handed on to the parts ---------------------------------------------------------------

void TMessageDesk::CheckPrinter() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->CheckPrinter();
}

void TMessageDesk::SetFonts(const QFont& list, const QFont& text) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->SetFonts(list, text);
}

void TMessageDesk::ClearRepeats() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FDupMessages->Clear();
}

void TMessageDesk::CompareEveryRepeat(bool every) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FDupMessages->CompareEveryEntry(every);
}

std::size_t TMessageDesk::RepeatCount() const {
  return FDupMessages->Count();
}

const std::vector<TListedEntry>& TMessageDesk::Listed() const {
  return FQueue->Listed();
}

QStringList TMessageDesk::ListedLines() const {
  return FQueue->ListedLines();
}

const std::vector<TPendingJob>& TMessageDesk::PendingJobs() const {
  return FQueue->PendingJobs();
}

std::size_t TMessageDesk::PendingJobCount() const {
  return FQueue->PendingJobs().size();
}

const QStringList& TMessageDesk::PrinterProblems() const {
  return FQueue->PrinterProblems();
}

const QString& TMessageDesk::LastConfirmed() const {
  return FQueue->LastConfirmed();
}

TMessageStore* TMessageDesk::HistoryReader() const {
  return FStore ? FStore->Store() : nullptr;
}

std::vector<TStoredMessage> TMessageDesk::ListedMessages(const std::vector<std::int64_t>& storeIds) const {
  QM_ASSERT_OWNER_THREAD(FOwner);
  return FStore ? FStore->Messages(storeIds) : std::vector<TStoredMessage>();
}

TDurableStore* TMessageDesk::OpenedStore() {
  return FStore.get();
}

void TMessageDesk::PrintNow() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FQueue->PrintNow();
}

QString TMessageDesk::WaitForPendingJobs(std::chrono::milliseconds bound) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  return FQueue->WaitForPendingJobs(bound);
}

void TMessageDesk::ResetPacketsHeard() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  FPacketsHeard = 0;
}

void TMessageDesk::HourlyCounts(TDateTime utc) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  CountAcknowledgements(utc);
}

// --- What the view shows ------------------------------------------------------------------

TPrintStats TMessageDesk::LastPrinted() const {
  return FQueue->PrintJobs().LastJob();
}

std::string TMessageDesk::StoreFile() const {
  return FStore ? FStore->Path() : std::string();
}

bool TMessageDesk::StoreFailing() const {
  return FStore && FStore->Failing();
}

std::string TMessageDesk::LogFile() const {
  return FLogger ? FLogger->PhysicalLogFileName() : std::string();
}

// --- Helpers ------------------------------------------------------------------------------

void TMessageDesk::RetryStore() {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (FStore) FStore->Retry();
  if (!FAlarmsHeld.empty()) RaiseKeptAlarms();
}

void TMessageDesk::LogMessage(const std::string& text) {
  if (FLogger) FLogger->LogMessage(text);
}

void TMessageDesk::LogStored(std::int64_t storeId, const std::string& rawText) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (!FLogger) return;
  const std::uint64_t number = FLogger->LogMessage(rawText);
  if (storeId == 0 || number == 0) return;
  FLogPending.emplace_back(storeId, number);
}

void TMessageDesk::MarkWrittenLogLines() {
  // Marked only once the writer has the line in the file: a kill before that leaves the
  // message to be logged at the next start (logged twice rather than never).
  std::vector<std::int64_t> written;
  while (!FLogPending.empty() && FLogger && FLogger->Written(FLogPending.front().second)) {
    written.push_back(FLogPending.front().first);
    FLogPending.pop_front();
  }
  // A failing writer that recovers posts again; after a dropped entry the logger can no longer
  // tell, and those are logged again at the next start.
  if (!written.empty()) WithMessageStore([&](TDurableStore& store) { store.MarkLogged(written); });
}

bool TMessageDesk::WithMessageStore(const std::function<void(TDurableStore&)>& work) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  if (!FStore) return false;
  try {
    work(*FStore);
    FLastStoreFailure.clear();
    return true;
  } catch (const std::exception& e) {
    // The message goes on to the list, the log and paper; only its durable copy is missing.
    const QString text = QStringLiteral("The message store failed: ") + QString::fromUtf8(e.what());
    LogMessage(text.toStdString());
    if (text != FLastStoreFailure) {
      FLastStoreFailure = text;
      Hint(text);
      ReportFailureOnce(text, false);
    }
    return false;
  }
}

void TMessageDesk::ReportFailureOnce(const QString& reason, bool operatorAction) {
  // Once per failure, not once per message: the same failure again stays in the log.
  if (!operatorAction && reason == FLastFailure) return;
  FLastFailure = reason;
  emit FailureToReport(reason, operatorAction);
}

void TMessageDesk::Note(const std::string& text) {
  LogMessage(text);
  emit Noted(DisplayText(text));
}

void TMessageDesk::UpdateCount() {
  emit CountChanged(DisplayText(CountText(static_cast<int>(FQueue->Listed().size()), FChoices.PageSetting)));
}

TDateTime TMessageDesk::Now(TTimeFormat format) const {
  return FSetup.Clock ? FSetup.Clock(format) : CurrentDateTime(format);
}

std::uint32_t TMessageDesk::Ticks() const {
  return FSetup.Ticks ? FSetup.Ticks() : TickCount32();
}

void TMessageDesk::PurgeIfNewDay(TDateTime utc) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  // Once a UTC day the store lets go of what the logs let go of.
  if (FStore && static_cast<int>(utc) != FPurgeDay) Purge(utc);
}

void TMessageDesk::Purge(TDateTime utc) {
  FPurgeDay = static_cast<int>(utc);
  WithMessageStore([&](TDurableStore& store) { store.Purge(utc - kPurgeDays); });
  TPdfArchive(ArchiveFolder()).Purge(QDate::currentDate(), kPurgeDays);
}

QString TMessageDesk::ArchiveFolder() const {
  return QDir(DataDir()).filePath(QStringLiteral("archive"));
}

}  // namespace qm
