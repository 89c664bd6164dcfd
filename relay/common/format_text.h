#pragma once
// printf-style formatting into a string of any length, for the messages of a run. The arguments are
// filled into a fixed format; the finished text is never used as a format again.

#include <string>

namespace dbrelay {

[[gnu::format(printf, 1, 2)]] std::string FormatText(const char* format, ...);

}  // namespace dbrelay
