// Run modes whose machinery has not landed yet. They fail loudly instead of pretending to work.

#include "relay/report/report.h"
#include "relay/run/connection_tests.h"
#include "relay/run/run_statement.h"

namespace dbrelay {

namespace {
int NotAvailable(const char* what) {
  ReportError(std::string(what) + " is not available in this build\n", kMailingAllowed);
  return -1;
}
}  // namespace

int RunPrimaryTest() { return NotAvailable("PriTest"); }
int RunSecondaryTest() { return NotAvailable("SecTest"); }
int RunEmailTest() { return NotAvailable("EmailTest"); }
int RunStatement(int, const char* const*) { return NotAvailable("The statement run"); }

}  // namespace dbrelay
