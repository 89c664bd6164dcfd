// The SMTP engine on libcurl: the only file that knows about libcurl. Connect runs the opening of
// the session (greeting, EHLO, STARTTLS when offered, login) and ends it with a NOOP, so that an
// unreachable server or a refused login fails there; Send then runs MAIL, one RCPT per recipient
// and DATA on the same live connection, which libcurl keeps in the handle's connection cache; Close
// sends QUIT.
//
// The EHLO names the host by its fully-qualified name, or, when it has none, by an address literal
// of the local end of the connection: strict servers refuse a bare host name. libcurl takes the
// name from the URL's path before it connects, so the local address is found beforehand, from the
// system's route to each of the server's addresses, and the connection is pinned to that address
// (CURLOPT_CONNECT_TO); the addresses are tried one after the other, in the resolver's order, while
// they refuse the connection.

#include <curl/curl.h>
#include <langinfo.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>

#include "relay/mail/mail_engine.h"
#include "relay/mail/mail_message.h"
#include "relay/platform/mail_host.h"

namespace dbrelay {

namespace {

// An unreachable server must never hold a run for long.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kServerResponseTimeoutSeconds = 30;
constexpr auto kCycleBudget = std::chrono::seconds(60);

// The step at which a server let a cycle of this run time out, by server URL. A run can make several
// mail cycles (every detailed line and failure is mailed); a server that hung once is not waited for
// again, so a hung server holds the run for one time-out, not one per mail. Later cycles fail at
// that same step at once, with the same result, so their reports read as the first one did.
enum class HungStep { kConnect, kSend };
std::map<std::string, HungStep>& HungServers() {
  static std::map<std::string, HungStep> servers;
  return servers;
}

#if LIBCURL_VERSION_NUM >= 0x080200
constexpr CURLoption kAllowRecipientFailures = CURLOPT_MAIL_RCPT_ALLOWFAILS;
#else
constexpr CURLoption kAllowRecipientFailures = CURLOPT_MAIL_RCPT_ALLLOWFAILS;  // its first name
#endif

size_t DiscardResponse(char*, size_t size, size_t count, void*) { return size * count; }

// The certificates the server's is checked against: the system's, unless SSL_CERT_FILE or
// SSL_CERT_DIR name others, the variables OpenSSL and the programs built on it honour. libcurl sets
// its own built-in bundle, which would otherwise hide them.
void TrustCertificatesFromEnvironment(CURL* curl) {
  const char* file = std::getenv("SSL_CERT_FILE");
  if (file != nullptr && *file != '\0') curl_easy_setopt(curl, CURLOPT_CAINFO, file);
  const char* dir = std::getenv("SSL_CERT_DIR");
  if (dir != nullptr && *dir != '\0') curl_easy_setopt(curl, CURLOPT_CAPATH, dir);
}

struct Upload {
  std::string bytes;
  size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  size_t n = std::min(size * count, upload->bytes.size() - upload->offset);
  std::memcpy(buffer, upload->bytes.data() + upload->offset, n);
  upload->offset += n;
  return n;
}

// RFC 5322 date-time in local time, with English names whatever the locale says.
std::string MailDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  long offset_minutes = local.tm_gmtoff / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  offset_minutes = std::labs(offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign,
                offset_minutes / 60, offset_minutes % 60);
  return text;
}

std::string MessageId(const std::string& envelope_sender) {
  size_t at = envelope_sender.rfind('@');
  std::string domain = at == std::string::npos ? "" : envelope_sender.substr(at + 1);
  bool usable = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
  std::random_device random;
  char text[96];
  std::snprintf(text, sizeof text, "<%lld.%08x%08x@", static_cast<long long>(std::time(nullptr)),
                random(), random());
  return text + (usable ? domain : std::string("dbrelay.invalid")) + ">";
}

class CurlMailEngine : public MailEngine {
 public:
  ~CurlMailEngine() override { Release(); }

