#include "settings/ini_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <ostream>
#include <string>
#include <vector>

#include "settings/ini_text.h"
#include "settings/replace_file.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

struct ReadCase {
  const char* name;
  std::string file;  // contents of the settings file
  const char* key;
  std::string expected_string;  // ReadString with default "dflt"
  int32_t expected_int;         // ReadInt with default 77
};

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsLikeTheProfileFunctions) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), GetParam().file);
  EXPECT_EQ(ini.ReadString("General", GetParam().key, "dflt"), GetParam().expected_string);
  EXPECT_EQ(ini.ReadInt("General", GetParam().key, 77), GetParam().expected_int);
}

const std::string k5000(5000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    testing::Values(
        ReadCase{"plain", "[General]\r\nKey=12\r\n", "Key", "12", 12},
        ReadCase{"names_ignore_case", "[gENERAL]\r\nkEy=5\r\n", "KEY", "5", 5},
        ReadCase{"trimmed", "  [ General ]  \n  Key  =  hello world  \n", "Key", "hello world", 0},
        ReadCase{"double_quotes_removed_once", "[General]\nKey=\"\"v\"\"\n", "Key", "\"v\"", 0},
        ReadCase{"single_quotes_removed", "[General]\nKey='7'\n", "Key", "7", 7},
        ReadCase{"unmatched_quotes_kept", "[General]\nKey=\"7'\n", "Key", "\"7'", 0},
        ReadCase{"first_duplicate_wins", "[General]\nKey=1\nKey=2\n", "Key", "1", 1},
        ReadCase{"comment_line_ignored", "[General]\n;Key=1\nKey=2\n", "Key", "2", 2},
        ReadCase{"other_section_ignored", "[Other]\nKey=1\n[General]\nKey=2\n", "Key", "2", 2},
        ReadCase{"key_missing", "[General]\nOther=1\n", "Key", "dflt", 77},
        ReadCase{"section_missing", "Key=1\n", "Key", "dflt", 77},
        ReadCase{"empty_file", "", "Key", "dflt", 77},
        ReadCase{"line_without_equals", "[General]\nKey\n", "Key", "dflt", 77},
        ReadCase{"empty_value", "[General]\nKey=\n", "Key", "", 77},
        ReadCase{"negative", "[General]\nKey=-1\n", "Key", "-1", -1},
        ReadCase{"plus_sign", "[General]\nKey=+9\n", "Key", "+9", 9},
        ReadCase{"wraps_to_32_bits", "[General]\nKey=4294967297\n", "Key", "4294967297", 1},
        ReadCase{"leading_letter_is_zero", "[General]\nKey=B42\n", "Key", "B42", 0},
        ReadCase{"leading_digits_only", "[General]\nKey=42A9\n", "Key", "42A9", 42},
        ReadCase{"format_text_kept", "[General]\nKey=%s%n\n", "Key", "%s%n", 0},
        ReadCase{"cut_at_4095", "[General]\nKey=" + k5000 + "\n", "Key", k5000.substr(0, 4095), 0},
        ReadCase{"binary_junk_around", std::string("\0\xff\x01junk\n[General]\nKey=3\n\xfe\0", 24),
                 "Key", "3", 3},
        ReadCase{"value_ends_at_nul", std::string("[General]\nKey=ab\0cd\n", 20), "Key", "ab", 0},
        ReadCase{"utf8_bom", "\xEF\xBB\xBF[General]\nKey=4\n", "Key", "4", 4},
        ReadCase{"crlf_and_lf_mixed", "[General]\r\nA=1\nKey=6\r\n", "Key", "6", 6},
        // A lone CR ends a line, as for the profile functions: not one long first line.
        ReadCase{"cr_only", "; saved with CR\r[General]\rA=1\rKey=6\r", "Key", "6", 6},
        ReadCase{"cr_only_no_final_end", "[General]\rKey=6", "Key", "6", 6},
        ReadCase{"cr_ends_a_value", "[General]\r\nKey=ab\rcd=1\r\n", "Key", "ab", 0},
        ReadCase{"cr_before_crlf", "[General]\r\r\nKey=7\r\r\n", "Key", "7", 7},
        ReadCase{"lf_cr_is_two_ends", "[General]\n\rKey=8\n\r", "Key", "8", 8}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(IniReadTest, MissingFileGivesDefaults) {
  TempDir dir;
  settings::IniFile ini(dir.File("absent.ini"));
  EXPECT_EQ(ini.ReadString("General", "PdfSignerPath", "DocSealer.exe"), "DocSealer.exe");
  EXPECT_EQ(ini.ReadInt("General", "PriDBType", 1), 1);
}

TEST(IniReadTest, EveryReadSeesTheFileAsItIsNow) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), "[General]\r\nKey=1\r\n");
  EXPECT_EQ(ini.ReadInt("General", "Key", 0), 1);
  WriteFileBytes(ini.path(), "[General]\r\nKey=2\r\n");
  EXPECT_EQ(ini.ReadInt("General", "Key", 0), 2);
}

