#include "settings/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <optional>

#include "settings/ini_batch.h"
#include "settings/ini_lines.h"
#include "settings/ini_text.h"

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
  // A write of one key is a batch of one; a refused write is refused before the file is read.
  if (int rc = CheckIniWrite(section, key, value); rc != 0) return rc;
  return WriteIniBatch(path_, section, {IniWrite{std::string(key), std::string(value)}});
}

int IniFile::WriteInt(std::string_view section, std::string_view key, int32_t value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return WriteString(section, key, text);
}

}  // namespace settings
