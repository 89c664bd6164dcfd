#pragma once
// The one form in which the editor stores a SQL Server connection, and the split of a stored
// connection string back into its four fields.

#include <string>
#include <string_view>

namespace config_editor {

// "Provider=SQLOLEDB.1;Server=%s;Database=%s;Uid=%s;Pwd=%s;" with the values inserted as typed:
// no quoting, escaping or trimming.
std::string ComposeConnectionString(std::string_view server, std::string_view database,
                                    std::string_view user, std::string_view password);

// The value behind the first case-insensitive occurrence of key in s (a plain substring search),
// up to the next ";" or the end; empty when key does not occur. The value keeps its stored case.
std::string GetConnectionValue(std::string_view s, std::string_view key);

}  // namespace config_editor
