#include "settings/ini_lines.h"

namespace settings {

std::string_view WithoutUtf8Bom(std::string_view first_line) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (first_line.substr(0, kUtf8Bom.size()) == kUtf8Bom) first_line.remove_prefix(kUtf8Bom.size());
  return first_line;
}

IniLine ClassifyIniLine(std::string_view line) {
  IniLine result;
  std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() == ';') return result;
  if (trimmed.front() == '[') {
    size_t close = trimmed.find(']');
    if (close == std::string_view::npos) return result;
    result.kind = IniLineKind::kSection;
    result.name = TrimBlanks(trimmed.substr(1, close - 1));
    return result;
  }
  size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return result;
  result.kind = IniLineKind::kKey;
  result.name = TrimBlanks(trimmed.substr(0, equals));
  result.value = TrimBlanks(trimmed.substr(equals + 1));
  return result;
}

bool NextLine(std::string_view* rest, std::string_view* text, std::string_view* end) {
  if (rest->empty()) return false;
  // A plain loop: find_first_of calls memchr once per character.
  size_t stop = 0;
  while (stop < rest->size() && (*rest)[stop] != '\r' && (*rest)[stop] != '\n') ++stop;
  if (stop == rest->size()) {
    *text = *rest;
    *end = std::string_view();
    *rest = std::string_view();
    return true;
  }
  const bool crlf = (*rest)[stop] == '\r' && stop + 1 < rest->size() && (*rest)[stop + 1] == '\n';
  const size_t length = crlf ? 2 : 1;
  *text = rest->substr(0, stop);
  *end = rest->substr(stop, length);
  rest->remove_prefix(stop + length);
  return true;
}

std::vector<RawLine> SplitLines(std::string_view contents) {
  std::vector<RawLine> lines;
  std::string_view text, end;
  while (NextLine(&contents, &text, &end)) lines.push_back({std::string(text), std::string(end)});
  return lines;
}

}  // namespace settings
