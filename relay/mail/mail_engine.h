#pragma once
// MailEngine is DbRelay's seam to its SMTP engine. The calls mirror the engine's own, in the order
// SendEmail makes them: Attach, SetInteger, SetString (user name, then password), Connect, Send,
// Close, Release. Every call returns a signed result; a negative result is a failure, zero or more
// is success. One engine object serves one mail cycle.
//
// Code obtains an engine with NewMailEngine(). Tests derive from MailEngineWrapper, override the one
// call they need to fail, and install a factory with ScopedMailEngineOverride.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "relay/common/scoped_factory_override.h"

namespace dbrelay {

// The one channel DbRelay uses.
inline constexpr int kMailChannel = 0;
// Attach: the number of channels to attach.
inline constexpr int kMailChannelCount = 1;
// Attach: the engine's registration key; our engine needs none and takes any value.
inline constexpr int32_t kMailEngineKey = 0;
// SetInteger parameter: 1 upgrades the session to TLS (STARTTLS) when the server offers it.
inline constexpr int kMailParamStartTls = 29;
inline constexpr int kMailStartTlsWhenOffered = 1;
// SetString parameters: the login user name and password (an empty user name means no login).
inline constexpr int kMailParamUserName = 58;
inline constexpr int kMailParamPassword = 57;
// Connect: the last argument, reserved; always 0.
inline constexpr int kMailConnectReserved = 0;

// Results our engines return besides success (0).
inline constexpr int kMailBadArgument = -1;    // a value the engine refuses (CR/LF, unknown channel)
inline constexpr int kMailNotAttached = -2;    // a call before Attach or after Release
inline constexpr int kMailNoServer = -3;       // the server text names no usable host or port
inline constexpr int kMailEngineFailure = -4;  // the engine could not set itself up
inline constexpr int kMailConnectFailed = -5;  // unreachable, greeting refused, login refused
inline constexpr int kMailRefused = -6;        // sender, recipient or message refused
inline constexpr int kMailNotConnected = -7;   // Send without a successful Connect

class MailEngine {
 public:
  MailEngine() = default;
  MailEngine(const MailEngine&) = delete;
  MailEngine& operator=(const MailEngine&) = delete;
  virtual ~MailEngine() = default;  // frees whatever a cycle left behind

  virtual int Attach(int channels, int32_t key) = 0;
  virtual int SetInteger(int channel, int parameter, int value) = 0;
  virtual int SetString(int channel, int parameter, const std::string& value) = 0;
  // Opens the session with server ("host" or "host:port"; port 465 is TLS from the first byte),
  // greets it and logs in. sender is used by Send as the envelope and From address.
  virtual int Connect(int channel, const std::string& server, const std::string& sender,
                      int reserved) = 0;
  // Sends one plain-text message; cc, bcc and attachments must be empty (not supported).
  virtual int Send(int channel, const std::string& recipient, std::string_view cc,
                   std::string_view bcc, const std::string& subject, const std::string& message,
                   std::string_view attachments) = 0;
  virtual int Close(int channel) = 0;
  virtual int Release() = 0;
};

// Forwards every call to another engine; tests override single calls.
class MailEngineWrapper : public MailEngine {
 public:
  explicit MailEngineWrapper(std::unique_ptr<MailEngine> target) : target_(std::move(target)) {}
  MailEngine* target() const { return target_.get(); }

  int Attach(int channels, int32_t key) override { return target_->Attach(channels, key); }
  int SetInteger(int channel, int parameter, int value) override {
    return target_->SetInteger(channel, parameter, value);
  }
  int SetString(int channel, int parameter, const std::string& value) override {
    return target_->SetString(channel, parameter, value);
  }
  int Connect(int channel, const std::string& server, const std::string& sender,
              int reserved) override {
    return target_->Connect(channel, server, sender, reserved);
  }
  int Send(int channel, const std::string& recipient, std::string_view cc, std::string_view bcc,
           const std::string& subject, const std::string& message,
           std::string_view attachments) override {
    return target_->Send(channel, recipient, cc, bcc, subject, message, attachments);
  }
  int Close(int channel) override { return target_->Close(channel); }
  int Release() override { return target_->Release(); }

 private:
  std::unique_ptr<MailEngine> target_;
};

// The engine backed by libcurl, from the mail module (libdbrelay_mail.so), which is loaded only when
// a run sends mail. When the module cannot be loaded the engine refuses to attach, so the failure
// shows as "Cannot attach SEE". Never nullptr.
std::unique_ptr<MailEngine> CreateMailEngine();

// The engine for the next cycle: CreateMailEngine() unless a test has installed a factory.
std::unique_ptr<MailEngine> NewMailEngine();

// Installs a factory for NewMailEngine() for the lifetime of the object (tests only).
using ScopedMailEngineOverride = ScopedFactoryOverride<MailEngine>;

}  // namespace dbrelay
