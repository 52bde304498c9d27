// The messages the desk sent, kept in a table of their own beside the traffic it heard.
#include <mutex>
#include <string>
#include <vector>

#include "base/Timing.h"
#include "store/MessageStore.h"
#include "store/SqliteKit.h"
#include "store/StoreStatements.h"

namespace qm {

using namespace sql;

TSentMessage TMessageStore::AddSent(const TSentMessage& message,
                                    const std::function<std::string(std::int64_t)>& numberFor,
                                    std::int64_t afterId, const TListingFor& listingFor,
                                    std::int64_t* listedId) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  RaiseSequence(FDb, FPath, "sent_messages", afterId);
  TSentMessage kept = message;
  {
    TStmt stmt(FDb, FPath,
               "INSERT INTO sent_messages(to_call, message_text, message_no, created_utc, state, tries, "
               "last_try_utc, ended_utc, source) VALUES (?, ?, '', ?, ?, ?, ?, ?, ?)");
    TUse use(stmt);
    use.Bind(kept.To).Bind(kept.Text).Bind(kept.CreatedUtc).Bind(StoredNumber(kept.State)).Bind(kept.Tries);
    use.Bind(kept.LastTryUtc).Bind(kept.EndedUtc).Bind(kept.Source).Run();
  }
  kept.Id = sqlite3_last_insert_rowid(FDb);
  kept.Number = numberFor(kept.Id);
  TStmt stmt(FDb, FPath, "UPDATE sent_messages SET message_no = ? WHERE id = ?");
  TUse(stmt).Bind(kept.Number).Bind(kept.Id).Run();
  std::int64_t listed = 0;
  if (listingFor) {
    listed = InsertMessage(listingFor(kept));
    TStmt own(FDb, FPath, "UPDATE messages SET sent_id = ?, logged = 1 WHERE id = ?");
    TUse(own).Bind(kept.Id).Bind(listed).Run();
  }
  t.Commit();
  if (listed != 0) {
    ++FNotIndexed;
    IndexWhenDue();
  }
  if (listedId) *listedId = listed;
  return kept;
}

void TMessageStore::UpdateSent(const TSentMessage& message) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TStmt stmt(FDb, FPath,
             "UPDATE sent_messages SET state = ?, tries = ?, last_try_utc = ?, ended_utc = ?, source = ? "
             "WHERE id = ?");
  TUse use(stmt);
  use.Bind(StoredNumber(message.State)).Bind(message.Tries).Bind(message.LastTryUtc).Bind(message.EndedUtc);
  use.Bind(message.Source).Bind(message.Id).Run();
  if (use.Changes() == 0)
    throw EMessageStoreError(StoreError(FPath, "no sent message " + std::to_string(message.Id)));
  t.Commit();
}

void TMessageStore::PutBackSent(const std::vector<TSentMessage>& messages, std::int64_t lastId) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TStmt stmt(FDb, FPath,
             "INSERT OR IGNORE INTO sent_messages(id, to_call, message_text, message_no, created_utc, state, "
             "tries, last_try_utc, ended_utc, source) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const TSentMessage& m : messages) {
    TUse use(stmt);
    use.Bind(m.Id).Bind(m.To).Bind(m.Text).Bind(m.Number).Bind(m.CreatedUtc).Bind(StoredNumber(m.State));
    use.Bind(m.Tries).Bind(m.LastTryUtc).Bind(m.EndedUtc).Bind(m.Source).Run();
  }
  RaiseSequence(FDb, FPath, "sent_messages", lastId);
  t.Commit();
}

std::vector<TSentMessage> TMessageStore::SentSince(double sinceUtc) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  TStmt stmt(
      FDb, FPath,
      "SELECT id, to_call, message_text, message_no, created_utc, state, tries, last_try_utc, ended_utc, "
      "source FROM sent_messages WHERE created_utc >= ?1 OR state = ?2 ORDER BY id");
  TUse use(stmt);
  use.Bind(sinceUtc).Bind(StoredNumber(ssSending));
  std::vector<TSentMessage> sent;
  while (use.Step())
    sent.push_back({.Id = use.Int(0),
                    .To = use.Text(1),
                    .Text = use.Text(2),
                    .Number = use.Text(3),
                    .CreatedUtc = use.Real(4),
                    .State = static_cast<TSentState>(use.Int(5)),
                    .Tries = static_cast<int>(use.Int(6)),
                    .LastTryUtc = use.Real(7),
                    .EndedUtc = use.Real(8),
                    .Source = use.Text(9)});
  return sent;
}

std::string SentStateText(const TSentMessage& m) {
  const auto at = [](double utc) { return FormatDateTime("hh:nn", utc) + " UTC"; };
  const auto tries = [](int n) { return n == 1 ? std::string("1 try") : std::to_string(n) + " tries"; };
  std::string state;
  switch (m.State) {
    case ssSending:
      state = m.Tries == 0 ? "waiting to go out"
                           : "sent, " + tries(m.Tries) + ", the last at " + at(m.LastTryUtc);
      break;
    case ssAcknowledged:
      state = "acknowledged at " + at(m.EndedUtc) + " after " + tries(m.Tries);
      break;
    case ssRejected:
      state = "rejected at " + at(m.EndedUtc);
      break;
    case ssGaveUp:
      state = "gave up after " + tries(m.Tries);
      break;
    case ssCancelled:
      state = "cancelled at " + at(m.EndedUtc);
      break;
  }
  return state;
}

}  // namespace qm
