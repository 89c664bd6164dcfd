#pragma once
// Delivery of one statement with fail-over.

#include <string>

namespace dbrelay {

// The connection string of the primary as a run opens it: the composed (scrambled) one for
// PriDBType 1, else the other one exactly as stored. Read anew at every call.
std::string PrimaryConnectionString();

// argv[1] is the statement, argv[2] the optional file, argv[3] the optional text-file name.
// Returns the exit code: 0, -1, or the errno of a failed text-file append.
int RunStatement(int argc, const char* const* argv);

}  // namespace dbrelay
