#pragma once
// How a step inside DbRelay fails: ok, or the errno of the system call that failed with a short
// word for the step. The system's own results (exit codes, the errno an append returns) are made
// from it where callers see them, with code().

#include <string>

namespace dbrelay {

class [[nodiscard]] Status {
 public:
  Status() = default;  // ok
  static Status OK() { return Status(); }
  // A code of 0 is taken as EIO: a failure never reads as success. context must outlive the
  // Status (a string literal).
  static Status FromErrno(int code, const char* context);

  bool ok() const { return code_ == 0; }
  // The errno value; 0 when ok.
  int code() const { return code_; }
  const char* context() const { return context_; }
  // "OK", or the context, ": " and the system's text for the code.
  std::string ToString() const;

 private:
  Status(int code, const char* context) : code_(code), context_(context) {}

  int code_ = 0;
  const char* context_ = "";
};

}  // namespace dbrelay
