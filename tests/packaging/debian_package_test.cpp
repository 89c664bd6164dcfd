// The Debian package as an administrator gets it: what it installs, what it declares, whether the
// installed DbRelay delivers a statement, and whether its pages and metadata pass Debian's tools.
// The package is built once per test run from this build tree (CTest fixture); each test extracts
// it into a scratch root of its own with dpkg-deb, the way dpkg unpacks it.

#include <dirent.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/ini_file.h"
#include "tests/support/odbc_config.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/service_process.h"
#include "tests/support/smtp_server.h"

namespace {

using testing_support::FileExists;
using testing_support::FindOnPath;
using testing_support::OdbcConfig;
using testing_support::ProcessResult;
using testing_support::ReadFileBytes;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// The package file the fixture built for this version.
std::string PackageFile() {
  const std::string prefix = std::string("dbrelay_") + DBRELAY_PACKAGE_VERSION + "_";
  std::string found;
  if (DIR* dir = opendir(DBRELAY_TEST_PACKAGE_DIR)) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.rfind(prefix, 0) == 0 && name.size() > 4 && name.ends_with(".deb")) found = name;
    }
    closedir(dir);
  }
  return found.empty() ? std::string() : std::string(DBRELAY_TEST_PACKAGE_DIR) + "/" + found;
}

// Runs a command through sh with stderr folded into stdout, for tools that warn on stderr.
ProcessResult RunShell(const std::string& command, const RunOptions& options = {}) {
  return RunProcess({"/bin/sh", "-c", "{ " + command + "; } 2>&1"}, options);
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// One entry of the installed tree: "d", "f" or "l", the permission bits, and a link's target.
struct Entry {
  char type = '?';
  unsigned mode = 0;
  std::string link;
  bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Entry& e) {
  os << e.type << ' ' << std::oct << e.mode << std::dec;
  if (!e.link.empty()) os << " -> " << e.link;
  return os;
}
using Tree = std::map<std::string, Entry>;  // "./usr/bin/DbRelay" -> entry

// What `dpkg-deb -c` lists: "drwxr-xr-x root/root 0 2026-12-10 02:00 ./usr/ [-> target]".
Tree ParseContents(const std::string& listing) {
  Tree tree;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string perms, owner, size, date, time, path;
    if (!(fields >> perms >> owner >> size >> date >> time >> path)) continue;
    Entry e;
    e.type = perms[0] == '-' ? 'f' : perms[0];
    for (int i = 1; i <= 9; ++i) e.mode = e.mode << 1 | (perms[i] != '-' ? 1 : 0);
    if (perms[6] == 's') e.mode |= 02000;
    std::string arrow;
    if (fields >> arrow && arrow == "->") fields >> e.link;
    if (e.type == 'l') e.mode = 0;
    if (path.size() > 2 && path.back() == '/') path.pop_back();
    tree[path] = e;
  }
  return tree;
}

// The same for an extracted folder, walked on disk.
void Walk(const std::string& root, const std::string& relative, Tree* tree) {
  DIR* dir = opendir((root + "/" + relative).c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string rel = relative + "/" + name;
    std::string full = root + "/" + rel;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0) continue;
    Entry e;
    if (S_ISLNK(st.st_mode)) {
      e.type = 'l';
      char target[4096];
      ssize_t n = readlink(full.c_str(), target, sizeof target);
      if (n > 0) e.link.assign(target, static_cast<size_t>(n));
    } else {
      e.type = S_ISDIR(st.st_mode) ? 'd' : 'f';
      e.mode = st.st_mode & 07777;
    }
    (*tree)[rel] = e;
    if (e.type == 'd') Walk(root, rel, tree);
  }
  closedir(dir);
}

class DebianPackageTest : public testing::Test {
 protected:
  void SetUp() override {
    deb_ = PackageFile();
    ASSERT_FALSE(deb_.empty()) << "no package in " << DBRELAY_TEST_PACKAGE_DIR;
  }

