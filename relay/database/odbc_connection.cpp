// The connection object on unixODBC: the only file that includes the ODBC headers.

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/ascii_text.h"
#include "relay/database/connection.h"
#include "relay/database/connection_string.h"

namespace dbrelay {

namespace {

constexpr const char* kAdoSource = "ADODB.Connection";

// The HRESULT-style code for the SQLSTATE of the first diagnostic record.
uint32_t CodeForSqlState(const std::string& state) {
  if (state == "42S02" || state == "42P01") return 0x80040E37;
  if (state == "HYT00" || state == "57014") return 0x80040E31;
  const std::string cls = state.substr(0, 2);
  if (cls == "42") return 0x80040E14;
  if (cls == "23") return 0x80040E2F;
  if (cls == "28") return 0x80040E4D;
  if (cls == "22") return 0x80040E57;
  return kErrorUnspecified;
}

struct Diagnostics {
  std::string first_state;
  std::string text;  // every record's message, in order, one per line
};

// A statement handle freed on every way out.
using OwnedStatement = std::unique_ptr<void, void (*)(void*)>;
OwnedStatement Own(SQLHSTMT stmt) {
  return OwnedStatement(stmt, [](void* handle) { SQLFreeHandle(SQL_HANDLE_STMT, handle); });
}

// With the text's length: SQL_NTS would stop at a NUL inside it.
SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string& text) {
  return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data())),
                       static_cast<SQLINTEGER>(text.size()));
}

Diagnostics ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  Diagnostics diagnostics;
  if (handle == SQL_NULL_HANDLE) return diagnostics;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
    SQLINTEGER native = 0;
    std::vector<SQLCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(handle_type, handle, record, state, &native, message.data(),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    if (record == 1) diagnostics.first_state = reinterpret_cast<const char*>(state);
    size_t n = std::min(static_cast<size_t>(length > 0 ? length : 0), message.size() - 1);
    // Some drivers end a message with a line break; the records are joined by exactly one.
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == '\r')) --n;
    if (!diagnostics.text.empty()) diagnostics.text += "\n";
    diagnostics.text.append(reinterpret_cast<const char*>(message.data()), n);
    if (record == SHRT_MAX) break;
  }
  return diagnostics;
}

class OdbcConnection : public Connection {
 public:
  explicit OdbcConnection(SQLHENV env) : env_(env) {}

