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

}  // namespace dbrelay::replay
