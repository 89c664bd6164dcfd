#include "relay/mail/mail_engine.h"

#include <utility>

namespace dbrelay {

namespace {
ScopedMailEngineOverride::Factory& InstalledFactory() {
  static ScopedMailEngineOverride::Factory factory;
  return factory;
}
}  // namespace

std::unique_ptr<MailEngine> NewMailEngine() {
  const auto& factory = InstalledFactory();
  return factory ? factory() : CreateMailEngine();
}

ScopedMailEngineOverride::ScopedMailEngineOverride(Factory factory)
    : previous_(std::exchange(InstalledFactory(), std::move(factory))) {}

ScopedMailEngineOverride::~ScopedMailEngineOverride() { InstalledFactory() = std::move(previous_); }

}  // namespace dbrelay
