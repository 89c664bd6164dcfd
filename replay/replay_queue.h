#pragma once
// What DbRelayReplay does with one text file of parked statements: replay it, list it, or move its
// first pending statement aside. Each returns one of the exit statuses of exit_status.h and prints
// the file's line on stdout; failures are reported as DbRelay reports them.

#include <cstdint>
#include <string>

#include "relay/database/ado_database.h"
#include "replay/ledger.h"

namespace dbrelay::replay {

// Records run in one transaction with their ledger update, up to this many, and up to
// kBatchBytes unless one record alone is larger. A failing batch is rolled back and run again up
// to the failing record, which then runs alone.
inline constexpr size_t kRecordsPerTransaction = 100;
inline constexpr uint64_t kBatchBytes = 16 << 20;
// Within a transaction, statements that can be joined safely (joined_statements.h) go to the
// database together, up to about this many bytes a call; a batch the database refuses is undone
// and its statements run one at a time.
inline constexpr size_t kJoinedBytes = 1 << 20;

struct ReplayTotals {
  uint64_t files = 0;
  uint64_t replayed = 0;
  uint64_t pending = 0;
};

class QueueReplay {
 public:
  // database is the open primary, or nullptr for a listing while the primary is down; host names
  // this machine in the ledger.
  QueueReplay(CADODatabase* database, std::string host);

  // Runs every pending record of the file at path, in order, then removes the file once all have
  // run and none was added meanwhile (records parked while it ran are run too).
  int Replay(const std::string& path, ReplayTotals* totals);

  // Prints the file's pending statements. Changes nothing, not even the ledger's table. Without a
  // database every record is listed, and the file's line says when some may already have run.
  int List(const std::string& path, ReplayTotals* totals);

  // Appends the first pending record of the file to <path>.rejected and marks it done; finishes an
  // earlier one that stopped half way (reject_intent.h) without appending the record twice.
  int RejectFirst(const std::string& path);

 private:
  struct Queue;
  int Prepare(const std::string& path, bool may_change, Queue* queue);
  int RunPending(Queue* queue, ReplayTotals* totals);
  // Reads the statements of records [first, end) into the queue; reports a failure.
  int LoadBatch(Queue* queue, size_t first, size_t end);
  // Runs records [first, end) and their ledger update in one transaction; with join, those that
  // can be joined run joined. kBatchRefused: a joined run failed or fell short and all was undone.
  enum class BatchResult {
    kCommitted, kStatementFailed, kFewerRecords, kDatabaseFailed, kBatchRefused
  };
  BatchResult RunBatch(Queue* queue, size_t first, size_t end, bool join, size_t* failed_at);
  // RunBatch joined while the database takes batches; after a refusal, again one at a time.
  BatchResult RunBatchJoinedOrAlone(Queue* queue, size_t first, size_t end, size_t* failed_at);
  int ReportDatabaseFailure(const Queue& queue, const std::string& what,
                            const std::string& error_text);
  // kExitStatementFailed, reported, when an unfinished --reject-first names the queue's first
  // pending record.
  int StopAtUnfinishedRejection(const Queue& queue, ReplayTotals* totals);
  // Whether the text file at path holds, at byte start, a whole record of statement.
  int RecordStandsAt(const std::string& path, uint64_t start, const std::string& statement,
                     bool* stands);

  CADODatabase* database_;
  Ledger ledger_;
  std::string host_;
  bool join_batches_ = true;
};

}  // namespace dbrelay::replay
