#include "relay/output/text_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "relay/output/record_boundaries.h"
#include "tests/relay/output/output_test_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using output_test::HelperPath;
using testing_support::ChildProcess;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// --- The name rule ---

struct NameCase {
  const char* name;
  std::string configured;
  std::string forced;
  bool stamped;
  std::string expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class TextFileNameTest : public output_test::SettingsFixtureBase,
                         public testing::TestWithParam<NameCase> {
 protected:
  void SetUp() override {
    // 9.042 seconds past 14:07 on 5 March 2024.
    env_.local_time = dbrelay::LocalTime{2024, 3, 5, 14, 7, 9, 42};
  }
};

TEST_P(TextFileNameTest, Name) {
  WriteSettings(GetParam().stamped ? "SecLocalTextFileTimestamp=1\r\n" : "");
  EXPECT_EQ(dbrelay::BuildTextFileName(GetParam().configured, GetParam().forced),
            GetParam().expected);
}

const std::string kStamp = "2024-03-05-14-07-09-0042";

INSTANTIATE_TEST_SUITE_P(
    Rules, TextFileNameTest,
    testing::Values(
        NameCase{"plain_is_unchanged", "/out/queue.txt", "", false, "/out/queue.txt"},
        NameCase{"stamp", "/out/queue.txt", "", true, "/out/" + kStamp + ".txt"},
        NameCase{"forced", "/out/queue.txt", "batch7", false, "/out/batch7.txt"},
        NameCase{"forced_wins_over_stamp", "/out/queue.txt", "batch7", true, "/out/batch7.txt"},
        NameCase{"forced_keeps_own_extension", "/out/queue.txt", "batch7.sql", false,
                 "/out/batch7.sql.txt"},
        NameCase{"forced_not_trimmed", "/out/queue.txt", " b 7 ", false, "/out/ b 7 .txt"},
        NameCase{"forced_with_quotes", "/out/queue.txt", "it's \"7\"", false,
                 "/out/it's \"7\".txt"},
        NameCase{"last_dot_of_whole_value", "/my.dir/q.txt", "", true,
                 "/my.dir/" + kStamp + ".txt"},
        NameCase{"last_dot_forced", "/my.dir/q.txt", "batch7", false, "/my.dir/batch7.txt"},
        NameCase{"dot_only_in_folder", "/my.dir/q", "batch7", false, "/my.dir/batch7"},
        NameCase{"no_extension", "/out/queue", "", true, "/out/" + kStamp},
        NameCase{"empty_extension", "/out/queue.", "batch7", false, "/out/batch7."},
        NameCase{"trailing_slash", "/out/", "", true, "/out/" + kStamp},
        NameCase{"root_folder", "/q.txt", "batch7", false, "/batch7.txt"},
        NameCase{"no_folder", "queue.txt", "batch7", false, "batch7.txt"},
        NameCase{"no_folder_stamp", "queue.txt", "", true, kStamp + ".txt"},
        NameCase{"neither_folder_nor_extension", "queue", "batch7", true, "batch7"},
        NameCase{"empty_path_plain", "", "", false, ""},
        NameCase{"empty_path_stamp", "", "", true, ""},
        NameCase{"empty_path_forced", "", "batch7", false, ""},
        NameCase{"non_utf8_bytes", "/out/\xff\xfe.\xe9t", "\xc3(", false, "/out/\xc3(.\xe9t"},
        NameCase{"utf8_folder", "/d\xc3\xa9p\xc3\xb4t/q.txt", "b", false,
                 "/d\xc3\xa9p\xc3\xb4t/b.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextFileNameTest, StampUsesTheLocalClock) {
  env_.local_time.reset();
  WriteSettings("SecLocalTextFileTimestamp=-3\r\n");
  std::string name = dbrelay::BuildTextFileName("/out/q.txt", "");
  ASSERT_EQ(name.size(), std::string("/out/2024-03-05-14-07-09-0042.txt").size()) << name;
  // Four digits of milliseconds, the first always 0.
  EXPECT_EQ(name.substr(5 + 19, 2), "-0") << name;
}

// --- The append ---

class TextFileAppendTest : public testing::Test {
 protected:
  TempDir dir_;
  std::string file_ = dir_.File("queue.txt");
};

TEST_F(TextFileAppendTest, CreatesTheFileWithOneRecord) {
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "UPDATE Docs SET Signed=1 WHERE Id=7"), 0);
  EXPECT_EQ(ReadFileBytes(file_), "UPDATE Docs SET Signed=1 WHERE Id=7\r\n");
}

struct StatementCase {
  const char* name;
  std::string statement;
};

void PrintTo(const StatementCase& c, std::ostream* os) { *os << c.name; }

class TextFileGrowTest : public TextFileAppendTest,
                         public testing::WithParamInterface<StatementCase> {};

TEST_P(TextFileGrowTest, GrowsByExactlyOneRecord) {
  const std::string old = "INSERT INTO T VALUES (1)\r\nmulti\nline\r\n";
  WriteFileBytes(file_, old);
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, GetParam().statement), 0);
  EXPECT_EQ(ReadFileBytes(file_), old + GetParam().statement + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Statements, TextFileGrowTest,
                         testing::Values(StatementCase{"ordinary", "DELETE FROM T WHERE Id=2"},
                                         StatementCase{"empty", ""},
                                         StatementCase{"line_breaks", "a\r\nb\nc\rd"},
                                         StatementCase{"format_text", "SELECT '%s%n%d' -- 100%"},
                                         StatementCase{"non_utf8", "SELECT '\xff\xfe\x80'"},
                                         StatementCase{"long_128k", std::string(128 * 1024, 'q')}),
                         [](const auto& info) { return std::string(info.param.name); });

