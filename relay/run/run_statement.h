#pragma once
// Delivery of one statement with fail-over.

namespace dbrelay {

// argv[1] is the statement, argv[2] the optional file, argv[3] the optional text-file name.
// Returns the exit code: 0, -1, or the errno of a failed text-file append.
int RunStatement(int argc, const char* const* argv);

}  // namespace dbrelay
