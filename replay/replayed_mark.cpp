#include "replay/replayed_mark.h"

#include "replay/small_file.h"

namespace dbrelay::replay {

namespace {

std::string MarkText(const std::string& queue_id) {
  return "DbRelay replayed 1 " + queue_id + "\n";
}

}  // namespace

std::string ReplayedMarkPathOf(const std::string& text_path) { return text_path + ".replayed"; }

Status ReadReplayedMark(const std::string& text_path, const std::string& queue_id, bool* marked) {
  std::string text;
  bool found = false;
  Status s = ReadSmallFile(ReplayedMarkPathOf(text_path), &text, &found);
  *marked = s.ok() && found && text == MarkText(queue_id);
  return s;
}

Status WriteReplayedMark(const std::string& text_path, const std::string& queue_id) {
  return WriteSmallFileDurably(ReplayedMarkPathOf(text_path), MarkText(queue_id));
}

Status RemoveReplayedMark(const std::string& text_path) {
  return RemoveSmallFile(ReplayedMarkPathOf(text_path));
}

}  // namespace dbrelay::replay
