// The boundaries file beside the local text file: what appends write there, how a killed or failed
// append leaves it, and how a replay reads it.

#include "relay/output/record_boundaries.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "relay/common/crc32.h"
#include "relay/output/text_file.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// The boundaries of the text file at path as a replay reads them; problem receives the
// disagreement, empty when there is none.
dbrelay::RecordBoundaries Read(const std::string& path, std::string* problem) {
  dbrelay::RecordBoundaries boundaries;
  *problem = dbrelay::ReadRecordBoundaries(ReadFileBytes(dbrelay::BoundariesPathOf(path)),
                                           ReadFileBytes(path).size(), &boundaries);
  return boundaries;
}

TEST(Crc32Test, IsTheCrcOfZlibAndPng) {
  EXPECT_EQ(dbrelay::Crc32(""), 0u);
  EXPECT_EQ(dbrelay::Crc32("123456789"), 0xCBF43926u);  // the check value of CRC-32/ISO-HDLC
  EXPECT_EQ(dbrelay::Crc32("6789", dbrelay::Crc32("12345")), 0xCBF43926u);
}

class BoundariesAppendTest : public testing::Test {
 protected:
  TempDir dir_;
  std::string file_ = dir_.File("queue.sql");
};

TEST_F(BoundariesAppendTest, EveryRecordIsToldApartEvenWhenItHoldsCrLf) {
  const std::vector<std::string> statements = {
      "INSERT INTO t VALUES ('a')", "UPDATE t SET v='x\r\ny'\r\nWHERE id=1", "", "\r\n",
      "SELECT '\xff\xfe not UTF-8'"};
  for (const std::string& s : statements) ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, s), 0);

  std::string problem;
  dbrelay::RecordBoundaries b = Read(file_, &problem);
  ASSERT_EQ(problem, "");
  EXPECT_EQ(b.queue_id.size(), 32u);
  EXPECT_FALSE(b.has_torn_record);
  ASSERT_EQ(b.records.size(), statements.size());
  const std::string text = ReadFileBytes(file_);
  for (size_t i = 0; i < statements.size(); ++i) {
    const dbrelay::RecordSpan& span = b.records[i];
    std::string bytes = text.substr(span.start, span.length);
    EXPECT_EQ(bytes, statements[i] + "\r\n") << i;
    EXPECT_TRUE(dbrelay::RecordMatches(span, bytes)) << i;
  }
  // The text file itself is the records and nothing else, as before.
  std::string expected;
  for (const std::string& s : statements) expected += s + "\r\n";
  EXPECT_EQ(text, expected);
}

TEST_F(BoundariesAppendTest, ANewFileIsANewQueueEvenUnderTheSameName) {
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "one"), 0);
  std::string problem;
  const std::string first = Read(file_, &problem).queue_id;
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "two"), 0);
  EXPECT_EQ(Read(file_, &problem).queue_id, first) << "the same file keeps its queue";

  std::filesystem::remove(file_);  // the boundaries file stays behind
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "three"), 0);
  dbrelay::RecordBoundaries b = Read(file_, &problem);
  EXPECT_EQ(problem, "");
  EXPECT_NE(b.queue_id, first);
  ASSERT_EQ(b.records.size(), 1u);
  EXPECT_EQ(b.records[0].start, 0u);
}

TEST_F(BoundariesAppendTest, AFileParkedBeforeBoundariesIsReportedNotGuessed) {
  WriteFileBytes(file_, "old one\r\nold two\r\n");  // parked by a DbRelay that kept no boundaries
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "new"), 0);
  std::string problem;
  Read(file_, &problem);
  EXPECT_EQ(problem, "bytes 0 to 18 of it belong to no record");
  EXPECT_EQ(ReadFileBytes(file_), "old one\r\nold two\r\nnew\r\n");
}

// A boundaries file that cannot be written never costs the statement its place in the text file.
class BoundariesFaultEnv : public dbrelay::EnvWrapper {
 public:
  explicit BoundariesFaultEnv(std::string call) : EnvWrapper(Env::Default()), call_(std::move(call)) {}
  dbrelay::Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) override {
    const bool boundaries = path.ends_with(".boundaries");
    if (boundaries && call_ == "open") return dbrelay::Status::FromErrno(EACCES, "open");
    dbrelay::Status s = EnvWrapper::OpenOrCreateFile(path, fd, created);
    if (s.ok() && boundaries) fds_.insert(*fd);
    return s;
  }
  dbrelay::Status WriteFile(int fd, std::string_view data, size_t* written) override {
    if (fds_.count(fd) != 0 && call_ == "write") {
      // The disk takes half the line and then has no room left.
      (void)EnvWrapper::WriteFile(fd, data.substr(0, data.size() / 2), written);
      return dbrelay::Status::FromErrno(ENOSPC, "write");
    }
    return EnvWrapper::WriteFile(fd, data, written);
  }
  dbrelay::Status SyncFile(int fd) override {
    if (fds_.count(fd) != 0 && call_ == "sync") return dbrelay::Status::FromErrno(EIO, "fsync");
    return EnvWrapper::SyncFile(fd);
  }

 private:
  std::string call_;
  std::set<int> fds_;
};

