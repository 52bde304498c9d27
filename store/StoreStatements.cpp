#include "store/StoreStatements.h"

#include "store/StoreSchema.h"

namespace qm::sql {
namespace {

constexpr const char* kMessageColumns =
    "id, local_time, utc_time, source, destination, path, addressee, message_text, message_no, kind, "
    "state_code, raw_text, line1, line2, line3, print_state, job_id, full_text_printed, full_text, "
    "(SELECT spooler_job FROM jobs WHERE jobs.id = messages.job_id), answered, alarm_state, alarm_kind, "
    "acknowledged_by, acknowledged_where, acknowledged_utc";

constexpr const char* kJobColumns =
    "id, kind, utc_time, printer, spooler_job, state, failure, document, token";

}  // namespace

TStoreStatements::TStoreStatements(sqlite3* db, const std::string& path)
    : Db(db),
      Path(path),
      Begin(db, path, "BEGIN"),
      BeginWrite(db, path, "BEGIN IMMEDIATE"),
      Commit(db, path, "COMMIT"),
      Rollback(db, path, "ROLLBACK"),
      Savepoint(db, path, "SAVEPOINT change"),
      Release(db, path, "RELEASE change"),
      RollbackTo(db, path, "ROLLBACK TO change"),
      AddMessage(db, path,
                 "INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, "
                 "message_text, message_no, kind, state_code, raw_text, line1, line2, line3, full_text, "
                 "answered, alarm_state, alarm_kind, logged) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                 "?, ?, ?, "
                 "?, ?, 0)"),
      SetFullText(db, path, "UPDATE messages SET full_text = ?, full_text_printed = ? WHERE id = ?"),
      SetAnswered(db, path, "UPDATE messages SET answered = ? WHERE id = ?"),
      AcknowledgeAlarm(db, path,
                       "UPDATE messages SET alarm_state = ?1, acknowledged_by = ?2, acknowledged_where = ?3, "
                       "acknowledged_utc = ?4 WHERE id = ?5 AND alarm_state = ?6"),
      Sounding(
          db, path,
          std::string("SELECT ") + kMessageColumns + " FROM messages WHERE alarm_state = ?1 ORDER BY id"),
      Message(db, path, std::string("SELECT ") + kMessageColumns + " FROM messages WHERE id = ?"),
      Listed(db, path,
             std::string("SELECT ") + kMessageColumns +
                 " FROM messages WHERE print_state IN (0, 1) AND cleared = 0 ORDER BY id"),
      FullTextsUnprinted(db, path,
                         std::string("SELECT ") + kMessageColumns +
                             " FROM messages WHERE full_text IS NOT NULL AND full_text_printed = 0 "
                             "ORDER BY id"),
      AddJob(db, path, "INSERT INTO jobs(kind, utc_time, printer, document, token) VALUES (?, ?, ?, ?, ?)"),
      AddJobMessage(db, path, "INSERT INTO job_messages(job_id, position, message_id) VALUES (?, ?, ?)"),
      PutInJob(db, path,
               "UPDATE messages SET print_state = 1, job_id = ?1 WHERE id = ?2 AND print_state IN (0, 1)"),
      SetSpoolerJob(db, path, "UPDATE jobs SET spooler_job = ? WHERE id = ?"),
      SetJobDocument(db, path, "UPDATE jobs SET document = ? WHERE id = ?"),
      JobState(db, path, "SELECT kind, state FROM jobs WHERE id = ?"),
      SetJobState(db, path, "UPDATE jobs SET state = ?1, failure = coalesce(?2, failure) WHERE id = ?3"),
      PrintList(db, path,
                "UPDATE messages SET print_state = 2, job_id = ?1 WHERE print_state <> 2 AND id IN "
                "(SELECT message_id FROM job_messages WHERE job_id = ?1)"),
      PrintListPiece(
          db, path,
          "UPDATE messages SET print_state = 2, job_id = ?1 WHERE print_state <> 2 AND id IN "
          "(SELECT message_id FROM job_messages WHERE job_id = ?1 AND position >= ?2 AND position < ?3)"),
      PrintFullText(db, path,
                    "UPDATE messages SET full_text_printed = 1 WHERE full_text IS NOT NULL AND id IN "
                    "(SELECT message_id FROM job_messages WHERE job_id = ?1)"),
      ReturnList(db, path,
                 "UPDATE messages SET print_state = CASE cleared WHEN 0 THEN 0 ELSE 3 END "
                 "WHERE job_id = ? AND print_state = 1"),
      Job(db, path, std::string("SELECT ") + kJobColumns + " FROM jobs WHERE id = ?"),
      // The spooler's number first; a job it never numbered (a page to a file) by its own.
      JobByNumber(db, path,
                  std::string("SELECT ") + kJobColumns +
                      " FROM jobs WHERE ?1 > 0 AND (spooler_job = ?1 OR (spooler_job = 0 AND id = ?1)) "
                      "ORDER BY spooler_job = ?1 DESC, id DESC LIMIT 1"),
      JobMessages(db, path, "SELECT message_id FROM job_messages WHERE job_id = ? ORDER BY position"),
      PendingJobs(db, path, std::string("SELECT ") + kJobColumns + " FROM jobs WHERE state = 0 ORDER BY id"),
      PendingWithoutSpooler(db, path,
                            "SELECT id FROM jobs WHERE state = 0 AND spooler_job = 0 AND token = '' "
                            "ORDER BY id"),
      Unlogged(db, path,
               std::string("SELECT ") + kMessageColumns +
                   " FROM messages WHERE id > (SELECT id FROM logged_upto) AND logged = 0 ORDER BY id"),
      MarkLogged(db, path, "UPDATE messages SET logged = 1 WHERE id = ?"),
      LoggedUpto(db, path, std::string("SELECT ") + kLoggedUptoNow),
      MoveLoggedUpto(db, path, "UPDATE logged_upto SET id = ?1 WHERE id < ?1"),
      Clear(db, path, "UPDATE messages SET print_state = 3 WHERE print_state = 0 AND id >= ?1 AND id <> ?2"),
      ClearInJob(db, path, "UPDATE messages SET cleared = 1 WHERE print_state = 1 AND id >= ?1 AND id <> ?2"),
      PurgeMessages(db, path,
                    "DELETE FROM messages WHERE utc_time < ?1 AND print_state IN (2, 3) AND alarm_state <> 1 "
                    "AND NOT (full_text IS NOT NULL AND full_text_printed = 0) "
                    "AND NOT EXISTS (SELECT 1 FROM job_messages jm JOIN jobs j ON j.id = jm.job_id "
                    "WHERE jm.message_id = messages.id AND j.state = 0)"),
      PurgeJobs(db, path,
                "DELETE FROM jobs WHERE utc_time < ?1 AND state <> 0 "
                "AND NOT EXISTS (SELECT 1 FROM job_messages WHERE job_id = jobs.id)") {}

}  // namespace qm::sql
