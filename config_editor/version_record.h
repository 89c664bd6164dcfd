#pragma once
// The version record of an executable and its reader. The record lives in the ELF section
// ".dbrelay_version" of the file: the marker kVersionRecordMarker followed by NUL-terminated
// name/value pairs and an empty name. Names follow the version-resource query paths:
//   "\VarFileInfo\Translation"              -> "LLLLCCCC" (language, code page in hex)
//   "\StringFileInfo\LLLLCCCC\FileVersion"  -> "1, 1, 1, 0"
// The reader takes the file as it lies on disk, so the about box shows what the file carries.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace config_editor {

inline constexpr char kVersionSectionName[] = ".dbrelay_version";
inline constexpr std::string_view kVersionRecordMarker{"DBRELAY-VERSIONINFO\0", 20};

// The bytes of section_name in the ELF file at path; nullopt when the file cannot be read, is not
// a 64-bit or 32-bit little-endian ELF file, or has no such section.
std::optional<std::string> ReadElfSection(const std::string& path, std::string_view section_name);

// The value of name in a record; nullopt when the marker or the name is missing.
std::optional<std::string> QueryVersionValue(std::string_view record, std::string_view name);

// The "FileVersion" string of the file's version record, for the first translation, with every "("
// replaced by "{" and ")" by "}", copied into buffer and cut to size - 1 bytes. Returns false when
// the file has no record, no translation or no "FileVersion" string.
bool GetFileVersionString(const std::string& path, char* buffer, size_t size);

// "Version: " and the version text with every "," replaced by "." and every space removed.
std::string FormatVersionLine(std::string_view version_text);

}  // namespace config_editor
