// The local text file cannot take the statement: a missing folder, a folder in its place, a full
// file system, a folder or file the run may not write, a FIFO or a device in its place, a link
// there (dangling, or planted by another user in a shared folder to point at a file the caller
// may write). The run ends at once with the system error code and the exact message, and the file
// (or the link's target) is left byte for byte as it was. A file the run creates is for its owner
// and group only.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/reliability/relay_fleet.h"
#include "tests/support/relay_sandbox.h"

namespace reliability {
namespace {

using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunProcess;
using testing_support::WriteFileBytes;

enum class Place {
  kMissingFolder,
  kFolderInItsPlace,
  kFullDevice,      // /dev/full: a device, refused before a byte is written
  kFullFileSystem,  // a small tmpfs of its own, filled up, in a private mount namespace
  kReadOnlyFolder,  // run as an unprivileged user: root writes anywhere
  kReadOnlyFile,
  kFifo,           // a FIFO, which would block the write of a large statement for ever
  kDevZero,        // a device named directly, no link on the way
  kDanglingLink,
  kPlantedLink,    // made by another user in a sticky world-writable folder, aimed at root's file
};

struct UnwritableCase {
  const char* name;
  Place place;
  int expected;  // the errno that is the exit code
};

void PrintTo(const UnwritableCase& c, std::ostream* os) { *os << c.name; }

class UnwritableTest : public testing::TestWithParam<UnwritableCase> {};

// The records already in the file: a failed append must leave them untouched.
const std::string kEarlier = "UPDATE Docs SET Signed=1 WHERE Id=1\r\nmulti\nline\r\n";

bool PrivateMountsWork() {
  return RunProcess({"/usr/bin/unshare", "-m", "--", "/bin/true"}).exit_status == 0;
}

std::vector<std::string> AsNobody(std::vector<std::string> argv) {
  if (::geteuid() == 0) {
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  }
  return argv;
}

TEST_P(UnwritableTest, ExitCodeIsTheErrnoAndTheFileIsUnchanged) {
  RelaySandbox relay;
  std::filesystem::permissions(relay.dir(), std::filesystem::perms(0755));
  // A statement of several pages: a full disk cannot take it into a page it already holds.
  const std::string statement = "INSERT INTO Queue VALUES ('" + std::string(20000, 'q') + "')";
  std::string path;
  std::vector<std::string> argv = {relay.program(), statement};
  std::string folder_left_empty;
  std::string after;  // where the file's bytes are read after the run

  switch (GetParam().place) {
    case Place::kMissingFolder:
      path = relay.File("no such folder/queue.sql");
      break;
    case Place::kFolderInItsPlace:
      path = relay.File("queue.sql");
      std::filesystem::create_directory(path);
      break;
    case Place::kFullDevice:
      path = "/dev/full";
      break;
    case Place::kFullFileSystem: {
      if (!PrivateMountsWork()) GTEST_SKIP() << "no private mount namespace (needs CAP_SYS_ADMIN)";
      const std::string mount = relay.File("small");
      std::filesystem::create_directory(mount);
      path = mount + "/queue.sql";
      WriteFileBytes(relay.File("seed.sql"), kEarlier);
      after = relay.File("after.sql");
      // Mounted, seeded and filled inside the namespace; the file is copied out after the run.
      argv = {"/usr/bin/unshare", "-m", "--", "/bin/sh", "-c",
              "mount -t tmpfs -o size=256k tmpfs \"$1\" && cp \"$2\" \"$1/queue.sql\" &&"
              " { dd if=/dev/zero of=\"$1/filler\" bs=4096 2>/dev/null; true; } &&"
              " \"$3\" \"$4\"; rc=$?; cp \"$1/queue.sql\" \"$5\"; exit $rc",
              "sh", mount, relay.File("seed.sql"), relay.program(), statement, after};
      break;
    }
    case Place::kReadOnlyFolder:
      folder_left_empty = relay.File("read only");
      std::filesystem::create_directory(folder_left_empty);
      std::filesystem::permissions(folder_left_empty, std::filesystem::perms(0555));
      path = folder_left_empty + "/queue.sql";
      argv = AsNobody(argv);
      break;
    case Place::kReadOnlyFile:
      path = relay.File("queue.sql");
      WriteFileBytes(path, kEarlier);
      std::filesystem::permissions(path, std::filesystem::perms(0444));
      argv = AsNobody(argv);
      break;
    case Place::kFifo:
      path = relay.File("queue.sql");
      ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
      break;
    case Place::kDevZero:
      path = "/dev/zero";
      break;
    case Place::kDanglingLink:
      path = relay.File("queue.sql");
      ASSERT_EQ(::symlink(relay.File("gone.sql").c_str(), path.c_str()), 0);
      break;
    case Place::kPlantedLink: {
      // /tmp as it is: sticky and world-writable. The link's owner is another user when the test
      // runs as root, and DbRelay runs as the caller, who may write the target.
      const std::string shared = relay.File("shared");
      std::filesystem::create_directory(shared);
      std::filesystem::permissions(shared, std::filesystem::perms(01777));
      after = relay.File("root only.sql");
      WriteFileBytes(after, kEarlier);
      std::filesystem::permissions(after, std::filesystem::perms(0600));
      path = shared + "/queue.sql";
      auto planted = RunProcess(AsNobody({"/bin/ln", "-s", after, path}));
      ASSERT_EQ(planted.exit_status, 0);
      break;
    }
  }
  const bool has_earlier_records = GetParam().place == Place::kReadOnlyFile ||
                                   GetParam().place == Place::kFullFileSystem ||
                                   GetParam().place == Place::kPlantedLink;
  if (after.empty()) after = path;
  relay.WriteIni(PrimaryDownToTextFile(relay, path));

  testing_support::RunOptions options = RelayOptions();
  options.timeout_seconds = 30;  // only a guard: every case fails at once
  auto result = RunProcess(argv, options);
  ASSERT_FALSE(result.timed_out) << "the append waited";
  EXPECT_EQ(result.exit_status, GetParam().expected) << result.out;
  EXPECT_EQ(result.out, "Unable to write to text file: " + path + "\n\n" + statement +
                            "\n\nError returned = " + std::to_string(GetParam().expected) + "\n");
  if (has_earlier_records) {
    EXPECT_EQ(ReadFileBytes(after), kEarlier);
  }
  if (!folder_left_empty.empty()) {
    EXPECT_TRUE(std::filesystem::is_empty(folder_left_empty));
  }
  if (GetParam().place == Place::kMissingFolder) {
    EXPECT_FALSE(std::filesystem::exists(relay.File("no such folder")));
  }
  if (GetParam().place == Place::kDanglingLink) {
    EXPECT_FALSE(testing_support::FileExists(relay.File("gone.sql"))) << "created through the link";
  }
  if (GetParam().place == Place::kPlantedLink || GetParam().place == Place::kDanglingLink) {
    EXPECT_TRUE(std::filesystem::is_symlink(path)) << "the link was replaced";
  }
  if (GetParam().place == Place::kFifo) {
    EXPECT_EQ(std::filesystem::status(path).type(), std::filesystem::file_type::fifo);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnwritableTest,
    testing::Values(UnwritableCase{"missing_folder", Place::kMissingFolder, ENOENT},
                    UnwritableCase{"folder_in_its_place", Place::kFolderInItsPlace, EISDIR},
                    UnwritableCase{"full_device", Place::kFullDevice, EINVAL},
                    UnwritableCase{"full_file_system", Place::kFullFileSystem, ENOSPC},
                    UnwritableCase{"read_only_folder", Place::kReadOnlyFolder, EACCES},
                    UnwritableCase{"read_only_file", Place::kReadOnlyFile, EACCES},
                    UnwritableCase{"fifo", Place::kFifo, EINVAL},
                    UnwritableCase{"dev_zero", Place::kDevZero, EINVAL},
                    UnwritableCase{"dangling_link", Place::kDanglingLink, ELOOP},
                    UnwritableCase{"link_planted_by_another_user", Place::kPlantedLink, ELOOP}),
    [](const auto& info) { return std::string(info.param.name); });

// A new text file of parked statements is readable and writable by its owner and group only,
// whatever more the caller's umask allows.
struct ModeCase {
  const char* name;
  const char* umask;
  unsigned mode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class NewTextFileModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(NewTextFileModeTest, IsForOwnerAndGroupOnly) {
  RelaySandbox relay;
  const std::string path = relay.File("queue.sql");
  relay.WriteIni(PrimaryDownToTextFile(relay, path));
  const std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";
  auto result = RunProcess({"/bin/sh", "-c",
                            std::string("umask ") + GetParam().umask + " && exec \"$0\" \"$1\"",
                            relay.program(), statement},
                           RelayOptions());
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(ReadFileBytes(path), statement + "\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Umasks, NewTextFileModeTest,
                         testing::Values(ModeCase{"umask_0", "0", 0660},
                                         ModeCase{"umask_022", "022", 0640}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
