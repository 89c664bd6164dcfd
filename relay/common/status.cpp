#include "relay/common/status.h"

#include <cerrno>
#include <cstring>

namespace dbrelay {

Status Status::FromErrno(int code, const char* context) {
  return Status(code != 0 ? code : EIO, context);
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return std::string(context_) + ": " + std::strerror(code_);
}

}  // namespace dbrelay
