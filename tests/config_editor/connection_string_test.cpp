#include "config_editor/connection_string.h"

#include <gtest/gtest.h>

namespace config_editor {
namespace {

TEST(ComposeConnectionStringTest, InsertsValuesAsTyped) {
  EXPECT_EQ(ComposeConnectionString("HOST\\SQLEXPRESS", " Orders ", "sa", "p;w"),
            "Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database= Orders ;Uid=sa;Pwd=p;w;");
  EXPECT_EQ(ComposeConnectionString("", "", "", ""),
            "Provider=SQLOLEDB.1;Server=;Database=;Uid=;Pwd=;");
}

struct SplitCase {
  const char* name;
  const char* stored;
  const char* server;
  const char* database;
  const char* user;
  const char* password;
};

class GetConnectionValueTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(GetConnectionValueTest, SplitsTheFourFields) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(GetConnectionValue(c.stored, "server="), c.server);
  EXPECT_EQ(GetConnectionValue(c.stored, "database="), c.database);
  EXPECT_EQ(GetConnectionValue(c.stored, "uid="), c.user);
  EXPECT_EQ(GetConnectionValue(c.stored, "pwd="), c.password);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetConnectionValueTest,
    ::testing::Values(
        SplitCase{"Composed",
                  "Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database=Orders;Uid=sa;Pwd=Secret;",
                  "HOST\\SQLEXPRESS", "Orders", "sa", "Secret"},
        SplitCase{"Empty", "", "", "", "", ""},
        SplitCase{"AnyCaseAnyOrder", "DATABASE=Orders;SERVER=b", "b", "Orders", "", ""},
        SplitCase{"NoClosingSemicolon", "Server=b", "b", "", "", ""},
        SplitCase{"OleDbNamesUnknown", "Data Source=h;Initial Catalog=d;User ID=u;Password=p;", "",
                  "", "", ""},
        SplitCase{"SemicolonInPasswordCuts", "Server=s;Pwd=a;b;", "s", "", "", "a"},
        SplitCase{"ExtraKeysIgnored",
                  "Provider=SQLOLEDB;Connect Timeout=5;Server=s;Database=d;Uid=u;Pwd=p;App=x",
                  "s", "d", "u", "p"},
        // A plain substring search: "Uid=" also matches inside a longer key name.
        SplitCase{"SubstringMatch", "XServer=first;Server=second", "first", "", "", ""},
        SplitCase{"EmptyValues", "Provider=SQLOLEDB.1;Server=;Database=;Uid=;Pwd=;", "", "", "",
                  ""},
        SplitCase{"MultibyteValueKeepsBytes", "Server=h\xc3\xa9te;Uid=\xc3\x9c", "h\xc3\xa9te", "",
                  "\xc3\x9c", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace config_editor
