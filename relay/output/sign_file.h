#pragma once
// Signing of the caller's file by the external signer (PdfSignerPath, "DocSealer.exe" when the key
// is missing), which DbRelay knows only by its command line and its exit code.

#include <string>

namespace dbrelay {

// The signer's exit code for the call argv [PdfSignerPath, file_name]; 0 means signed. Waits
// without a time-out. A signer ended by a signal gives 128 + the signal number; one that cannot be
// started (missing, not executable, an empty path) gives kSignerNotStarted. Never 0 unless the
// signer itself returned 0.
inline constexpr int kSignerNotStarted = 127;
int SignFile(const std::string& file_name);

}  // namespace dbrelay
