// The store's door: its changes as the owner hands them, how each goes into the file, and
// the end of a run.
#include "store/DurableStore.h"

#include <algorithm>
#include <utility>

#include "store/DurableStoreParts.h"

namespace qm {

std::string KeptForNextStartText(std::size_t kept, std::size_t lost) {
  std::string text = std::to_string(kept) + " unprinted messages are kept for the next start";
  if (lost > 0) text += "; " + std::to_string(lost) + " could not be stored and are lost";
  return text;
}

TDurableStore::TDurableStore(std::string path, TNoteEvent onNote)
    : FPath(std::move(path)), FOnNote(std::move(onNote)) {
  TidyAfterKill(FPath);
  Open();
}

TDurableStore::~TDurableStore() {
  if (FThread.joinable()) {
    {
      const std::lock_guard guard(FGuard);
      FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  FOnNote = nullptr;  // the owner may be half gone
  if (!FHeld.empty()) WriteHeld();
}

void TDurableStore::Note(const std::string& text, bool trouble) const {
  if (!FOnNote) return;
  if (FPost && !FOwner.IsCurrent()) {
    FPost([onNote = FOnNote, text, trouble] { onNote(text, trouble); });
    return;
  }
  FOnNote(text, trouble);
}

std::int64_t TDurableStore::MessageInFile(std::int64_t id) const {
  if (id > 0) return id;
  const auto it = FMessageIds.find(id);
  return it == FMessageIds.end() ? 0 : it->second;
}

std::int64_t TDurableStore::JobInFile(std::int64_t id) const {
  if (id > 0) return id;
  const auto it = FJobIds.find(id);
  return it == FJobIds.end() ? 0 : it->second;
}

std::int64_t TDurableStore::Apply(const TChange& c, TIdMap* madeMessages, TIdMap* madeJobs) {
  TMessageStore& s = *FStore;
  // Ids made earlier in the same batch first.
  const auto messageInFile = [&](std::int64_t id) {
    const auto it = madeMessages ? madeMessages->find(id) : FMessageIds.end();
    return madeMessages && it != madeMessages->end() ? it->second : MessageInFile(id);
  };
  const auto jobInFile = [&](std::int64_t id) {
    const auto it = madeJobs ? madeJobs->find(id) : FJobIds.end();
    return madeJobs && it != madeJobs->end() ? it->second : JobInFile(id);
  };
  switch (c.Op) {
    case TChange::opAdd: {
      const std::int64_t id = s.Add(c.Message);
      if (c.Id < 0) (madeMessages ? *madeMessages : FMessageIds)[c.Id] = id;
      return id;
    }
    case TChange::opSetFullText:
      s.SetFullText(Known(messageInFile(c.Id), c.Id, FPath, "message"), c.Text, c.ToPrint);
      return c.Id;
    case TChange::opSetAnswered:
      s.SetAnswered(Known(messageInFile(c.Id), c.Id, FPath, "message"), c.Text);
      return c.Id;
    case TChange::opAcknowledgeAlarms: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages)
        if (const std::int64_t id = messageInFile(m); id != 0) ids.push_back(id);
      return s.AcknowledgeAlarms(ids, c.Text, c.Place, c.UtcTime);
    }
    case TChange::opBeginJob: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      const std::int64_t job = s.BeginJob(c.Kind, ids, c.Printer, c.UtcTime, c.Text, c.Token);
      if (c.Id < 0) (madeJobs ? *madeJobs : FJobIds)[c.Id] = job;
      return job;
    }
    case TChange::opAddToJob: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      s.AddToJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), ids, c.Position);
      return c.Id;
    }
    case TChange::opSetJobDocument:
      s.SetJobDocument(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Text);
      return c.Id;
    case TChange::opSetSpoolerJob:
      s.SetSpoolerJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.SpoolerJob);
      return c.Id;
    case TChange::opPrintPiece:
      s.PrintJobPiece(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Position, c.Until);
      return c.Id;
    case TChange::opCompleteJob:
      s.CompleteJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Position);
      return c.Id;
    case TChange::opFailJob:
      s.FailJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Text);
      return c.Id;
    case TChange::opClear:
      return s.ClearListed(FClearFrom, c.Id == 0 ? 0 : messageInFile(c.Id));
    case TChange::opFailPending:
      return s.FailPendingWithoutSpooler(c.Text);
    case TChange::opMarkLogged: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      s.MarkLogged(ids);
      return 0;
    }
  }
  return 0;
}

std::int64_t TDurableStore::Add(const TStoredMessage& message) {
  TChange c;
  c.Op = TChange::opAdd;
  c.Message = message;
  return Submit(std::move(c));
}

void TDurableStore::SetFullText(std::int64_t id, const std::string& text, bool toPrint) {
  TChange c;
  c.Op = TChange::opSetFullText;
  c.Id = id;
  c.Text = text;
  c.ToPrint = toPrint;
  Submit(std::move(c));
}

void TDurableStore::SetAnswered(std::int64_t id, const std::string& answered) {
  TChange c;
  c.Op = TChange::opSetAnswered;
  c.Id = id;
  c.Text = answered;
  Submit(std::move(c));
}

