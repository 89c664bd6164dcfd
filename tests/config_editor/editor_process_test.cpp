// The real DbRelayConfig started as a process from a folder of its own, on a private X server:
// it finds DbRelay.ini beside itself, answers the keyboard, and leaves a screenshot for people.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>
#include <thread>

#include "tests/support/relay_sandbox.h"
#include "tests/support/child_process.h"
#include "tests/support/service_process.h"
#include "tests/support/xvfb_server.h"

namespace {

using testing_support::ProcessResult;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::TempDir;

std::string Which(const std::string& name) { return testing_support::FindOnPath(name); }

// A program on the test's display, killed and reaped when the test is done with it.
class EditorProcess {
 public:
  // Starts argv[0] (a path) on display with env added to the test's environment.
  EditorProcess(const std::vector<std::string>& argv, const std::string& display,
                const std::map<std::string, std::string>& env = {})
      : child_(argv, Options(display, env)) {}
  EditorProcess(const std::string& program, const std::string& display)
      : EditorProcess(std::vector<std::string>{program}, display) {}

  // The exit status, or -1 when it did not end within the time.
  int WaitForExit(std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (child_.Ended()) return child_.Wait().exit_status;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

 private:
  static testing_support::ChildOptions Options(const std::string& display,
                                               const std::map<std::string, std::string>& env) {
    testing_support::ChildOptions options;
    options.run.env = env;
    options.run.env["DISPLAY"] = display;
    options.run.unset_env = {"QT_QPA_PLATFORM"};
    options.out = testing_support::ChildOptions::Out::kNull;
    return options;
  }

  testing_support::ChildProcess child_;
};

ProcessResult X(const std::string& display, std::vector<std::string> argv) {
  RunOptions options;
  options.env["DISPLAY"] = display;
  options.timeout_seconds = 20;
  argv[0] = Which(argv[0]);
  return RunProcess(argv, options);
}

// Waits for a window with exactly this title and focuses it; returns its id.
std::string FocusWindow(const std::string& display, const std::string& title) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    ProcessResult r = X(display, {"xdotool", "search", "--name", "^" + title + "$"});
    if (r.exit_status == 0 && !r.out.empty()) {
      std::string id = r.out.substr(0, r.out.find('\n'));
      X(display, {"xdotool", "windowfocus", "--sync", id});
      return id;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

TEST(EditorProcessTest, RunsFromItsFolderSavesBesideItselfAndLeavesAScreenshot) {
  testing_support::XvfbServer xvfb;
  TempDir dir;
  std::string program = dir.File("DbRelayConfig");
  std::filesystem::copy_file(testing_support::BinDir() + "/DbRelayConfig", program);
  testing_support::WriteFileBytes(
      dir.File("DbRelay.ini"),
      "[General]\r\nUseSecConn=1\r\nEmailOnError=1\r\nEmailSMTP=mail.example.com\r\n"
      "PriConnectionString=Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database=Orders;Uid=sa;"
      "Pwd=secret;\r\n");
  EditorProcess editor(program, xvfb.display());
  std::string window = FocusWindow(xvfb.display(), "DB Relay Setup");
  ASSERT_FALSE(window.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // first paint

  std::string artifacts = DBRELAY_TEST_ARTIFACT_DIR;
  std::filesystem::create_directories(artifacts);
  std::string shot = artifacts + "/DbRelayConfig.png";
  std::filesystem::remove(shot);
  ProcessResult r = X(xvfb.display(), {"import", "-window", window, shot});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(testing_support::FileExists(shot));

  // Enter asks to save; Enter again answers Yes (the default button).
  X(xvfb.display(), {"xdotool", "key", "--window", window, "Return"});
  ASSERT_FALSE(FocusWindow(xvfb.display(), "DB Relay").empty());
  X(xvfb.display(), {"xdotool", "key", "Return"});
  std::string saved;
  for (int i = 0; i < 100 && saved.find("CopyFilePath=") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    saved = testing_support::ReadFileBytes(dir.File("DbRelay.ini"));
  }
  EXPECT_NE(saved.find("\r\nPriDBType=1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\nEmailSMTP=mail.example.com\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\nPriConnectionString=TAVOK"), std::string::npos) << saved;

  // Escape asks to exit; Yes ends the program.
  FocusWindow(xvfb.display(), "DB Relay Setup");
  X(xvfb.display(), {"xdotool", "key", "--window", window, "Escape"});
  ASSERT_FALSE(FocusWindow(xvfb.display(), "DB Relay").empty());
  X(xvfb.display(), {"xdotool", "key", "Return"});
  EXPECT_EQ(editor.WaitForExit(std::chrono::seconds(10)), 0);
}

// The window ids xprop lists in a property of the root window or of a window, in order.
std::vector<unsigned long> WindowIds(const std::string& display, const std::vector<std::string>& xprop_args) {
  std::vector<std::string> argv = {"xprop"};
  argv.insert(argv.end(), xprop_args.begin(), xprop_args.end());
  ProcessResult r = X(display, argv);
  std::vector<unsigned long> ids;
  for (size_t at = r.out.find("0x"); at != std::string::npos; at = r.out.find("0x", at + 2)) {
    ids.push_back(std::stoul(r.out.substr(at), nullptr, 16));
  }
  return ids;
}

// The first window whose title matches the regular expression, or empty.
std::string WaitForWindow(const std::string& display, const std::string& title_regex,
                          int attempts = 150) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    ProcessResult r = X(display, {"xdotool", "search", "--name", title_regex});
    if (r.exit_status == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

// Under a real window manager, as administrators use it: a SecTest that fails leaves its output
// window above the dialog, also after a click on the dialog, and the run's end is shown in it.
TEST(EditorProcessTest, AFailingSecTestStaysAboveTheDialogUnderAWindowManager) {
  testing_support::XvfbServer xvfb;
  TempDir dir;
  std::string program = dir.File("DbRelayConfig");
  std::filesystem::copy_file(testing_support::BinDir() + "/DbRelayConfig", program);
  testing_support::DeployRelay(dir.path());
  testing_support::WriteFileBytes(
      dir.File("DbRelay.ini"),
      "[General]\r\nUseSecConn=1\r\nSecDBType=2\r\nSecOtherConnStr=DSN=NoSuchDataSource\r\n");
  const std::string home = dir.File("home");
  std::filesystem::create_directories(home);
  const std::map<std::string, std::string> env = {
      {"HOME", home}, {"XDG_CONFIG_HOME", home}, {"XDG_CACHE_HOME", home},
      {"DBRELAY_REPORT_PAUSE_MS", "0"}, {"ODBCSYSINI", home}, {"ODBCINI", home + "/odbc.ini"}};
  EditorProcess window_manager({Which("openbox")}, xvfb.display(), env);
  bool managed = false;
  for (int i = 0; i < 100 && !managed; ++i) {
    managed = !WindowIds(xvfb.display(), {"-root", "_NET_SUPPORTING_WM_CHECK"}).empty();
    if (!managed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(managed) << "openbox did not start";

  EditorProcess editor({program}, xvfb.display(), env);
  std::string dialog = FocusWindow(xvfb.display(), "DB Relay Setup");
  ASSERT_FALSE(dialog.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // first paint
  // From the first focus (the primary user name) eight Tabs reach the secondary Test button.
  std::vector<std::string> keys = {"xdotool", "key", "--delay", "30"};
  for (int i = 0; i < 8; ++i) keys.push_back("Tab");
  keys.push_back("space");
  X(xvfb.display(), keys);
  std::string output = WaitForWindow(xvfb.display(), "DbRelay SecTest \\(ended\\)$");
  ASSERT_FALSE(output.empty()) << "the test run did not end in its window";

  // A click on the dialog does not bury the output window.
  X(xvfb.display(), {"xdotool", "mousemove", "--window", dialog, "30", "30", "click", "1"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const unsigned long dialog_id = std::stoul(dialog);
  const unsigned long output_id = std::stoul(output);
  EXPECT_EQ(WindowIds(xvfb.display(), {"-id", output, "WM_TRANSIENT_FOR"}),
            std::vector<unsigned long>{dialog_id});
  std::vector<unsigned long> stacking =
      WindowIds(xvfb.display(), {"-root", "_NET_CLIENT_LIST_STACKING"});  // bottom to top
  auto dialog_at = std::find(stacking.begin(), stacking.end(), dialog_id);
  auto output_at = std::find(stacking.begin(), stacking.end(), output_id);
  ASSERT_NE(dialog_at, stacking.end());
  ASSERT_NE(output_at, stacking.end());
  EXPECT_GT(output_at - stacking.begin(), dialog_at - stacking.begin());

  std::string artifacts = DBRELAY_TEST_ARTIFACT_DIR;
  std::filesystem::create_directories(artifacts);
  std::string shot = artifacts + "/DbRelayConfig-SecTest.png";
  std::filesystem::remove(shot);
  EXPECT_EQ(X(xvfb.display(), {"import", "-window", "root", shot}).exit_status, 0);
  EXPECT_TRUE(testing_support::FileExists(shot));
}

}  // namespace
