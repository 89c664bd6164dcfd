#include "settings/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "settings/ini_lines.h"
#include "settings/ini_text.h"
#include "settings/replace_file.h"

namespace settings {

namespace {

// Removes one outer pair of matching quotes, then applies the buffer cut. A value is a C string to
// the profile functions, so it also ends at a NUL byte.
std::string FinishValue(std::string_view raw) {
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  raw = raw.substr(0, raw.find('\0'));
  if (raw.size() > kMaxIniValueLength) raw = raw.substr(0, kMaxIniValueLength);
  return std::string(raw);
}

// The first value of key in section, or nullopt when the file, the section or the key is missing
// or the file cannot be read (the caller reports that once, not at every read).
std::optional<std::string> FindValue(const std::string& path, std::string_view section,
                                     std::string_view key) {
  std::string text;
  IniEncoding encoding;
  if (ReadIniText(path, &text, &encoding) != 0) return std::nullopt;
  std::string_view rest = text;
  std::string_view line, end;
  bool in_section = false;
  for (bool first = true; NextLine(&rest, &line, &end); first = false) {
    IniLine parsed = ClassifyIniLine(first ? WithoutUtf8Bom(line) : line);
    if (parsed.kind == IniLineKind::kSection) {
      in_section = EqualsIgnoringCase(parsed.name, section);
    } else if (in_section && parsed.kind == IniLineKind::kKey &&
               EqualsIgnoringCase(parsed.name, key)) {
      return FinishValue(parsed.value);
    }
  }
  return std::nullopt;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Puts entry ("key=value") in place of the first line of key in section, else after the section's
// last non-blank line, else in a new section at the end. Every other line stays as it was.
void SetKeyLine(std::vector<RawLine>* lines_in, std::string_view section, std::string_view key,
                const std::string& entry) {
  std::vector<RawLine>& lines = *lines_in;
  bool in_section = false;
  std::optional<size_t> section_line;     // header of the section
  std::optional<size_t> last_in_section;  // last non-blank line inside it
  std::optional<size_t> key_line;
  for (size_t i = 0; i < lines.size() && !key_line; ++i) {
    IniLine parsed = ClassifyIniLine(i == 0 ? WithoutUtf8Bom(lines[i].text) : lines[i].text);
    if (parsed.kind == IniLineKind::kSection) {
      if (section_line && in_section) break;  // the section ended; the first one wins
      in_section = EqualsIgnoringCase(parsed.name, section);
      if (in_section) {
        section_line = i;
        last_in_section = i;
      }
      continue;
    }
    if (!in_section) continue;
    if (parsed.kind == IniLineKind::kKey && EqualsIgnoringCase(parsed.name, key)) {
      key_line = i;
    } else if (!TrimBlanks(lines[i].text).empty()) {
      last_in_section = i;
    }
  }

  if (key_line) {
    lines[*key_line].text = entry;
    if (lines[*key_line].end.empty()) lines[*key_line].end = "\r\n";
  } else if (section_line) {
    size_t at = *last_in_section;
    if (lines[at].end.empty()) lines[at].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at + 1), RawLine{entry, "\r\n"});
  } else {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
    lines.push_back({"[" + std::string(section) + "]", "\r\n"});
    lines.push_back({entry, "\r\n"});
  }
}

}  // namespace

int32_t ParseProfileInt(std::string_view text, int32_t default_value) {
  if (text.empty()) return default_value;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  uint32_t value = 0;  // wraps modulo 2^32 like the original's 32-bit arithmetic
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  std::optional<std::string> value = FindValue(path_, section, key);
  if (!value) return FinishValue(default_value);
  return *value;
}

int32_t IniFile::ReadInt(std::string_view section, std::string_view key,
                         int32_t default_value) const {
  std::optional<std::string> value = FindValue(path_, section, key);
  if (!value) return default_value;
  return ParseProfileInt(*value, default_value);
}

int IniFile::WriteString(std::string_view section, std::string_view key,
                         std::string_view value) const {
  std::string_view trimmed_key = TrimBlanks(key);
  std::string_view trimmed_section = TrimBlanks(section);
  if (trimmed_key.empty() || trimmed_key.find('=') != std::string_view::npos ||
      trimmed_key.front() == ';' || trimmed_key.front() == '[' || HasLineBreak(key) ||
      trimmed_section.find(']') != std::string_view::npos || HasLineBreak(section) ||
      HasLineBreak(value) || value.find('\0') != std::string_view::npos) {
    return EINVAL;
  }

  // The edit is made on the text, so a UTF-16 file is written back in UTF-16.
  std::string contents;
  IniEncoding encoding;
  int error = ReadIniText(path_, &contents, &encoding);
  if (error != 0 && error != ENOENT) return error;
  std::vector<RawLine> lines = SplitLines(contents);
  SetKeyLine(&lines, trimmed_section, trimmed_key,
             std::string(trimmed_key) + "=" + std::string(value));

  std::string output;
  output.reserve(contents.size() + key.size() + value.size() + 32);
  for (const RawLine& line : lines) {
    output += line.text;
    output += line.end;
  }
  std::string bytes;
  if (int rc = EncodeIniText(output, encoding, &bytes); rc != 0) return rc;
  return ReplaceFileAtomically(path_, bytes, 0600);
}

int IniFile::WriteInt(std::string_view section, std::string_view key, int32_t value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return WriteString(section, key, text);
}

}  // namespace settings
