#include "replay/reject_intent.h"

#include <cinttypes>
#include <cstdio>

#include "replay/small_file.h"

namespace dbrelay::replay {

namespace {

constexpr const char* kFormat = "DbRelay rejecting 1 %32s %" SCNu64 " %" SCNu64 "\n";

std::string IntentText(const RejectIntent& intent) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %" PRIu64 " %" PRIu64 "\n", intent.record_start,
                intent.rejected_start);
  return "DbRelay rejecting 1 " + intent.queue_id + numbers;
}

}  // namespace

std::string RejectIntentPathOf(const std::string& text_path) { return text_path + ".rejecting"; }

Status ReadRejectIntent(const std::string& text_path, RejectIntent* intent, bool* found) {
  *intent = RejectIntent();
  std::string text;
  Status s = ReadSmallFile(RejectIntentPathOf(text_path), &text, found);
  if (!s.ok() || !*found) return s;
  char id[33] = {};
  RejectIntent read;
  // Taken only when it reads back exactly as written: a damaged note is no note.
  *found = std::sscanf(text.c_str(), kFormat, id, &read.record_start, &read.rejected_start) == 3;
  if (*found) {
    read.queue_id = id;
    *found = IntentText(read) == text;
  }
  if (*found) *intent = read;
  return Status::OK();
}

Status WriteRejectIntent(const std::string& text_path, const RejectIntent& intent) {
  return WriteSmallFileDurably(RejectIntentPathOf(text_path), IntentText(intent));
}

Status RemoveRejectIntent(const std::string& text_path) {
  return RemoveSmallFile(RejectIntentPathOf(text_path));
}

}  // namespace dbrelay::replay
