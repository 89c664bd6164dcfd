#include "config_editor/version_record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <string>

#include "tests/support/relay_sandbox.h"
#include "tests/support/service_process.h"

namespace config_editor {
namespace {

using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Which(const std::string& name) { return testing_support::FindOnPath(name); }

std::string Record(const std::string& file_version) {
  std::string r(kVersionRecordMarker);
  auto add = [&r](const std::string& k, const std::string& v) {
    r += k;
    r += '\0';
    r += v;
    r += '\0';
  };
  add("\\VarFileInfo\\Translation", "040904E4");
  add("\\StringFileInfo\\040904E4\\FileVersion", file_version);
  r += '\0';
  return r;
}

// An ELF file (a copy of a system program) carrying record in the version section.
std::string ElfWithRecord(const TempDir& dir, const std::string& record) {
  std::string record_file = dir.File("record.bin");
  std::string elf = dir.File("program");
  WriteFileBytes(record_file, record);
  auto result = RunProcess({Which("objcopy"), "--add-section",
                            std::string(kVersionSectionName) + "=" + record_file, "/bin/true", elf});
  EXPECT_EQ(result.exit_status, 0);
  return elf;
}

std::string VersionLineOf(const std::string& path) {
  char buffer[1000];
  std::string version;
  if (GetFileVersionString(path, buffer, sizeof(buffer))) version = buffer;
  return FormatVersionLine(version);
}

TEST(VersionRecordTest, TheEditorCarriesItsVersion) {
  EXPECT_EQ(VersionLineOf(testing_support::BinDir() + "/DbRelayConfig"), "Version: 1.1.1.0");
}

struct VersionCase {
  const char* name;
  std::string file_version;
  std::string line;
};

class VersionLineTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionLineTest, ShowsTheFileVersion) {
  TempDir dir;
  EXPECT_EQ(VersionLineOf(ElfWithRecord(dir, Record(GetParam().file_version))), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionLineTest,
    ::testing::Values(VersionCase{"Commas", "2, 20, 0, 0", "Version: 2.20.0.0"},
                      VersionCase{"Parentheses", "1.0 (beta)", "Version: 1.0{beta}"},
                      VersionCase{"CutAt999", std::string(1500, 'x'),
                                  "Version: " + std::string(999, 'x')},
                      VersionCase{"Empty", "", "Version: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionRecordTest, FilesWithoutARecordShowNoVersion) {
  TempDir dir;
  std::string no_translation(kVersionRecordMarker);
  no_translation += std::string("\\StringFileInfo\\040904E4\\FileVersion\0" "1\0\0", 41);
  std::string other_language = Record("1, 0");
  other_language.replace(other_language.find("040904E4"), 8, "040704B0");
  std::string truncated = Record("1, 2, 3, 4");
  truncated.resize(truncated.size() - 6);
  WriteFileBytes(dir.File("text"), "not an executable");
  for (const std::string& path :
       {std::string("/bin/true"), dir.File("missing"), dir.File("text"),
        ElfWithRecord(dir, no_translation), ElfWithRecord(dir, other_language),
        ElfWithRecord(dir, truncated)}) {
    char buffer[1000] = "untouched";
    EXPECT_FALSE(GetFileVersionString(path, buffer, sizeof(buffer))) << path;
    EXPECT_EQ(VersionLineOf(path), "Version: ") << path;
  }
}

TEST(VersionRecordTest, SmallBufferIsCutAndTerminated) {
  TempDir dir;
  std::string elf = ElfWithRecord(dir, Record("1, 1, 1, 0"));
  char buffer[4];
  ASSERT_TRUE(GetFileVersionString(elf, buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "1, ");
}

}  // namespace
}  // namespace config_editor
