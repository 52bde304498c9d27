// The desk's own messages: kept before they go out, resent on a schedule until the addressee
// answers, ended by its ack or rej, the operator, or the schedule's end, resumed after a restart.
#include <algorithm>
#include <cmath>
#include <utility>

#include "base/AsciiText.h"
#include "base/KillPoint.h"
#include "base/ProgramText.h"
#include "desk/MessageDesk.h"
#include "desk/PrintQueue.h"
#include "host/HostLink.h"
#include "store/DurableStore.h"

namespace qm {
namespace {

constexpr double kSecondsPerDay = 86400;
// The sent messages shown: those of this run and of earlier runs still being sent.
constexpr std::size_t kSentShownMost = 200;
// The senders whose reply-ack field is kept.
constexpr std::size_t kReplyAcksKept = 1000;

std::string Tries(int n) {
  return std::to_string(n) + (n == 1 ? " try" : " tries");
}

}  // namespace

std::string TMessageDesk::SentText(const TSentMessage& sent) {
  return sent.To + ": " + SentBody(sent);
}

std::string TMessageDesk::SentBody(const TSentMessage& sent) {
  return sent.Text + "{" + sent.Number;
}

std::chrono::steady_clock::duration TMessageDesk::SendSeconds(double seconds) const {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(FSetup.SendSecond *
                                                                         std::max(0.0, seconds));
}

THostLink* TMessageDesk::SendingLink() const {
  for (const QPointer<THostLink>& link : FAnsweringLinks)
    if (link && link->CanAnswer() && link->Answering() && link->SendRefusal().isEmpty()) return link;
  return nullptr;
}

std::string TMessageDesk::NoSendingLinkReason() const {
  for (const QPointer<THostLink>& link : FAnsweringLinks)
    if (link && link->CanAnswer() && link->Answering())
      return ProgramText(link->SourceKind() + ' ' + link->SourcePlace() + ": " + link->SendRefusal());
  return "no source that can transmit answers (a TNC or a verified APRS-IS login, with Answer on)";
}

TSentMessage TMessageDesk::Send(const std::string& to, const std::string& text, const std::string& where) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const std::string addressee = UpperCase(to);
  if (const std::string problem = SendProblem(addressee, text); !problem.empty()) throw ESendRefused(problem);
  if (FDemo) throw ESendRefused("Cannot send while the demo plays");
  const std::string& ownCall = FChoices.Selection.StationCall;
  if (const std::string problem = TransmitCallsignProblem(ownCall); !problem.empty())
    throw ESendRefused("Cannot send as " + (ownCall.empty() ? std::string("no callsign") : ownCall) + ": " +
                       problem);
  if (UpperCase(ownCall) == addressee) throw ESendRefused("Cannot send to the own call");
  THostLink* const link = SendingLink();
  if (!link) throw ESendRefused("Cannot send: " + NoSendingLinkReason());
  if (!FStore) throw ESendRefused("Cannot send: no message store is open to keep it");
  TSentMessage message;
  message.To = addressee;
  message.Text = text;
  message.CreatedUtc = Now(tfUTC);
  message.Source = ProgramText(link->SourceKind() + ' ' + link->SourcePlace());
  // Listed as the desk's own traffic in the same commit, so a kill cannot keep the one
  // without the other.
  TStoredMessage listing;
  std::int64_t listedId = 0;
  const TMessageStore::TListingFor listingFor = [&](const TSentMessage& kept) {
    listing = OwnTrafficRow(kept);
    return listing;
  };
  try {
    message = FStore->AddSent(
        message, [](std::int64_t id) { return MessageNumberFor(id); },
        FChoices.OwnTraffic ? listingFor : TMessageStore::TListingFor(), &listedId);
  } catch (const EMessageStoreError& e) {
    // Nothing goes out that the next start would not know of: it could never stop resending.
    throw ESendRefused(std::string("Cannot send: the message store cannot keep it (") + e.what() + ")");
  }
  FSentShown.push_back(message);
  if (FSentShown.size() > kSentShownMost) FSentShown.erase(FSentShown.begin());
  FOutgoing.push_back({message, std::chrono::steady_clock::now(), false});
  SendDue();
  LogMessage("Message " + message.Number + " to " + message.To + " was sent " + where);
  if (listedId != 0) ListOwnTraffic(listing, listedId);
  return FOutgoing.empty() || FOutgoing.back().Kept.Id != message.Id ? message : FOutgoing.back().Kept;
}