void TDurableStore::AcknowledgeAlarms(const std::vector<std::int64_t>& ids, const std::string& by,
                                      const std::string& where, double utc) {
  if (ids.empty()) return;
  TChange c;
  c.Op = TChange::opAcknowledgeAlarms;
  c.Messages = ids;
  c.Text = by;
  c.Place = where;
  c.UtcTime = utc;
  Submit(std::move(c));
}

std::int64_t TDurableStore::BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages,
                                     const std::string& printer, double utcTime, const std::string& document,
                                     const std::string& token) {
  TChange c;
  c.Op = TChange::opBeginJob;
  c.Token = token;
  c.Kind = kind;
  const std::size_t first = kind == jkList ? std::min(messages.size(), kJobPiece) : messages.size();
  c.Messages.assign(messages.begin(), messages.begin() + static_cast<std::ptrdiff_t>(first));
  c.Printer = printer;
  c.UtcTime = utcTime;
  c.Text = document;
  const std::int64_t job = Submit(std::move(c));
  if (first < messages.size()) FPiecedJobs[job] = messages.size();
  for (std::size_t from = first; from < messages.size(); from += kJobPiece) {
    TChange more;
    more.Op = TChange::opAddToJob;
    more.Id = job;
    more.Position = static_cast<std::int64_t>(from);
    const std::size_t to = std::min(messages.size(), from + kJobPiece);
    more.Messages.assign(messages.begin() + static_cast<std::ptrdiff_t>(from),
                         messages.begin() + static_cast<std::ptrdiff_t>(to));
    Submit(std::move(more));
  }
  return job;
}

void TDurableStore::SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob) {
  TChange c;
  c.Op = TChange::opSetSpoolerJob;
  c.Id = job;
  c.SpoolerJob = spoolerJob;
  Submit(std::move(c));
}

void TDurableStore::SetJobDocument(std::int64_t job, std::string document) {
  TChange c;
  c.Op = TChange::opSetJobDocument;
  c.Id = job;
  c.Text = std::move(document);
  Submit(std::move(c));
}

void TDurableStore::CompleteJob(std::int64_t job) {
  TChange c;
  c.Op = TChange::opCompleteJob;
  c.Id = job;
  if (const auto pieced = FPiecedJobs.find(job); pieced != FPiecedJobs.end()) {
    for (; c.Position + static_cast<std::int64_t>(kJobPiece) < static_cast<std::int64_t>(pieced->second);
         c.Position += static_cast<std::int64_t>(kJobPiece)) {
      TChange piece;
      piece.Op = TChange::opPrintPiece;
      piece.Id = job;
      piece.Position = c.Position;
      piece.Until = c.Position + static_cast<std::int64_t>(kJobPiece);
      Submit(std::move(piece));
    }
    FPiecedJobs.erase(pieced);
  }
  Submit(std::move(c));
}

void TDurableStore::FailJob(std::int64_t job, const std::string& failure) {
  FPiecedJobs.erase(job);
  TChange c;
  c.Op = TChange::opFailJob;
  c.Id = job;
  c.Text = failure;
  Submit(std::move(c));
}

int TDurableStore::ClearListed(std::int64_t keep) {
  Drain();
  const std::lock_guard guard(FGuard);
  TChange c;
  c.Op = TChange::opClear;
  c.Id = keep;
  const bool now = FHeld.empty() && IsOpen();
  const std::int64_t cleared = Submit(std::move(c));
  return now && FHeld.empty() ? static_cast<int>(cleared) : 0;
}

int TDurableStore::FailPendingWithoutSpooler(const std::string& failure) {
  Drain();
  const std::lock_guard guard(FGuard);
  TChange c;
  c.Op = TChange::opFailPending;
  c.Text = failure;
  const bool now = FHeld.empty() && IsOpen();
  const std::int64_t failed = Submit(std::move(c));
  return now && FHeld.empty() ? static_cast<int>(failed) : 0;
}

void TDurableStore::MarkLogged(const std::vector<std::int64_t>& ids) {
  if (ids.empty()) return;
  TChange c;
  c.Op = TChange::opMarkLogged;
  c.Messages = ids;
  Submit(std::move(c));
}

int TDurableStore::Purge(double utcCutoff) {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!FHeld.empty() || !IsOpen()) return 0;
  try {
    return FStore->Purge(utcCutoff);
  } catch (const EMessageStoreError& e) {
    if (e.Kind() == EMessageStoreError::ekRefused) throw;
    StartFailing(e.what());
    return 0;
  }
}

std::vector<std::string> TDurableStore::EndOfRunLines(const std::vector<std::int64_t>& listed) {
  Flush();
  const std::lock_guard guard(FGuard);
  std::size_t kept = 0;
  for (const std::int64_t id : listed) kept += IsKept(id) ? 1 : 0;
  std::vector<std::string> lines;
  if (!listed.empty()) lines.push_back(KeptForNextStartText(kept, listed.size() - kept));
  if (!FHeld.empty())
    lines.push_back("The message store " + FPath + " could not take " + std::to_string(FHeld.size()) +
                    " changes (printed, cleared, fetched); messages they concern may be listed again at the "
                    "next start");
  return lines;
}

}  // namespace qm
