#include "replay/joined_statements.h"

#include <cstddef>
#include <cstring>

namespace dbrelay::replay {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Statements that only change rows: each gives exactly one count, and none ends a transaction.
bool StartsWithRowChange(const std::string& s, size_t at) {
  for (const char* verb : {"INSERT", "UPDATE", "DELETE"}) {
    size_t i = 0;
    while (verb[i] != '\0' && at + i < s.size() && Upper(s[at + i]) == verb[i]) ++i;
    if (verb[i] == '\0' && at + i < s.size() && IsSpace(s[at + i])) return true;
  }
  return false;
}

// Whether upper-case word occurs in s in any case (inside quotes too: refusing more is safe).
bool ContainsWord(const std::string& s, const char* word) {
  const size_t length = std::strlen(word);
  for (size_t i = 0; i + length <= s.size(); ++i) {
    size_t k = 0;
    while (k < length && Upper(s[i + k]) == word[k]) ++k;
    if (k == length) return true;
  }
  return false;
}

}  // namespace

bool CanRunJoined(const std::string& statement) {
  size_t at = 0;
  while (at < statement.size() && IsSpace(statement[at])) ++at;
  if (!StartsWithRowChange(statement, at)) return false;
  // SQL Server's SCOPE_IDENTITY() is the batch's last identity: NULL alone, the previous
  // statement's joined.
  if (ContainsWord(statement, "SCOPE_IDENTITY")) return false;
  char quote = '\0';  // the quote character of the literal or identifier being read
  size_t depth = 0;   // of parentheses outside quotes
  bool ended = false;  // a semicolon was read outside quotes: only spaces may follow
  for (size_t i = at; i < statement.size(); ++i) {
    const char c = statement[i];
    // Read bytewise: in the encodings databases take from clients (UTF-8, the ISO 8859 family,
    // GBK, Big5, Shift JIS, EUC) no byte of a multibyte character is a quote or a semicolon, and
    // a backslash is refused everywhere.
    if (c == '\0' || c == '\\') return false;
    if (quote != '\0') {
      if (c == quote) quote = '\0';  // a doubled quote reopens at once
      continue;
    }
    if (ended) {
      if (!IsSpace(c)) return false;
      continue;
    }
    switch (c) {
      case '\'':
        // q'<...>' (Oracle) ends at another delimiter than the quote.
        if (i > 0 && Upper(statement[i - 1]) == 'Q') return false;
        quote = c;
        break;
      case '"':
        quote = c;
        break;
      case '(':
        ++depth;
        break;
      case ')':
        if (depth == 0) return false;
        --depth;
        break;
      case ';':
        if (depth != 0) return false;
        ended = true;
        break;
      case '-':
        if (i + 1 < statement.size() && statement[i + 1] == '-') return false;
        break;
      case '/':
        if (i + 1 < statement.size() && statement[i + 1] == '*') return false;
        break;
      // @ names T-SQL variables and @@ROWCOUNT-like values, which a batch shares.
      case '$': case '[': case ']': case '`': case '#': case '{': case '}': case '?': case '@':
        return false;
      default:
        break;
    }
  }
  return quote == '\0' && depth == 0;
}

void AppendJoined(const std::string& statement, std::string* batch) {
  size_t end = statement.size();
  while (end > 0 && IsSpace(statement[end - 1])) --end;
  batch->append(statement);
  // A line of its own for each statement keeps the batch readable in the server's log.
  batch->append(end > 0 && statement[end - 1] == ';' ? "\n" : ";\n");
}

}  // namespace dbrelay::replay
