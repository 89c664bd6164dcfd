#pragma once
// Which text files a replay without FILE takes: the configured SecLocalTextFile and, while
// SecLocalTextFileTimestamp is on, every time-stamped file DbRelay names beside it (same folder,
// same extension), oldest first. Files parked under a forced name are only replayed when named.

#include <string>
#include <vector>

#include "relay/common/status.h"

namespace dbrelay::replay {

// configured_path is SecLocalTextFile; an empty one gives no file. Missing files are left out.
Status ConfiguredQueueFiles(const std::string& configured_path, bool stamped,
                            std::vector<std::string>* files);

// Whether name (without folder) is "YYYY-MM-DD-hh-mm-ss-mmmm" followed by extension (".sql", or
// empty), the name DbRelay gives a time-stamped file.
bool IsStampedName(const std::string& name, const std::string& extension);

}  // namespace dbrelay::replay