TStoredMessage TMessageDesk::OwnTrafficRow(const TSentMessage& sent) const {
  TStoredMessage row;
  row.LocalTime = Now(tfLocal);
  row.UtcTime = Now(tfUTC);
  row.Source = FChoices.Selection.StationCall;
  row.Addressee = sent.To;
  row.MessageText = sent.Text;
  row.MessageId = sent.Number;
  row.Kind = static_cast<int>(mkPersonal);
  row.RawText = SendInformation(sent.To, sent.Text, sent.Number);
  // On paper beside the traffic heard, and told apart from it by its second line.
  row.Line1 = EntryLine1(row.LocalTime, row.UtcTime);
  row.Line2 = "  " + row.Source + " sent on " + sent.Source;
  row.Line3 = "  " + sent.To + ": " + SentBody(sent);
  return row;
}

void TMessageDesk::ListOwnTraffic(const TStoredMessage& row, std::int64_t storeId) {
  TTaking taking;
  taking.Entry.Key = FQueue->NextKey();
  taking.Entry.StoreId = storeId;
  taking.Entry.Lines[0] = row.Line1;
  taking.Entry.Lines[1] = row.Line2;
  taking.Entry.Lines[2] = row.Line3;
  taking.Entry.Own = true;
  taking.Own = true;
  // Behind what is on its way, as it would be heard.
  FTaking.push_back(std::move(taking));
  FollowTaken(false);
}

bool TMessageDesk::CancelSent(const std::string& number, const std::string& where) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const auto out = std::find_if(FOutgoing.begin(), FOutgoing.end(),
                                [&](const TOutgoing& o) { return o.Kept.Number == number; });
  if (out == FOutgoing.end()) return false;
  EndSent(static_cast<std::size_t>(out - FOutgoing.begin()), ssCancelled,
          "Cancelled " + where + " after " + Tries(out->Kept.Tries) + ": to " + SentText(out->Kept));
  SendDue();
  return true;
}

void TMessageDesk::RestoreSent() {
  if (!FStore) return;
  std::vector<TSentMessage> kept;
  try {
    kept = FStore->SentSince(Now(tfUTC));
  } catch (const EMessageStoreError& e) {
    LogMessage(std::string("The sent messages could not be read: ") + e.what());
    return;
  }
  // Only those still being sent: the day's others are history.
  for (TSentMessage& sent : kept) {
    if (sent.State != ssSending) continue;
    FSentShown.push_back(sent);
    FOutgoing.push_back({std::move(sent), std::chrono::steady_clock::now(), true});
  }
  if (FOutgoing.empty()) return;
  QMetaObject::invokeMethod(
      this, [this] { SendDue(); }, Qt::QueuedConnection);
}

bool TMessageDesk::ResumeOrGiveUp(TOutgoing& out) {
  out.Restored = false;
  const TSendSchedule schedule = FChoices.SendSchedule();
  const TSentMessage& sent = out.Kept;
  if (sent.Tries == 0) return true;  // killed before its first try: it goes now
  // What is left of the schedule since its last try, and how much of that has passed.
  const double since = (Now(tfUTC) - sent.LastTryUtc) * kSecondsPerDay;
  double left = 0;
  for (int done = sent.Tries; done <= schedule.Tries(); ++done) left += schedule.GapAfter(done);
  if (sent.Tries >= schedule.Tries() || since >= left) return false;
  out.Due = std::chrono::steady_clock::now() + SendSeconds(schedule.GapAfter(sent.Tries) - since);
  return true;
}

void TMessageDesk::Reschedule(const TSendSchedule& before) {
  const TSendSchedule schedule = FChoices.SendSchedule();
  if (schedule == before || FOutgoing.empty()) return;
  for (TOutgoing& out : FOutgoing)
    if (!out.Restored && out.Kept.Tries > 0)
      out.Due +=
          SendSeconds(schedule.GapAfter(out.Kept.Tries)) - SendSeconds(before.GapAfter(out.Kept.Tries));
  SendDue();
}

