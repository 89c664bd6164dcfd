#pragma once
// CRC-32 as zlib and PNG compute it (the reflected 0xEDB88320 polynomial), so a record's checksum
// can be checked with any common tool. Written here rather than taken from zlib: DbRelay maps no
// library it does not need, and every shared library a run loads costs every run its start-up.

#include <cstdint>
#include <string_view>

namespace dbrelay {

// The CRC-32 of data; crc continues an earlier value (0 to start).
uint32_t Crc32(std::string_view data, uint32_t crc = 0);

}  // namespace dbrelay