  // dpkg-deb -x into a fresh scratch root.
  void Extract() {
    ProcessResult r = RunShell(Quote(FindOnPath("dpkg-deb")) + " -x " + Quote(deb_) + " " +
                               Quote(root_.path()));
    ASSERT_EQ(r.exit_status, 0) << r.out;
  }
  std::string Root(const std::string& path) const { return root_.path() + path; }
  std::string Field(const std::string& name) const {
    std::string value = RunProcess({FindOnPath("dpkg-deb"), "-f", deb_, name}).out;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  std::string deb_;
  TempDir root_;
};

// Everything the package installs, and nothing else: the programs and modules in one folder of
// their own, links on PATH and to the settings file, the conffile, the replay's units where
// Debian 12 keeps packaged units, menu entry, icon and pages.
TEST_F(DebianPackageTest, InstallsExactlyItsFilesAsListed) {
  const Tree expected = {
      {"./etc", {'d', 0755, ""}},
      {"./etc/dbrelay", {'d', 0755, ""}},
      {"./etc/dbrelay/DbRelay.ini", {'f', 0644, ""}},
      {"./lib", {'d', 0755, ""}},
      {"./lib/systemd", {'d', 0755, ""}},
      {"./lib/systemd/system", {'d', 0755, ""}},
      {"./lib/systemd/system/dbrelay-replay.path", {'f', 0644, ""}},
      {"./lib/systemd/system/dbrelay-replay.service", {'f', 0644, ""}},
      {"./lib/systemd/system/dbrelay-replay.timer", {'f', 0644, ""}},
      {"./usr", {'d', 0755, ""}},
      {"./usr/bin", {'d', 0755, ""}},
      {"./usr/bin/DbRelay", {'l', 0, "../lib/dbrelay/DbRelay"}},
      {"./usr/bin/DbRelayConfig", {'l', 0, "../lib/dbrelay/DbRelayConfig"}},
      {"./usr/bin/DbRelayReplay", {'l', 0, "../lib/dbrelay/DbRelayReplay"}},
      {"./usr/lib", {'d', 0755, ""}},
      {"./usr/lib/dbrelay", {'d', 0755, ""}},
      {"./usr/lib/dbrelay/DbRelay", {'f', 0755, ""}},
      {"./usr/lib/dbrelay/DbRelay.ini", {'l', 0, "/etc/dbrelay/DbRelay.ini"}},
      {"./usr/lib/dbrelay/DbRelayConfig", {'f', 0755, ""}},
      {"./usr/lib/dbrelay/DbRelayReplay", {'f', 0755, ""}},
      {"./usr/lib/dbrelay/libdbrelay_mail.so", {'f', 0644, ""}},
      {"./usr/lib/dbrelay/libdbrelay_notice.so", {'f', 0644, ""}},
      {"./usr/share", {'d', 0755, ""}},
      {"./usr/share/applications", {'d', 0755, ""}},
      {"./usr/share/applications/dbrelayconfig.desktop", {'f', 0644, ""}},
      {"./usr/share/doc", {'d', 0755, ""}},
      {"./usr/share/doc/dbrelay", {'d', 0755, ""}},
      {"./usr/share/doc/dbrelay/changelog.gz", {'f', 0644, ""}},
      {"./usr/share/doc/dbrelay/copyright", {'f', 0644, ""}},
      {"./usr/share/icons", {'d', 0755, ""}},
      {"./usr/share/icons/hicolor", {'d', 0755, ""}},
      {"./usr/share/icons/hicolor/scalable", {'d', 0755, ""}},
      {"./usr/share/icons/hicolor/scalable/apps", {'d', 0755, ""}},
      {"./usr/share/icons/hicolor/scalable/apps/dbrelayconfig.svg", {'f', 0644, ""}},
      {"./usr/share/man", {'d', 0755, ""}},
      {"./usr/share/man/man1", {'d', 0755, ""}},
      {"./usr/share/man/man1/DbRelay.1.gz", {'f', 0644, ""}},
      {"./usr/share/man/man1/DbRelayConfig.1.gz", {'f', 0644, ""}},
      {"./usr/share/man/man1/DbRelayReplay.1.gz", {'f', 0644, ""}},
      {"./var", {'d', 0755, ""}},
      {"./var/spool", {'d', 0755, ""}},
      {"./var/spool/dbrelay", {'d', 0755, ""}},
  };
  ProcessResult listing = RunProcess({FindOnPath("dpkg-deb"), "-c", deb_});
  ASSERT_EQ(listing.exit_status, 0);
  Tree listed = ParseContents(listing.out);
  listed.erase(".");
  EXPECT_EQ(listed, expected) << listing.out;

  Extract();
  Tree installed;
  Walk(root_.path(), ".", &installed);
  EXPECT_EQ(installed, listed);

  // Everything belongs to root, whoever built the package.
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
}

// What the package declares to dpkg and apt.
TEST_F(DebianPackageTest, DeclaresItsDependenciesAndConffile) {
  struct FieldCase {
    const char* field;
    std::vector<std::string> contains;
  };
  const std::vector<FieldCase> cases = {
      {"Package", {"dbrelay"}},
      {"Version", {DBRELAY_PACKAGE_VERSION}},
      // From dpkg-shlibdeps on the programs and the two modules.
      {"Depends", {"adduser", "libc6", "libodbc2", "libcurl4", "libqt6widgets6", "libqt6gui6"}},
      {"Recommends", {"odbc-postgresql", "libsqliteodbc", "tdsodbc", "unixodbc"}},
      {"Description", {"DbRelayConfig", "DbRelayReplay"}},
  };
  for (const FieldCase& c : cases) {
    std::string value = Field(c.field);
    for (const std::string& word : c.contains)
      EXPECT_NE(value.find(word), std::string::npos) << c.field << ": " << value;
  }
  // Never the development packages the build used.
  EXPECT_EQ(Field("Depends").find("-dev"), std::string::npos) << Field("Depends");

  TempDir control;
  ASSERT_EQ(RunProcess({FindOnPath("dpkg-deb"), "-e", deb_, control.File("DEBIAN")}).exit_status,
            0);
  EXPECT_EQ(ReadFileBytes(control.File("DEBIAN/conffiles")), "/etc/dbrelay/DbRelay.ini\n");
  for (const char* script : {"postinst", "prerm", "postrm"}) {
    struct stat st {};
    ASSERT_EQ(stat(control.File(std::string("DEBIAN/") + script).c_str(), &st), 0) << script;
    EXPECT_EQ(st.st_mode & 0777, 0755u) << script;
  }
}

// The installed programs, run from the scratch root. On a real system the link beside them points
// at /etc/dbrelay/DbRelay.ini; here it points at the scratch root's copy of that file.
class InstalledDbRelayTest : public DebianPackageTest {
 protected:
  void SetUp() override {
    DebianPackageTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Extract());
    const std::string link = Root("/usr/lib/dbrelay/DbRelay.ini");
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(Root("/etc/dbrelay/DbRelay.ini").c_str(), link.c_str()), 0);
    db_ = root_.File("docs.db");
    ProcessResult made = RunProcess({FindOnPath("sqlite3"), db_,
                                     "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"
                                     "INSERT INTO Docs VALUES (7, 0);"});
    ASSERT_EQ(made.exit_status, 0);
  }

  // Adds lines to the shipped settings file, whose comments and section header stay in front.
  void AddSettings(const std::vector<std::string>& lines) {
    std::string ini = ReadFileBytes(Root("/etc/dbrelay/DbRelay.ini"));
    ASSERT_NE(ini.find("[General]\r\n"), std::string::npos) << ini;
    for (const std::string& line : lines) ini += line + "\r\n";
    WriteFileBytes(Root("/etc/dbrelay/DbRelay.ini"), ini);
  }

  ProcessResult RunInstalled(const std::vector<std::string>& args, RunOptions options = {}) {
    std::vector<std::string> argv = {Root("/usr/bin/DbRelay")};
    argv.insert(argv.end(), args.begin(), args.end());
    options.env.merge(OdbcConfig::Get().Env());
    options.env["DBRELAY_REPORT_PAUSE_MS"] = "0";
    options.unset_env.push_back("DISPLAY");
    options.unset_env.push_back("WAYLAND_DISPLAY");
    return RunProcess(argv, options);
  }

  std::string Signed() {
    return RunProcess({FindOnPath("sqlite3"), db_, "SELECT Signed FROM Docs WHERE Id=7"}).out;
  }

  std::string db_;
};