  int Attach(int channels, int32_t) override {
    if (channels != kMailChannelCount) return kMailBadArgument;
    static std::once_flag once;
    static CURLcode global = CURLE_OK;
    std::call_once(once, [] { global = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (global != CURLE_OK) return kMailEngineFailure;
    if (curl_ == nullptr) curl_ = curl_easy_init();
    return curl_ != nullptr ? 0 : kMailEngineFailure;
  }

  int SetInteger(int channel, int parameter, int value) override {
    if (int r = Check(channel); r < 0) return r;
    if (parameter != kMailParamStartTls) return kMailBadArgument;
    start_tls_ = value != 0;
    return 0;
  }

  int SetString(int channel, int parameter, const std::string& value) override {
    if (int r = Check(channel); r < 0) return r;
    // libcurl takes C strings: a NUL would cut the value silently.
    if (value.find('\0') != std::string::npos) return kMailBadArgument;
    if (parameter == kMailParamUserName) {
      user_ = value;
    } else if (parameter == kMailParamPassword) {
      password_ = value;
    } else {
      return kMailBadArgument;
    }
    return 0;
  }

  int Connect(int channel, const std::string& server, const std::string& sender,
              int) override {
    if (int r = Check(channel); r < 0) return r;
    std::optional<MailServer> where = ParseMailServer(server, kDefaultSmtpPort);
    if (!where) return kMailNoServer;
    sender_ = sender;
    started_ = std::chrono::steady_clock::now();
    bool v6 = where->host.find(':') != std::string::npos;
    url_host_ = v6 ? "[" + where->host + "]" : where->host;
    port_ = where->port;
    url_ = std::string(where->port == kImplicitTlsSmtpPort ? "smtps://" : "smtp://") + url_host_ +
           ":" + std::to_string(where->port) + "/";
    if (auto hung = HungServers().find(url_); hung != HungServers().end()) {
      if (hung->second == HungStep::kConnect) return kMailConnectFailed;
      connected_ = true;  // Send fails at once: the server is not contacted again
      skip_send_ = true;
      return 0;
    }
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, kServerResponseTimeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_USE_SSL, start_tls_ ? CURLUSESSL_TRY : CURLUSESSL_NONE);
    TrustCertificatesFromEnvironment(curl_);
    if (!user_.empty()) {
      curl_easy_setopt(curl_, CURLOPT_USERNAME, user_.c_str());
      curl_easy_setopt(curl_, CURLOPT_PASSWORD, password_.c_str());
    }
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, DiscardResponse);
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, "NOOP");
    if (std::string domain = HostDomainName(); !domain.empty()) {
      if (Open(domain, nullptr) != CURLE_OK) return kMailConnectFailed;
      connected_ = true;
      return 0;
    }
    for (const MailRoute& route : RoutesToMailServer(where->host, where->port)) {
      CURLcode result = Open(AddressLiteral(route.local), &route);
      if (result == CURLE_OK) {
        connected_ = true;
        return 0;
      }
      // Only an address that cannot be reached sends the session on to the next one.
      if (result != CURLE_COULDNT_CONNECT) break;
    }
    return kMailConnectFailed;
  }

