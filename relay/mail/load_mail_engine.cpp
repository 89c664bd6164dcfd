#include <memory>

#include "relay/mail/mail_engine.h"
#include "relay/mail/mail_engine_module.h"
#include "relay/platform/env.h"

namespace dbrelay {

namespace {

// Stands in when the mail module is missing: the cycle stops at its first step.
class UnavailableMailEngine final : public MailEngine {
 public:
  int Attach(int, int32_t) override { return kMailEngineFailure; }
  int SetInteger(int, int, int) override { return kMailNotAttached; }
  int SetString(int, int, const std::string&) override { return kMailNotAttached; }
  int Connect(int, const std::string&, const std::string&, int) override { return kMailNotAttached; }
  int Send(int, const std::string&, std::string_view, std::string_view, const std::string&,
           const std::string&, std::string_view) override {
    return kMailNotAttached;
  }
  int Close(int) override { return kMailNotAttached; }
  int Release() override { return kMailNotAttached; }
};

}  // namespace

std::unique_ptr<MailEngine> CreateMailEngine() {
  auto create = reinterpret_cast<CreateMailEngineFunction>(
      CurrentEnv()->LoadModuleSymbol(kMailModuleFileName, kCreateMailEngineSymbol));
  MailEngine* engine = create != nullptr ? create() : nullptr;
  if (engine == nullptr) return std::make_unique<UnavailableMailEngine>();
  return std::unique_ptr<MailEngine>(engine);
}

}  // namespace dbrelay
