#pragma once
// The seam to the database component: exactly the calls CADODatabase makes on its connection
// object. Every failing call throws _com_error, where ADO would raise one.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "relay/common/scoped_factory_override.h"
#include "relay/database/com_error.h"

namespace dbrelay {

inline constexpr int32_t kStateClosed = 0;
inline constexpr int32_t kStateOpen = 1;
inline constexpr int32_t kUseServer = 2;
inline constexpr int32_t kUseClient = 3;
inline constexpr int32_t kExecuteNoRecords = 128;

// ADO's defaults, kept by the connection object. A connection string may set the login time-out
// with "Connect Timeout=N" (TakeLoginTimeout); the command time-out is fixed.
inline constexpr int kLoginTimeoutSeconds = 15;
inline constexpr int kCommandTimeoutSeconds = 30;

class Connection {
 public:
  virtual ~Connection() = default;

  // kStateClosed or kStateOpen.
  virtual int32_t State() = 0;
  // Opens on an OLE DB or ODBC connection string, which carries the user and password itself;
  // throws when the connection is already open.
  virtual void Open(const std::string& connection_string) = 0;
  // Closes an open connection, rolling back an active transaction first (never committing it);
  // throws when it is closed. Destroying the object does the same.
  virtual void Close() = 0;
  // kUseServer or kUseClient; anything else throws. Statements run without a cursor, so the
  // location changes nothing here.
  virtual void SetCursorLocation(int32_t location) = 0;
  // Runs command_text once; *records_affected receives the driver's count (-1 when it has none).
  virtual void Execute(const std::string& command_text, int32_t* records_affected,
                       int32_t options) = 0;
  // Runs a text of several statements in one call (one round trip where the driver takes such a
  // batch) and leaves in *records_affected the count of each result in order (0 where a statement
  // matched no row, -1 where the driver has no count). Throws as Execute does, also when a later
  // statement fails; a driver that takes one statement at a time throws too.
  virtual void ExecuteBatch(const std::string& command_text,
                            std::vector<int32_t>* records_affected) = 0;

  // One transaction at a time, no nesting. BeginTrans leaves autocommit: every later statement
  // belongs to the transaction until CommitTrans or RollbackTrans ends it and autocommit returns.
  // It throws kErrorObjectClosed on a closed connection, kErrorTransactionActive ("Only one
  // transaction can be active on this session.", source the driver, as a provider raises it) when
  // one is active, and kErrorNotCapable ("Object or provider is not capable of performing
  // requested operation.", source "ADODB.Connection") when the driver has no transactions.
  virtual void BeginTrans() = 0;
  // Both throw kErrorNoTransaction ("No transaction is active.", source the driver) when none is
  // active, kErrorObjectClosed when the connection is closed. A commit the database refuses
  // throws its diagnostics after rolling back what is left: either way the transaction is over
  // and the connection is back in autocommit. Should the driver fail to end the transaction or
  // to return to autocommit, the connection is closed instead (the database then discards what
  // was not committed): turning autocommit on would commit what is still open, and staying out
  // of it would leave later statements waiting for a commit that never comes.
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;

  // Runs command_text and returns the first column of its first row as text, whole whatever its
  // length; nothing when there is no row (or no result set) or the value is NULL. Throws as
  // Execute does.
  virtual std::optional<std::string> QueryFirstValue(const std::string& command_text) = 0;
};

// Forwards every call to another connection; tests override single calls and install it with
// ScopedConnectionOverride.
class ConnectionWrapper : public Connection {
 public:
  explicit ConnectionWrapper(std::unique_ptr<Connection> target) : target_(std::move(target)) {}

  int32_t State() override { return target_->State(); }
  void Open(const std::string& connection_string) override { target_->Open(connection_string); }
  void Close() override { target_->Close(); }
  void SetCursorLocation(int32_t location) override { target_->SetCursorLocation(location); }
  void Execute(const std::string& command_text, int32_t* records_affected,
               int32_t options) override {
    target_->Execute(command_text, records_affected, options);
  }
  void ExecuteBatch(const std::string& command_text,
                    std::vector<int32_t>* records_affected) override {
    target_->ExecuteBatch(command_text, records_affected);
  }
  void BeginTrans() override { target_->BeginTrans(); }
  void CommitTrans() override { target_->CommitTrans(); }
  void RollbackTrans() override { target_->RollbackTrans(); }
  std::optional<std::string> QueryFirstValue(const std::string& command_text) override {
    return target_->QueryFirstValue(command_text);
  }

  Connection* target() const { return target_.get(); }

 private:
  std::unique_ptr<Connection> target_;
};

// The ODBC connection object; nullptr when it could not be created (no driver manager
// environment), which CADODatabase treats as "no connection object".
std::unique_ptr<Connection> CreateOdbcConnection();

// The connection object CADODatabase() uses: CreateOdbcConnection() unless a test has installed a
// factory.
std::unique_ptr<Connection> CreateConnection();

// Installs a factory for CreateConnection() for the lifetime of the object (tests only).
using ScopedConnectionOverride = ScopedFactoryOverride<Connection>;

}  // namespace dbrelay