// Statements may hold personal data: a new file is for its owner and group, whatever the umask
// lets through beyond that. The umask is the process's, so each case is a process of its own.
struct ModeCase {
  const char* name;
  const char* umask;
  unsigned mode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class TextFileModeTest : public TextFileAppendTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(TextFileModeTest, NewFileIsForOwnerAndGroupOnly) {
  auto result = RunProcess({"/bin/sh", "-c", std::string("umask ") + GetParam().umask +
                                                 " && exec \"$0\" append \"$1\" x",
                            HelperPath(), file_});
  ASSERT_EQ(result.out, "0\n");
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, GetParam().mode);
  // An existing file keeps its mode.
  ASSERT_EQ(::chmod(file_.c_str(), 0604), 0);
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "y"), 0);
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

INSTANTIATE_TEST_SUITE_P(Umasks, TextFileModeTest,
                         testing::Values(ModeCase{"umask_0", "0", 0660},
                                         ModeCase{"umask_022", "022", 0640},
                                         ModeCase{"umask_077", "077", 0600}),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever stands at the path that is no regular file is refused at once, with its own errno:
// nothing is written there or through it, and nothing waits. Each case runs the append in a
// process of its own, so an append that blocked on a FIFO would show as a time-out.
enum class OddPath { kFifo, kDanglingLink, kLinkToFile, kLinkToFolder, kDevice };

struct OddPathCase {
  const char* name;
  OddPath kind;
  std::string device;  // kDevice: the device node's path
  int expected;
};

void PrintTo(const OddPathCase& c, std::ostream* os) { *os << c.name; }

class TextFileOddPathTest : public TextFileAppendTest,
                            public testing::WithParamInterface<OddPathCase> {};

TEST_P(TextFileOddPathTest, IsRefusedAtOnceAndNothingIsWritten) {
  const std::string target = dir_.File("target.txt");
  const std::string earlier = "earlier\r\n";
  WriteFileBytes(target, earlier);
  std::filesystem::create_directory(dir_.File("folder"));
  std::string path = file_;
  switch (GetParam().kind) {
    case OddPath::kFifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
      break;
    case OddPath::kDanglingLink:
      ASSERT_EQ(::symlink(dir_.File("missing.txt").c_str(), path.c_str()), 0);
      break;
    case OddPath::kLinkToFile:
      ASSERT_EQ(::symlink("target.txt", path.c_str()), 0);
      break;
    case OddPath::kLinkToFolder:
      ASSERT_EQ(::symlink("folder", path.c_str()), 0);
      break;
    case OddPath::kDevice:
      path = GetParam().device;
      break;
  }
  struct stat before {};
  ASSERT_EQ(::lstat(path.c_str(), &before), 0);
  // Larger than a pipe's buffer (64 KiB), so a FIFO opened for writing would block the append;
  // a single argument may hold up to 128 KiB.
  const std::string statement = "INSERT INTO Q VALUES ('" + std::string(100 * 1024, 'f') + "')";
  testing_support::RunOptions options;
  options.timeout_seconds = 20;
  auto result = RunProcess({HelperPath(), "append", path, statement}, options);
  ASSERT_FALSE(result.timed_out) << "the append waited";
  EXPECT_EQ(result.out, std::to_string(GetParam().expected) + "\n");
  EXPECT_EQ(ReadFileBytes(target), earlier);
  EXPECT_FALSE(FileExists(dir_.File("missing.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File("folder")));
  struct stat after {};
  ASSERT_EQ(::lstat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode) << "the path was replaced";
  EXPECT_EQ(after.st_ino, before.st_ino);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TextFileOddPathTest,
    testing::Values(OddPathCase{"fifo", OddPath::kFifo, "", EINVAL},
                    OddPathCase{"dangling_link", OddPath::kDanglingLink, "", ELOOP},
                    OddPathCase{"link_to_a_file", OddPath::kLinkToFile, "", ELOOP},
                    OddPathCase{"link_to_a_folder", OddPath::kLinkToFolder, "", ELOOP},
                    OddPathCase{"dev_null", OddPath::kDevice, "/dev/null", EINVAL},
                    OddPathCase{"dev_full", OddPath::kDevice, "/dev/full", EINVAL}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrnoCase {
  const char* name;
  std::string path;  // "$" stands for the test's folder
  int expected;
};

void PrintTo(const ErrnoCase& c, std::ostream* os) { *os << c.name; }

class TextFileErrnoTest : public TextFileAppendTest,
                          public testing::WithParamInterface<ErrnoCase> {};

TEST_P(TextFileErrnoTest, FailureIsTheErrno) {
  std::string path = GetParam().path;
  if (path.rfind("$", 0) == 0) path = dir_.path() + path.substr(1);
  std::filesystem::create_directory(dir_.File("a folder"));
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(path, "SELECT 1"), GetParam().expected);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    left.push_back(e.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"a folder"}) << "nothing else was created";
}

INSTANTIATE_TEST_SUITE_P(Errors, TextFileErrnoTest,
                         testing::Values(ErrnoCase{"missing_folder", "$/no such folder/q.txt",
                                                   ENOENT},
                                         ErrnoCase{"empty_path", "", ENOENT},
                                         ErrnoCase{"path_is_a_folder", "$/a folder", EISDIR},
                                         ErrnoCase{"file_as_folder", "/dev/null/q.txt", ENOTDIR}),
                         [](const auto& info) { return std::string(info.param.name); });

// Root ignores permission bits, so the read-only folder is tried by an unprivileged process.
TEST_F(TextFileAppendTest, ReadOnlyFolderIsEaccesAndCreatesNothing) {
  std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
  std::string folder = dir_.File("read only");
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms(0555));
  std::string helper = dir_.File("helper");
  std::filesystem::copy_file(HelperPath(), helper);  // the build tree may be closed to others
  std::vector<std::string> argv = {helper, "append", folder + "/q.txt", "SELECT 1"};
  if (::geteuid() == 0) {
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  }
  auto result = RunProcess(argv);
  EXPECT_EQ(result.out, std::to_string(EACCES) + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// --- Failures after the open: the file keeps only whole records and the result is never 0 ---

// Makes one step of the append fail, the way a full disk or a failing device would.
// Fails and counts the calls on the text file; its boundaries file is left to the real system
// unless fail_boundaries names the call that fails there.
class FailingFilesEnv : public dbrelay::EnvWrapper {
 public:
  FailingFilesEnv() : EnvWrapper(dbrelay::Env::Default()) {}

  dbrelay::Status WriteFile(int fd, std::string_view data, size_t* written) override {
    if (boundaries_fds.count(fd) != 0) {
      if (fail_boundaries == "write") return dbrelay::Status::FromErrno(ENOSPC, "write");
      return EnvWrapper::WriteFile(fd, data, written);
    }
    ++writes;
    if (write_mode == "half_then_enospc") {
      // The disk takes half the record and then has no room left.
      if (writes == 1) return EnvWrapper::WriteFile(fd, data.substr(0, data.size() / 2), written);
      *written = 0;
      return dbrelay::Status::FromErrno(ENOSPC, "write");
    }
    if (write_mode == "nothing_written") {
      *written = 0;
      return dbrelay::Status::OK();
    }
    return EnvWrapper::WriteFile(fd, data, written);
  }
  dbrelay::Status SyncFile(int fd) override {
    if (boundaries_fds.count(fd) != 0) {
      if (fail_boundaries == "sync") return dbrelay::Status::FromErrno(EIO, "fsync");
      return EnvWrapper::SyncFile(fd);
    }
    if (fail_file_sync && !file_sync_failed) {
      file_sync_failed = true;
      return dbrelay::Status::FromErrno(EIO, "fsync");
    }
    return EnvWrapper::SyncFile(fd);
  }
  dbrelay::Status SyncFolder(const std::string& folder) override {
    ++folder_syncs;
    if (fail_folder_sync) return dbrelay::Status::FromErrno(EIO, "fsync folder");
    return EnvWrapper::SyncFolder(folder);
  }
  dbrelay::Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) override {
    if (path.ends_with(".boundaries")) {
      if (fail_boundaries == "open") return dbrelay::Status::FromErrno(EACCES, "open");
      dbrelay::Status s = EnvWrapper::OpenOrCreateFile(path, fd, created);
      if (s.ok()) boundaries_fds.insert(*fd);
      return s;
    }
    dbrelay::Status s = EnvWrapper::OpenOrCreateFile(path, fd, created);
    if (s.ok()) ++opens;
    return s;
  }
  dbrelay::Status CloseFile(int fd) override {
    if (boundaries_fds.erase(fd) == 0) ++closes;
    return EnvWrapper::CloseFile(fd);
  }
  // Asks for the lock without waiting first, to learn whether another holds it, then lets the
  // test act (release the lock, rename the file) before the wait the append asked for.
  dbrelay::Status LockFileExclusive(int fd, int timeout_ms) override {
    lock_waits.push_back(timeout_ms);
    if (lock_result) return *lock_result;  // as if the whole wait had run out
    if (before_lock) {
      dbrelay::Status probe = EnvWrapper::LockFileExclusive(fd, 0);
      held_by_another.push_back(probe.code() == EWOULDBLOCK);
      std::exchange(before_lock, nullptr)();
    }
    return EnvWrapper::LockFileExclusive(fd, timeout_ms);
  }

  std::string write_mode;
  std::string fail_boundaries;  // "open", "write" or "sync"
  std::set<int> boundaries_fds;
  bool fail_file_sync = false;
  bool file_sync_failed = false;
  bool fail_folder_sync = false;
  int writes = 0;
  int folder_syncs = 0;
  int opens = 0;
  int closes = 0;
  std::vector<int> lock_waits;
  std::optional<dbrelay::Status> lock_result;
  std::function<void()> before_lock;  // run once, at the next lock
  std::vector<bool> held_by_another;
};

struct FaultCase {
  const char* name;
  std::string write_mode;
  bool fail_file_sync;
  int expected;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class TextFileFaultTest : public TextFileAppendTest, public testing::WithParamInterface<FaultCase> {
 protected:
  FailingFilesEnv env_;
  dbrelay::ScopedEnvOverride use_{&env_};
};

TEST_P(TextFileFaultTest, FileIsLeftAsItWas) {
  const std::string old = "first\r\nsecond\r\n";
  WriteFileBytes(file_, old);
  env_.write_mode = GetParam().write_mode;
  env_.fail_file_sync = GetParam().fail_file_sync;
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "third " + std::string(5000, 'z')),
            GetParam().expected);
  EXPECT_EQ(ReadFileBytes(file_), old);
  // The file still takes whole records afterwards.
  env_.write_mode.clear();
  env_.fail_file_sync = false;
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "fourth"), 0);
  EXPECT_EQ(ReadFileBytes(file_), old + "fourth\r\n");
}

INSTANTIATE_TEST_SUITE_P(Faults, TextFileFaultTest,
                         testing::Values(FaultCase{"disk_fills", "half_then_enospc", false, ENOSPC},
                                         FaultCase{"write_takes_nothing", "nothing_written", false,
                                                   EIO},
                                         FaultCase{"fsync_fails", "", true, EIO}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextFileAppendTest, WholeRecordIsOneWriteAndFolderIsSyncedOnlyForANewFile) {
  FailingFilesEnv env;
  dbrelay::ScopedEnvOverride use(&env);
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, std::string(128 * 1024, 'w')), 0);
  EXPECT_EQ(env.writes, 1);
  EXPECT_EQ(env.folder_syncs, 1) << "one folder sync covers the new file and its boundaries";
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "again"), 0);
  EXPECT_EQ(env.folder_syncs, 1);
  EXPECT_EQ(env.lock_waits, (std::vector<int>{30000, 30000}));
}

