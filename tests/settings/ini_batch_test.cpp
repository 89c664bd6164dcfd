#include "settings/ini_batch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/replace_file.h"
#include "tests/support/relay_sandbox.h"

namespace {

using settings::IniWrite;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::vector<IniWrite> kSaveLikeWrites = {
    {"PriDBType", "1"},        {"PriConnectionString", "TAVOK6285:8"},
    {"SecDBType", "3"},        {"NewKey", "Caf\xE9 \x80 5"},
    {" EmailPort ", "25"},     {"emailsubject", ""},
    {"PriDBType", "2"},  // the same key twice: the last write wins, in place
};

struct BatchCase {
  const char* name;
  std::string file;  // "<missing>" for no file
  std::vector<IniWrite> writes = kSaveLikeWrites;
};

// A file Windows Notepad saved as "Unicode": little-endian UTF-16, every character ASCII so the
// C locale the tests run in holds them all.
std::string Utf16Le(std::string_view ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

class IniBatchTest : public testing::TestWithParam<BatchCase> {};

// The batch leaves the file exactly as the same writes made one by one would.
TEST_P(IniBatchTest, EndsAsTheSingleWritesWouldLeaveIt) {
  TempDir dir;
  const std::string one_by_one = dir.File("single.ini");
  const std::string batch = dir.File("batch.ini");
  if (GetParam().file != "<missing>") {
    WriteFileBytes(one_by_one, GetParam().file);
    WriteFileBytes(batch, GetParam().file);
  }
  settings::IniFile ini(one_by_one);
  for (const IniWrite& w : GetParam().writes) {
    ASSERT_EQ(ini.WriteString("General", w.key, w.value), 0);
  }
  ASSERT_EQ(settings::WriteIniBatch(batch, "General", GetParam().writes), 0);
  EXPECT_EQ(ReadFileBytes(batch), ReadFileBytes(one_by_one));
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniBatchTest,
    testing::Values(
        BatchCase{"missing", "<missing>"}, BatchCase{"empty", ""},
        BatchCase{"keys_in_place",
                  "[General]\r\nsecdbtype=1\r\n; comment\r\nEmailSubject=Caf\xE9\r\n"},
        BatchCase{"no_final_line_end", "[General]\r\nPriDBType=2"},
        BatchCase{"lf_lines_and_blank_lines", "[General]\nA=1\n\n\n[Other]\nPriDBType=9\n"},
        BatchCase{"bom_and_other_section_first", "\xEF\xBB\xBF[Other]\r\nX=1\r\n"},
        BatchCase{"duplicate_sections",
                  "[General]\r\nA=1\r\n[General]\r\nPriDBType=7\r\nNewKey=old\r\n"},
        BatchCase{"section_without_keys_at_end", "[Other]\r\nX=1\r\n[ general ]"},
        BatchCase{"lone_cr_line_ends", "[General]\rPriDBType=2\rA=1\r[Other]\rX=1\r"},
        // Stays UTF-16, as the single writes keep it.
        BatchCase{"utf16", Utf16Le("[General]\r\nA=1\r\n"), {{"A", "2"}, {"B", "3"}}}),
    [](const testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

// Counts the replacements, or fails each with fail_with.
class ReplaceWatch : public settings::SettingsFilesWrapper {
 public:
  explicit ReplaceWatch(int fail_with = 0)
      : SettingsFilesWrapper(settings::PosixSettingsFiles()), fail_with_(fail_with) {}
  int ReplaceFile(const std::string& path, std::string_view contents, unsigned mode) override {
    ++replacements;
    return fail_with_ != 0 ? fail_with_ : target()->ReplaceFile(path, contents, mode);
  }
  int replacements = 0;

 private:
  int fail_with_;
  settings::ScopedSettingsFilesOverride installed_{this};
};

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(IniBatchReplaceTest, ReplacesTheFileOnceAndAnOpenReaderKeepsTheOldContent) {
  TempDir dir;
  const std::string path = dir.File("DbRelay.ini");
  const std::string old_bytes = "[General]\r\nPriDBType=2\r\nEmailTo=old\r\n";
  WriteFileBytes(path, old_bytes);
  ino_t before = InodeOf(path);
  int reader = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ReplaceWatch watch;
  ASSERT_EQ(settings::WriteIniBatch(path, "General", kSaveLikeWrites), 0);
  EXPECT_EQ(watch.replacements, 1);
  EXPECT_NE(InodeOf(path), before);
  std::string seen(old_bytes.size() + 16, '\0');
  ssize_t n = ::read(reader, seen.data(), seen.size());
  ::close(reader);
  ASSERT_GE(n, 0);
  seen.resize(static_cast<size_t>(n));
  EXPECT_EQ(seen, old_bytes);  // a reader sees one whole version, never a mixture
  EXPECT_NE(ReadFileBytes(path).find("NewKey=Caf\xE9 \x80 5\r\n"), std::string::npos);
}

struct RefusedCase {
  const char* name;
  std::string key;
  std::string value;
};

class IniBatchRefusalTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(IniBatchRefusalTest, OneBadWriteRefusesTheWholeBatchAndWritesNothing) {
  TempDir dir;
  const std::string path = dir.File("DbRelay.ini");
  const std::string old_bytes = "[General]\r\nPriDBType=2\r\n";
  WriteFileBytes(path, old_bytes);
  ino_t before = InodeOf(path);
  std::vector<IniWrite> writes = kSaveLikeWrites;
  writes.insert(writes.begin() + 3, {GetParam().key, GetParam().value});
  size_t refused = 99;
  ReplaceWatch watch;
  EXPECT_EQ(settings::WriteIniBatch(path, "General", writes, &refused), EINVAL);
  EXPECT_EQ(refused, 3u);
  EXPECT_EQ(watch.replacements, 0);
  EXPECT_EQ(ReadFileBytes(path), old_bytes);
  EXPECT_EQ(InodeOf(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, IniBatchRefusalTest,
    testing::Values(RefusedCase{"lf_in_value", "EmailSubject", "a\nb"},
                    RefusedCase{"cr_in_value", "EmailSubject", "a\rb"},
                    RefusedCase{"nul_in_value", "EmailSubject", std::string("a\0b", 3)},
                    RefusedCase{"empty_key", " ", "x"}, RefusedCase{"equals_in_key", "a=b", "x"},
                    RefusedCase{"comment_key", ";a", "x"}, RefusedCase{"section_key", "[a", "x"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(IniBatchReplaceTest, AFailedReplacementIsReportedAndLeavesTheFile) {
  TempDir dir;
  const std::string path = dir.File("DbRelay.ini");
  WriteFileBytes(path, "[General]\r\nPriDBType=2\r\n");
  ReplaceWatch failing(EIO);
  EXPECT_EQ(settings::WriteIniBatch(path, "General", kSaveLikeWrites), EIO);
  EXPECT_EQ(ReadFileBytes(path), "[General]\r\nPriDBType=2\r\n");
}

}  // namespace
