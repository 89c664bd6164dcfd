// The real DbRelayConfig started as a process from a folder of its own, on a private X server:
// it finds DbRelay.ini beside itself, answers the keyboard, and leaves a screenshot for people.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "tests/support/relay_sandbox.h"
#include "tests/support/service_process.h"
#include "tests/support/xvfb_server.h"

namespace {

using testing_support::ProcessResult;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::TempDir;

std::string Which(const std::string& name) { return testing_support::FindOnPath(name); }

class EditorProcess {
 public:
  EditorProcess(const std::string& program, const std::string& display) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("DISPLAY", display.c_str(), 1);
      ::unsetenv("QT_QPA_PLATFORM");
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~EditorProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status, or -1 when it did not end within the time.
  int WaitForExit(std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
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

}  // namespace