TEST_F(TextFileAppendTest, FailedFolderSyncOfANewFileIsReportedAndLeavesNoRecord) {
  FailingFilesEnv env;
  env.fail_folder_sync = true;
  dbrelay::ScopedEnvOverride use(&env);
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "SELECT 1"), EIO);
  EXPECT_EQ(ReadFileBytes(file_), "");
}

// The names DbRelay gives time-stamped files, as a replay finds them again.
struct StampCase {
  const char* name;
  std::string file;
  std::string extension;
  bool stamped;
};

class StampedNameTest : public testing::TestWithParam<StampCase> {};

TEST_P(StampedNameTest, KnowsTheNamesDbRelayGives) {
  EXPECT_EQ(dbrelay::IsTimeStampedName(GetParam().file, GetParam().extension),
            GetParam().stamped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StampedNameTest,
    testing::Values(StampCase{"stamp", "2026-12-10-13-05-01-0042.sql", ".sql", true},
                    StampCase{"no_extension", "2026-12-10-13-05-01-0042", "", true},
                    StampCase{"other_extension", "2026-12-10-13-05-01-0042.txt", ".sql", false},
                    StampCase{"boundaries_file", "2026-12-10-13-05-01-0042.sql.boundaries", ".sql",
                              false},
                    StampCase{"forced_name", "batch7.sql", ".sql", false},
                    StampCase{"letter_in_stamp", "2026-12-1x-13-05-01-0042.sql", ".sql", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- An appender killed in the middle ---

// The moment of an append at which its process is killed.
enum class KillPoint { kBeforeWrite, kMidWrite, kAfterSync };

struct KillCase {
  const char* name;
  KillPoint point;
  bool emptied_after;  // another program empties the file after the kill (a consumer's truncate)
  std::string before_next;  // what the file holds, before "next", after the next append
  size_t whole_records;     // the records the file holds then, "next" included
};

void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

// Kills its own process at the chosen moment, the way a kill from outside lands there.
class KilledEnv : public dbrelay::EnvWrapper {
 public:
  explicit KilledEnv(KillPoint point) : EnvWrapper(dbrelay::Env::Default()), point_(point) {}
  // The boundaries file's lines end in a bare LF; the kill lands in the record's own write.
  dbrelay::Status WriteFile(int fd, std::string_view data, size_t* written) override {
    if (point_ == KillPoint::kAfterSync || !data.ends_with("\r\n")) {
      return EnvWrapper::WriteFile(fd, data, written);
    }
    if (point_ == KillPoint::kBeforeWrite) Die();  // its boundaries line is already durable
    (void)EnvWrapper::WriteFile(fd, data.substr(0, data.size() / 2), written);
    Die();
  }
  dbrelay::Status ClearAppendMark(int fd) override {
    if (point_ == KillPoint::kAfterSync) Die();
    return EnvWrapper::ClearAppendMark(fd);
  }

 private:
  [[noreturn]] static void Die() {
    ::kill(::getpid(), SIGKILL);
    for (;;) ::pause();
  }
  KillPoint point_;
};

class TextFileKillTest : public TextFileAppendTest, public testing::WithParamInterface<KillCase> {};

TEST_P(TextFileKillTest, NextAppendLeavesOnlyWholeRecords) {
  const std::string old = "first\r\n";
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "first"), 0);
  const std::string killed = "DELETE FROM Docs WHERE Id=7 AND Kind='" + std::string(20000, 'k') + "'";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    KilledEnv env(GetParam().point);
    dbrelay::ScopedEnvOverride use(&env);
    dbrelay::AppendStatementToTextFile(file_, killed);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  if (GetParam().point != KillPoint::kBeforeWrite) {
    ASSERT_NE(ReadFileBytes(file_), old) << "the killed append wrote nothing";
  }
  if (GetParam().emptied_after) std::filesystem::resize_file(file_, 0);

  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "next"), 0);
  std::string expected = GetParam().before_next;
  if (expected == "$killed") expected = old + killed + "\r\n";
  EXPECT_EQ(ReadFileBytes(file_), expected + "next\r\n");
  // The boundaries tell exactly those records apart.
  dbrelay::RecordBoundaries boundaries;
  EXPECT_EQ(dbrelay::ReadRecordBoundaries(ReadFileBytes(dbrelay::BoundariesPathOf(file_)),
                                          ReadFileBytes(file_).size(), &boundaries),
            "");
  const std::string text = ReadFileBytes(file_);
  std::string rebuilt;
  for (const dbrelay::RecordSpan& span : boundaries.records) {
    EXPECT_TRUE(dbrelay::RecordMatches(span, text.substr(span.start, span.length)));
    rebuilt += text.substr(span.start, span.length);
  }
  EXPECT_EQ(rebuilt, text);
  EXPECT_EQ(boundaries.records.size(), GetParam().whole_records);
}

