#pragma once
// The seam to the database component: exactly the calls CADODatabase makes on its connection
// object. Every failing call throws _com_error, where ADO would raise one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
  // Closes an open connection; throws when it is closed.
  virtual void Close() = 0;
  // kUseServer or kUseClient; anything else throws. Statements run without a cursor, so the
  // location changes nothing here.
  virtual void SetCursorLocation(int32_t location) = 0;
  // Runs command_text once; *records_affected receives the driver's count (-1 when it has none).
  virtual void Execute(const std::string& command_text, int32_t* records_affected,
                       int32_t options) = 0;
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
