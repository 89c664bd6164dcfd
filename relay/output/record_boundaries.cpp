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

[[nodiscard]] Status WriteAll(Env* env, int fd, std::string_view data) {
  while (!data.empty()) {
    size_t written = 0;
    if (Status s = env->WriteFile(fd, data, &written); !s.ok()) return s;
    if (written == 0) return Status::FromErrno(EIO, "write");
    data.remove_prefix(written);
  }
  return Status::OK();
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
  boundaries->records = spans;
  uint64_t expected = 0;
  for (const RecordSpan& span : spans) {
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

Status BoundariesAppend::Begin(const std::string& text_path, int text_fd, bool text_created,
                               uint64_t* text_size) {
  path_ = BoundariesPathOf(text_path);
  text_created_ = text_created;
  if (Status s = env_->OpenOrCreateFile(path_, fd_.Receive(), &created_); !s.ok()) return s;
  if (Status s = env_->GetFileSize(fd_.get(), &size_); !s.ok()) return s;
  if (text_created || size_ == 0) return StartAfresh();

  std::string tail;
  const uint64_t tail_start = size_ > kTailLength ? size_ - kTailLength : 0;
  if (Status s = env_->ReadFileAt(fd_.get(), tail_start, kTailLength, &tail); !s.ok()) return s;
  size_t last_break = tail.rfind('\n');
  if (last_break == std::string::npos) {
    // Not even the header is whole: nothing of it names a record.
    if (tail_start == 0) return StartAfresh();
    return Status::OK();  // damaged; left as it is for the replay to report
  }
  if (last_break + 1 < tail.size()) {
    // A line cut short: its record was never written.
    size_ = tail_start + last_break + 1;
    if (Status s = env_->TruncateFile(fd_.get(), size_); !s.ok()) return s;
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
    size_ = tail_start + line_start;
    return env_->TruncateFile(fd_.get(), size_);
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
  if (Status s = env_->TruncateFile(fd_.get(), 0); !s.ok()) return s;
  size_ = 0;
  if (Status s = WriteAll(env_, fd_.get(), header); !s.ok()) {
    (void)env_->TruncateFile(fd_.get(), 0);
    return s;
  }
  size_ = header.size();
  return Status::OK();
}

Status BoundariesAppend::Add(uint64_t start, std::string_view record) {
  Status s = WriteAll(env_, fd_.get(), RecordLine(start, record));
  if (!s.ok()) {
    if (env_->TruncateFile(fd_.get(), size_).ok()) (void)env_->SyncFile(fd_.get());
    return s;
  }
  added_ = true;
  return Status::OK();
}

Status BoundariesAppend::Sync() {
  Status s = env_->SyncFile(fd_.get());
  // A new text file's folder is synced with its record, which makes this entry durable too.
  if (s.ok() && created_ && !text_created_) s = env_->SyncFolder(settings::FolderOf(path_));
  return s;
}

void BoundariesAppend::Undo() {
  if (!added_) return;
  if (env_->TruncateFile(fd_.get(), size_).ok()) (void)env_->SyncFile(fd_.get());
  added_ = false;
}

}  // namespace dbrelay
