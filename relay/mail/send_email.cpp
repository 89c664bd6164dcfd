#include "relay/mail/send_email.h"

#include "settings/character_locale.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "relay/common/format_text.h"
#include "relay/common/multibyte_text.h"
#include "relay/mail/mail_engine.h"
#include "relay/mail/mail_message.h"
#include "relay/report/report.h"
#include "relay/settings/relay_ini.h"
#include "settings/setting_codec.h"

namespace dbrelay {

namespace {

// EmailSMTP as the engine gets it: a server written without a port takes EmailPort when that is a
// port number, else the SMTP port.
std::string ServerWithPort(const std::string& server) {
  if (server.empty() || MailServerNamesPort(server)) return server;
  int32_t port = ReadIniInt(settings::kEmailPort);
  if (port < 1 || port > 65535) port = kDefaultSmtpPort;
  bool v6 = server.find(':') != std::string::npos && server.front() != '[';
  return (v6 ? "[" + server + "]" : server) + ":" + std::to_string(port);
}

void ReportMailFailure(const std::string& text) { ReportError(text, Mailing::kSuppressed); }

// A decoded value can hold a zero byte (a pair "00" in the scrambled body); every consumer reads
// it as a C string, so the value ends there (libcurl would refuse it whole).
std::string UpToZeroByte(std::string value) {
  value.resize(std::min(value.find('\0'), value.size()));
  return value;
}

}  // namespace

std::string BracketAddress(const std::string& address) {
  if (!address.empty() && FindMultibyte(address, "<") != std::string::npos) return address;
  return "<" + address + ">";
}

std::string BracketAddressList(const std::string& addresses) {
  std::vector<std::string> list = SplitAddressList(addresses);
  if (list.size() < 2) return BracketAddress(addresses);
  std::string joined;
  for (const std::string& address : list) {
    joined += (joined.empty() ? "" : ", ") + BracketAddress(address);
  }
  return joined;
}

int SendEmail(const std::string& message) {
  // The mail's charset and its header encoding follow the locale.
  settings::NeedCharacterLocale();
  std::unique_ptr<MailEngine> engine = NewMailEngine();
  if (engine->Attach(kMailChannelCount, kMailEngineKey) < 0) {
    ReportMailFailure("Cannot attach SEE\n");
    return 1;
  }
  engine->SetInteger(kMailChannel, kMailParamStartTls, kMailStartTlsWhenOffered);

  std::string user = ReadIniString(settings::kEmailUserName);
  if (int r = engine->SetString(kMailChannel, kMailParamUserName, user); r < 0) {
    ReportMailFailure(FormatText("Cannot set UserName (%d)\n", r));
    return 2;
  }
  std::string password =
      UpToZeroByte(settings::DecodeSettingValue(ReadIniString(settings::kEmailPassword)));
  if (int r = engine->SetString(kMailChannel, kMailParamPassword, password); r < 0) {
    ReportMailFailure(FormatText("Cannot set Password (%d)\n", r));
    return 3;
  }

  std::string sender = BracketAddress(ReadIniString(settings::kEmailFrom));
  std::string server = ServerWithPort(ReadIniString(settings::kEmailSMTP));
  if (engine->Connect(kMailChannel, server, sender, kMailConnectReserved) < 0) {
    ReportMailFailure("Connect failed\n");
    engine->Release();
    return 4;
  }

  std::string subject = ReadIniString(settings::kEmailSubject);
  std::string recipient = BracketAddressList(ReadIniString(settings::kEmailTo));
  if (engine->Send(kMailChannel, recipient, {}, {}, subject, message, {}) < 0) {
    ReportMailFailure("email NOT sent\n");
    return 5;
  }
  engine->Close(kMailChannel);
  engine->Release();
  return 0;
}

}  // namespace dbrelay
