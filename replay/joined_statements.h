#pragma once
// Which parked statements may travel to the database joined with others in one batch, and how
// they are joined. Sent one at a time, every statement costs a round trip; joined, a hundred cost
// one. Joining must never change what runs: a statement that is itself unfinished (an open quote
// or comment) would swallow the next one, and two statements that each fail alone could succeed
// together. So only statements whose text leaves no doubt where it ends are joined, under the
// lexical rules every SQL dialect DbRelay meets agrees on; any other runs alone, as before.

#include <string>

namespace dbrelay::replay {

// True for an INSERT, UPDATE or DELETE whose text is one whole statement in every dialect: its
// quotes ('...' and "...", doubled inside) and parentheses close, and outside quotes it holds no
// comment, no semicolon but a final one, and nothing whose meaning differs between databases
// (backslashes, dollar quotes, brackets, backquotes, Oracle's q'...', ODBC escapes, parameter
// markers, T-SQL's @ names and SCOPE_IDENTITY, NUL).
bool CanRunJoined(const std::string& statement);

// Appends statement to batch, ended with a semicolon unless it ends with one already.
void AppendJoined(const std::string& statement, std::string* batch);

}  // namespace dbrelay::replay
