// The local text file cannot take the statement: a missing folder, a folder in its place, a full
// device, a full file system, a folder or file the run may not write. The run ends with the system
// error code and the exact message, and the file is left byte for byte as it was.

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
  kFullDevice,
  kFullFileSystem,  // a small tmpfs of its own, filled up, in a private mount namespace
  kReadOnlyFolder,  // run as an unprivileged user: root writes anywhere
  kReadOnlyFile,
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
  }
  const bool has_earlier_records =
      GetParam().place == Place::kReadOnlyFile || GetParam().place == Place::kFullFileSystem;
  if (after.empty()) after = path;
  relay.WriteIni(PrimaryDownToTextFile(relay, path));

  auto result = RunProcess(argv, RelayOptions());
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
}

INSTANTIATE_TEST_SUITE_P(
    Places, UnwritableTest,
    testing::Values(UnwritableCase{"missing_folder", Place::kMissingFolder, ENOENT},
                    UnwritableCase{"folder_in_its_place", Place::kFolderInItsPlace, EISDIR},
                    UnwritableCase{"full_device", Place::kFullDevice, ENOSPC},
                    UnwritableCase{"full_file_system", Place::kFullFileSystem, ENOSPC},
                    UnwritableCase{"read_only_folder", Place::kReadOnlyFolder, EACCES},
                    UnwritableCase{"read_only_file", Place::kReadOnlyFile, EACCES}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
