#pragma once
// Line-level view of a private-profile (INI) file, shared by the reader and the writer so that both
// agree on what counts as a section, a key and a comment.

#include <string>
#include <string_view>
#include <vector>

#include "settings/ascii_text.h"

namespace settings {

enum class IniLineKind { kOther, kSection, kKey };

struct IniLine {
  IniLineKind kind = IniLineKind::kOther;
  std::string_view name;   // section name or key name, trimmed
  std::string_view value;  // raw value after "=", trimmed (keys only)
};

// The first line of a file without the UTF-8 byte-order mark an editor may have put in front of
// it. The reader and the writer both classify the first line this way, so a file saved with a mark
// has the same sections for both and a write never misses the section a read finds.
std::string_view WithoutUtf8Bom(std::string_view first_line);

// Classifies one line (without its line end). Comment lines (";" first) and lines without "="
// outside a section header are kOther.
IniLine ClassifyIniLine(std::string_view line);

// Takes the first line off *rest: *text is the line without its terminator and *end the terminator
// itself ("\r\n", "\n", a lone "\r", or empty for a last line without one). A lone CR ends a
// line as it does for the Windows profile functions, so a file saved with CR line ends is read line
// by line and not as one long line. Returns false when *rest is empty.
bool NextLine(std::string_view* rest, std::string_view* text, std::string_view* end);

// One physical line of a file with the terminator it had (see NextLine).
struct RawLine {
  std::string text;
  std::string end;
};

// Splits file contents into lines by NextLine, keeping each line's own terminator so a rewrite can
// keep every line it does not change byte for byte.
std::vector<RawLine> SplitLines(std::string_view contents);

}  // namespace settings