void TMessageDesk::SendDue() {
  FSendTimer.stop();
  const int tries = FChoices.SendSchedule().Tries();
  for (std::size_t i = 0; i < FOutgoing.size();) {
    TOutgoing& out = FOutgoing[i];
    if (out.Restored && !ResumeOrGiveUp(out)) {
      EndSent(i, ssGaveUp,
              "Gave up after " + Tries(out.Kept.Tries) +
                  " (its schedule ended while the desk was closed): to " + SentText(out.Kept));
      continue;
    }
    if (out.Due > std::chrono::steady_clock::now()) {
      ++i;
      continue;
    }
    if (out.Kept.Tries + out.Missed >= tries) {
      const std::string missed = out.Missed == 0 ? std::string()
                                                 : " and " + std::to_string(out.Missed) +
                                                       (out.Missed == 1 ? " turn" : " turns") +
                                                       " with no source that could transmit";
      EndSent(i, ssGaveUp, "Gave up after " + Tries(out.Kept.Tries) + missed + ": to " + SentText(out.Kept));
      continue;
    }
    if (THostLink* const link = SendingLink())
      TrySend(out, *link);
    else
      MissTurn(out, NoSendingLinkReason());
    ++i;
  }
  if (FOutgoing.empty()) return;
  const auto next = std::min_element(FOutgoing.begin(), FOutgoing.end(),
                                     [](const TOutgoing& a, const TOutgoing& b) { return a.Due < b.Due; });
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(next->Due - std::chrono::steady_clock::now());
  FSendTimer.setSingleShot(true);
  FSendTimer.start(std::max<std::chrono::milliseconds>(wait, std::chrono::milliseconds(0)));
}

void TMessageDesk::TrySend(TOutgoing& out, THostLink& link) {
  TSentMessage& sent = out.Kept;
  const TSendSchedule schedule = FChoices.SendSchedule();
  if (!FAckLimiter.AskOwnMessage(Ticks())) {
    // The minute's budget is spent: it waits its next turn, which is no try.
    LogMessage("Did not send to " + SentText(sent) + ": " + std::to_string(TAckLimiter::PerMinute) +
               " messages and acknowledgements went out this minute");
    out.Due = std::chrono::steady_clock::now() + SendSeconds(schedule.GapAfter(std::max(sent.Tries, 1)));
    return;
  }
  const double lastTry = sent.LastTryUtc;
  ++sent.Tries;
  sent.LastTryUtc = Now(tfUTC);
  out.Due = std::chrono::steady_clock::now() + SendSeconds(schedule.GapAfter(sent.Tries));
  const std::string tryText = sent.Tries == 1 ? std::string()
                                              : " (try " + std::to_string(sent.Tries) + " of " +
                                                    std::to_string(schedule.Tries()) + ")";
  sent.Source = ProgramText(link.SourceKind() + ' ' + link.SourcePlace());
  // In the file before it goes out: a restart counts every try that may be on the air.
  KillPoint();  // the try not yet kept
  KeepSentState(sent);
  const auto reply =
      std::find_if(FReplyAcks.begin(), FReplyAcks.end(), [&](const auto& r) { return r.first == sent.To; });
  const std::optional<std::string> replyAck =
      reply == FReplyAcks.end() ? std::nullopt : std::optional<std::string>(reply->second);
  const QString failure = link.SendOwnPacket(FChoices.Selection.StationCall,
                                             SendInformation(sent.To, sent.Text, sent.Number, replyAck));
  KillPoint();  // handed to the link, not yet logged
  if (failure.isEmpty()) {
    LogMessage((sent.Tries == 1 ? "Sent to " : "Sent again to ") + SentText(sent) + tryText + " on " +
               sent.Source);
    return;
  }
  // The link took nothing (not connected): no try went on the air.
  --sent.Tries;
  sent.LastTryUtc = lastTry;
  KeepSentState(sent);
  MissTurn(out, ProgramText(failure));
}

void TMessageDesk::MissTurn(TOutgoing& out, const std::string& why) {
  // Nothing went out, so no try is counted; its turn passes all the same.
  ++out.Missed;
  out.Due = std::chrono::steady_clock::now() +
            SendSeconds(FChoices.SendSchedule().GapAfter(out.Kept.Tries + out.Missed));
  Note("Did not send to " + SentText(out.Kept) + ": " + why);
}

void TMessageDesk::EndSent(std::size_t index, TSentState state, const std::string& line) {
  TSentMessage sent = FOutgoing[index].Kept;
  FOutgoing.erase(FOutgoing.begin() + static_cast<std::ptrdiff_t>(index));
  sent.State = state;
  sent.EndedUtc = Now(tfUTC);
  // In the file before the line: a restart never resends what the log says has ended.
  KeepSentState(sent);
  KillPoint();  // its end kept, not yet logged
  Note(line);
}

