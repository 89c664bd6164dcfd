#include "relay/output/record_boundaries.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "relay/common/crc32.h"
#include "settings/file_path.h"

namespace dbrelay {

namespace {

constexpr std::string_view kHeaderStart = "DbRelay boundaries 1 ";
constexpr size_t kQueueIdLength = 32;
// Longer than any two lines of the file: the header, or two record lines of 20-digit numbers.
constexpr size_t kTailLength = 256;
// How much of the boundaries file may wait for a sync in the text file's note: some twenty lines,
// well inside what any file system keeps in one extended attribute.
constexpr size_t kMaxNoteBytes = 1024;
// More than any boundaries file of a real queue; a larger one is not ours.
constexpr uint64_t kMaxBoundariesFileSize = 256ull * 1024 * 1024;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The queue id of a header line, or empty when line is none.
std::string_view HeaderQueueId(std::string_view line) {
  if (line.size() != kHeaderStart.size() + kQueueIdLength || !line.starts_with(kHeaderStart)) {
    return {};
  }
  std::string_view id = line.substr(kHeaderStart.size());
  return std::all_of(id.begin(), id.end(), IsHexDigit) ? id : std::string_view();
}

bool ParseNumber(std::string_view* text, uint64_t* value, int base) {
  const char* first = text->data();
  const char* last = first + text->size();
  auto [end, error] = std::from_chars(first, last, *value, base);
  if (error != std::errc() || end == first) return false;
  text->remove_prefix(static_cast<size_t>(end - first));
  return true;
}

// A record line "<start> <length> <crc32>".
bool ParseRecordLine(std::string_view line, RecordSpan* span) {
  uint64_t crc = 0;
  if (!ParseNumber(&line, &span->start, 10) || !line.starts_with(' ')) return false;
  line.remove_prefix(1);
  if (!ParseNumber(&line, &span->length, 10) || !line.starts_with(' ')) return false;
  line.remove_prefix(1);
  if (line.empty() || line.size() > 8 || !std::all_of(line.begin(), line.end(), IsHexDigit)) {
    return false;
  }
  if (!ParseNumber(&line, &crc, 16) || !line.empty()) return false;
  span->crc = static_cast<uint32_t>(crc);
  // A record holds at least its CR LF, and no record ends beyond what a file can hold.
  return span->length >= 2 && span->start <= UINT64_MAX - span->length;
}

std::string RecordLine(uint64_t start, std::string_view record) {
  char line[80];
  std::snprintf(line, sizeof line, "%llu %llu %08x\n", static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(record.size()),
                static_cast<unsigned>(Crc32(record)));
  return line;
}

std::string Sentence(const char* format, unsigned long long a, unsigned long long b = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

std::string BoundariesPathOf(const std::string& text_path) { return text_path + ".boundaries"; }

std::string ReadRecordBoundaries(std::string_view text, uint64_t text_size,
                                 RecordBoundaries* boundaries) {
  *boundaries = RecordBoundaries();
  size_t line_end = text.find('\n');
  std::string_view id =
      line_end == std::string_view::npos ? std::string_view() : HeaderQueueId(text.substr(0, line_end));
  if (id.empty()) return "it has no valid boundaries file: its first line is not a boundaries header";
  boundaries->queue_id = std::string(id);

  std::vector<RecordSpan> spans;
  uint64_t line_number = 1;
  for (size_t at = line_end + 1; at < text.size();) {
    size_t end = text.find('\n', at);
    // A last line without its line end was cut short before its record was written: no record.
    if (end == std::string_view::npos) break;
    ++line_number;
    RecordSpan span;
    if (!ParseRecordLine(text.substr(at, end - at), &span)) {
      boundaries->records = std::move(spans);
      return Sentence("line %llu of its boundaries file is damaged", line_number);
    }
    spans.push_back(span);
    at = end + 1;
  }
  // The last line may name a record whose append was cut short: the text file ends inside it.
  if (!spans.empty() && spans.back().start <= text_size && text_size < spans.back().end()) {
    boundaries->has_torn_record = true;
    boundaries->torn_start = spans.back().start;
    spans.pop_back();
  }
  boundaries->records = std::move(spans);
  uint64_t expected = 0;
  for (const RecordSpan& span : boundaries->records) {
    if (span.start > expected) {
      return Sentence("bytes %llu to %llu of it belong to no record", expected, span.start);
    }
    if (span.start < expected) {
      return Sentence("the records at byte %llu and %llu overlap", span.start, expected);
    }
    expected = span.end();
  }
  const uint64_t whole_end = boundaries->has_torn_record ? boundaries->torn_start : text_size;
  if (expected < whole_end) {
    return Sentence("bytes %llu to %llu of it belong to no record", expected, whole_end);
  }
  if (expected > whole_end) {
    return Sentence("it ends at byte %llu, inside a record that ends at byte %llu", whole_end,
                    expected);
  }
  return std::string();
}

bool RecordMatches(const RecordSpan& span, std::string_view bytes) {
  return bytes.size() == span.length && bytes.ends_with("\r\n") && Crc32(bytes) == span.crc;
}

std::string BoundariesNote(uint64_t synced_size, std::string_view unsynced_lines) {
  if (unsynced_lines.empty()) return std::string();
  return std::to_string(synced_size) + " " + std::string(unsynced_lines);
}

bool ParseBoundariesNote(std::string_view note, uint64_t* synced_size,
                         std::string_view* unsynced_lines) {
  if (!ParseNumber(&note, synced_size, 10) || !note.starts_with(' ')) return false;
  *unsynced_lines = note.substr(1);
  return true;
}

std::string DurableBoundariesText(std::string_view file_bytes, std::string_view note) {
  uint64_t synced = 0;
  std::string_view lines;
  if (note.empty() || !ParseBoundariesNote(note, &synced, &lines)) return std::string(file_bytes);
  // A file shorter than its synced part was cut by someone else: the note no longer applies.
  if (file_bytes.size() < synced) return std::string(file_bytes);
  // The file holds the note's lines, or more (the note outlived a sync): the file is the newer.
  if (file_bytes.substr(synced).starts_with(lines)) return std::string(file_bytes);
  // A power loss took lines that were never synced: the note has them.
  return std::string(file_bytes.substr(0, synced)) + std::string(lines);
}

Status ReadDurableBoundaries(Env* env, const std::string& text_path, int text_fd,
                             std::string* text, bool* found) {
  text->clear();
  *found = false;
  std::string note;
  if (Status s = env->ReadBoundariesNote(text_fd, &note);
      !s.ok() && s.code() != ENOTSUP && s.code() != EOPNOTSUPP) {
    return s;
  }
  std::string bytes;
  ScopedFd fd(env);
  Status s = env->OpenExistingFile(BoundariesPathOf(text_path), fd.Receive());
  if (s.ok()) {
    uint64_t size = 0;
    if (s = env->GetFileSize(fd.get(), &size); !s.ok()) return s;
    if (size > kMaxBoundariesFileSize) return Status::FromErrno(EFBIG, "read");
    if (s = env->ReadFileAt(fd.get(), 0, static_cast<size_t>(size), &bytes); !s.ok()) return s;
    *found = true;
  } else if (s.code() != ENOENT) {
    return s;
  }
  if (!note.empty()) *found = true;
  *text = DurableBoundariesText(bytes, note);
  return Status::OK();
}

void BoundariesAppend::Shrink(uint64_t size) {
  size_ = size;
  if (size <= synced_) {
    synced_ = size;
    unsynced_.clear();
  } else {
    unsynced_.resize(static_cast<size_t>(size - synced_));
  }
}

Status BoundariesAppend::Truncate(uint64_t size) {
  Shrink(size);
  return env_->TruncateFile(fd_.get(), size);
}

// Brings the file to what is durable: after a power loss it may lack lines that only the text
// file's note still holds. Afterwards synced_ and unsynced_ describe the file.
Status BoundariesAppend::Recover(std::string_view note) {
  uint64_t synced = 0;
  std::string_view lines;
  if (notes_ && !note.empty() && ParseBoundariesNote(note, &synced, &lines) && synced <= size_) {
    std::string after;
    const uint64_t have = size_ - synced;
    // What lies after the synced part: all of it when it may all stay unsynced, otherwise as far
    // as the note's lines reach, and a little more.
    const size_t want = static_cast<size_t>(
        have <= kMaxNoteBytes ? have : std::min<uint64_t>(have, lines.size() + kTailLength));
    if (Status s = env_->ReadFileAt(fd_.get(), synced, want, &after); !s.ok()) return s;
    if (!std::string_view(after).starts_with(lines)) {
      if (Status s = env_->TruncateFile(fd_.get(), synced); !s.ok()) return s;
      if (Status s = WriteAll(env_, fd_.get(), lines); !s.ok()) return s;
      size_ = synced + lines.size();
      synced_ = synced;
      unsynced_ = std::string(lines);
      return Status::OK();
    }
    if (have <= kMaxNoteBytes) {
      // Up to date, or newer than the note: all after the synced part stays unsynced.
      synced_ = synced;
      unsynced_ = std::move(after);
      return Status::OK();
    }
  } else if (!notes_ || note.empty()) {
    // No note: every line was synced when it was written, or when the note was last emptied.
    synced_ = size_;
    unsynced_.clear();
    return Status::OK();
  }
  // A note that does not fit the file (cut or replaced by someone else): sync what is here.
  if (Status s = env_->SyncFile(fd_.get()); !s.ok()) return s;
  synced_ = size_;
  unsynced_.clear();
  return Status::OK();
}

Status BoundariesAppend::Begin(const std::string& text_path, int text_fd, bool text_created,
                               uint64_t* text_size) {
  path_ = BoundariesPathOf(text_path);
  text_fd_ = text_fd;
  text_created_ = text_created;
  std::string note;
  // Where the text file keeps no notes, each line is synced as it is written.
  notes_ = env_->ReadBoundariesNote(text_fd, &note).ok();
  if (Status s = env_->OpenOrCreateFile(path_, fd_.Receive(), &created_); !s.ok()) return s;
  if (Status s = env_->GetFileSize(fd_.get(), &size_); !s.ok()) return s;
  // An empty text file holds nothing of any earlier queue (a replay empties a file before it
  // removes it), so its boundaries name a new one.
  if (text_created || *text_size == 0) return StartAfresh();
  if (Status s = Recover(note); !s.ok()) return s;
  if (size_ == 0) return StartAfresh();

  std::string tail;
  const uint64_t tail_start = size_ > kTailLength ? size_ - kTailLength : 0;
  if (synced_ <= tail_start) {
    // Recover left the unsynced part in hand: the tail is in it.
    tail = unsynced_.substr(static_cast<size_t>(tail_start - synced_));
  } else if (Status s = env_->ReadFileAt(fd_.get(), tail_start,
                                         static_cast<size_t>(size_ - tail_start), &tail);
             !s.ok()) {
    return s;
  }
  size_t last_break = tail.rfind('\n');
  if (last_break == std::string::npos) {
    // Not even the header is whole: nothing of it names a record.
    if (tail_start == 0) return StartAfresh();
    return Status::OK();  // damaged; left as it is for the replay to report
  }
  if (last_break + 1 < tail.size()) {
    // A line cut short: its record was never written.
    if (Status s = Truncate(tail_start + last_break + 1); !s.ok()) return s;
    tail.resize(last_break + 1);
  }
  size_t line_start = last_break == 0 ? std::string::npos : tail.rfind('\n', last_break - 1);
  line_start = line_start == std::string::npos ? 0 : line_start + 1;
  if (line_start == 0 && tail_start != 0) return Status::OK();  // a line too long to be ours
  std::string_view line = std::string_view(tail).substr(line_start, last_break - line_start);

  RecordSpan last;
  if (!HeaderQueueId(line).empty()) return Status::OK();
  if (!ParseRecordLine(line, &last)) return Status::OK();  // damaged; the replay reports it
  if (last.start <= *text_size && *text_size < last.end()) {
    // The record of this line was cut short: it goes, line and part alike.
    if (*text_size > last.start) {
      if (Status s = env_->TruncateFile(text_fd, last.start); !s.ok()) return s;
      if (Status s = env_->SyncFile(text_fd); !s.ok()) return s;
      *text_size = last.start;
    }
    if (*text_size == 0) return StartAfresh();
    return Truncate(tail_start + line_start);
  }
  // The text file is shorter than its boundaries say: it is not the file they were written for.
  if (last.end() > *text_size) return StartAfresh();
  return Status::OK();
}

Status BoundariesAppend::StartAfresh() {
  std::string random;
  if (Status s = env_->RandomBytes(kQueueIdLength / 2, &random); !s.ok()) return s;
  std::string header(kHeaderStart);
  for (unsigned char byte : random) {
    constexpr char kDigits[] = "0123456789abcdef";
    header += kDigits[byte >> 4];
    header += kDigits[byte & 0xF];
  }
  header += '\n';
  if (Status s = Truncate(0); !s.ok()) return s;
  if (Status s = WriteAll(env_, fd_.get(), header); !s.ok()) {
    (void)Truncate(0);
    return s;
  }
  size_ = header.size();
  unsynced_ = header;
  return Status::OK();
}

Status BoundariesAppend::Add(uint64_t start, std::string_view record) {
  const std::string line = RecordLine(start, record);
  if (Status s = WriteAll(env_, fd_.get(), line); !s.ok()) {
    (void)Truncate(size_);
    return s;
  }
  size_before_add_ = size_;
  size_ += line.size();
  unsynced_ += line;
  added_ = true;
  // The note is set before the record is written and made durable by the record's own fsync.
  if (notes_ && unsynced_.size() <= kMaxNoteBytes &&
      env_->SetBoundariesNote(text_fd_, BoundariesNote(synced_, unsynced_)).ok()) {
    return Status::OK();
  }
  return SyncNow();
}

// Syncs the file, so the text file's note can be emptied. A line whose sync failed is still there
// to read; only a power loss could take it, and then a replay reports its record as unrecorded.
Status BoundariesAppend::SyncNow() {
  Status s = env_->SyncFile(fd_.get());
  // Without a note nothing else makes a new file's name durable.
  if (s.ok() && created_ && !text_created_) s = env_->SyncFolder(settings::FolderOf(path_));
  if (!s.ok()) return Status::OK();
  synced_ = size_;
  unsynced_.clear();
  // A note left behind names lines the file now holds, and readers take the file then.
  if (notes_) (void)env_->SetBoundariesNote(text_fd_, std::string());
  return Status::OK();
}

void BoundariesAppend::Undo() {
  if (!added_) return;
  added_ = false;
  if (!Truncate(size_before_add_).ok()) return;
  if (notes_) (void)env_->SetBoundariesNote(text_fd_, BoundariesNote(synced_, unsynced_));
}

}  // namespace dbrelay
