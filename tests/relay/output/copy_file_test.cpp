#include "relay/output/copy_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/relay/output/output_test_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

class CopyFileTest : public output_test::SettingsFixtureBase, public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.File("in"));
    std::filesystem::create_directory(dir_.File("out"));
    WriteFileBytes(source_, "%PDF-1.4 signed\n");
  }
  void Configure(const std::string& copy_path, const std::string& copy_switch = "1") {
    WriteSettings("DetailedLog=1\r\nCopyFile=" + copy_switch + "\r\nCopyFilePath=" + copy_path +
                  "\r\n");
  }
  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Log(const std::string& file, const std::string& target, int result) {
    return "Trying to copy file: " + file + "\nTo file: " + target +
           "\nReturnValue = " + std::to_string(result) + "\n";
  }

  std::string source_ = dir_.File("in/a.pdf");
  std::string out_ = dir_.File("out");
};

struct TargetCase {
  const char* name;
  std::string copy_path;  // "$" stands for the test's folder
  std::string file;
  std::string target;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

class CopyTargetTest : public CopyFileTest, public testing::WithParamInterface<TargetCase> {
 protected:
  std::string Expand(std::string s) {
    for (size_t at; (at = s.find('$')) != std::string::npos;) s.replace(at, 1, dir_.path());
    return s;
  }
};

TEST_P(CopyTargetTest, TargetIsFolderPlusTail) {
  const std::string file = Expand(GetParam().file);
  const std::string target = Expand(GetParam().target);
  if (file != source_)
    WriteFileBytes(file.front() == '/' ? file : dir_.File("in/") + file, "%PDF-1.4 signed\n");
  // A file name without "/" is found in the current folder.
  std::string old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.File("in"));
  Configure(Expand(GetParam().copy_path));
  int result = dbrelay::CopyFileToFolder(file);
  std::filesystem::current_path(old_cwd);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFileBytes(target), "%PDF-1.4 signed\n");
  EXPECT_EQ(env_.console, Log(file, target, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CopyTargetTest,
    testing::Values(TargetCase{"folder", "$/out", "$/in/a.pdf", "$/out/a.pdf"},
                    TargetCase{"trailing_slash_doubles", "$/out/", "$/in/a.pdf", "$/out//a.pdf"},
                    TargetCase{"spaces_around_folder", " \t $/out  ", "$/in/a.pdf", "$/out/a.pdf"},
                    TargetCase{"no_slash_in_name", "$/out", "a.pdf", "$/outa.pdf"},
                    TargetCase{"odd_name", "$/out", "$/in/my \"q\" 'x' \xff.pdf",
                               "$/out/my \"q\" 'x' \xff.pdf"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopyFileTest, OverwritesAnExistingTargetAndLeavesNothingElse) {
  WriteFileBytes(dir_.File("out/a.pdf"), "old contents that are longer than the new ones\n");
  ::chmod(source_.c_str(), 0640);
  Configure(out_);
  EXPECT_EQ(dbrelay::CopyFileToFolder(source_), 1);
  EXPECT_EQ(ReadFileBytes(dir_.File("out/a.pdf")), "%PDF-1.4 signed\n");
  EXPECT_EQ(Listing(out_), std::vector<std::string>{"a.pdf"});
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("out/a.pdf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

struct FailCase {
  const char* name;
  std::string copy_path;  // "$" stands for the test's folder
  std::string file;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class CopyFailTest : public CopyFileTest, public testing::WithParamInterface<FailCase> {};

TEST_P(CopyFailTest, FailureIsZeroAndLogged) {
  std::string copy_path = GetParam().copy_path;
  std::string file = GetParam().file;
  for (std::string* s : {&copy_path, &file}) {
    if (s->rfind("$", 0) == 0) *s = dir_.path() + s->substr(1);
  }
  Configure(copy_path);
  EXPECT_EQ(dbrelay::CopyFileToFolder(file), 0);
  size_t slash = file.rfind('/');
  EXPECT_EQ(env_.console,
            Log(file, copy_path + (slash == std::string::npos ? file : file.substr(slash)), 0));
  EXPECT_TRUE(std::filesystem::is_empty(out_));
  EXPECT_EQ(Listing(dir_.path()), (std::vector<std::string>{"DbRelay.ini", "in", "out"}));
}

INSTANTIATE_TEST_SUITE_P(Failures, CopyFailTest,
                         testing::Values(FailCase{"source_missing", "$/out", "$/in/none.pdf"},
                                         FailCase{"source_is_folder", "$/out", "$/in"},
                                         FailCase{"folder_missing", "$/out/none", "$/in/a.pdf"},
                                         FailCase{"empty_name", "$/out/", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopyFileTest, NoCopyAndNoLogWhenSwitchedOffOrNoFolder) {
  for (auto [copy_switch, folder] : std::vector<std::pair<std::string, std::string>>{
           {"0", out_}, {"", out_}, {"1", ""}, {"1", " \t "}}) {
    Configure(folder, copy_switch);
    EXPECT_EQ(dbrelay::CopyFileToFolder(source_), 0) << copy_switch << "|" << folder;
  }
  EXPECT_EQ(env_.console, "");
  EXPECT_TRUE(std::filesystem::is_empty(out_));
}

// Breaks the copy half-way, as a full disk or a failing rename would.
class FailingCopyEnv : public output_test::InProcessEnv {
 public:
  using InProcessEnv::InProcessEnv;
  dbrelay::Status CopyFileContents(const std::string& from, const std::string& to) override {
    if (!break_copy) return InProcessEnv::CopyFileContents(from, to);
    WriteFileBytes(to, "%PDF-1.4 sig");  // what got through before the disk filled
    return dbrelay::Status::FromErrno(ENOSPC, "copy_file");
  }
  dbrelay::Status RenameFile(const std::string& from, const std::string& to) override {
    return break_rename ? dbrelay::Status::FromErrno(EXDEV, "rename")
                        : InProcessEnv::RenameFile(from, to);
  }
  bool break_copy = false;
  bool break_rename = false;
};

TEST_F(CopyFileTest, TargetIsOldFileOrWholeNewOneNeverPartOfIt) {
  WriteFileBytes(dir_.File("out/a.pdf"), "previous copy\n");
  Configure(out_);
  FailingCopyEnv env(dir_.path());
  dbrelay::ScopedEnvOverride use(&env);
  for (bool copy_breaks : {true, false}) {
    env.break_copy = copy_breaks;
    env.break_rename = !copy_breaks;
    EXPECT_EQ(dbrelay::CopyFileToFolder(source_), 0);
    EXPECT_EQ(ReadFileBytes(dir_.File("out/a.pdf")), "previous copy\n");
    EXPECT_EQ(Listing(out_), std::vector<std::string>{"a.pdf"}) << "temporary file left behind";
  }
}

}  // namespace
