#pragma once
// The ledger: the table in the primary database that records how far each queue has been
// replayed, so that progress and statements are committed together and a replay killed at any
// moment neither repeats nor skips a statement.
//
//   dbrelay_replay_ledger
//     queue_id     VARCHAR(40) PRIMARY KEY  the queue's id from its boundaries file
//     host         VARCHAR(255)             where the queue lives, for people
//     file_path    VARCHAR(1024)            (bytes outside printable ASCII as %XX)
//     next_offset  BIGINT                   bytes of the text file already run
//     records_done BIGINT                   records of the text file already run
//     updated_at   VARCHAR(32)              local time of the last change
//
// One row per queue; a queue's row goes once its file has been removed. The table is created on
// first use with standard SQL that PostgreSQL, SQLite and SQL Server all take.

#include <cstdint>
#include <optional>
#include <string>

#include "relay/database/ado_database.h"

namespace dbrelay::replay {

inline constexpr char kLedgerTable[] = "dbrelay_replay_ledger";

class Ledger {
 public:
  // database is open; it outlives the ledger.
  explicit Ledger(CADODatabase* database) : database_(database) {}

  // The progress of queue_id: its next_offset, or nullopt when the ledger has no row for it.
  // Creates the table when it is missing and may_create is set; without it a table that cannot be
  // read is taken as empty. false with error_text when the database fails.
  bool ReadProgress(const std::string& queue_id, std::optional<uint64_t>* next_offset,
                    bool may_create);

  // Adds the row of a queue that has not begun, committed on its own.
  bool Register(const std::string& queue_id, const std::string& host, const std::string& path);

  // Inside the caller's transaction: moves queue_id on from `from` to `to` bytes (done records in
  // all). False when the database fails or the row is not at `from` (changed by someone else); the
  // caller rolls back.
  bool Advance(const std::string& queue_id, uint64_t from, uint64_t to, uint64_t done);

  // Drops the row of a queue whose file is gone.
  bool Forget(const std::string& queue_id);

  // What the last failing call left: DbRelay's text of the database error, or a sentence.
  const std::string& error_text() const { return error_text_; }

 private:
  // Ids reach the ledger's statements as literals: anything but one of ours is refused.
  bool CheckQueueId(const std::string& queue_id);
  bool Run(const std::string& statement, int32_t* affected = nullptr);
  bool CreateTable();

  CADODatabase* database_;
  std::string error_text_;
};

// Text that is safe inside an SQL string literal in any database: printable ASCII as it is,
// every other byte, "%" and "'" as %XX.
std::string LedgerLiteralText(const std::string& bytes, size_t max_length);

}  // namespace dbrelay::replay
