// The prepared statements of an open store and the transaction its changes run in.
#pragma once

#include <sqlite3.h>

#include <string>

#include "store/MessageStore.h"
#include "store/SqliteKit.h"

namespace qm {
namespace sql {

// The prepared statements of one store, made once at open.
struct TStoreStatements {
  TStoreStatements(sqlite3* db, const std::string& path);

  sqlite3* Db;
  const std::string& Path;
  TStmt Begin, BeginWrite, Commit, Rollback, Savepoint, Release, RollbackTo;
  TStmt AddMessage, SetFullText, SetAnswered, AcknowledgeAlarm, Sounding, Message, Listed, FullTextsUnprinted;
  TStmt AddJob, AddJobMessage, PutInJob, SetSpoolerJob, SetJobDocument, JobState, SetJobState, PrintList,
      PrintListPiece, PrintFullText, ReturnList, Job, JobByNumber, JobMessages, PendingJobs,
      PendingWithoutSpooler, Unlogged, MarkLogged, LoggedUpto, MoveLoggedUpto;
  TStmt Clear, ClearInJob, PurgeMessages, PurgeJobs;
};

// A transaction that rolls back unless committed: a failed change leaves nothing behind,
// and the connection is ready for the next one (after a full disk, too).
class TTransaction {
 public:
  // Inside a batch (TMessageStore::Batch) it is a savepoint of the batch's transaction.
  TTransaction(TStoreStatements& s, bool write) : FS(s), FNested(!sqlite3_get_autocommit(s.Db)) {
    if (FNested)
      TUse(s.Savepoint).Run();
    else
      TUse(write ? s.BeginWrite : s.Begin).Run();
  }
  ~TTransaction() {
    if (FDone || sqlite3_get_autocommit(FS.Db)) return;
    if (FNested) {
      Undo(FS.RollbackTo);
      Undo(FS.Release);
    } else {
      Undo(FS.Rollback);
    }
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  void Commit() {
    if (FNested)
      TUse(FS.Release).Run();
    else
      TUse(FS.Commit).Run();
    FDone = true;
  }

 private:
  // Runs a statement where nothing may be thrown (the destructor).
  static void Undo(TStmt& stmt) {
    sqlite3_reset(stmt.Get());
    sqlite3_step(stmt.Get());
    sqlite3_reset(stmt.Get());
  }

  TStoreStatements& FS;
  bool FNested;
  bool FDone = false;
};

}  // namespace sql

struct TMessageStore::TStatements : sql::TStoreStatements {
  using TStoreStatements::TStoreStatements;
};

}  // namespace qm