  int Send(int channel, const std::string& recipient, std::string_view cc, std::string_view bcc,
           const std::string& subject, const std::string& message,
           std::string_view attachments) override {
    if (int r = Check(channel); r < 0) return r;
    if (!connected_) return kMailNotConnected;
    if (skip_send_) return kMailRefused;
    if (!cc.empty() || !bcc.empty() || !attachments.empty()) return kMailBadArgument;
    // A line break here could end a header or a command early: refuse, never send on.
    if (HasCrLfOrNul(sender_) || HasCrLfOrNul(recipient) || HasCrLfOrNul(subject)) {
      return kMailBadArgument;
    }
    // One RCPT per address; "<>" names nobody and is left out.
    std::string to_header;
    curl_slist* recipients = nullptr;
    for (const std::string& address : SplitAddressList(recipient)) {
      std::string envelope = EnvelopeAddress(address);
      if (envelope.empty()) continue;
      curl_slist* more = curl_slist_append(recipients, envelope.c_str());
      if (more == nullptr) {
        curl_slist_free_all(recipients);
        return kMailEngineFailure;
      }
      recipients = more;
      to_header += (to_header.empty() ? "" : ", ") + address;
    }
    if (recipients == nullptr) return kMailRefused;

    std::string envelope_from = EnvelopeAddress(sender_);
    MailHeaders headers;
    headers.date = MailDate();
    headers.from = envelope_from.empty() ? NullSenderFrom() : sender_;
    headers.to = to_header;
    headers.subject = subject;
    headers.message_id = MessageId(envelope_from);
    headers.charset = CharsetName(nl_langinfo(CODESET));
    Upload upload{ComposeMessage(headers, message), 0};

    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, envelope_from.c_str());
    curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, recipients);
    // Recipients the server refuses are left out; the message fails only when it takes none.
    curl_easy_setopt(curl_, kAllowRecipientFailures, 1L);
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.bytes.size()));
    bool sent = Perform(HungStep::kSend) == CURLE_OK;
    curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(curl_, CURLOPT_READDATA, nullptr);
    curl_slist_free_all(recipients);
    return sent ? 0 : kMailRefused;
  }

  int Close(int channel) override {
    if (int r = Check(channel); r < 0) return r;
    curl_easy_cleanup(curl_);  // says QUIT on an open session
    curl_ = nullptr;
    curl_slist_free_all(connect_to_);
    connect_to_ = nullptr;
    connected_ = false;
    skip_send_ = false;
    return 0;
  }

  int Release() override {
    if (curl_ != nullptr) curl_easy_cleanup(curl_);
    curl_ = nullptr;
    curl_slist_free_all(connect_to_);  // after the handle, which used it
    connect_to_ = nullptr;
    connected_ = false;
    skip_send_ = false;
    return 0;
  }

 private:
  int Check(int channel) const {
    if (curl_ == nullptr) return kMailNotAttached;
    return channel == kMailChannel ? 0 : kMailBadArgument;
  }

  // One transfer within what is left of the cycle's time budget. A time-out marks the server as
  // hung at step for the rest of the run.
  CURLcode Perform(HungStep step) {
    auto left = kCycleBudget - (std::chrono::steady_clock::now() - started_);
    long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
    CURLcode result = CURLE_OPERATION_TIMEDOUT;
    if (ms > 0) {
      curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, ms);
      result = curl_easy_perform(curl_);
    }
    if (result == CURLE_OPERATION_TIMEDOUT) HungServers().emplace(url_, step);
    return result;
  }

  // Opens the session greeting with hello; route, when given, pins the connection to its address.
  CURLcode Open(const std::string& hello, const MailRoute* route) {
    hello_ = hello;
    char* path = curl_easy_escape(curl_, hello.data(), static_cast<int>(hello.size()));
    if (path == nullptr) return CURLE_OUT_OF_MEMORY;
    std::string url = url_ + path;
    curl_free(path);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CONNECT_TO, nullptr);
    curl_slist_free_all(connect_to_);
    connect_to_ = nullptr;
    if (route != nullptr) {
      std::string port = std::to_string(port_);
      std::string remote =
          route->remote.find(':') != std::string::npos ? "[" + route->remote + "]" : route->remote;
      std::string pin = url_host_ + ":" + port + ":" + remote + ":" + port;
      connect_to_ = curl_slist_append(nullptr, pin.c_str());
      if (connect_to_ == nullptr) return CURLE_OUT_OF_MEMORY;
      curl_easy_setopt(curl_, CURLOPT_CONNECT_TO, connect_to_);
    }
    return Perform(HungStep::kConnect);
  }

  // The From header for the null sender ("<>" is no mailbox): DbRelay at the name it greets with.
  std::string NullSenderFrom() const { return "DbRelay <dbrelay@" + hello_ + ">"; }

  // The host's fully-qualified name, or "" when it has none.
  static std::string HostDomainName() {
    std::string host = LocalHostName();
    return HelloDomain(host, IsDomainName(host) ? "" : CanonicalHostName(host));
  }

  CURL* curl_ = nullptr;
  bool start_tls_ = false;
  bool connected_ = false;
  bool skip_send_ = false;  // the server hung at Send earlier in this run
  std::string url_;       // scheme, host and port, without the greeting's name
  std::string url_host_;  // as in the URL, IPv6 in brackets
  int port_ = 0;
  std::string hello_;     // the name the session greeted with
  curl_slist* connect_to_ = nullptr;
  std::string user_;
  std::string password_;
  std::string sender_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace

}  // namespace dbrelay

extern "C" __attribute__((visibility("default"))) dbrelay::MailEngine* DbRelayCreateMailEngine() {
  return new dbrelay::CurlMailEngine;
}
