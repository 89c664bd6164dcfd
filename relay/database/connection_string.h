#pragma once
// Connection strings: the split into attributes, the translation of the OLE DB form ADO takes to
// the ODBC form the driver manager takes, and the masking of passwords before a string is shown.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dbrelay {

// One "key=value" attribute as it stands in the string. Offsets point into the original text;
// value_begin/value_end span the raw value including any quotes or braces.
struct ConnectionAttribute {
  std::string key;    // trimmed, as written
  std::string value;  // trimmed, quotes or braces removed and their escapes undone
  bool has_equals = false;
  size_t begin = 0;  // start of the attribute
  size_t end = 0;    // end of the attribute, before its ";" (or the end of the text)
  size_t value_begin = 0;
  size_t value_end = 0;
};

// Splits at ";" outside of {...} (ODBC, "}}" escapes) and "..." or '...' (OLE DB, a doubled
// quote escapes). An unterminated brace or quote runs to the end of the text.
std::vector<ConnectionAttribute> SplitConnectionString(const std::string& text);

// The ODBC string for text: a string without Provider is returned unchanged; Provider=MSDASQL...
// is dropped; a SQL Server provider (SQLOLEDB, SQLOLEDB.1, SQLNCLI..., MSOLEDBSQL...) selects
// Driver={SQLOLEDB} when driver_registered("SQLOLEDB"), else Driver={FreeTDS}, and renames the
// OLE DB keywords (Data Source, Initial Catalog, User ID, Password) and splits Server=host,port.
// Any other provider gives nothing.
std::optional<std::string> TranslateConnectionString(
    const std::string& text, const std::function<bool(const std::string&)>& driver_registered);

// The login time-out text asks for and text without it. "Connect Timeout=N" and "Connection
// Timeout=N" (the OLE DB names, any letter case, which ADO honours with SQLOLEDB) give N seconds,
// 0 meaning no limit; every such attribute is taken out, since no ODBC driver knows it, and the
// first one counts. A value that is not a whole number of seconds leaves *seconds as it was, as
// does a text without them. Every other byte of text stays as it was.
std::string TakeLoginTimeout(const std::string& text, int* seconds);

// text as it may be shown: the value of every attribute whose key contains "pwd", "passwd" or
// "password" in any letter case replaced by "****", also inside a braced or quoted value (psqlODBC's
// pqopt={password=...}, an OLE DB string in quotes); every other byte stays as it was. A text that
// begins with the scrambled-value marker "TAVOK" is a keyless encoding of the whole string and
// becomes "****".
std::string MaskConnectionPassword(const std::string& connection_string);

}  // namespace dbrelay