void TMessageDesk::KeepSentState(const TSentMessage& sent) {
  try {
    if (FStore) FStore->UpdateSent(sent);
  } catch (const EMessageStoreError& e) {
    LogMessage("The message store did not keep the state of message " + sent.Number + ": " + e.what());
  }
  const auto shown = std::find_if(FSentShown.begin(), FSentShown.end(),
                                  [&](const TSentMessage& s) { return s.Id == sent.Id; });
  if (shown != FSentShown.end()) *shown = sent;
  emit SentChanged();
}

bool TMessageDesk::TakeAnswer(const TAprsMsgPacket& packet) {
  const std::string& ownCall = FChoices.Selection.StationCall;
  if (FDemo || ownCall.empty() || packet.Addressee != ownCall) return false;
  // Acks and rejs are read from the body: the parser leaves them without a kind or text.
  const std::string_view body = packet.Body;
  if (body.size() <= 10 || body[9] != ':') return false;
  const std::string sender = UpperCase(packet.Source.FullCall);
  std::optional<TSendAnswer> answer = ReadSendAnswer(body.substr(10));
  if (!answer && packet.Kind != mkPersonal) return false;
  if (const std::string replay = packet.Origin > 0 && packet.Origin <= FReplayOrigins.size()
                                     ? FReplayOrigins[packet.Origin - 1]
                                     : std::string();
      !replay.empty()) {
    // Heard some other time: it answers none of ours, nor tells how the sender reads numbers now.
    const std::optional<std::string> shown = ReplyAckShown(packet.MessageId);
    const std::string acked = shown ? packet.MessageId.substr(packet.MessageId.find('}') + 1) : std::string();
    if ((answer || !acked.empty()) && !std::exchange(FReplayAnswerSaid, true))
      LogMessage("Ignored " + std::string(answer && answer->Rejected ? "a rej" : "an ack") + " from " +
                 packet.Source.FullCall + " for message " + (answer ? answer->Number : acked) + " heard on " +
                 replay + ": answers on a replay end no message (those that follow are ignored unlogged)");
    return false;
  }
  // A message of the sender's own is traffic whatever it answers.
  const bool inMessage = !answer;
  if (inMessage) {
    // A message of the sender's own: it shows whether the sender reads reply-acks, and in
    // that form it may carry the ack of ours ("{MM}AA").
    const auto reply =
        std::find_if(FReplyAcks.begin(), FReplyAcks.end(), [&](const auto& r) { return r.first == sender; });
    const std::optional<std::string> shown = ReplyAckShown(packet.MessageId);
    if (!shown) {
      if (reply != FReplyAcks.end() && !packet.MessageId.empty()) FReplyAcks.erase(reply);
      return false;
    }
    if (reply != FReplyAcks.end())
      reply->second = *shown;
    else
      FReplyAcks.emplace_back(sender, *shown);
    // Forged senders cannot grow it without bound: the oldest is forgotten (it gets plain numbers).
    if (FReplyAcks.size() > kReplyAcksKept) FReplyAcks.erase(FReplyAcks.begin());
    const std::string acked = packet.MessageId.substr(packet.MessageId.find('}') + 1);
    if (acked.empty()) return false;
    answer = TSendAnswer{acked, false};
  }
  const auto out = std::find_if(FOutgoing.begin(), FOutgoing.end(), [&](const TOutgoing& o) {
    return o.Kept.Number == answer->Number && o.Kept.To == sender;
  });
  if (out == FOutgoing.end()) {
    // A second copy of an answer already taken says nothing new.
    const bool ended = std::any_of(FSentShown.begin(), FSentShown.end(), [&](const TSentMessage& s) {
      return s.Number == answer->Number && s.To == sender && s.State != ssSending;
    });
    if (inMessage) return false;
    if (!ended)
      LogMessage("Ignored " + std::string(answer->Rejected ? "a rej" : "an ack") + " from " +
                 packet.Source.FullCall + " for message " + answer->Number +
                 ": no message with that number is being sent to it");
    return ended;
  }
  const std::string what = SentBody(out->Kept);
  const std::string tries = Tries(out->Kept.Tries);
  EndSent(static_cast<std::size_t>(out - FOutgoing.begin()), answer->Rejected ? ssRejected : ssAcknowledged,
          (answer->Rejected ? "Rejected by " : "Acknowledged by ") + packet.Source.FullCall + " after " +
              tries + ": " + what);
  SendDue();
  return !inMessage;
}

}  // namespace qm
