#pragma once
// The contract between DbRelay and its on-demand message-box module.

#include <cstddef>

namespace dbrelay {

inline constexpr char kNoticeModuleFileName[] = "libdbrelay_notice.so";
inline constexpr char kShowNoticeSymbol[] = "DbRelayShowNotice";

// Shows text (len bytes in the locale's encoding) in a modal box captioned "DB Relay" with one OK
// button and returns 1 once it is dismissed; returns 0, having shown nothing, when the display
// cannot be reached.
using ShowNoticeFunction = int (*)(const char* text, size_t len);

}  // namespace dbrelay
