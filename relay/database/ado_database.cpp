#include "relay/database/ado_database.h"

#include <utility>

#include "relay/database/connection_string.h"
#include "relay/database/error_text.h"

namespace dbrelay {

CADODatabase::CADODatabase() : CADODatabase(CreateConnection()) {}

CADODatabase::CADODatabase(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

CADODatabase::~CADODatabase() {
  try {
    Close();
  } catch (...) {
    // The object goes away either way; a connection that cannot be closed is released below.
  }
  connection_.reset();
  connection_string_.clear();
  last_error_text_.clear();
}

void CADODatabase::SetConnectionString(const std::string& connection_string) {
  connection_string_ = connection_string;
}

int CADODatabase::Open() {
  if (connection_ && connection_->State() != kStateClosed) Close();
  try {
    if (!connection_) throw _com_error(kErrorInvalidPointer);
    connection_->Open(connection_string_);
    return 1;
  } catch (const _com_error& error) {
    RecordComError(error);
    return 0;
  }
}

int CADODatabase::Execute(const std::string& statement) {
  records_affected_ = 0;
  try {
    if (!connection_) throw _com_error(kErrorInvalidPointer);
    connection_->SetCursorLocation(kUseClient);
    int32_t count = 0;
    connection_->Execute(statement, &count, kExecuteNoRecords);
    records_affected_ = count;
    return 1;
  } catch (const _com_error& error) {
    RecordComError(error);
    return 0;
  }
}

template <typename Call>
int CADODatabase::Guarded(Call call) {
  try {
    if (!connection_) throw _com_error(kErrorInvalidPointer);
    call(*connection_);
    return 1;
  } catch (const _com_error& error) {
    RecordComError(error);
    return 0;
  }
}

int CADODatabase::ExecuteBatch(const std::string& statements,
                               std::vector<int32_t>* records_affected) {
  records_affected->clear();
  const int ok = Guarded([&](Connection& c) {
    c.SetCursorLocation(kUseClient);
    c.ExecuteBatch(statements, records_affected);
  });
  if (ok == 0) records_affected->clear();
  return ok;
}

int CADODatabase::BeginTransaction() {
  return Guarded([](Connection& c) { c.BeginTrans(); });
}

int CADODatabase::CommitTransaction() {
  return Guarded([](Connection& c) { c.CommitTrans(); });
}

int CADODatabase::RollbackTransaction() {
  return Guarded([](Connection& c) { c.RollbackTrans(); });
}

int CADODatabase::QueryValue(const std::string& query, std::optional<std::string>* value) {
  std::optional<std::string> result;
  const int ok = Guarded([&](Connection& c) { result = c.QueryFirstValue(query); });
  if (value != nullptr) *value = std::move(result);
  return ok;
}

void CADODatabase::Close() {
  if (connection_ && connection_->State() != kStateClosed) connection_->Close();
}

void CADODatabase::RecordComError(const _com_error& error) {
  last_error_text_ =
      "Connection String = " + MaskConnectionPassword(connection_string_) + "\n" +
      FormatErrorBlock(error);
}

}  // namespace dbrelay