struct BoundariesFault {
  const char* call;
  const char* problem;  // what a replay finds afterwards
};

class BoundariesFaultTest : public BoundariesAppendTest,
                            public testing::WithParamInterface<BoundariesFault> {};

TEST_P(BoundariesFaultTest, RecordIsSavedAndTheReplayIsToldWhere) {
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "first"), 0);
  {
    BoundariesFaultEnv env(GetParam().call);
    dbrelay::ScopedEnvOverride use(&env);
    EXPECT_EQ(dbrelay::AppendStatementToTextFile(file_, "second"), 0);
  }
  EXPECT_EQ(ReadFileBytes(file_), "first\r\nsecond\r\n");
  std::string problem;
  Read(file_, &problem);
  EXPECT_EQ(problem, GetParam().problem);
  // A later append still writes its own line; an unrecorded record stays reported.
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "third"), 0);
  Read(file_, &problem);
  EXPECT_EQ(problem, GetParam().problem);
}

// A line whose sync failed is still there to read; only a power loss could take it, and then the
// replay would report the record as unrecorded, as it does here for the other two.
INSTANTIATE_TEST_SUITE_P(
    Calls, BoundariesFaultTest,
    testing::Values(BoundariesFault{"open", "bytes 7 to 15 of it belong to no record"},
                    BoundariesFault{"write", "bytes 7 to 15 of it belong to no record"},
                    BoundariesFault{"sync", ""}),
    [](const auto& info) { return std::string(info.param.call); });

// --- How a replay reads a boundaries file ---

struct ReadCase {
  const char* name;
  std::string boundaries;
  uint64_t text_size;
  std::string problem;
  size_t records;
  bool torn;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadBoundariesTest : public testing::TestWithParam<ReadCase> {};

constexpr char kHeader[] = "DbRelay boundaries 1 0123456789abcdef0123456789abcdef\n";

TEST_P(ReadBoundariesTest, AgreesOrSaysWhere) {
  dbrelay::RecordBoundaries b;
  EXPECT_EQ(dbrelay::ReadRecordBoundaries(GetParam().boundaries, GetParam().text_size, &b),
            GetParam().problem);
  EXPECT_EQ(b.records.size(), GetParam().records);
  EXPECT_EQ(b.has_torn_record, GetParam().torn);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBoundariesTest,
    testing::Values(
        ReadCase{"empty_queue", kHeader, 0, "", 0, false},
        ReadCase{"two_records", std::string(kHeader) + "0 5 0\n5 7 1\n", 12, "", 2, false},
        ReadCase{"torn_last_line_is_no_record", std::string(kHeader) + "0 5 0\n5 7", 5, "", 1,
                 false},
        ReadCase{"record_cut_short", std::string(kHeader) + "0 5 0\n5 7 1\n", 9, "", 1, true},
        ReadCase{"record_line_but_no_bytes", std::string(kHeader) + "0 5 0\n5 7 1\n", 5, "", 1,
                 true},
        ReadCase{"no_file", "", 12,
                 "it has no valid boundaries file: its first line is not a boundaries header", 0,
                 false},
        ReadCase{"not_ours", "INSERT INTO t VALUES (1)\r\n", 26,
                 "it has no valid boundaries file: its first line is not a boundaries header", 0,
                 false},
        ReadCase{"damaged_line", std::string(kHeader) + "0 5 0\n5 x 1\n", 12,
                 "line 3 of its boundaries file is damaged", 1, false},
        ReadCase{"gap", std::string(kHeader) + "0 5 0\n6 7 1\n", 13,
                 "bytes 5 to 6 of it belong to no record", 2, false},
        ReadCase{"overlap", std::string(kHeader) + "0 5 0\n4 7 1\n", 11,
                 "the records at byte 4 and 5 overlap", 2, false},
        ReadCase{"text_longer", std::string(kHeader) + "0 5 0\n", 9,
                 "bytes 5 to 9 of it belong to no record", 1, false},
        ReadCase{"text_shorter", std::string(kHeader) + "0 5 0\n5 7 1\n", 3,
                 "it ends at byte 3, inside a record that ends at byte 12", 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
