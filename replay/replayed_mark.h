#pragma once
// <text file>.replayed: written once, durably, when a replay registers the file's queue in the
// ledger and before it runs any of its statements. A later run that finds the mark but no ledger
// row knows the ledger was lost (a table dropped by hand, another database configured) and stops,
// instead of running every statement again.

#include <string>

#include "relay/common/status.h"

namespace dbrelay::replay {

std::string ReplayedMarkPathOf(const std::string& text_path);

// Whether the mark beside text_path names queue_id. A mark of another queue (the file was parked
// anew under the same name) or none gives false.
Status ReadReplayedMark(const std::string& text_path, const std::string& queue_id, bool* marked);

// Writes the mark for queue_id, replacing any other, and makes it durable.
Status WriteReplayedMark(const std::string& text_path, const std::string& queue_id);

// Removes the mark; a missing one is fine.
Status RemoveReplayedMark(const std::string& text_path);

}  // namespace dbrelay::replay
