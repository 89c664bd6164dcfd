#pragma once
// The boundaries file beside the local text file: where each record of the text file begins and
// ends. A record is its statement followed by CR LF, and a statement may itself hold CR LF, so the
// text file alone cannot tell its records apart; the text file keeps its format byte for byte (a
// person can still run it as a script) and the boundaries live beside it, in <text file>.boundaries:
//
//   DbRelay boundaries 1 <queue id>\n          the queue id: 32 random hex digits
//   <start> <length> <crc32>\n                 one line per record, in file order; decimal byte
//                                              offset and length (CR LF included), CRC-32 in hex
//
// The queue id is made whenever a boundaries file is started, so the same path on two hosts, or a
// file parked again under a name used before, is a different queue.
//
// Only appenders write it, under the text file's lock, each record's line before the record. The
// line is made durable with the record by the record's own fsync: until the boundaries file is next
// synced (every twenty or so records), the lines written since its last sync also stand in a note
// kept with the text file itself (Env::SetBoundariesNote), which that fsync makes durable. After a
// power loss a reader takes the file's synced part and the note's lines (DurableBoundariesText);
// the next append writes them back. Where the text file keeps no notes, each line is synced as it
// is written. At any moment the boundaries hold every whole record of the text file and at most one
// line more, for a record whose append was cut short.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "relay/common/status.h"
#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"

namespace dbrelay {

std::string BoundariesPathOf(const std::string& text_path);

struct RecordSpan {
  uint64_t start = 0;
  uint64_t length = 0;  // the statement and its CR LF
  uint32_t crc = 0;     // CRC-32 of those length bytes
  uint64_t end() const { return start + length; }
};

// What a boundaries file says about its text file, as read by a replay.
struct RecordBoundaries {
  std::string queue_id;
  std::vector<RecordSpan> records;  // whole records only, in file order
  // A record whose append was cut short (the appender killed): its line is there, its bytes are
  // not all in the text file. Never replayed; the next append takes it off.
  bool has_torn_record = false;
  uint64_t torn_start = 0;
};

// Reads the boundaries of the text file whose size is text_size from boundaries_text (the whole
// boundaries file). Returns an empty string when the two agree: the records follow each other from
// byte 0 and the last whole one ends where the text file ends. Otherwise a sentence that says where
// they disagree (the byte of the text file, or the line of the boundaries file), and boundaries
// holds what could be read.
std::string ReadRecordBoundaries(std::string_view boundaries_text, uint64_t text_size,
                                 RecordBoundaries* boundaries);

// The boundaries text of a text file as it stands durably: file_bytes (the boundaries file), or,
// where note (the text file's) holds lines the file lost, its synced part followed by those lines.
std::string DurableBoundariesText(std::string_view file_bytes, std::string_view note);

// Reads the boundaries of the text file at text_path, open at text_fd, as DurableBoundariesText
// gives them; found is false when there is neither a boundaries file nor a note.
Status ReadDurableBoundaries(Env* env, const std::string& text_path, int text_fd,
                             std::string* text, bool* found);

// Whether bytes, read from the text file at span, are the record the line was written for.
bool RecordMatches(const RecordSpan& span, std::string_view bytes);

// One append's line in the boundaries file. Used by the appender while it holds the text file's
// lock; every failure leaves the boundaries file as it found it, or with a torn last line that the
// next append takes off.
class BoundariesAppend {
 public:
  explicit BoundariesAppend(Env* env) : env_(env), fd_(env) {}

  // Opens (or starts) the boundaries file of the text file at text_path, open at text_fd with
  // text_size bytes, and brings it in line: a torn last line is taken off, and so is the line of a
  // record whose append was cut short (with the part of it the text file holds); a boundaries file
  // of a text file that was replaced, emptied or is new is started afresh, with a new queue id.
  // text_size is updated when the text file was cut.
  Status Begin(const std::string& text_path, int text_fd, bool text_created, uint64_t* text_size);

  // Writes the line of record, which will be written at start, and puts it in the text file's
  // note, so that the record's fsync makes it durable too; where there is no note, or it has
  // grown long, syncs the boundaries file instead and empties the note.
  Status Add(uint64_t start, std::string_view record);

  // Takes the line of Add off again: the record did not reach the disk.
  void Undo();

 private:
  Status StartAfresh();
  Status Recover(std::string_view note);
  Status SyncNow();
  // Cuts the file to size and keeps what is known of its synced part in step.
  Status Truncate(uint64_t size);
  void Shrink(uint64_t size);

  Env* env_;
  ScopedFd fd_;
  std::string path_;
  bool created_ = false;
  bool text_created_ = false;
  int text_fd_ = -1;
  bool notes_ = false;       // whether the text file keeps a note
  uint64_t size_ = 0;        // of the boundaries file
  uint64_t synced_ = 0;      // how much of it is known durable
  std::string unsynced_;     // the bytes after that: the note's lines
  uint64_t size_before_add_ = 0;
  bool added_ = false;
};

}  // namespace dbrelay
