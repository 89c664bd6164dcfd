#include "settings/ini_batch.h"

#include <cerrno>
#include <optional>

#include "settings/ini_lines.h"
#include "settings/ini_text.h"
#include "settings/replace_file.h"

namespace settings {

namespace {

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Where a write of one key lands in the lines of a file.
struct KeyPlace {
  std::optional<size_t> section_line;     // header of the first matching section
  std::optional<size_t> last_in_section;  // last non-blank line inside it
  std::optional<size_t> key_line;         // the key's first line inside it
};

KeyPlace FindKeyPlace(const std::vector<RawLine>& lines, std::string_view section,
                      std::string_view key) {
  KeyPlace place;
  bool in_section = false;
  for (size_t i = 0; i < lines.size() && !place.key_line; ++i) {
    IniLine parsed = ClassifyIniLine(i == 0 ? WithoutUtf8Bom(lines[i].text) : lines[i].text);
    if (parsed.kind == IniLineKind::kSection) {
      if (place.section_line && in_section) break;  // the section ended; the first one wins
      in_section = EqualsIgnoringCase(parsed.name, section);
      if (in_section) {
        place.section_line = i;
        place.last_in_section = i;
      }
      continue;
    }
    if (!in_section) continue;
    if (parsed.kind == IniLineKind::kKey && EqualsIgnoringCase(parsed.name, key)) {
      place.key_line = i;
    } else if (!TrimBlanks(lines[i].text).empty()) {
      place.last_in_section = i;
    }
  }
  return place;
}

// One write, already checked, applied to the lines in place.
void ApplyOne(std::vector<RawLine>& lines, std::string_view section, std::string_view key,
              std::string_view value) {
  const std::string entry = std::string(key) + "=" + std::string(value);
  KeyPlace place = FindKeyPlace(lines, section, key);
  if (place.key_line) {
    lines[*place.key_line].text = entry;
    if (lines[*place.key_line].end.empty()) lines[*place.key_line].end = "\r\n";
  } else if (place.section_line) {
    size_t at = *place.last_in_section;
    if (lines[at].end.empty()) lines[at].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at + 1), RawLine{entry, "\r\n"});
  } else {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
    lines.push_back({"[" + std::string(section) + "]", "\r\n"});
    lines.push_back({entry, "\r\n"});
  }
}

}  // namespace

int CheckIniWrite(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view trimmed_key = TrimBlanks(key);
  std::string_view trimmed_section = TrimBlanks(section);
  if (trimmed_key.empty() || trimmed_key.find('=') != std::string_view::npos ||
      trimmed_key.front() == ';' || trimmed_key.front() == '[' || HasLineBreak(key) ||
      trimmed_section.find(']') != std::string_view::npos || HasLineBreak(section) ||
      HasLineBreak(value) || value.find('\0') != std::string_view::npos) {
    return EINVAL;
  }
  return 0;
}

int ApplyIniWrites(std::string_view contents, std::string_view section,
                   const std::vector<IniWrite>& writes, std::string* result, size_t* refused) {
  // Every write is checked before the first is applied: a batch is all or nothing.
  for (size_t i = 0; i < writes.size(); ++i) {
    if (CheckIniWrite(section, writes[i].key, writes[i].value) != 0) {
      if (refused != nullptr) *refused = i;
      return EINVAL;
    }
  }
  std::vector<RawLine> lines = SplitLines(contents);
  const std::string_view trimmed_section = TrimBlanks(section);
  size_t added = 0;
  for (const IniWrite& write : writes) {
    ApplyOne(lines, trimmed_section, TrimBlanks(write.key), write.value);
    added += write.key.size() + write.value.size() + 3;
  }
  std::string output;
  output.reserve(contents.size() + added + section.size() + 4);
  for (const RawLine& line : lines) {
    output += line.text;
    output += line.end;
  }
  *result = std::move(output);
  return 0;
}

int WriteIniBatch(const std::string& path, std::string_view section,
                  const std::vector<IniWrite>& writes, size_t* refused) {
  // The edit is made on the text, so a UTF-16 file is written back in UTF-16.
  std::string contents;
  IniEncoding encoding = IniEncoding::kLocale;
  int error = ReadIniText(path, &contents, &encoding);
  if (error != 0 && error != ENOENT) return error;
  std::string output;
  if (int rc = ApplyIniWrites(contents, section, writes, &output, refused); rc != 0) return rc;
  std::string bytes;
  if (int rc = EncodeIniText(output, encoding, &bytes); rc != 0) return rc;
  return ReplaceFileAtomically(path, bytes, 0600);
}

}  // namespace settings
