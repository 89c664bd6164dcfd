#pragma once
// Reads and writes one private-profile (INI) file with the semantics of the Windows profile
// functions both programs were designed on:
//  - section and key names match case-insensitively; whitespace around names and values is trimmed;
//  - one outer pair of matching quotes around a value is removed;
//  - ";" starts a comment line; the first of duplicate keys wins; a value is cut at 4095 characters;
//  - an integer is the leading optional sign and decimal digits of the value, wrapped to 32 bits,
//    0 when the value starts with anything else, and the default when the key, the file or the value
//    is missing;
//  - a line ends at CR LF, LF or a lone CR;
//  - a file in UTF-16 with its byte-order mark is read as text (ini_text.h).
// Only a regular file of at most kMaxSettingsFileSize bytes is a settings file; anything else
// (a FIFO, a device, a folder, a larger file, UTF-16 that does not decode) reads as a missing file,
// and the caller learns why from ReadIniText.
// Every call opens the file anew: nothing is cached, so a change made by another process shows at the
// next read.

#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The longest value a read returns (the profile functions read into a 4096-byte buffer).
inline constexpr size_t kMaxIniValueLength = 4095;

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The value of key in section, or default_value when the file, the section or the key is missing.
  // Never fails.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;

  // The value of key read as an integer (see above). Never fails.
  int32_t ReadInt(std::string_view section, std::string_view key, int32_t default_value) const;

  // Sets key in section to value: an existing key is updated in place, a new key is appended to its
  // section, a new section is appended to the file. Every other line is kept byte for byte; new
  // lines end in CRLF. A UTF-16 file stays UTF-16 with its byte order. The file is replaced
  // atomically (temporary file, fsync, rename) and keeps its mode; a file created here gets mode
  // 0600 because it holds secrets.
  // Returns 0 or the errno of the failure; EINVAL for a name or value that a line could not hold
  // (a line break anywhere, "=" or nothing in the key, "]" in the section), EILSEQ for a value a
  // UTF-16 file cannot take without loss, and the errors of ReadIniText for a file that is no
  // settings file; the file is then left as it was.
  int WriteString(std::string_view section, std::string_view key, std::string_view value) const;

  // Writes value in the "%d" form.
  int WriteInt(std::string_view section, std::string_view key, int32_t value) const;

 private:
  std::string path_;
};

// The integer rule of the profile functions applied to a stored text; nullopt-like default when the
// text is empty.
int32_t ParseProfileInt(std::string_view text, int32_t default_value);

}  // namespace settings
