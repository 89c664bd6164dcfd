// Which statements DbRelayReplay joins, against PostgreSQL's own scanner (libpg_query). Two
// arbitrary statements that are each joinable, joined as the replay joins them, must split at
// exactly the semicolon between them: the first never takes in any of the second, whatever their
// quotes, comments or bytes. A text the scanner refuses outright is refused by the server too,
// and the replay then runs the statements alone, so it proves nothing here.

#include <fuzzer/FuzzedDataProvider.h>
#include <pg_query.h>

#include <cstdint>
#include <string>

#include "replay/joined_statements.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string first = provider.ConsumeRandomLengthString();
  const std::string second = provider.ConsumeRemainingBytesAsString();
  if (!dbrelay::replay::CanRunJoined(first) || !dbrelay::replay::CanRunJoined(second)) return 0;

  std::string joined;
  dbrelay::replay::AppendJoined(first, &joined);
  // The separator is the last semicolon so far: the one appended, or the first statement's own
  // final one, which only spaces and the new line follow.
  const size_t first_end = joined.rfind(';');
  FUZZ_CHECK(first_end != std::string::npos);
  dbrelay::replay::AppendJoined(second, &joined);
  const size_t second_end = joined.rfind(';');

  PgQuerySplitResult split = pg_query_split_with_scanner(joined.c_str());
  if (split.error == nullptr) {
    FUZZ_CHECK(split.n_stmts == 2);
    FUZZ_CHECK(split.stmts[0]->stmt_location == 0);
    FUZZ_CHECK(static_cast<size_t>(split.stmts[0]->stmt_len) == first_end);
    FUZZ_CHECK(static_cast<size_t>(split.stmts[1]->stmt_location) == first_end + 1);
    FUZZ_CHECK(static_cast<size_t>(split.stmts[1]->stmt_location + split.stmts[1]->stmt_len) ==
               second_end);
  }
  pg_query_free_split_result(split);
  return 0;
}
