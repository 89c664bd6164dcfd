#pragma once
// <text file>.rejecting: what DbRelayReplay --reject-first is about to do, written durably before
// it appends the first pending record to <text file>.rejected, and removed once the ledger has
// moved past that record. A rejection stopped in between (killed, or the ledger's commit refused)
// leaves it behind. The next --reject-first then finishes the move without appending the record a
// second time, and a replay stops at that record instead of running a statement that already
// stands in the .rejected file.

#include <cstdint>
#include <string>

#include "relay/common/status.h"

namespace dbrelay::replay {

struct RejectIntent {
  std::string queue_id;
  uint64_t record_start = 0;    // of the record, in the text file
  uint64_t rejected_start = 0;  // where it goes in the .rejected file
};

std::string RejectIntentPathOf(const std::string& text_path);

// found is false when there is no such file, or it is not one of ours (it is then overwritten).
Status ReadRejectIntent(const std::string& text_path, RejectIntent* intent, bool* found);

// Writes intent, replacing any other, and makes it durable.
Status WriteRejectIntent(const std::string& text_path, const RejectIntent& intent);

// Removes it; a missing one is fine.
Status RemoveRejectIntent(const std::string& text_path);

}  // namespace dbrelay::replay
