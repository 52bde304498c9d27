// The bulletin board read from the kept messages: a line per sender and line ID, the newest
// copy standing for it.
#include "store/MessageStore.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "store/SqliteKit.h"
#include "store/StoreStatements.h"

namespace qm {

using namespace sql;

namespace {

constexpr double kHoursPerDay = 24;

// A line is off the board while a cleared copy of it says what its newest copy says: the
// sender's repeats of a cleared line stay cleared, a new text under the ID comes back. The
// copies of one kind since ?2 are numbered per line newest first: sender and ID in any case
// and the ID's blanks trimmed, as stations resend them.
constexpr const char* kBoard =
    "SELECT l.id, l.source, l.line, l.message_text, l.utc_time FROM ("
    " SELECT id, source, upper(trim(addressee)) AS line, message_text, utc_time,"
    "  row_number() OVER (PARTITION BY upper(source), upper(trim(addressee))"
    "   ORDER BY utc_time DESC, id DESC) AS newest"
    " FROM messages WHERE kind = ?1 AND utc_time >= ?2) AS l"
    " WHERE l.newest = 1 AND NOT EXISTS (SELECT 1 FROM messages c WHERE c.bulletin_cleared = 1"
    "  AND c.kind = ?1 AND upper(c.source) = upper(l.source) AND upper(trim(c.addressee)) = l.line"
    "  AND c.message_text = l.message_text)"
    " ORDER BY upper(l.source), l.line";

std::vector<TBulletinLine> BoardOf(sqlite3* db, const std::string& path, double utcNow,
                                   const TBulletinAges& ages) {
  TStmt stmt(db, path, kBoard);
  std::vector<TBulletinLine> board;
  for (const auto& [kind, hours] : {std::pair{kStoredBulletin, ages.BulletinHours},
                                    std::pair{kStoredAnnouncement, ages.AnnouncementHours}}) {
    TUse use(stmt);
    use.Bind(kind).Bind(utcNow - hours / kHoursPerDay);
    while (use.Step())
      board.push_back({.Id = use.Int(0),
                       .From = use.Text(1),
                       .LineId = use.Text(2),
                       .Kind = kind,
                       .Text = use.Text(3),
                       .UtcTime = use.Real(4)});
  }
  return board;
}

}  // namespace

std::vector<TBulletinLine> TMessageStore::BulletinBoard(double utcNow, const TBulletinAges& ages) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  return BoardOf(FDb, FPath, utcNow, ages);
}

std::vector<TBulletinLine> THistoryReader::BulletinBoard(double utcNow, const TBulletinAges& ages) const {
  return BoardOf(FDb, FPath, utcNow, ages);
}

int TMessageStore::ClearBulletin(const std::string& from, const std::string& lineId, double utcNow,
                                 const TBulletinAges& ages) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TStmt stmt(
      FDb, FPath,
      "UPDATE messages SET bulletin_cleared = 1 WHERE kind IN (?1, ?2) AND upper(source) = upper(?3) AND "
      "upper(trim(addressee)) = upper(trim(?4)) AND bulletin_cleared = 0 AND "
      "utc_time >= CASE kind WHEN ?1 THEN ?5 ELSE ?6 END");
  TUse use(stmt);
  use.Bind(kStoredBulletin)
      .Bind(kStoredAnnouncement)
      .Bind(from)
      .Bind(lineId)
      .Bind(utcNow - ages.BulletinHours / kHoursPerDay)
      .Bind(utcNow - ages.AnnouncementHours / kHoursPerDay)
      .Run();
  const int cleared = use.Changes();
  t.Commit();
  return cleared;
}

}  // namespace qm
