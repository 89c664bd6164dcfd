#include "replay/ledger.h"

#include <charconv>
#include <cstdio>

#include "relay/common/format_text.h"
#include "relay/platform/env.h"

namespace dbrelay::replay {

namespace {

std::string Now() {
  LocalTime t = CurrentEnv()->GetLocalTime();
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

std::string Number(uint64_t n) { return std::to_string(n); }

// Queue ids are the hex digits DbRelay writes; anything else is never put into a statement.
bool IsQueueId(const std::string& id) {
  if (id.empty() || id.size() > 40) return false;
  for (char c : id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::string LedgerLiteralText(const std::string& bytes, size_t max_length) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '%' && c != '\'') {
      text += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      text += escaped;
    }
  }
  if (text.size() > max_length) text.resize(max_length);
  return text;
}

bool Ledger::CheckQueueId(const std::string& queue_id) {
  if (IsQueueId(queue_id)) return true;
  error_text_ = "not a queue id: " + LedgerLiteralText(queue_id, 64);
  return false;
}

bool Ledger::Run(const std::string& statement, int32_t* affected) {
  error_text_.clear();
  if (database_->Execute(statement) == 0) {
    error_text_ = database_->GetLastErrorText();
    return false;
  }
  if (affected != nullptr) *affected = database_->GetRecordsAffected();
  return true;
}

bool Ledger::CreateTable() {
  return Run(std::string("CREATE TABLE ") + kLedgerTable +
             " (queue_id VARCHAR(40) NOT NULL PRIMARY KEY, host VARCHAR(255) NOT NULL, "
             "file_path VARCHAR(1024) NOT NULL, next_offset BIGINT NOT NULL, "
             "records_done BIGINT NOT NULL, updated_at VARCHAR(32) NOT NULL)");
}

bool Ledger::ReadProgress(const std::string& queue_id, std::optional<uint64_t>* next_offset,
                          bool may_create) {
  next_offset->reset();
  error_text_.clear();
  if (!CheckQueueId(queue_id)) return false;
  const std::string query = std::string("SELECT next_offset FROM ") + kLedgerTable +
                            " WHERE queue_id = '" + queue_id + "'";
  std::optional<std::string> value;
  if (database_->QueryValue(query, &value) == 0) {
    // Most likely the table is not there yet: create it, and when that fails too, the query's
    // error is the one to show.
    std::string query_error = database_->GetLastErrorText();
    if (!may_create) return true;
    if (!CreateTable()) {
      error_text_ = query_error;
      return false;
    }
    return true;  // a new table holds no row
  }
  if (!value) return true;
  uint64_t n = 0;
  auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), n);
  if (error != std::errc() || end != value->data() + value->size()) {
    error_text_ = "the ledger's next_offset of queue " + queue_id + " is not a number: " +
                  LedgerLiteralText(*value, 64);
    return false;
  }
  *next_offset = n;
  return true;
}

bool Ledger::Register(const std::string& queue_id, const std::string& host,
                      const std::string& path) {
  if (!CheckQueueId(queue_id)) return false;
  return Run(std::string("INSERT INTO ") + kLedgerTable +
             " (queue_id, host, file_path, next_offset, records_done, updated_at) VALUES ('" +
             queue_id + "', '" + LedgerLiteralText(host, 255) + "', '" +
             LedgerLiteralText(path, 1024) + "', 0, 0, '" + Now() + "')");
}

bool Ledger::Advance(const std::string& queue_id, uint64_t from, uint64_t to, uint64_t done) {
  if (!CheckQueueId(queue_id)) return false;
  int32_t affected = 0;
  if (!Run(std::string("UPDATE ") + kLedgerTable + " SET next_offset = " + Number(to) +
               ", records_done = " + Number(done) + ", updated_at = '" + Now() +
               "' WHERE queue_id = '" + queue_id + "' AND next_offset = " + Number(from),
           &affected)) {
    return false;
  }
  if (affected != 1) {
    error_text_ = FormatText("the ledger's row of queue %s is no longer at byte %llu",
                             queue_id.c_str(), static_cast<unsigned long long>(from));
    return false;
  }
  return true;
}

bool Ledger::Forget(const std::string& queue_id) {
  if (!CheckQueueId(queue_id)) return false;
  return Run(std::string("DELETE FROM ") + kLedgerTable + " WHERE queue_id = '" + queue_id + "'");
}

}  // namespace dbrelay::replay
