#include "relay/database/connection_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace dbrelay {
namespace {

struct TranslateCase {
  const char* input;
  bool sqloledb_registered;
  std::optional<std::string> output;
};

class TranslateTest : public ::testing::TestWithParam<TranslateCase> {};

TEST_P(TranslateTest, GivesTheOdbcString) {
  const bool registered = GetParam().sqloledb_registered;
  EXPECT_EQ(TranslateConnectionString(
                GetParam().input,
                [registered](const std::string& name) { return registered && name == "SQLOLEDB"; }),
            GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, TranslateTest,
    ::testing::Values(
        TranslateCase{"DSN=Main;Uid=a;Pwd=b", true, "DSN=Main;Uid=a;Pwd=b"},
        TranslateCase{"Driver={SQLite3};Database=/tmp/x.db", true,
                      "Driver={SQLite3};Database=/tmp/x.db"},
        TranslateCase{"", true, ""},
        TranslateCase{"Provider=MSDASQL.1;DSN=Main;Uid=a", true, "DSN=Main;Uid=a"},
        TranslateCase{"DSN=Main;provider=msdasql", true, "DSN=Main;"},
        TranslateCase{"Provider=SQLOLEDB.1;Server=db1,1433;Database=Docs;Uid=sa;Pwd=pw;", true,
                      "Driver={SQLOLEDB};Server=db1;Port=1433;Database=Docs;Uid=sa;Pwd=pw;"},
        TranslateCase{"Provider=SQLOLEDB;Server=db1;Database=Docs;Uid=sa;Pwd=pw;", false,
                      "Driver={FreeTDS};Server=db1;Database=Docs;Uid=sa;Pwd=pw;"},
        TranslateCase{"Provider=SQLNCLI11;Data Source=db1 , 1500;Initial Catalog=Docs;"
                      "User ID=sa;Password=\"p;w\"", true,
                      "Driver={SQLOLEDB};Server=db1;Port=1500;Database=Docs;Uid=sa;Pwd={p;w};"},
        TranslateCase{"Provider=MSOLEDBSQL19;Server=h;Trusted_Connection=yes", true,
                      "Driver={SQLOLEDB};Server=h;Trusted_Connection=yes;"},
        TranslateCase{"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb", true, std::nullopt},
        TranslateCase{"Provider=;Server=h", true, std::nullopt}),
    [](const ::testing::TestParamInfo<TranslateCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct MaskCase {
  const char* input;
  const char* masked;
};

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTest, HidesOnlyThePasswordValue) {
  EXPECT_EQ(MaskConnectionPassword(GetParam().input), GetParam().masked);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, MaskTest,
    ::testing::Values(
        MaskCase{"Provider=SQLOLEDB.1;Server=s;Database=d;Uid=u;Pwd=secret;",
                 "Provider=SQLOLEDB.1;Server=s;Database=d;Uid=u;Pwd=****;"},
        MaskCase{"User ID=u;PASSWORD=secret", "User ID=u;PASSWORD=****"},
        MaskCase{"pwd = secret ;x=1", "pwd = **** ;x=1"},
        MaskCase{"Uid=u;Pwd={a;b}};c};Database=d", "Uid=u;Pwd=****;Database=d"},
        MaskCase{"Pwd={a;b", "Pwd=****"},
        MaskCase{"Password=\"x;y\";Server=s", "Password=****;Server=s"},
        MaskCase{"Pwd=a;Password=b", "Pwd=****;Password=****"},
        MaskCase{"Pwd=;Uid=u", "Pwd=;Uid=u"},
        // A value is never taken for a key; a key that only contains "pwd" is hidden too.
        MaskCase{"Server=pwd;PwdHint=x;Uid=password", "Server=pwd;PwdHint=****;Uid=password"},
        MaskCase{"garbled;;==;Pwd", "garbled;;==;Pwd"},
        MaskCase{"", ""},
        MaskCase{"PASSWD=secret;Uid=u", "PASSWD=****;Uid=u"},
        MaskCase{"DbPwd=a;NewPassword=b;passwd2=c;Pass=d",
                 "DbPwd=****;NewPassword=****;passwd2=****;Pass=d"},
        MaskCase{"Data Source=x.mdb;Jet OLEDB:Database Password=s",
                 "Data Source=x.mdb;Jet OLEDB:Database Password=****"},
        // Inside braces: psqlODBC passes pqopt on to libpq, blank-separated.
        MaskCase{"Driver={PostgreSQL Unicode};Server=h;pqopt={password=secret};Uid=u",
                 "Driver={PostgreSQL Unicode};Server=h;pqopt={password=****};Uid=u"},
        MaskCase{"pqopt={sslmode=require password=secret}",
                 "pqopt={sslmode=require password=****}"},
        MaskCase{"pqopt={password='a b\\' c' sslmode=require}",
                 "pqopt={password=**** sslmode=require}"},
        MaskCase{"pqopt={password=se}}cret}", "pqopt={password=****}"},
        MaskCase{"pqopt = { PASSWORD = s ; x=1 }", "pqopt = { PASSWORD = **** ; x=1 }"},
        MaskCase{"Opts={Uid=u;Pwd=x};Database=d", "Opts={Uid=u;Pwd=****};Database=d"},
        MaskCase{"pqopt={a={password=x};b=1}", "pqopt={a={password=****};b=1}"},
        MaskCase{"Extended Properties=\"Jet OLEDB:Database Password=s;Mode=1\";X=1",
                 "Extended Properties=\"Jet OLEDB:Database Password=****;Mode=1\";X=1"},
        MaskCase{"App='O''Brien password=s'", "App='O''Brien password=****'"},
        // The scrambled form of a whole string, pasted where a plain one belongs.
        MaskCase{"TAVOK6285:8", "****"},
        MaskCase{"TAVOK", "****"},
        MaskCase{"tavok6285:8", "tavok6285:8"},
        MaskCase{"Server=TAVOK6285:8;Pwd=x", "Server=TAVOK6285:8;Pwd=****"}),
    [](const ::testing::TestParamInfo<MaskCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct TimeoutCase {
  const char* name;
  std::string input;
  int seconds;  // starting from 15
  std::string rest;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.name; }

class LoginTimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(LoginTimeoutTest, IsTakenOutOfTheString) {
  int seconds = 15;
  EXPECT_EQ(TakeLoginTimeout(GetParam().input, &seconds), GetParam().rest);
  EXPECT_EQ(seconds, GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, LoginTimeoutTest,
    ::testing::Values(
        TimeoutCase{"none", "Provider=SQLOLEDB;Server=s;Pwd=p;", 15,
                    "Provider=SQLOLEDB;Server=s;Pwd=p;"},
        TimeoutCase{"connect", "Provider=SQLOLEDB;Connect Timeout=2;Server=s;", 2,
                    "Provider=SQLOLEDB;Server=s;"},
        TimeoutCase{"connection_any_case_at_the_end", "DSN=Main; CONNECTION timeout = 7 ", 7, "DSN=Main;"},
        TimeoutCase{"zero_is_no_limit", "Connect Timeout=0;DSN=Main", 0, "DSN=Main"},
        TimeoutCase{"quoted", "DSN=Main;Connect Timeout='5';Uid=u", 5, "DSN=Main;Uid=u"},
        TimeoutCase{"first_counts_all_go", "Connect Timeout=3;DSN=M;Connection Timeout=9;", 3,
                    "DSN=M;"},
        TimeoutCase{"not_a_number_keeps_default", "Connect Timeout=2s;DSN=M", 15, "DSN=M"},
        TimeoutCase{"negative_keeps_default", "Connect Timeout=-1;DSN=M", 15, "DSN=M"},
        TimeoutCase{"enormous_is_the_longest", "Connect Timeout=99999999999999999999;DSN=M",
                    INT_MAX, "DSN=M"},
        TimeoutCase{"other_timeouts_stay", "DSN=M;Command Timeout=5;Timeout=3;Login Timeout=4", 15,
                    "DSN=M;Command Timeout=5;Timeout=3;Login Timeout=4"},
        TimeoutCase{"inside_a_value_stays", "DSN=M;pqopt={Connect Timeout=3}", 15,
                    "DSN=M;pqopt={Connect Timeout=3}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MaskTest, EnormousStringStaysIntact) {
  std::string big(1 << 20, 'x');
  EXPECT_EQ(MaskConnectionPassword("Server=" + big + ";Pwd=s"), "Server=" + big + ";Pwd=****");
}

}  // namespace
}  // namespace dbrelay