// A settings file of more than a megabyte is no settings file: it reads as missing, and every run
// does not pay for reading it.
struct SizeCase {
  const char* name;
  size_t size;
  int32_t expected;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class IniSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(IniSizeTest, OnlyAFileUpToTheLimitIsRead) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  std::string file = "[General]\nKey=8\n;";
  file += std::string(GetParam().size - file.size() - 1, 'z') + "\n";
  WriteFileBytes(ini.path(), file);
  EXPECT_EQ(ini.ReadInt("General", "Key", 0), GetParam().expected);
  std::string text;
  settings::IniEncoding encoding;
  EXPECT_EQ(settings::ReadIniText(ini.path(), &text, &encoding), GetParam().expected ? 0 : EFBIG);
  // The writer leaves a file it cannot read as it was.
  EXPECT_EQ(ini.WriteInt("General", "Key", 9), GetParam().expected ? 0 : EFBIG);
  if (!GetParam().expected) {
    EXPECT_EQ(ReadFileBytes(ini.path()), file);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, IniSizeTest,
    testing::Values(SizeCase{"one_megabyte", settings::kMaxSettingsFileSize, 8},
                    SizeCase{"one_byte_more", settings::kMaxSettingsFileSize + 1, 0},
                    SizeCase{"fifty_megabytes", 50 * 1024 * 1024, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// What stands at the settings path instead of a regular file. None of it is read or waited for:
// the errno is the reason, every read gives its default, and a write changes nothing.
enum class OddFile { kFifo, kFolder, kDeviceByLink, kLinkToFifo };

struct OddFileCase {
  const char* name;
  OddFile kind;
  int error;
};

void PrintTo(const OddFileCase& c, std::ostream* os) { *os << c.name; }

class IniOddFileTest : public testing::TestWithParam<OddFileCase> {};

TEST_P(IniOddFileTest, IsRefusedAtOnceWithItsErrno) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  switch (GetParam().kind) {
    case OddFile::kFifo:
      ASSERT_EQ(mkfifo(ini.path().c_str(), 0666), 0);
      break;
    case OddFile::kFolder:
      ASSERT_EQ(mkdir(ini.path().c_str(), 0755), 0);
      break;
    case OddFile::kDeviceByLink:
      ASSERT_EQ(symlink("/dev/zero", ini.path().c_str()), 0);
      break;
    case OddFile::kLinkToFifo:
      ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0666), 0);
      ASSERT_EQ(symlink("fifo", ini.path().c_str()), 0);
      break;
  }
  // A FIFO that a reader opened and waited on would hang this test; a child keeps it bounded.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);
    std::string text;
    settings::IniEncoding encoding;
    int read_error = settings::ReadIniText(ini.path(), &text, &encoding);
    bool defaults = ini.ReadString("General", "Key", "dflt") == "dflt" &&
                    ini.ReadInt("General", "Key", 77) == 77;
    int write_error = ini.WriteInt("General", "Key", 1);
    _exit(read_error == GetParam().error && write_error == GetParam().error && defaults ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  struct stat st {};
  ASSERT_EQ(lstat(ini.path().c_str(), &st), 0);
  EXPECT_FALSE(S_ISREG(st.st_mode)) << "a write replaced it";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, IniOddFileTest,
    testing::Values(OddFileCase{"fifo", OddFile::kFifo, EINVAL},
                    OddFileCase{"folder", OddFile::kFolder, EISDIR},
                    OddFileCase{"dev_zero_by_link", OddFile::kDeviceByLink, EINVAL},
                    OddFileCase{"link_to_fifo", OddFile::kLinkToFifo, EINVAL}),
    [](const auto& info) { return std::string(info.param.name); });

// UTF-16 with its byte-order mark, as Windows Notepad saves "Unicode": read as text in the locale's
// encoding, written back in UTF-16, or refused, never taken for an empty file.
std::string Utf16(const std::u16string& text, bool little_endian) {
  std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t unit : text) {
    char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += little_endian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

// Sets LC_CTYPE for one test, as DbRelay sets it from the environment.
class ScopedCtype {
 public:
  explicit ScopedCtype(const char* locale) : old_(setlocale(LC_CTYPE, nullptr)) {
    EXPECT_NE(setlocale(LC_CTYPE, locale), nullptr) << locale;
  }
  ~ScopedCtype() { setlocale(LC_CTYPE, old_.c_str()); }

 private:
  std::string old_;
};

struct Utf16ReadCase {
  const char* name;
  std::string file;
  const char* locale;
  std::string expected;  // ReadString of Key with default "dflt"
  int error;             // ReadIniText
};

void PrintTo(const Utf16ReadCase& c, std::ostream* os) { *os << c.name; }

class IniUtf16ReadTest : public testing::TestWithParam<Utf16ReadCase> {};

TEST_P(IniUtf16ReadTest, ReadsAsWindowsDoesOrIsRefused) {
  ScopedCtype ctype(GetParam().locale);
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), GetParam().file);
  EXPECT_EQ(ini.ReadString("General", "Key", "dflt"), GetParam().expected);
  std::string text;
  settings::IniEncoding encoding;
  EXPECT_EQ(settings::ReadIniText(ini.path(), &text, &encoding), GetParam().error);
}

const std::u16string kUtf16Settings = u"; Notepad\r\n[General]\r\nKey=caf\u00e9 \u20ac\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, IniUtf16ReadTest,
    testing::Values(
        Utf16ReadCase{"little_endian", Utf16(kUtf16Settings, true), "C.UTF-8",
                      "caf\xC3\xA9 \xE2\x82\xAC", 0},
        Utf16ReadCase{"big_endian", Utf16(kUtf16Settings, false), "C.UTF-8",
                      "caf\xC3\xA9 \xE2\x82\xAC", 0},
        Utf16ReadCase{"cr_only", Utf16(u"[General]\rA=1\rKey=5\r", true), "C", "5", 0},
        Utf16ReadCase{"ascii_in_c_locale", Utf16(u"[General]\r\nKey=abc\r\n", true), "C",
                      "abc", 0},
        // The C locale holds no "é": refused, not read with a character changed.
        Utf16ReadCase{"not_in_the_locale", Utf16(kUtf16Settings, true), "C", "dflt", EILSEQ},
        Utf16ReadCase{"lone_surrogate", Utf16(u"[General]\r\nKey=\xD800x\r\n", true), "C.UTF-8",
                      "dflt", EILSEQ},
        Utf16ReadCase{"odd_length", Utf16(u"[General]\r\nKey=1\r\n", true) + "\x41", "C.UTF-8",
                      "dflt", EILSEQ},
        Utf16ReadCase{"mark_only", "\xFF\xFE", "C", "dflt", 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

class IniWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, KeepsEveryOtherLine) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), GetParam().before);
  ASSERT_EQ(ini.WriteString(GetParam().section, GetParam().key, GetParam().value), 0);
  EXPECT_EQ(ReadFileBytes(ini.path()), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    testing::Values(
        WriteCase{"update_in_place", "; note\r\n[General]\r\nA=1\r\nkey = old\r\nB=2\r\n",
                  "General", "Key", "new", "; note\r\n[General]\r\nA=1\r\nKey=new\r\nB=2\r\n"},
        WriteCase{"append_to_section", "[General]\r\nA=1\r\n\r\n[Other]\r\nX=1\r\n", "General",
                  "B", "2", "[General]\r\nA=1\r\nB=2\r\n\r\n[Other]\r\nX=1\r\n"},
        WriteCase{"new_section_at_end", "[Other]\nX=1\n", "General", "A", "1",
                  "[Other]\nX=1\n[General]\r\nA=1\r\n"},
        WriteCase{"last_line_without_end", "[General]\nA=1", "General", "B", "2",
                  "[General]\nA=1\r\nB=2\r\n"},
        WriteCase{"section_name_case", "[general]\r\nA=1\r\n", "General", "A", "5",
                  "[general]\r\nA=5\r\n"},
        WriteCase{"empty_value", "[General]\r\nA=1\r\n", "General", "A", "",
                  "[General]\r\nA=\r\n"},
        WriteCase{"new_file", "", "General", "A", "1", "[General]\r\nA=1\r\n"},
        // The section the reader finds behind a byte-order mark is the one the writer updates.
        WriteCase{"utf8_bom_kept", "\xEF\xBB\xBF[General]\r\nA=1\r\n", "General", "A", "2",
                  "\xEF\xBB\xBF[General]\r\nA=2\r\n"},
        // A file with CR line ends keeps them; only the new line is written with CRLF.
        WriteCase{"cr_only_update", "; c\r[General]\rA=1\rB=2\r[Other]\rA=9\r", "General", "A",
                  "5", "; c\r[General]\rA=5\rB=2\r[Other]\rA=9\r"},
        WriteCase{"cr_only_append", "[General]\rA=1\r[Other]\rX=1\r", "General", "B", "2",
                  "[General]\rA=1\rB=2\r\n[Other]\rX=1\r"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// A UTF-16 file is written back in UTF-16, its byte order and every other line kept; a value it
// cannot take without loss is refused and the file left as it was.
struct Utf16WriteCase {
  const char* name;
  bool little_endian;
  const char* locale;
  const char* key;
  std::string value;
  int error;
  std::u16string after;  // the file's text afterwards (the text before when refused)
};

void PrintTo(const Utf16WriteCase& c, std::ostream* os) { *os << c.name; }

class IniUtf16WriteTest : public testing::TestWithParam<Utf16WriteCase> {};

const std::u16string kUtf16Before = u"; caf\u00e9\r\n[General]\r\nA=\u20ac1\r\nB=2\r\n";

TEST_P(IniUtf16WriteTest, StaysUtf16OrIsRefused) {
  const Utf16WriteCase& c = GetParam();
  ScopedCtype ctype(c.locale);
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), Utf16(kUtf16Before, c.little_endian));
  EXPECT_EQ(ini.WriteString("General", c.key, c.value), c.error);
  EXPECT_EQ(ReadFileBytes(ini.path()), Utf16(c.after, c.little_endian));
  if (c.error == 0) {
    EXPECT_EQ(ini.ReadString("General", c.key, "dflt"), c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, IniUtf16WriteTest,
    testing::Values(
        Utf16WriteCase{"update", true, "C.UTF-8", "B", "\xC3\xA9t\xC3\xA9", 0,
                       u"; caf\u00e9\r\n[General]\r\nA=\u20ac1\r\nB=\u00e9t\u00e9\r\n"},
        Utf16WriteCase{"append", true, "C.UTF-8", "C", "3", 0,
                       u"; caf\u00e9\r\n[General]\r\nA=\u20ac1\r\nB=2\r\nC=3\r\n"},
        Utf16WriteCase{"append", false, "C.UTF-8", "C", "3", 0,
                       u"; caf\u00e9\r\n[General]\r\nA=\u20ac1\r\nB=2\r\nC=3\r\n"},
        // Broken UTF-8 cannot become UTF-16.
        Utf16WriteCase{"value_not_in_the_locale", true, "C.UTF-8", "B", "\xFF", EILSEQ,
                       kUtf16Before},
        // The C locale cannot hold the file's own "é": nothing is rewritten.
        Utf16WriteCase{"file_not_in_the_locale", true, "C", "B", "3", EILSEQ, kUtf16Before}),
    [](const auto& info) {
      return std::string(info.param.name) + (info.param.little_endian ? "" : "_big_endian");
    });

// A writer that edits raw bytes must not get those of a UTF-16 file: its lines are not in them.
TEST(IniWriteTest, RawBytesOfAUtf16FileAreNotHandedOut) {
  TempDir dir;
  WriteFileBytes(dir.File("DbRelay.ini"), Utf16(kUtf16Before, true));
  std::string contents = "stale";
  EXPECT_EQ(settings::ReadWholeFile(dir.File("DbRelay.ini"), &contents), EILSEQ);
  EXPECT_EQ(contents, "");
  WriteFileBytes(dir.File("DbRelay.ini"), "\xEF\xBB\xBF[General]\rA=1\r");
  EXPECT_EQ(settings::ReadWholeFile(dir.File("DbRelay.ini"), &contents), 0);
  EXPECT_EQ(contents, "\xEF\xBB\xBF[General]\rA=1\r");
}

TEST(IniWriteTest, NewFileIsPrivateAndExistingFileKeepsItsMode) {
  TempDir dir;
  settings::IniFile fresh(dir.File("fresh.ini"));
  ASSERT_EQ(fresh.WriteInt("General", "PriDBType", 2), 0);
  struct stat st {};
  ASSERT_EQ(stat(fresh.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFileBytes(fresh.path()), "[General]\r\nPriDBType=2\r\n");

  settings::IniFile shared(dir.File("shared.ini"));
  WriteFileBytes(shared.path(), "[General]\r\n");
  chmod(shared.path().c_str(), 0644);
  ASSERT_EQ(shared.WriteInt("General", "A", -7), 0);
  ASSERT_EQ(stat(shared.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(shared.ReadInt("General", "A", 0), -7);
}

TEST(IniWriteTest, RefusesWhatALineCannotHoldAndLeavesTheFile) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), "[General]\r\nA=1\r\n");
  EXPECT_EQ(ini.WriteString("General", "A", "two\r\nB=injected"), EINVAL);
  EXPECT_EQ(ini.WriteString("General", "A=B", "1"), EINVAL);
  EXPECT_EQ(ini.WriteString("General", "", "1"), EINVAL);
  EXPECT_EQ(ReadFileBytes(ini.path()), "[General]\r\nA=1\r\n");
}

// Fails one call of the file seam with error.
class FailingFiles : public settings::SettingsFilesWrapper {
 public:
  FailingFiles(bool fail_read, int error)
      : SettingsFilesWrapper(settings::PosixSettingsFiles()), fail_read_(fail_read),
        error_(error) {}
  int ReadFile(const std::string& path, std::string* bytes) override {
    return fail_read_ ? error_ : target()->ReadFile(path, bytes);
  }
  int ReplaceFile(const std::string& path, std::string_view contents, unsigned mode) override {
    ++replacements;
    return fail_read_ ? target()->ReplaceFile(path, contents, mode) : error_;
  }
  int replacements = 0;

 private:
  bool fail_read_;
  int error_;
};

struct FailedWriteCase {
  const char* name;
  bool fail_read;  // else the replacement fails
  int error;
};

void PrintTo(const FailedWriteCase& c, std::ostream* os) { *os << c.name; }

class IniWriteFailureTest : public testing::TestWithParam<FailedWriteCase> {};

TEST_P(IniWriteFailureTest, IsReportedAndLeavesTheOldFileWhole) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  WriteFileBytes(ini.path(), "[General]\r\nA=1\r\n");
  FailingFiles files(GetParam().fail_read, GetParam().error);
  {
    settings::ScopedSettingsFilesOverride installed(&files);
    EXPECT_EQ(ini.WriteString("General", "A", "2"), GetParam().error);
  }
  // A file that could not be read is never replaced with what the write alone would leave.
  EXPECT_EQ(files.replacements, GetParam().fail_read ? 0 : 1);
  EXPECT_EQ(ReadFileBytes(ini.path()), "[General]\r\nA=1\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, IniWriteFailureTest,
    testing::Values(FailedWriteCase{"read_denied", true, EACCES},
                    FailedWriteCase{"read_io_error", true, EIO},
                    FailedWriteCase{"replace_denied", false, EACCES},
                    FailedWriteCase{"replace_disk_full", false, ENOSPC}),
    [](const testing::TestParamInfo<FailedWriteCase>& info) {
      return std::string(info.param.name);
    });

TEST(IniWriteTest, FolderThatDoesNotExistIsAnError) {
  TempDir dir;
  settings::IniFile ini(dir.File("missing/DbRelay.ini"));
  EXPECT_EQ(ini.WriteString("General", "A", "1"), ENOENT);
}

// The names in a folder, for checking that a save leaves no temporary file behind.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Settings beside the program as a link into a writable configuration folder: the save must
// replace the link's target in the target's folder and leave the link a link.
struct LinkCase {
  const char* name;
  const char* link_text;  // what DbRelay.ini in prog/ points at
  bool target_exists;
  std::vector<std::string> extra_links;  // "name=target" links made in etc/ first
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class IniWriteThroughLinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(IniWriteThroughLinkTest, ReplacesTheTargetAndKeepsTheLink) {
  TempDir dir;
  const std::string prog = dir.File("prog"), etc = dir.File("etc");
  ASSERT_EQ(mkdir(prog.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(etc.c_str(), 0775), 0);
  const std::string target = etc + "/DbRelay.ini";
  if (GetParam().target_exists) {
    WriteFileBytes(target, "; kept comment\r\n[General]\r\nA=1\r\n");
    chmod(target.c_str(), 0640);
  }
  for (const std::string& made : GetParam().extra_links) {
    size_t eq = made.find('=');
    ASSERT_EQ(symlink(made.substr(eq + 1).c_str(), (etc + "/" + made.substr(0, eq)).c_str()), 0);
  }
  std::string link_text = GetParam().link_text;
  if (link_text.front() == '@') link_text = dir.path() + link_text.substr(1);  // absolute form
  const std::string link = prog + "/DbRelay.ini";
  ASSERT_EQ(symlink(link_text.c_str(), link.c_str()), 0);

  settings::IniFile ini(link);
  ASSERT_EQ(ini.WriteString("General", "A", "2"), 0);

  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  ASSERT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, GetParam().target_exists ? 0640u : 0600u);
  EXPECT_EQ(ReadFileBytes(target), GetParam().target_exists
                                       ? "; kept comment\r\n[General]\r\nA=2\r\n"
                                       : "[General]\r\nA=2\r\n");
  EXPECT_EQ(ini.ReadString("General", "A", ""), "2");
  EXPECT_EQ(Entries(prog), std::vector<std::string>{"DbRelay.ini"});
  std::vector<std::string> etc_names = Entries(etc);
  etc_names.erase(std::remove(etc_names.begin(), etc_names.end(), "DbRelay.ini"), etc_names.end());
  for (const std::string& made : GetParam().extra_links) {
    std::string name = made.substr(0, made.find('='));
    etc_names.erase(std::remove(etc_names.begin(), etc_names.end(), name), etc_names.end());
  }
  EXPECT_TRUE(etc_names.empty()) << "left behind: " << etc_names.front();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IniWriteThroughLinkTest,
    testing::Values(LinkCase{"absolute", "@/etc/DbRelay.ini", true, {}},
                    LinkCase{"relative", "../etc/DbRelay.ini", true, {}},
                    LinkCase{"chain_of_links", "../etc/current.ini", true,
                             {"current.ini=DbRelay.ini"}},
                    LinkCase{"dangling_link_creates_the_target", "../etc/DbRelay.ini", false, {}}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

TEST(IniWriteTest, LinkCycleIsAnErrorAndChangesNothing) {
  TempDir dir;
  ASSERT_EQ(symlink("b.ini", dir.File("a.ini").c_str()), 0);
  ASSERT_EQ(symlink("a.ini", dir.File("b.ini").c_str()), 0);
  settings::IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.WriteString("General", "A", "1"), ELOOP);
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"a.ini", "b.ini"}));
}

}  // namespace