  ~OdbcConnection() override {
    if (dbc_ != SQL_NULL_HDBC) {
      if (open_) {
        // An active transaction is rolled back here, never committed.
        SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
        SQLDisconnect(dbc_);
      }
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  int32_t State() override { return open_ ? kStateOpen : kStateClosed; }

  void Open(const std::string& connection_string) override {
    if (open_) {
      throw _com_error(kErrorObjectOpen, kAdoSource,
                       "Operation is not allowed when the object is open.");
    }
    int login_timeout = kLoginTimeoutSeconds;
    const std::string without_timeout = TakeLoginTimeout(connection_string, &login_timeout);
    std::optional<std::string> odbc = TranslateConnectionString(
        without_timeout, [this](const std::string& name) { return DriverRegistered(name); });
    if (!odbc) {
      throw _com_error(kErrorProviderNotFound, kAdoSource,
                       "Provider cannot be found. It may not be properly installed.");
    }

    if (dbc_ == SQL_NULL_HDBC) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
        dbc_ = SQL_NULL_HDBC;
        RaiseFrom(SQL_HANDLE_ENV, env_, DriverFromString(*odbc));
      }
    }
    // 0 asks for no limit, as in ADO.
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout)), 0);
    // SQL_NTS: the length field is 16 bits wide and an enormous string must not wrap it.
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr,
                                    reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbc->c_str())),
                                    SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      std::string source = DriverFromString(*odbc);
      Diagnostics diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, dbc_);
      // A failed connect can leave the handle unusable for the next attempt: start afresh.
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
      Raise(diagnostics, source);
    }
    open_ = true;
    driver_name_ = DriverNameOfConnection(*odbc);
  }

  void Close() override {
    RequireOpen();
    if (in_transaction_) EndTrans(SQL_ROLLBACK);
    SQLRETURN rc = SQLDisconnect(dbc_);
    if (!SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_DBC, dbc_, driver_name_);
    open_ = false;
  }

  void SetCursorLocation(int32_t location) override {
    if (location != kUseServer && location != kUseClient) {
      throw _com_error(kErrorInvalidArgument, kAdoSource, kArgumentsText);
    }
  }

  void Execute(const std::string& command_text, int32_t* records_affected,
               int32_t /*options*/) override {
    SQLHSTMT stmt = NewStatement(command_text);
    OwnedStatement owner = Own(stmt);
    SQLRETURN rc = ExecDirect(stmt, command_text);
    SQLLEN count = 0;
    if (rc == SQL_NO_DATA) {
      count = 0;  // an UPDATE or DELETE that matched no row
    } else if (SQL_SUCCEEDED(rc)) {
      if (!SQL_SUCCEEDED(SQLRowCount(stmt, &count))) count = -1;
      // A batch whose later statement fails must not pass as a success.
      do {
        rc = SQLMoreResults(stmt);
      } while (SQL_SUCCEEDED(rc));
      if (rc != SQL_NO_DATA) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    } else {
      RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    }
    if (records_affected != nullptr) *records_affected = static_cast<int32_t>(count);
  }

  void ExecuteBatch(const std::string& command_text,
                    std::vector<int32_t>* records_affected) override {
    records_affected->clear();
    SQLHSTMT stmt = NewStatement(command_text);
    OwnedStatement owner = Own(stmt);
    SQLRETURN rc = ExecDirect(stmt, command_text);
    // SQL_NO_DATA here is a first statement that matched no row; from SQLMoreResults it is the
    // end of the results.
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    for (;;) {
      SQLLEN count = 0;
      if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLRowCount(stmt, &count))) count = -1;
      records_affected->push_back(static_cast<int32_t>(count));
      rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    }
  }

  void BeginTrans() override {
    RequireOpen();
    if (in_transaction_) {
      throw _com_error(kErrorTransactionActive, driver_name_,
                       "Only one transaction can be active on this session.");
    }
    SQLUSMALLINT capable = SQL_TC_NONE;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr))) {
      RaiseFrom(SQL_HANDLE_DBC, dbc_, driver_name_);
    }
    if (capable == SQL_TC_NONE) {
      throw _com_error(kErrorNotCapable, kAdoSource,
                       "Object or provider is not capable of performing requested operation.");
    }
    if (!SQL_SUCCEEDED(SetAutocommit(false))) RaiseFrom(SQL_HANDLE_DBC, dbc_, driver_name_);
    in_transaction_ = true;
  }

  void CommitTrans() override {
    RequireOpen();
    EndTrans(SQL_COMMIT);
  }

  void RollbackTrans() override {
    RequireOpen();
    EndTrans(SQL_ROLLBACK);
  }

  std::optional<std::string> QueryFirstValue(const std::string& command_text) override {
    SQLHSTMT stmt = NewStatement(command_text);
    OwnedStatement owner = Own(stmt);
    SQLRETURN rc = ExecDirect(stmt, command_text);
    if (rc == SQL_NO_DATA) return std::nullopt;
    if (!SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    std::optional<std::string> value;
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns))) {
      RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    }
    if (columns > 0) {
      rc = SQLFetch(stmt);
      if (rc != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
        value = ReadFirstColumn(stmt);
      }
    }
    // As in Execute: a later statement of a batch that fails fails the query.
    do {
      rc = SQLMoreResults(stmt);
    } while (SQL_SUCCEEDED(rc));
    if (rc != SQL_NO_DATA) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
    return value;
  }

 private:
  static constexpr const char* kArgumentsText =
      "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one "
      "another.";

  void RequireOpen() const {
    if (!open_) {
      throw _com_error(kErrorObjectClosed, kAdoSource,
                       "Operation is not allowed when the object is closed.");
    }
  }

  // A statement handle for command_text on the open connection, with the command time-out; the
  // caller frees it.
  SQLHSTMT NewStatement(const std::string& command_text) {
    RequireOpen();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      RaiseFrom(SQL_HANDLE_DBC, dbc_, driver_name_);
    }
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kCommandTimeoutSeconds)), 0);
    if (command_text.size() > static_cast<size_t>(INT32_MAX)) {
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      throw _com_error(kErrorInvalidArgument, kAdoSource, kArgumentsText);
    }
    return stmt;
  }

  // Column 1 of the fetched row, piece by piece: the driver says how much is left only when it
  // knows, so the pieces are read until one fits.
  std::optional<std::string> ReadFirstColumn(SQLHSTMT stmt) {
    std::string value;
    std::vector<char> piece(64 * 1024);
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt, 1, SQL_C_CHAR, piece.data(),
                                static_cast<SQLLEN>(piece.size()), &indicator);
      if (rc == SQL_NO_DATA) break;  // the previous piece was the last
      if (!SQL_SUCCEEDED(rc)) RaiseFrom(SQL_HANDLE_STMT, stmt, driver_name_);
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      // Each piece ends in a NUL the driver adds; a piece that did not fit filled the buffer.
      const size_t room = piece.size() - 1;
      const size_t got = (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room)
                             ? room
                             : static_cast<size_t>(indicator);
      value.append(piece.data(), got);
      if (rc == SQL_SUCCESS) break;
    }
    return value;
  }

  SQLRETURN SetAutocommit(bool on) {
    const SQLULEN mode = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    return SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(mode), 0);
  }

  // Ends the active transaction and returns to autocommit; see CommitTrans in connection.h.
  void EndTrans(SQLSMALLINT completion) {
    if (!in_transaction_) {
      throw _com_error(kErrorNoTransaction, driver_name_, "No transaction is active.");
    }
    in_transaction_ = false;
    std::optional<Diagnostics> failure;
    bool ended = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, completion));
    if (!ended) {
      failure = ReadDiagnostics(SQL_HANDLE_DBC, dbc_);
      ended = completion == SQL_COMMIT &&
              SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK));
    }
    // Autocommit on commits whatever is still open, so it only follows a transaction that ended.
    if (!ended || !SQL_SUCCEEDED(SetAutocommit(true))) {
      if (!failure) failure = ReadDiagnostics(SQL_HANDLE_DBC, dbc_);
      Drop();
    }
    if (failure) Raise(*failure, driver_name_);
  }

  // Leaves the connection without committing anything; the next Open starts on a fresh handle.
  void Drop() {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    open_ = false;
  }

  bool DriverRegistered(const std::string& name) {
    const std::string wanted = settings::AsciiLowerCopy(name);
    SQLCHAR description[512];
    SQLCHAR attributes[2048];
    SQLSMALLINT description_length = 0;
    SQLSMALLINT attributes_length = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    bool found = false;
    while (SQL_SUCCEEDED(SQLDrivers(env_, direction, description, sizeof description,
                                    &description_length, attributes, sizeof attributes,
                                    &attributes_length))) {
      direction = SQL_FETCH_NEXT;
      if (settings::AsciiLowerCopy(reinterpret_cast<const char*>(description)) == wanted) found = true;
    }
    return found;
  }

  // The driver a connection string names: its Driver value, else its DSN.
  static std::string DriverFromString(const std::string& odbc) {
    std::string dsn;
    for (const ConnectionAttribute& a : SplitConnectionString(odbc)) {
      const std::string key = settings::AsciiLowerCopy(a.key);
      if (key == "driver" && !a.value.empty()) return a.value;
      if (key == "dsn" && dsn.empty()) dsn = "DSN " + a.value;
      if (key == "filedsn" && dsn.empty()) dsn = "FILEDSN " + a.value;
    }
    return dsn.empty() ? "ODBC Driver Manager" : dsn;
  }

  std::string DriverNameOfConnection(const std::string& odbc) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_DRIVER_NAME, name, sizeof name, &length)) &&
        name[0] != 0) {
      return reinterpret_cast<const char*>(name);
    }
    return DriverFromString(odbc);
  }

  [[noreturn]] static void Raise(const Diagnostics& diagnostics, const std::string& source) {
    if (diagnostics.first_state.empty() && diagnostics.text.empty()) {
      throw _com_error(kErrorUnspecified, source, "The ODBC call failed without a diagnostic.");
    }
    throw _com_error(CodeForSqlState(diagnostics.first_state), source, diagnostics.text);
  }

  [[noreturn]] static void RaiseFrom(SQLSMALLINT handle_type, SQLHANDLE handle,
                                     const std::string& source) {
    Raise(ReadDiagnostics(handle_type, handle), source);
  }

  SQLHENV env_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool open_ = false;
  bool in_transaction_ = false;  // autocommit is off while it is set
  std::string driver_name_;
};

}  // namespace

std::unique_ptr<Connection> CreateOdbcConnection() {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return nullptr;
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return nullptr;
  }
  return std::make_unique<OdbcConnection>(env);
}

}  // namespace dbrelay
