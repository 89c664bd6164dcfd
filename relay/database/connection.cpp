#include "relay/database/connection.h"

namespace dbrelay {

std::unique_ptr<Connection> CreateConnection() {
  const auto& factory = ScopedConnectionOverride::Installed();
  return factory ? factory() : CreateOdbcConnection();
}

}  // namespace dbrelay
