// The boundaries file beside the local text file: what appends write there, how a killed or failed
// append leaves it, and how a replay reads it.

#include "relay/output/record_boundaries.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
  // Eight bytes a step and one at a time agree, at every length and split.
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>((i * 131 + 7) & 0xFF);
  for (size_t length = 0; length <= bytes.size(); length += 13) {
    uint32_t one_by_one = 0;
    for (size_t i = 0; i < length; ++i) one_by_one = dbrelay::Crc32(bytes.substr(i, 1), one_by_one);
    EXPECT_EQ(dbrelay::Crc32(std::string_view(bytes).substr(0, length)), one_by_one) << length;
  }
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

  // Emptied, as a replay stopped between emptying and removing it leaves it: its one record's
  // line must not pass for an append cut short, or the old queue's progress would apply to the
  // new records.
  std::filesystem::resize_file(file_, 0);
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "four"), 0);
  dbrelay::RecordBoundaries emptied = Read(file_, &problem);
  EXPECT_EQ(problem, "");
  EXPECT_NE(emptied.queue_id, b.queue_id);
  ASSERT_EQ(emptied.records.size(), 1u);
  EXPECT_EQ(emptied.records[0].start, 0u);
}

TEST_F(BoundariesAppendTest, AFileParkedBeforeBoundariesIsReportedNotGuessed) {
  WriteFileBytes(file_, "old one\r\nold two\r\n");  // parked by a DbRelay that kept no boundaries
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "new"), 0);
  std::string problem;
  Read(file_, &problem);
  EXPECT_EQ(problem, "bytes 0 to 18 of it belong to no record");
  EXPECT_EQ(ReadFileBytes(file_), "old one\r\nold two\r\nnew\r\n");
}

// --- One fsync an append: the text file's note ---

// Counts the syncs of the text file and of its boundaries file; refuse_notes plays a file system
// that keeps no extended attributes.
class SyncCountingEnv : public dbrelay::EnvWrapper {
 public:
  explicit SyncCountingEnv(bool refuse_notes)
      : EnvWrapper(Env::Default()), refuse_notes_(refuse_notes) {}
  dbrelay::Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) override {
    dbrelay::Status s = EnvWrapper::OpenOrCreateFile(path, fd, created);
    if (s.ok()) (path.ends_with(".boundaries") ? boundaries_fds_ : text_fds_).insert(*fd);
    return s;
  }
  dbrelay::Status CloseFile(int fd) override {
    boundaries_fds_.erase(fd);
    text_fds_.erase(fd);
    return EnvWrapper::CloseFile(fd);
  }
  dbrelay::Status SyncFile(int fd) override {
    if (boundaries_fds_.count(fd) != 0) ++boundaries_syncs;
    if (text_fds_.count(fd) != 0) ++text_syncs;
    return EnvWrapper::SyncFile(fd);
  }
  dbrelay::Status ReadBoundariesNote(int fd, std::string* note) override {
    if (refuse_notes_) return dbrelay::Status::FromErrno(ENOTSUP, "fgetxattr");
    return EnvWrapper::ReadBoundariesNote(fd, note);
  }
  dbrelay::Status SetBoundariesNote(int fd, std::string_view note) override {
    if (refuse_notes_) return dbrelay::Status::FromErrno(ENOTSUP, "fsetxattr");
    return EnvWrapper::SetBoundariesNote(fd, note);
  }
  int text_syncs = 0;
  int boundaries_syncs = 0;

 private:
  bool refuse_notes_;
  std::set<int> text_fds_;
  std::set<int> boundaries_fds_;
};

class NoteSyncTest : public BoundariesAppendTest, public testing::WithParamInterface<bool> {};

