// Many real DbRelay processes appending to one local text file at once, and processes killed in the
// middle of their appends: the file holds whole records only, and no statement whose run reported
// success is missing.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/relay_fleet.h"
#include "tests/support/relay_sandbox.h"

namespace reliability {
namespace {

using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;

TEST(StormTest, SixtyFourProcessesAtOnceLeaveEveryRecordWhole) {
  constexpr int kProcesses = 64;
  constexpr int kStatementsEach = 20;
  RelaySandbox relay;
  const std::string queue = relay.File("queue.sql");
  relay.WriteIni(PrimaryDownToTextFile(relay, queue));

  // Each worker keeps one DbRelay running at all times, so 64 run at once throughout.
  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::thread> workers;
  for (int w = 0; w < kProcesses; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kStatementsEach; ++i) {
        // Several pages per record, so that interleaved or torn writes show.
        std::string statement =
            MakeStatement(std::string("w").append(std::to_string(w)), i, 9000);
        auto result = relay.Run({statement}, RelayOptions());
        if (result.exit_status != 0 || !result.out.empty()) {
          std::lock_guard<std::mutex> lock(mutex);
          failures.push_back(std::string("w").append(std::to_string(w)) + " #" +
                             std::to_string(i) + ": exit " +
                             std::to_string(result.exit_status) + ", output: " +
                             result.out.substr(0, 300));
        }
      }
    });
  }
  for (auto& t : workers) t.join();
  EXPECT_TRUE(failures.empty()) << failures.size() << " runs failed, first: " << failures.front();

  std::vector<std::string> records;
  size_t torn_at = 0;
  ASSERT_TRUE(SplitRecords(ReadFileBytes(queue), &records, &torn_at)) << "torn at " << torn_at;
  std::set<std::pair<std::string, int>> seen;
  for (const std::string& record : records) {
    std::string tag;
    int number = 0;
    ASSERT_TRUE(ParseStatement(record, &tag, &number))
        << "not a whole record: " << record.substr(0, 80) << "...";
    EXPECT_TRUE(seen.emplace(tag, number).second) << tag << " #" << number << " stored twice";
  }
  EXPECT_EQ(records.size(), size_t{kProcesses * kStatementsEach});
  EXPECT_EQ(seen.size(), size_t{kProcesses * kStatementsEach});
}

// Killed runs may or may not have stored their statement, but never a part of it; every run that
// exited 0 has stored its statement exactly once.
TEST(StormTest, RunsKilledAtRandomMomentsLeaveOnlyWholeRecords) {
  constexpr int kWorkers = 8;
  constexpr int kRunsEach = 40;
  RelaySandbox relay;
  const std::string queue = relay.File("queue.sql");
  relay.WriteIni(PrimaryDownToTextFile(relay, queue));
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));

  struct Outcome {
    int exit_status;
    int signal;
  };
  std::mutex mutex;
  std::map<std::pair<std::string, int>, Outcome> outcomes;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      std::mt19937 random(seed + static_cast<unsigned>(w));
      std::uniform_int_distribution<int> delay_us(0, 40000);
      for (int i = 0; i < kRunsEach; ++i) {
        const std::string tag = std::string("k").append(std::to_string(w));
        // Large records keep each write in flight long enough for a kill to land inside it.
        std::vector<std::string> argv = {relay.program(), MakeStatement(tag, i, 120000)};
        StartedProcess process(argv, RelayOptions());
        if (i % 2 == 0) {  // every other run gets a kill at a random moment of its life
          std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
          process.Kill(SIGKILL);
        }
        auto result = process.Wait();
        std::lock_guard<std::mutex> lock(mutex);
        outcomes[{tag, i}] = Outcome{result.exit_status, result.signal};
      }
    });
  }
  for (auto& t : workers) t.join();

  std::vector<std::string> records;
  size_t torn_at = 0;
  const std::string content = ReadFileBytes(queue);
  ASSERT_TRUE(SplitRecords(content, &records, &torn_at)) << "torn at " << torn_at;
  std::set<std::pair<std::string, int>> stored;
  for (const std::string& record : records) {
    std::string tag;
    int number = 0;
    ASSERT_TRUE(ParseStatement(record, &tag, &number))
        << "not a whole record: " << record.substr(0, 80) << "...";
    EXPECT_TRUE(stored.emplace(tag, number).second) << tag << " #" << number << " stored twice";
  }
  int killed = 0;
  for (const auto& [key, outcome] : outcomes) {
    if (outcome.signal == SIGKILL) {
      ++killed;
      continue;
    }
    EXPECT_EQ(outcome.exit_status, 0) << key.first << " #" << key.second;
    EXPECT_TRUE(stored.count(key)) << key.first << " #" << key.second << " exited 0 but is lost";
  }
  EXPECT_GT(killed, 0) << "no run was killed before it ended";
}

}  // namespace
}  // namespace reliability
