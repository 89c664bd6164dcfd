#pragma once
// The one database class of DbRelay. It turns the connection object's errors into plain results:
// Open, Execute and the transaction and query calls return 0 on failure and leave a last error
// text that begins "Connection String = ". It never reports anything itself.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "relay/database/com_error.h"
#include "relay/database/connection.h"

namespace dbrelay {

class CADODatabase {
 public:
  // Takes CreateConnection(); when that gives nothing, every call but Close fails with 80004003.
  CADODatabase();
  explicit CADODatabase(std::unique_ptr<Connection> connection);
  // Closes the connection; a failure to close is swallowed, never ends the program.
  virtual ~CADODatabase();

  CADODatabase(const CADODatabase&) = delete;
  CADODatabase& operator=(const CADODatabase&) = delete;

  void SetConnectionString(const std::string& connection_string);

  // Closes an open connection first (a failure there throws _com_error), then opens on the
  // stored connection string. Non-zero when open, 0 when it failed.
  int Open();

  // Runs statement once without returning records. 1 on success, 0 on failure (records
  // affected then stays 0).
  int Execute(const std::string& statement);

  int32_t GetRecordsAffected() const { return records_affected_; }

  // Runs a text of several statements in one call and leaves each one's count of records
  // affected in *records_affected, in order. 1 on success, 0 on failure (*records_affected then
  // is empty); a driver that takes only one statement at a time fails.
  int ExecuteBatch(const std::string& statements, std::vector<int32_t>* records_affected);

  // The connection's BeginTrans, CommitTrans and RollbackTrans (see connection.h): 1 on success,
  // 0 on failure. A transaction still active when the connection closes or the object goes is
  // rolled back.
  int BeginTransaction();
  int CommitTransaction();
  int RollbackTransaction();

  // Runs query and leaves the first column of its first row in *value (nothing when there is no
  // row or it is NULL). 1 on success, 0 on failure (*value then holds nothing).
  int QueryValue(const std::string& query, std::optional<std::string>* value);

  // The text of the last failure; empty until the first one, never cleared by a success.
  std::string GetLastErrorText() const { return last_error_text_; }

  // Closes the connection when it is open; throws _com_error when reading the state or closing
  // fails.
  void Close();

 private:
  // "Connection String = ", the stored string with its password masked, "\n", the error block.
  void RecordComError(const _com_error& error);
  // Calls call on the connection: 1, or 0 with the error recorded.
  template <typename Call>
  int Guarded(Call call);

  std::unique_ptr<Connection> connection_;
  std::string connection_string_;
  std::string last_error_text_;
  int32_t records_affected_ = 0;
};

}  // namespace dbrelay
