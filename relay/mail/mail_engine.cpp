#include "relay/mail/mail_engine.h"

namespace dbrelay {

std::unique_ptr<MailEngine> NewMailEngine() {
  const auto& factory = ScopedMailEngineOverride::Installed();
  return factory ? factory() : CreateMailEngine();
}

}  // namespace dbrelay