struct RunCase {
  const char* name;
  std::vector<std::string> settings;  // "@" stands for the scratch root
  int exit_status;
  std::string signed_after;  // the row's Signed column after the run
  std::string queued;        // what the local text file holds afterwards
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class InstalledRunTest : public InstalledDbRelayTest, public testing::WithParamInterface<RunCase> {};

TEST_P(InstalledRunTest, DeliversThroughTheSettingsBesideIt) {
  const RunCase& c = GetParam();
  std::vector<std::string> lines;
  for (std::string line : c.settings) {
    for (size_t at; (at = line.find('@')) != std::string::npos;) line.replace(at, 1, root_.path());
    lines.push_back(line);
  }
  ASSERT_NO_FATAL_FAILURE(AddSettings(lines));
  const std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";
  ProcessResult r = RunInstalled({statement});
  EXPECT_EQ(r.exit_status, c.exit_status) << r.out;
  EXPECT_EQ(Signed(), c.signed_after);
  EXPECT_EQ(ReadFileBytes(root_.File("queue.sql")), c.queued);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InstalledRunTest,
    testing::Values(
        RunCase{"primary_sqlite",
                {"PriDBType=2", "PriOtherConnStr=Driver=SQLite3;Database=@/docs.db"}, 0, "1\n", ""},
        RunCase{"primary_down_statement_queued",
                {"PriDBType=2", "PriOtherConnStr=Driver=SQLite3;Database=@/none/x.db;NoCreat=1",
                 "SecDBType=3", "SecLocalTextFile=@/queue.sql"},
                0, "0\n", "UPDATE Docs SET Signed=1 WHERE Id=7\r\n"},
        RunCase{"queue_folder_missing_gives_errno",
                {"PriDBType=2", "PriOtherConnStr=Driver=SQLite3;Database=@/none/x.db;NoCreat=1",
                 "SecDBType=3", "SecLocalTextFile=@/none/queue.sql"},
                2, "0\n", ""},
        RunCase{"too_few_records_is_255",
                {"PriDBType=2", "PriOtherConnStr=Driver=SQLite3;Database=@/docs.db",
                 "RaiseErrorIfAffectedLinesLessThen=2"},
                255, "1\n", ""}),
    [](const testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// The mail engine is loaded from the installed folder, beside the program, not from anywhere else.
TEST_F(InstalledDbRelayTest, LoadsItsMailModuleFromItsOwnFolder) {
  ASSERT_NO_FATAL_FAILURE(
      AddSettings({"EmailSMTP=127.0.0.1:" + std::to_string(testing_support::ClosedLoopbackPort())}));
  TempDir trace;
  RunOptions options;
  options.env = {{"LD_DEBUG", "files"}, {"LD_DEBUG_OUTPUT", trace.File("ld")}};
  ProcessResult r = RunInstalled({"EmailTest"}, options);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.out.find("Connect failed\n"), std::string::npos) << r.out;

  std::string loads;
  if (DIR* dir = opendir(trace.path().c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') loads += ReadFileBytes(trace.File(entry->d_name));
    closedir(dir);
  }
  EXPECT_NE(loads.find("file=" + Root("/usr/lib/dbrelay/libdbrelay_mail.so")), std::string::npos)
      << loads;
}

// The pages, the menu entry and the package as a whole pass the checks Debian applies to them.
struct ToolCase {
  const char* name;
  const char* tool;         // skipped when not installed
  std::string command;      // "%r" is the scratch root, "%d" the package file
  bool silent;              // any output at all is a finding
};
void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

class PackageCheckTest : public DebianPackageTest, public testing::WithParamInterface<ToolCase> {};

TEST_P(PackageCheckTest, PassesDebianTools) {
  const ToolCase& c = GetParam();
  if (FindOnPath(c.tool) == c.tool) GTEST_SKIP() << c.tool << " is not installed";
  ASSERT_NO_FATAL_FAILURE(Extract());
  std::string command = c.command;
  for (size_t at; (at = command.find("%r")) != std::string::npos;)
    command.replace(at, 2, Quote(root_.path()));
  for (size_t at; (at = command.find("%d")) != std::string::npos;) command.replace(at, 2, Quote(deb_));
  RunOptions options;
  options.env = {{"LC_ALL", "C.UTF-8"}, {"MANWIDTH", "80"}};
  options.timeout_seconds = 120;
  ProcessResult r = RunShell(command, options);
  EXPECT_EQ(r.exit_status, 0) << r.out;
  if (c.silent) {
    EXPECT_EQ(r.out, "");
  }
  std::cout << r.out;  // lintian's warnings and notes, for the log
}

INSTANTIATE_TEST_SUITE_P(
    Tools, PackageCheckTest,
    testing::Values(
        // man sends troff's and its own warnings to stderr; the rendered page goes nowhere.
        ToolCase{"DbRelay_page", "man",
                 "man --warnings -E UTF-8 -l %r/usr/share/man/man1/DbRelay.1.gz 2>&1 >/dev/null",
                 true},
        ToolCase{"DbRelayConfig_page", "man",
                 "man --warnings -E UTF-8 -l %r/usr/share/man/man1/DbRelayConfig.1.gz 2>&1 "
                 ">/dev/null",
                 true},
        ToolCase{"DbRelayReplay_page", "man",
                 "man --warnings -E UTF-8 -l %r/usr/share/man/man1/DbRelayReplay.1.gz 2>&1 "
                 ">/dev/null",
                 true},
        // systemd-analyze warns about an unknown key and still exits 0, so any output fails. It
        // checks that ExecStart's program exists, inside the scratch root given as --root; the
        // targets the units name come from this system's own units, copied in beside them. The
        // manual pages are checked by the installed-system test, where man finds them.
        ToolCase{"systemd_units", "systemd-analyze",
                 "cp -an /lib/systemd/system/. %r/lib/systemd/system/ && systemd-analyze verify "
                 "--man=no --root=%r /lib/systemd/system/dbrelay-replay.service "
                 "/lib/systemd/system/dbrelay-replay.timer /lib/systemd/system/dbrelay-replay.path",
                 true},
        ToolCase{"desktop_entry", "desktop-file-validate",
                 "desktop-file-validate %r/usr/share/applications/dbrelayconfig.desktop", true},
        ToolCase{"lintian", "lintian", "lintian --fail-on error --tag-display-limit 0 %d",
                 false}),
    [](const testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.name); });

constexpr const char* kSpool = "/var/spool/dbrelay";
const std::string kQueue = std::string(kSpool) + "/queue.sql";
const std::string kBoundaries = kQueue + ".boundaries";  // DbRelay writes it beside the text file

// The package installed on this very system with dpkg, as an administrator installs it: the
// settings folder and file for group dbrelay, a save by a member through the link beside the
// programs, a run of the installed DbRelay by a member, a statement a member parks in the spool
// folder, the replay's account and units (sound, and not enabled), an upgrade that keeps the saved
// settings and the parked statement, and a purge that leaves nothing behind but that statement
// and the accounts. Runs only as root, and only where dbrelay is not installed and /etc/dbrelay
// does not exist, so that the purge undoes exactly what the test did.
class SystemInstallTest : public DebianPackageTest {
 protected:
  void SetUp() override {
    DebianPackageTest::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "installing with dpkg needs root";
    if (RunShell(Quote(FindOnPath("dpkg-query")) + " -W dbrelay").exit_status == 0)
      GTEST_SKIP() << "dbrelay is installed here; the test would remove it";
    struct stat st {};
    if (lstat("/etc/dbrelay", &st) == 0) GTEST_SKIP() << "/etc/dbrelay exists already";
    if (lstat(kSpool, &st) == 0) GTEST_SKIP() << kSpool << " exists already";
    group_existed_ = getgrnam("dbrelay") != nullptr;
    user_existed_ = getpwnam("dbrelay") != nullptr;
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    nobody_uid_ = nobody->pw_uid;
    nobody_gid_ = nobody->pw_gid;
  }
  void TearDown() override {
    if (!installed_) return;
    Dpkg({"--purge", "dbrelay"});
    // What the test parked outlives the purge by design; the test takes it away itself.
    unlink(kQueue.c_str());
    unlink(kBoundaries.c_str());
    rmdir(kSpool);
    // The purge leaves the accounts, as Debian does; the test takes them away itself.
    if (!user_existed_ && getpwnam("dbrelay") != nullptr)
      RunProcess({FindOnPath("userdel"), "dbrelay"});
    if (!group_existed_ && getgrnam("dbrelay") != nullptr)
      RunProcess({FindOnPath("groupdel"), "dbrelay"});
  }

  // dpkg refuses to start while another dpkg or apt holds its lock: wait for it, a bounded time.
  ProcessResult Dpkg(const std::vector<std::string>& args) {
    std::string command = Quote(FindOnPath("dpkg"));
    for (const std::string& arg : args) command += " " + Quote(arg);
    RunOptions options;
    options.env = {{"DEBIAN_FRONTEND", "noninteractive"}};
    options.timeout_seconds = 120;
    ProcessResult r;
    for (int attempt = 0; attempt < 60; ++attempt) {
      r = RunShell(command, options);
      if (r.out.find("lock") == std::string::npos || r.exit_status == 0) break;
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return r;
  }
  void Install() {
    installed_ = true;
    ProcessResult r = Dpkg({"-i", deb_});
    ASSERT_EQ(r.exit_status, 0) << r.out;
  }

  // Runs argv as the unprivileged user nobody, with group dbrelay or without it.
  ProcessResult AsNobody(const std::vector<std::string>& argv, bool in_group) {
    std::vector<std::string> full = {FindOnPath("setpriv"), "--reuid=" + std::to_string(nobody_uid_),
                                     "--regid=" + std::to_string(nobody_gid_)};
    full.push_back(in_group ? "--groups=dbrelay" : "--clear-groups");
    full.push_back("--");
    full.insert(full.end(), argv.begin(), argv.end());
    RunOptions options;
    options.env = {{"DBRELAY_REPORT_PAUSE_MS", "0"}, {"HOME", "/nonexistent"}};
    options.unset_env = {"DISPLAY", "WAYLAND_DISPLAY"};
    return RunProcess(full, options);
  }

  // The mode, owner and group of path (not following a link).
  struct Owned {
    unsigned mode;
    uid_t uid;
    gid_t gid;
    bool operator==(const Owned&) const = default;
  };
  // The links in /etc/systemd/system/*.wants that enable one of the replay's units, one a line.
  static std::string EnablementLinks() {
    return RunShell("ls -d /etc/systemd/system/*.wants/dbrelay-replay.* 2>/dev/null; true").out;
  }

  static Owned StatOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return {0, 0, 0};
    return {static_cast<unsigned>(st.st_mode & 07777), st.st_uid, st.st_gid};
  }

  bool installed_ = false;
  bool group_existed_ = false;
  bool user_existed_ = false;
  uid_t nobody_uid_ = 0;
  gid_t nobody_gid_ = 0;
};

TEST_F(SystemInstallTest, MembersOfDbrelaySaveAndRunAndUpgradesKeepTheSettings) {
  ASSERT_NO_FATAL_FAILURE(Install());
  const group* dbrelay = getgrnam("dbrelay");
  ASSERT_NE(dbrelay, nullptr) << "postinst made no group";
  const gid_t gid = dbrelay->gr_gid;
  const std::string conffile = "/etc/dbrelay/DbRelay.ini";
  EXPECT_EQ(StatOf("/etc/dbrelay"), (Owned{02775, 0, gid}));
  EXPECT_EQ(StatOf(conffile), (Owned{0660, 0, gid}));
  EXPECT_EQ(StatOf(kSpool), (Owned{02770, 0, gid}));

  // The replay's account: a system account in group dbrelay that no one logs in as.
  const passwd* account = getpwnam("dbrelay");
  ASSERT_NE(account, nullptr) << "postinst made no account for the replay";
  EXPECT_EQ(account->pw_gid, gid);
  EXPECT_LT(account->pw_uid, 1000u);
  EXPECT_EQ(std::string(account->pw_shell), "/usr/sbin/nologin");
  EXPECT_FALSE(FileExists(account->pw_dir)) << account->pw_dir;
  // The installed units are sound, their programs and pages where they name them, and none is
  // enabled. An unknown key is only a warning to systemd-analyze, so any output is a finding.
  const std::vector<std::string> units = {"dbrelay-replay.service", "dbrelay-replay.timer",
                                          "dbrelay-replay.path"};
  std::string verify = Quote(FindOnPath("systemd-analyze")) + " verify";
  for (const std::string& unit : units) verify += " /lib/systemd/system/" + unit;
  RunOptions verify_options;
  verify_options.env = {{"LC_ALL", "C.UTF-8"}};
  ProcessResult verified = RunShell(verify, verify_options);
  EXPECT_EQ(verified.exit_status, 0) << verified.out;
  EXPECT_EQ(verified.out, "");
  EXPECT_EQ(EnablementLinks(), "");
  // The replay starts from its link (its output is not this test's business).
  ProcessResult replay = RunProcess({"/usr/bin/DbRelayReplay", "--version"});
  EXPECT_TRUE(replay.exit_status >= 0 && replay.exit_status < 126) << replay.exit_status;

  // A database the unprivileged user may change.
  TempDir work;
  const std::string db = work.File("docs.db");
  ASSERT_EQ(RunProcess({FindOnPath("sqlite3"), db,
                        "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"
                        "INSERT INTO Docs VALUES (7, 0);"})
                .exit_status,
            0);
  ASSERT_EQ(chown(work.path().c_str(), nobody_uid_, nobody_gid_), 0);
  ASSERT_EQ(chown(db.c_str(), nobody_uid_, nobody_gid_), 0);

  // The administrator (root) writes the connection; a member opens and saves the settings with
  // the editor's load and save, through the link beside the programs, as DbRelayConfig does.
  std::string ini = ReadFileBytes(conffile);
  ini += "PriDBType=2\r\nPriOtherConnStr=Driver=" + std::string(testing_support::kSqliteOdbcDriver) +
         ";Database=" + db + "\r\n";
  WriteFileBytes(conffile, ini);
  // A copy the unprivileged user can reach, wherever the build tree lies.
  const std::string save = work.File("editor_save_tool");
  WriteFileBytes(save, ReadFileBytes(testing_support::BinDir() + "/editor_save_tool"));
  ASSERT_EQ(chmod(save.c_str(), 0755), 0);
  const std::string beside = "/usr/lib/dbrelay/DbRelay.ini";
  ProcessResult saved = AsNobody({save, beside}, true);
  ASSERT_EQ(saved.exit_status, 0) << "errno " << saved.exit_status;
  struct stat st {};
  ASSERT_EQ(lstat(beside.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the save replaced the link";
  EXPECT_EQ(StatOf(conffile), (Owned{0660, nobody_uid_, gid}));
  const std::string saved_settings = ReadFileBytes(conffile);
  for (const std::string& line : {std::string("; Members of group dbrelay"),
                                  std::string("\r\nPriDBType=2\r\n"),
                                  "\r\nPriOtherConnStr=Driver=" +
                                      std::string(testing_support::kSqliteOdbcDriver),
                                  std::string("\r\nEmailPort=25\r\n")})
    EXPECT_NE(saved_settings.find(line), std::string::npos) << line << " in\n" << saved_settings;
  EXPECT_EQ(RunShell("ls -A /etc/dbrelay").out, "DbRelay.ini\n");

  // Outside the group nothing is read or saved; a member runs the installed DbRelay.
  EXPECT_EQ(AsNobody({save, beside}, false).exit_status, EACCES);
  EXPECT_EQ(ReadFileBytes(conffile), saved_settings);
  ProcessResult run = AsNobody({"/usr/bin/DbRelay", "UPDATE Docs SET Signed=1 WHERE Id=7"}, true);
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_EQ(RunProcess({FindOnPath("sqlite3"), db, "SELECT Signed FROM Docs"}).out, "1\n");

  // With the primary down, a member parks the statement in the package's spool folder, as the
  // manual's example has it; the file is the member's, in the group, and for no one else.
  const settings::IniFile settings_file(conffile);
  ASSERT_EQ(settings_file.WriteString("General", "PriOtherConnStr",
                                      "Driver=" + std::string(testing_support::kSqliteOdbcDriver) +
                                          ";Database=/nonexistent/x.db;NoCreat=1"),
            0);
  ASSERT_EQ(settings_file.WriteInt("General", "SecDBType", 3), 0);
  ASSERT_EQ(settings_file.WriteString("General", "SecLocalTextFile", kQueue), 0);
  const std::string down = ReadFileBytes(conffile);
  ProcessResult parked =
      AsNobody({"/bin/sh", "-c", "umask 022 && exec /usr/bin/DbRelay \"$0\"", "DELETE FROM Docs"},
               true);
  EXPECT_EQ(parked.exit_status, 0) << parked.out;
  EXPECT_EQ(ReadFileBytes(kQueue), "DELETE FROM Docs\r\n");
  EXPECT_EQ(StatOf(kQueue), (Owned{0640, nobody_uid_, gid}));
  EXPECT_EQ(StatOf(kBoundaries), (Owned{0640, nobody_uid_, gid}));

  // Upgrade (the same version again): the saved settings, the parked statement and their access
  // stay as they are.
  ASSERT_EQ(Dpkg({"-i", deb_}).exit_status, 0);
  EXPECT_EQ(ReadFileBytes(conffile), down);
  EXPECT_EQ(StatOf(conffile), (Owned{0660, nobody_uid_, gid}));
  EXPECT_EQ(StatOf("/etc/dbrelay"), (Owned{02775, 0, gid}));
  EXPECT_EQ(StatOf(kSpool), (Owned{02770, 0, gid}));
  EXPECT_EQ(ReadFileBytes(kQueue), "DELETE FROM Docs\r\n");

  // The administrator enables the timer and the path unit; the purge takes the links away.
  ProcessResult enabled = RunShell(Quote(FindOnPath("systemctl")) +
                                   " enable dbrelay-replay.timer dbrelay-replay.path");
  ASSERT_EQ(enabled.exit_status, 0) << enabled.out;
  EXPECT_EQ(EnablementLinks(),
            "/etc/systemd/system/paths.target.wants/dbrelay-replay.path\n"
            "/etc/systemd/system/timers.target.wants/dbrelay-replay.timer\n");

  // Purge: no file, folder, stat override or unit link is left, but for the parked statement,
  // which no purge may delete.
  ProcessResult purged = Dpkg({"--purge", "dbrelay"});
  ASSERT_EQ(purged.exit_status, 0) << purged.out;
  EXPECT_FALSE(FileExists("/etc/dbrelay"));
  EXPECT_FALSE(FileExists("/usr/lib/dbrelay"));
  EXPECT_FALSE(FileExists("/usr/bin/DbRelay"));
  EXPECT_FALSE(FileExists("/usr/bin/DbRelayReplay"));
  EXPECT_FALSE(FileExists("/lib/systemd/system/dbrelay-replay.service"));
  EXPECT_EQ(EnablementLinks(), "");
  EXPECT_EQ(ReadFileBytes(kQueue), "DELETE FROM Docs\r\n");
  EXPECT_TRUE(FileExists(kBoundaries));
  std::string overrides = RunProcess({FindOnPath("dpkg-statoverride"), "--list"}).out;
  EXPECT_EQ(overrides.find("/etc/dbrelay"), std::string::npos) << overrides;
  EXPECT_EQ(overrides.find(kSpool), std::string::npos) << overrides;
}

}  // namespace
