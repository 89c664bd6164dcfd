#include "relay/database/com_error.h"

#include <utility>

#include "relay/database/error_text.h"

namespace dbrelay {

_com_error::_com_error(uint32_t code, std::optional<std::string> source,
                       std::optional<std::string> description)
    : code_(code), source_(std::move(source)), description_(std::move(description)) {}

std::string _com_error::ErrorMessage() const {
  if (!message_) message_ = GetErrorCodeMeaning(code_);
  return *message_;
}

}  // namespace dbrelay
