// DbRelay runs again and again while another process saves the settings file with the shared
// writer: every read of every run sees a whole file. The settings are laid out so that a torn or
// empty read changes the outcome: the keys the run needs stand at the end of a large file, and
// without any one of them the run fails (a missing PriDBType or SecDBType turns to connections
// that do not exist, a missing SecLocalTextFile to an empty path).

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/relay_fleet.h"
#include "tests/support/relay_sandbox.h"

namespace reliability {
namespace {

using testing_support::BinDir;
using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::WriteFileBytes;

struct SaveCase {
  const char* name;
  bool editor;  // each save is the editor's sequence of 25 writes
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }

class SettingsSaveTest : public testing::TestWithParam<SaveCase> {};

TEST_P(SettingsSaveTest, EveryRunSeesAWholeFile) {
  constexpr int kRunners = 2;
  constexpr int kRunsEach = 60;
  RelaySandbox relay;
  const std::string queue_a = relay.File("a.sql");
  const std::string queue_b = relay.File("b.sql");
  // About 100 KB before the section the run reads.
  std::string bytes = "[Padding]\r\n";
  for (int i = 0; i < 2000; ++i) {
    bytes += "Key" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
  }
  bytes += "[General]\r\n";
  for (const std::string& line : PrimaryDownToTextFile(relay, queue_a)) bytes += line + "\r\n";
  relay.WriteIniBytes(bytes);

  const std::string stop = relay.File("stop");
  std::vector<std::string> rewriter = {BinDir() + "/settings_rewriter", relay.ini_path(), stop,
                                       "SecLocalTextFile", queue_a, queue_b};
  if (GetParam().editor) rewriter.push_back("editor");
  testing_support::ProcessResult saves;
  std::thread saver([&] {
    RunOptions options;
    options.timeout_seconds = 240;
    saves = RunProcess(rewriter, options);
  });

  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::thread> runners;
  for (int r = 0; r < kRunners; ++r) {
    runners.emplace_back([&, r] {
      for (int i = 0; i < kRunsEach; ++i) {
        const std::string tag = std::string("r").append(std::to_string(r));
        auto result = relay.Run({MakeStatement(tag, i, 10)}, RelayOptions());
        if (result.exit_status != 0 || !result.out.empty()) {
          std::lock_guard<std::mutex> lock(mutex);
          failures.push_back("exit " + std::to_string(result.exit_status) + ": " + result.out);
        }
      }
    });
  }
  for (auto& t : runners) t.join();
  WriteFileBytes(stop, "");
  saver.join();

  ASSERT_EQ(saves.exit_status, 0) << "the rewriter failed";
  EXPECT_GT(std::stol(saves.out), 0) << "no save overlapped the runs";
  EXPECT_TRUE(failures.empty()) << failures.size() << " runs failed, first: " << failures.front();
  std::vector<std::string> a;
  std::vector<std::string> b;
  size_t torn_at = 0;
  ASSERT_TRUE(SplitRecords(ReadFileBytes(queue_a), &a, &torn_at));
  ASSERT_TRUE(SplitRecords(ReadFileBytes(queue_b), &b, &torn_at));
  EXPECT_EQ(a.size() + b.size(), size_t{kRunners * kRunsEach});
  // The file is still the one the test wrote, with the flipped key's last value.
  std::string now = ReadFileBytes(relay.ini_path());
  EXPECT_EQ(now.rfind("[Padding]\r\nKey0=", 0), 0u);
  EXPECT_NE(now.find("\r\nSecLocalTextFile="), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Saves, SettingsSaveTest,
                         testing::Values(SaveCase{"one_key_per_save", false},
                                         SaveCase{"editor_sequence", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
