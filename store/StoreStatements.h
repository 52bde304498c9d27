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
  TStmt Begin, BeginWrite, Commit, Rollback;
  TStmt AddMessage, SetFullText, Message, Listed, FullTextsUnprinted;
  TStmt AddJob, AddJobMessage, PutInJob, SetSpoolerJob, JobState, SetJobState, PrintList, PrintFullText,
      ReturnList, Job, JobMessages, PendingJobs, PendingWithoutSpooler, Unlogged, MarkLogged;
  TStmt Clear, ClearInJob, PurgeMessages, PurgeJobs;
};

// A transaction that rolls back unless committed: a failed change leaves nothing behind,
// and the connection is ready for the next one (after a full disk, too).
class TTransaction {
 public:
  // Inside a batch (TMessageStore::Batch) it is a savepoint of the batch's transaction.
  TTransaction(TStoreStatements& s, bool write) : FS(s), FNested(!sqlite3_get_autocommit(s.Db)) {
    if (FNested)
      Exec(FS.Db, FS.Path, "SAVEPOINT change");
    else
      TUse(write ? s.BeginWrite : s.Begin).Run();
  }
  ~TTransaction() {
    if (FDone || sqlite3_get_autocommit(FS.Db)) return;
    if (FNested) {
      sqlite3_exec(FS.Db, "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
      return;
    }
    sqlite3_reset(FS.Rollback.Get());
    sqlite3_step(FS.Rollback.Get());
    sqlite3_reset(FS.Rollback.Get());
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  void Commit() {
    if (FNested)
      Exec(FS.Db, FS.Path, "RELEASE change");
    else
      TUse(FS.Commit).Run();
    FDone = true;
  }

 private:
  TStoreStatements& FS;
  bool FNested;
  bool FDone = false;
};

}  // namespace sql

struct TMessageStore::TStatements : sql::TStoreStatements {
  using TStoreStatements::TStoreStatements;
};

}  // namespace qm
