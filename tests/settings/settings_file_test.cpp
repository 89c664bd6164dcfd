// The settings file as the real DbRelay meets it beside itself: hand-edited line ends and
// encodings are read as Windows reads them, and whatever is no settings file (a FIFO, a device, a
// folder, a file of megabytes) is named once with its errno, at once, and the run goes on with the
// defaults, which deliver nothing, so it fails.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "settings/replace_file.h"
#include "tests/support/odbc_config.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::RunProcess;

const std::string kStatement = "UPDATE Docs SET Signed=1 WHERE Id=7";

RunOptions RelayOptions(const std::string& locale = "C") {
  RunOptions options;
  options.env = testing_support::OdbcConfig::Get().Env();
  options.env["LC_ALL"] = locale;
  options.timeout_seconds = 30;  // only a guard: every case ends at once
  return options;
}

// A SQLite database beside the program with the row the statement changes.
std::string MakeDatabase(const RelaySandbox& relay) {
  const std::string db = relay.File("docs.db");
  auto made = RunProcess({"/usr/bin/sqlite3", db,
                          "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"
                          "INSERT INTO Docs VALUES (7, 0);"});
  EXPECT_EQ(made.exit_status, 0);
  return db;
}

std::string Signed(const std::string& db) {
  return RunProcess({"/usr/bin/sqlite3", db, "SELECT Signed FROM Docs WHERE Id=7"}).out;
}

// --- Files edited by hand or saved on Windows ---

enum class Form { kCrOnly, kUtf16Le, kUtf16Be };

struct HandEditedCase {
  const char* name;
  Form form;
  std::string comment;  // UTF-8; a line in front of the section
  const char* locale;
  int error;  // 0: the statement is delivered; else the errno reported first
};

void PrintTo(const HandEditedCase& c, std::ostream* os) { *os << c.name; }

// UTF-8 text (at most three-byte characters) as UTF-16 with its byte-order mark.
std::string Utf16(const std::string& utf8, bool little_endian) {
  std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t unit = c;
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    if (length == 2) unit = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
    if (length == 3) unit = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
    i += length;
    char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    out += little_endian ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

class HandEditedSettingsTest : public testing::TestWithParam<HandEditedCase> {};

TEST_P(HandEditedSettingsTest, IsReadAsWindowsReadsItOrNamedAsUnreadable) {
  const HandEditedCase& c = GetParam();
  RelaySandbox relay;
  const std::string db = MakeDatabase(relay);
  const std::string end = c.form == Form::kCrOnly ? "\r" : "\r\n";
  std::string text = c.comment + end + "[General]" + end;
  for (const std::string& line :
       {std::string("PriDBType=2"), "PriOtherConnStr=Driver=SQLite3;Database=" + db,
        std::string("RaiseErrorIfAffectedLinesLessThen=1")}) {
    text += line + end;
  }
  relay.WriteIniBytes(c.form == Form::kCrOnly ? text : Utf16(text, c.form == Form::kUtf16Le));

  auto result = relay.Run({kStatement}, RelayOptions(c.locale));
  ASSERT_FALSE(result.timed_out);
  if (c.error == 0) {
    EXPECT_EQ(result.exit_status, 0) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Signed(db), "1\n");
  } else {
    const std::string first = "Unable to read settings file: " + relay.ini_path() +
                              "\n\nError returned = " + std::to_string(c.error) + "\n";
    EXPECT_EQ(result.out.substr(0, first.size()), first) << result.out;
    EXPECT_EQ(result.exit_status, 255);
    EXPECT_EQ(Signed(db), "0\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HandEditedSettingsTest,
    testing::Values(
        HandEditedCase{"cr_line_ends", Form::kCrOnly, "; saved on an old Mac", "C", 0},
        HandEditedCase{"utf16_little_endian", Form::kUtf16Le, "; Notepad \xE2\x80\x93 caf\xC3\xA9",
                       "C.UTF-8", 0},
        HandEditedCase{"utf16_big_endian", Form::kUtf16Be, "; Notepad", "C", 0},
        // The C locale has no en dash: the file is named as unreadable, not taken for defaults.
        HandEditedCase{"utf16_not_in_the_locale", Form::kUtf16Le, "; \xE2\x80\x93", "C",
                       EILSEQ}),
    [](const auto& info) { return std::string(info.param.name); });

// --- What is no settings file ---

enum class Odd { kFifo, kFolder, kDeviceNode, kLinkToDevZero, kTwoMegabytes };

struct OddSettingsCase {
  const char* name;
  Odd kind;
  int error;
};

void PrintTo(const OddSettingsCase& c, std::ostream* os) { *os << c.name; }

class OddSettingsFileTest : public testing::TestWithParam<OddSettingsCase> {};

TEST_P(OddSettingsFileTest, IsNamedOnceAtOnceAndTheRunGoesOnWithTheDefaults) {
  RelaySandbox relay;
  const std::string ini = relay.ini_path();
  switch (GetParam().kind) {
    case Odd::kFifo:
      ASSERT_EQ(::mkfifo(ini.c_str(), 0666), 0);
      break;
    case Odd::kFolder:
      ASSERT_EQ(::mkdir(ini.c_str(), 0755), 0);
      break;
    case Odd::kDeviceNode: {
      // /dev/zero under the settings file's own name, no link on the way.
      if (::mknod(ini.c_str(), S_IFCHR | 0666, ::makedev(1, 5)) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs CAP_MKNOD)";
      }
      int fd = ::open(ini.c_str(), O_RDONLY);
      if (fd < 0) GTEST_SKIP() << "device nodes cannot be opened here";
      ::close(fd);
      break;
    }
    case Odd::kLinkToDevZero:
      ASSERT_EQ(::symlink("/dev/zero", ini.c_str()), 0);
      break;
    case Odd::kTwoMegabytes:
      relay.WriteIniBytes("[General]\r\nDetailedLog=1\r\n" +
                          std::string(2 * settings::kMaxSettingsFileSize, ';'));
      break;
  }

  auto result = relay.Run({kStatement}, RelayOptions());
  ASSERT_FALSE(result.timed_out) << "DbRelay waited on what stands at " << ini;
  const std::string report = "Unable to read settings file: " + ini +
                             "\n\nError returned = " + std::to_string(GetParam().error) + "\n";
  EXPECT_EQ(result.out.substr(0, report.size()), report) << result.out;
  EXPECT_EQ(result.out.find("Unable to read settings file", 1), std::string::npos)
      << "named more than once:\n" << result.out;
  EXPECT_GT(result.out.size(), report.size()) << "the failed delivery is reported after it";
  EXPECT_EQ(result.exit_status, 255);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OddSettingsFileTest,
    testing::Values(OddSettingsCase{"fifo", Odd::kFifo, EINVAL},
                    OddSettingsCase{"folder", Odd::kFolder, EISDIR},
                    OddSettingsCase{"device_node", Odd::kDeviceNode, EINVAL},
                    OddSettingsCase{"link_to_dev_zero", Odd::kLinkToDevZero, EINVAL},
                    OddSettingsCase{"two_megabytes", Odd::kTwoMegabytes, EFBIG}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
