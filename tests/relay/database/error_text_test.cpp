#include "relay/database/error_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

#include "relay/database/com_error.h"

namespace dbrelay {
namespace {

struct MeaningCase {
  uint32_t code;
  const char* meaning;
};

class CodeMeaningTest : public ::testing::TestWithParam<MeaningCase> {};

TEST_P(CodeMeaningTest, MatchesTheTableOrAFallback) {
  EXPECT_EQ(GetErrorCodeMeaning(GetParam().code), GetParam().meaning);
  EXPECT_EQ(_com_error(GetParam().code).ErrorMessage(), GetParam().meaning);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CodeMeaningTest,
    ::testing::Values(MeaningCase{0x80040201, "IDispatch error #1"},
                      MeaningCase{0x8004FFFF, "IDispatch error #65023"},
                      MeaningCase{0x80040200, "Unknown error 0x80040200"},
                      MeaningCase{0x80050000, "Unknown error 0x80050000"},
                      MeaningCase{0x00000001, "Unknown error 0x1"},
                      MeaningCase{0x80040E14, "IDispatch error #3092"},
                      MeaningCase{0x80004005, "Unspecified error"},
                      MeaningCase{0x80004003, "Invalid pointer"},
                      MeaningCase{0x80070057, "The parameter is incorrect."}),
    [](const ::testing::TestParamInfo<MeaningCase>& info) {
      char name[16];
      std::snprintf(name, sizeof name, "Code%08X", static_cast<unsigned>(info.param.code));
      return std::string(name);
    });

struct MessageCase {
  const char* message;
  const char* meaning;
};

class MessageTrimTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTrimTest, LosesOneLineEnd) {
  EXPECT_EQ(CodeMeaningFromMessage(0x80004005, std::string(GetParam().message)),
            GetParam().meaning);
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageTrimTest,
                         ::testing::Values(MessageCase{"Text\r\n", "Text"},
                                           MessageCase{"Text\n", "Text"},
                                           MessageCase{"Text\r", "Text\r"},
                                           MessageCase{"Text\n\n", "Text\n"},
                                           MessageCase{"\n", "\n"},
                                           MessageCase{"x", "x"},
                                           MessageCase{"\r\n", ""}),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

TEST(CodeMeaningTest, NoMessageTakesTheFallback) {
  EXPECT_EQ(CodeMeaningFromMessage(0x80040202, std::nullopt), "IDispatch error #2");
  EXPECT_EQ(CodeMeaningFromMessage(0x80040202, std::string()), "IDispatch error #2");
}

TEST(ErrorBlockTest, BothLayoutsWithDescriptionPrintedUnchanged) {
  _com_error error(0x80040E14, std::string("psqlodbcw.so"),
                   std::string("say \"hi\" and 'bye'\nsecond line\r\nthird"));
  EXPECT_EQ(FormatErrorBlock(error),
            "CADODataBase Error\n\tCode = 80040e14\n\tCode meaning = IDispatch error #3092\n"
            "\tSource = psqlodbcw.so\n\tDescription = say \"hi\" and 'bye'\nsecond line\r\nthird\n");
  EXPECT_EQ(FormatComErrorReport(error),
            "CADODataBase Error:\n Code: 80040e14\n Code meaning: IDispatch error #3092\n"
            " Source: psqlodbcw.so\n Description: say \"hi\" and 'bye'\nsecond line\r\nthird\n");
}

TEST(ErrorBlockTest, MissingErrorInformationPrintsNull) {
  _com_error error(0x80004003);
  EXPECT_EQ(FormatErrorBlock(error),
            "CADODataBase Error\n\tCode = 80004003\n\tCode meaning = Invalid pointer\n"
            "\tSource = (null)\n\tDescription = (null)\n");
  EXPECT_EQ(FormatComErrorReport(_com_error(0x1)),
            "CADODataBase Error:\n Code: 00000001\n Code meaning: Unknown error 0x1\n"
            " Source: (null)\n Description: (null)\n");
}

TEST(ReportComErrorTest, WritesTheReportFormToTheConsole) {
  ::setenv("DBRELAY_REPORT_PAUSE_MS", "0", 1);
  ::testing::internal::CaptureStdout();
  ReportComError(_com_error(0x80004005, std::string("src"), std::string("desc")));
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("CADODataBase Error:\n Code: 80004005\n Code meaning: Unspecified error\n"
                     " Source: src\n Description: desc\n"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace dbrelay
