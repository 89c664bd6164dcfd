#include "relay/database/connection.h"

#include <utility>

namespace dbrelay {

namespace {
ScopedConnectionOverride::Factory& InstalledFactory() {
  static ScopedConnectionOverride::Factory factory;
  return factory;
}
}  // namespace

std::unique_ptr<Connection> CreateConnection() {
  const auto& factory = InstalledFactory();
  return factory ? factory() : CreateOdbcConnection();
}

ScopedConnectionOverride::ScopedConnectionOverride(Factory factory)
    : previous_(std::exchange(InstalledFactory(), std::move(factory))) {}

ScopedConnectionOverride::~ScopedConnectionOverride() { InstalledFactory() = std::move(previous_); }

}  // namespace dbrelay
