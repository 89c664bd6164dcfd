#pragma once
// Support for the reliability tests: DbRelay processes started without waiting (so a test can run
// many at once or kill one), the settings of a run whose primary is down, and a strict reader of
// the local text file.

#include <string>
#include <vector>

#include "tests/support/relay_sandbox.h"

namespace reliability {

// The [General] lines of a run whose primary cannot be opened (a SQLite file that does not exist,
// through the real ODBC driver) and whose statements go to the local text file at text_file.
std::vector<std::string> PrimaryDownToTextFile(const testing_support::RelaySandbox& relay,
                                               const std::string& text_file);

// The environment a DbRelay child needs to find the test's ODBC drivers.
testing_support::RunOptions RelayOptions();

// A process started with stdin on /dev/null, stdout to stdout_path (/dev/null when empty); stderr
// is the test's.
class StartedProcess : public testing_support::ChildProcess {
 public:
  StartedProcess(const std::vector<std::string>& argv, const testing_support::RunOptions& options,
                 const std::string& stdout_path = "");
};

// The records of a local text file: every record ends in CRLF. Returns false, with the offset in
// *torn_at, when the file ends in the middle of a record.
bool SplitRecords(const std::string& content, std::vector<std::string>* records, size_t* torn_at);

// A statement that shows whether it arrived whole: tag, number, and a padding whose length and
// letter follow from the number. ParseStatement returns false for anything not made this way.
std::string MakeStatement(const std::string& tag, int number, size_t padding);
bool ParseStatement(const std::string& record, std::string* tag, int* number);

}  // namespace reliability
