#pragma once
// The replay's small files beside a text file (its mark, an unfinished rejection): written whole
// and durably, replacing any earlier one, so that a reader after a crash sees the old text or the
// new one, never a part.

#include <string>

#include "relay/common/status.h"

namespace dbrelay::replay {

// Reads up to 4 KiB of the file at path into *text; found is false when there is none.
Status ReadSmallFile(const std::string& path, std::string* text, bool* found);

// Replaces the file at path with text and makes that durable, folder entry included.
Status WriteSmallFileDurably(const std::string& path, const std::string& text);

// Removes the file at path; a missing one is fine.
Status RemoveSmallFile(const std::string& path);

}  // namespace dbrelay::replay