INSTANTIATE_TEST_SUITE_P(Kills, TextFileKillTest,
                         testing::Values(KillCase{"before_write", KillPoint::kBeforeWrite, false,
                                                  "first\r\n", 2},
                                         KillCase{"mid_write", KillPoint::kMidWrite, false,
                                                  "first\r\n", 2},
                                         KillCase{"after_sync", KillPoint::kAfterSync, false,
                                                  "$killed", 3},
                                         KillCase{"file_emptied_by_others", KillPoint::kMidWrite,
                                                  true, "", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Other appenders ---

// Holds the exclusive lock of a file as another DbRelay would.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0666)) {
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~LockHolder() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST_F(TextFileAppendTest, WaitsForAnotherAppenderInsteadOfFailing) {
  WriteFileBytes(file_, "held\r\n");
  LockHolder holder(file_);
  FailingFilesEnv env;
  env.before_lock = [&] { holder.Release(); };
  dbrelay::ScopedEnvOverride use(&env);
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "waited"), 0);
  EXPECT_EQ(env.held_by_another, std::vector<bool>{true}) << "the lock was free when asked for";
  EXPECT_EQ(env.lock_waits, std::vector<int>{dbrelay::kTextFileLockWaitMilliseconds});
  EXPECT_EQ(ReadFileBytes(file_), "held\r\nwaited\r\n");
}

TEST_F(TextFileAppendTest, GivesUpWithTheLockErrorWhenTheWaitRunsOut) {
  WriteFileBytes(file_, "held\r\n");
  FailingFilesEnv env;
  env.lock_result = dbrelay::Status::FromErrno(EWOULDBLOCK, "flock");
  dbrelay::ScopedEnvOverride use(&env);
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "late"), EWOULDBLOCK);
  EXPECT_EQ(env.lock_waits, std::vector<int>{30000}) << "the wait is thirty seconds";
  EXPECT_EQ(env.closes, env.opens) << "the file was left open";
  EXPECT_EQ(ReadFileBytes(file_), "held\r\n");
}