TEST_P(NoteSyncTest, TheRecordsFsyncCarriesItsBoundariesWhereTheFileKeepsNotes) {
  const bool refuse_notes = GetParam();
  SyncCountingEnv env(refuse_notes);
  dbrelay::ScopedEnvOverride use(&env);
  constexpr int kAppends = 60;
  for (int i = 0; i < kAppends; ++i) {
    ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "UPDATE Docs SET Signed=1 WHERE Id=" +
                                                            std::to_string(i)),
              0);
  }
  EXPECT_EQ(env.text_syncs, kAppends);
  if (refuse_notes) {
    EXPECT_EQ(env.boundaries_syncs, kAppends) << "without notes every line is synced at once";
  } else {
    EXPECT_GE(env.boundaries_syncs, 1);
    EXPECT_LE(env.boundaries_syncs, kAppends / 10) << "the note should carry most lines";
  }
  std::string problem;
  EXPECT_EQ(Read(file_, &problem).records.size(), static_cast<size_t>(kAppends));
  EXPECT_EQ(problem, "");
}

INSTANTIATE_TEST_SUITE_P(Notes, NoteSyncTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "refused" : "kept"; });

// A power loss keeps the text file's records and its note (one fsync made them durable) but may
// take the boundaries file's unsynced lines. Each case damages the boundaries file that way.
struct LossCase {
  const char* name;
  int appends;
  void (*damage)(const std::string& boundaries_path, uint64_t synced);
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class PowerLossTest : public BoundariesAppendTest, public testing::WithParamInterface<LossCase> {
 protected:
  // The synced size the note names, read through the real system.
  uint64_t NoteSyncedSize() const {
    int fd = ::open(file_.c_str(), O_RDONLY);
    std::string note;
    EXPECT_TRUE(dbrelay::Env::Default()->ReadBoundariesNote(fd, &note).ok());
    ::close(fd);
    return note.empty() ? UINT64_MAX : std::stoull(note);
  }
  std::string DurableText(bool* found) const {
    int fd = ::open(file_.c_str(), O_RDONLY);
    std::string text;
    EXPECT_TRUE(dbrelay::ReadDurableBoundaries(dbrelay::Env::Default(), file_, fd, &text, found).ok());
    ::close(fd);
    return text;
  }
};

TEST_P(PowerLossTest, TheNoteRestoresTheLostLinesAndTheNextAppendWritesThemBack) {
  for (int i = 0; i < GetParam().appends; ++i) {
    ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "INSERT INTO t VALUES (" +
                                                            std::to_string(i) + ",'a\r\nb')"),
              0);
  }
  const std::string boundaries = dbrelay::BoundariesPathOf(file_);
  const std::string whole = ReadFileBytes(boundaries);
  const uint64_t synced = NoteSyncedSize();
  ASSERT_NE(synced, UINT64_MAX) << "no note to recover from";
  GetParam().damage(boundaries, synced);
  ASSERT_NE(ReadFileBytes(boundaries), whole) << "the damage changed nothing";

  bool found = false;
  EXPECT_EQ(DurableText(&found), whole);
  EXPECT_TRUE(found);

  ASSERT_EQ(dbrelay::AppendStatementToTextFile(file_, "next"), 0);
  std::string problem;
  dbrelay::RecordBoundaries b = Read(file_, &problem);
  EXPECT_EQ(problem, "") << "the boundaries file itself is whole again";
  EXPECT_EQ(b.records.size(), static_cast<size_t>(GetParam().appends) + 1);
  EXPECT_EQ(ReadFileBytes(boundaries).substr(0, whole.size()), whole);
}

INSTANTIATE_TEST_SUITE_P(
    Losses, PowerLossTest,
    testing::Values(
        LossCase{"file_gone_before_its_first_sync", 5,
                 [](const std::string& path, uint64_t) { std::filesystem::remove(path); }},
        LossCase{"unsynced_lines_gone", 40,
                 [](const std::string& path, uint64_t synced) {
                   std::filesystem::resize_file(path, synced);
                 }},
        LossCase{"cut_inside_a_line", 40,
                 [](const std::string& path, uint64_t synced) {
                   std::filesystem::resize_file(path, synced + 7);
                 }},
        LossCase{"zeros_where_lines_were", 40,
                 [](const std::string& path, uint64_t synced) {
                   std::string bytes = ReadFileBytes(path);
                   std::fill(bytes.begin() + static_cast<long>(synced), bytes.end(), '\0');
                   testing_support::WriteFileBytes(path, bytes);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

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
