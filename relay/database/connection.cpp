#include "relay/database/connection.h"

#include <utility>

namespace dbrelay {

namespace {
std::function<std::unique_ptr<Connection>()>& TestFactory() {
  static std::function<std::unique_ptr<Connection>()> factory;
  return factory;
}
}  // namespace

std::unique_ptr<Connection> CreateConnection() {
  if (TestFactory()) return TestFactory()();
  return CreateOdbcConnection();
}

void SetConnectionFactoryForTesting(std::function<std::unique_ptr<Connection>()> factory) {
  TestFactory() = std::move(factory);
}

}  // namespace dbrelay