TEST_F(TextFileAppendTest, FileRenamedWhileWaitingIsNotWrittenTo) {
  WriteFileBytes(file_, "rotated\r\n");
  LockHolder holder(file_);
  FailingFilesEnv env;
  env.before_lock = [&] {
    std::filesystem::rename(file_, dir_.File("queue.old"));
    holder.Release();
  };
  dbrelay::ScopedEnvOverride use(&env);
  EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "new"), 0);
  EXPECT_EQ(env.held_by_another, std::vector<bool>{true});
  EXPECT_EQ(env.opens, 2) << "the file at the path was not opened again";
  EXPECT_EQ(env.closes, 2);
  EXPECT_EQ(ReadFileBytes(dir_.File("queue.old")), "rotated\r\n");
  EXPECT_EQ(ReadFileBytes(file_), "new\r\n");
}

// --- The lock itself ---

// Whether a process waits, blocked in flock, for the lock of the file with inode number inode
// (the kernel lists each waiter in /proc/locks with "->").
bool SomeoneWaitsForLockOf(ino_t inode) {
  const std::string suffix = std::string(":").append(std::to_string(inode)).append(" ");
  std::istringstream lines(ReadFileBytes("/proc/locks"));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("-> FLOCK") != std::string::npos && line.find(suffix) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Calls LockFileExclusive of the real Env on a second descriptor of a file whose lock is held,
// and returns once that call is seen blocked in the kernel's wait.
class LockWaitTest : public TextFileAppendTest {
 protected:
  void StartWaiting(int timeout_ms) {
    WriteFileBytes(file_, "");
    holder_.emplace(file_);
    fd_ = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd_, &st), 0);
    waiter_ = std::thread([this, timeout_ms] {
      result_ = dbrelay::Env::Default()->LockFileExclusive(fd_, timeout_ms);
      done_ = true;
    });
    // The wait is interrupted every few milliseconds to look at the clock: watch until one of its
    // blocked spells shows.
    while (!done_ && !SomeoneWaitsForLockOf(st.st_ino)) std::this_thread::yield();
    ASSERT_FALSE(done_) << "returned without waiting: " << result_.ToString();
  }
  void TearDown() override {
    if (waiter_.joinable()) waiter_.join();
    if (fd_ >= 0) ::close(fd_);
  }

  std::optional<LockHolder> holder_;
  int fd_ = -1;
  std::thread waiter_;
  std::atomic<bool> done_{false};
  dbrelay::Status result_;
};

