#pragma once
// The error object that the connection seam throws: a 32-bit HRESULT-style code and, when the
// failing component supplied error information, a source and a description.

#include <cstdint>
#include <optional>
#include <string>

namespace dbrelay {

class _com_error {
 public:
  _com_error(uint32_t code, std::optional<std::string> source = {},
             std::optional<std::string> description = {});

  uint32_t Error() const { return code_; }
  const std::optional<std::string>& Source() const { return source_; }
  const std::optional<std::string>& Description() const { return description_; }

  // GetErrorCodeMeaning of the code, computed on first use and kept.
  std::string ErrorMessage() const;

 private:
  uint32_t code_;
  std::optional<std::string> source_;
  std::optional<std::string> description_;
  mutable std::optional<std::string> message_;
};

// Codes the database layer raises itself.
inline constexpr uint32_t kErrorUnspecified = 0x80004005;      // E_FAIL
inline constexpr uint32_t kErrorInvalidPointer = 0x80004003;   // E_POINTER
inline constexpr uint32_t kErrorProviderNotFound = 0x800A0E7A;
inline constexpr uint32_t kErrorObjectOpen = 0x800A0E79;
inline constexpr uint32_t kErrorObjectClosed = 0x800A0E78;
inline constexpr uint32_t kErrorInvalidArgument = 0x800A0BB9;
inline constexpr uint32_t kErrorNotCapable = 0x800A0CB3;       // adErrFeatureNotAvailable
inline constexpr uint32_t kErrorNoTransaction = 0x8004D00E;    // XACT_E_NOTRANSACTION
inline constexpr uint32_t kErrorTransactionActive = 0x8004D013;  // XACT_E_XTIONEXISTS

}  // namespace dbrelay
