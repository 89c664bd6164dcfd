#pragma once
// DbRelayReplay's exit statuses. A timer or a person reads them; the values follow sysexits(3)
// where one fits.

namespace dbrelay::replay {

inline constexpr int kExitNothingPending = 0;
inline constexpr int kExitPrimaryDown = 1;       // nothing changed
inline constexpr int kExitStatementFailed = 2;   // rolled back; it and the rest stay pending
inline constexpr int kExitAnotherReplay = 3;     // another replay holds the queue folder
inline constexpr int kExitUsage = 64;            // EX_USAGE
inline constexpr int kExitUncertain = 65;        // EX_DATAERR: records cannot be told apart
inline constexpr int kExitInputOutput = 74;      // EX_IOERR

}  // namespace dbrelay::replay