TEST_F(LockWaitTest, TakesTheLockOnceTheHolderLetsGo) {
  StartWaiting(60 * 1000);
  holder_->Release();
  waiter_.join();
  EXPECT_TRUE(result_.ok()) << result_.ToString();
}

TEST_F(LockWaitTest, WaitThatRunsOutIsEwouldblockAndTakesNothing) {
  StartWaiting(300);
  waiter_.join();
  EXPECT_EQ(result_.code(), EWOULDBLOCK);
  holder_->Release();
  EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0) << "the descriptor cannot lock after the time-out";
}

TEST_F(TextFileAppendTest, LockWithoutWaitIsRefusedAtOnceWhileHeld) {
  WriteFileBytes(file_, "");
  LockHolder holder(file_);
  int fd = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(dbrelay::Env::Default()->LockFileExclusive(fd, 0).code(), EWOULDBLOCK);
  holder.Release();
  EXPECT_TRUE(dbrelay::Env::Default()->LockFileExclusive(fd, 0).ok());
  ::close(fd);
}

TEST_F(TextFileAppendTest, ThirtyTwoProcessesAtOnceLeaveThirtyTwoWholeRecords) {
  constexpr int kProcesses = 32;
  std::vector<std::string> outs(kProcesses);
  std::vector<std::thread> threads;
  for (int i = 0; i < kProcesses; ++i) {
    threads.emplace_back([&, i] {
      // Long records, so that interleaved writes would show.
      outs[i] = RunProcess({HelperPath(), "append", file_,
                            "INSERT " + std::to_string(i) + " " + std::string(20000, 'a' + i % 26)})
                    .out;
    });
  }
  for (auto& t : threads) t.join();
  std::set<std::string> expected;
  for (int i = 0; i < kProcesses; ++i) {
    EXPECT_EQ(outs[i], "0\n") << "process " << i;
    expected.insert("INSERT " + std::to_string(i) + " " + std::string(20000, 'a' + i % 26));
  }
  std::string content = ReadFileBytes(file_);
  std::multiset<std::string> records;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "torn tail";
    records.insert(content.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(records, std::multiset<std::string>(expected.begin(), expected.end()));
}

// Parses "<i> <result>" lines; a line cut off by the kill is ignored.
std::map<long, int> ReportedResults(const std::string& out) {
  std::map<long, int> results;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (lines.eof()) break;  // no line end: cut off
    std::istringstream fields(line);
    long i;
    int rc;
    if (fields >> i >> rc) results[i] = rc;
  }
  return results;
}

