#pragma once
// Small helpers shared by the fuzz targets: a scratch folder that lives as long as the fuzzing
// process, and a check that aborts with a readable message, so libFuzzer keeps the input that broke
// a property just as it keeps one that crashed.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz_support {

// A folder of its own for this process, on tmpfs when there is one so that the fsync of a settings
// write costs nothing: $DBRELAY_FUZZ_SCRATCH when set, otherwise made on first use and removed at a
// normal exit (a crash leaves it behind).
const std::string& ScratchFolder();

// Writes bytes to path, replacing it. Aborts when it cannot: the target cannot run without it.
void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz_support

#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::fuzz_support::Fail(__FILE__, __LINE__, #condition))
