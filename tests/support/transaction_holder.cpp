#include "tests/support/transaction_holder.h"

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/odbc_config.h"
#include "tests/support/relay_sandbox.h"

namespace testing_support {

std::unique_ptr<ChildProcess> StartTransactionHolder(const std::string& connection_string,
                                                     const std::string& statement) {
  ChildOptions options;
  options.run.env = OdbcConfig::Get().Env();
  auto child = std::make_unique<ChildProcess>(
      std::vector<std::string>{BinDir() + "/open_transaction_helper", connection_string, statement},
      options);
  std::string line;
  pollfd pfd{child->out_fd(), POLLIN, 0};
  char c = 0;
  while (::poll(&pfd, 1, 30000) > 0 && ::read(child->out_fd(), &c, 1) == 1 && c != '\n') {
    line += c;
  }
  if (line != "ready") {
    ADD_FAILURE() << "open_transaction_helper: " << line << child->ReadOutput();
    return nullptr;
  }
  return child;
}

}  // namespace testing_support
