#pragma once
// A second client that holds a transaction open, so a test can make another one wait for its locks
// and let it go at a moment of the test's choosing.

#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace testing_support {

// open_transaction_helper (built with the database tests) connected on connection_string, holding
// the transaction in which it ran statement until it is killed or its stdin closes; started with
// the test's ODBC settings. nullptr, with a test failure, when it did not report itself ready
// within 30 seconds.
std::unique_ptr<ChildProcess> StartTransactionHolder(const std::string& connection_string,
                                                     const std::string& statement);

}  // namespace testing_support