TEST_F(TextFileAppendTest, ProcessKilledDuringAStormLeavesOnlyWholeRecords) {
  // Two steady appenders and one that is killed in the middle of its appends.
  ChildProcess victim({HelperPath(), "storm", file_, "victim", "100000"}, {});
  ChildProcess steady_a({HelperPath(), "storm", file_, "a", "150"}, {});
  ChildProcess steady_b({HelperPath(), "storm", file_, "b", "150"}, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  victim.Kill(SIGKILL);
  std::map<std::string, std::map<long, int>> reported = {
      {"victim", ReportedResults(victim.ReadOutput())},
      {"a", ReportedResults(steady_a.ReadOutput())},
      {"b", ReportedResults(steady_b.ReadOutput())}};
  EXPECT_EQ(reported["a"].size(), 150u);
  EXPECT_EQ(reported["b"].size(), 150u);
  EXPECT_GT(reported["victim"].size(), 0u) << "killed before its first append";

  std::string content = ReadFileBytes(file_);
  std::map<std::string, std::set<long>> stored;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "torn tail at " << start;
    std::string record = content.substr(start, end - start);
    start = end + 2;
    // <tag>-<i>-<padding of i*37%3000 x>
    size_t dash1 = record.find('-');
    size_t dash2 = record.find('-', dash1 + 1);
    ASSERT_NE(dash2, std::string::npos) << record.substr(0, 40);
    std::string tag = record.substr(0, dash1);
    long i = std::stol(record.substr(dash1 + 1, dash2 - dash1 - 1));
    EXPECT_EQ(record.substr(dash2 + 1), std::string(static_cast<size_t>(i * 37 % 3000), 'x'))
        << "record " << tag << " " << i << " is not whole";
    EXPECT_TRUE(stored[tag].insert(i).second) << "record " << tag << " " << i << " twice";
  }
  for (const auto& [tag, results] : reported) {
    for (const auto& [i, rc] : results) {
      EXPECT_EQ(rc, 0) << tag << " " << i;
      EXPECT_TRUE(stored[tag].count(i))
          << "append " << tag << " " << i << " returned 0 but is lost";
    }
  }
}

}  // namespace
