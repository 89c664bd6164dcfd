#include "config_editor/version_record.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace config_editor {
namespace {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

template <typename T>
bool ReadAt(const std::string& file, uint64_t offset, T* out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(out, file.data() + offset, sizeof(T));
  return true;
}

template <typename Ehdr, typename Shdr>
std::optional<std::string> FindSection(const std::string& file, std::string_view name) {
  Ehdr header;
  if (!ReadAt(file, 0, &header)) return std::nullopt;
  if (header.e_shentsize != sizeof(Shdr) || header.e_shstrndx == SHN_UNDEF ||
      header.e_shstrndx >= header.e_shnum) {
    return std::nullopt;
  }
  Shdr names;
  if (!ReadAt(file, header.e_shoff + uint64_t{header.e_shstrndx} * sizeof(Shdr), &names)) {
    return std::nullopt;
  }
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    if (!ReadAt(file, header.e_shoff + uint64_t{i} * sizeof(Shdr), &section)) return std::nullopt;
    uint64_t name_offset = uint64_t{names.sh_offset} + section.sh_name;
    if (section.sh_name >= names.sh_size || name_offset >= file.size()) continue;
    size_t max_length = std::min<uint64_t>(file.size() - name_offset, names.sh_size - section.sh_name);
    std::string_view section_name(file.data() + name_offset, strnlen(file.data() + name_offset, max_length));
    if (section_name != name || section.sh_type == SHT_NOBITS) continue;
    if (section.sh_offset > file.size() || file.size() - section.sh_offset < section.sh_size) {
      return std::nullopt;
    }
    return file.substr(section.sh_offset, section.sh_size);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadElfSection(const std::string& path, std::string_view section_name) {
  std::optional<std::string> file = ReadWholeFile(path);
  if (!file || file->size() < EI_NIDENT || std::memcmp(file->data(), ELFMAG, SELFMAG) != 0 ||
      (*file)[EI_DATA] != ELFDATA2LSB) {
    return std::nullopt;
  }
  switch ((*file)[EI_CLASS]) {
    case ELFCLASS64:
      return FindSection<Elf64_Ehdr, Elf64_Shdr>(*file, section_name);
    case ELFCLASS32:
      return FindSection<Elf32_Ehdr, Elf32_Shdr>(*file, section_name);
    default:
      return std::nullopt;
  }
}

std::optional<std::string> QueryVersionValue(std::string_view record, std::string_view name) {
  if (record.substr(0, kVersionRecordMarker.size()) != kVersionRecordMarker) return std::nullopt;
  std::string_view rest = record.substr(kVersionRecordMarker.size());
  auto next = [&rest]() -> std::optional<std::string_view> {
    size_t end = rest.find('\0');
    if (end == std::string_view::npos) return std::nullopt;  // unterminated: damaged record
    std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return field;
  };
  for (;;) {
    std::optional<std::string_view> key = next();
    if (!key || key->empty()) return std::nullopt;
    std::optional<std::string_view> value = next();
    if (!value) return std::nullopt;
    if (*key == name) return std::string(*value);
  }
}

bool GetFileVersionString(const std::string& path, char* buffer, size_t size) {
  std::optional<std::string> record = ReadElfSection(path, kVersionSectionName);
  if (!record) return false;
  std::optional<std::string> translation = QueryVersionValue(*record, "\\VarFileInfo\\Translation");
  if (!translation || translation->size() < 8) return false;
  unsigned language = 0, code_page = 0;
  if (std::sscanf(translation->substr(0, 8).c_str(), "%4x%4x", &language, &code_page) != 2) {
    return false;
  }
  char query[64];
  std::snprintf(query, sizeof(query), "\\StringFileInfo\\%04X%04X\\FileVersion", language & 0xFFFF,
                code_page & 0xFFFF);
  std::optional<std::string> version = QueryVersionValue(*record, query);
  if (!version) return false;
  for (char& c : *version) {
    if (c == '(') c = '{';
    if (c == ')') c = '}';
  }
  if (size == 0) return true;
  size_t n = std::min(version->size(), size - 1);
  std::memcpy(buffer, version->data(), n);
  buffer[n] = '\0';
  return true;
}

std::string FormatVersionLine(std::string_view version_text) {
  std::string line = "Version: ";
  for (char c : version_text) {
    if (c == ' ') continue;
    line += (c == ',') ? '.' : c;
  }
  return line;
}

}  // namespace config_editor
