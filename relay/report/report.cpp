#include "relay/report/report.h"

#include <charconv>

#include "relay/mail/send_email.h"
#include "relay/platform/env.h"
#include "relay/settings/relay_ini.h"

namespace dbrelay {

int ReportPauseMilliseconds() {
  std::optional<std::string> value = CurrentEnv()->GetVariable("DBRELAY_REPORT_PAUSE_MS");
  if (!value || value->empty()) return kReportPauseMilliseconds;
  int ms = 0;
  const char* end = value->data() + value->size();
  auto [stop, error] = std::from_chars(value->data(), end, ms);
  if (error != std::errc() || stop != end || ms < 0) return kReportPauseMilliseconds;
  return ms;
}

void ReportError(const std::string& text, Mailing mailing) {
  Env* env = CurrentEnv();
  bool shown = ReadIniInt(settings::kMsgBoxOnError) == 1 && env->ShowNotice(text);
  if (!shown) {
    env->WriteConsole(text);
    env->SleepForMilliseconds(ReportPauseMilliseconds());
  }
  // Mail hand-off: the text has been shown; it is mailed last. SendEmail reports its own failures.
  if (mailing == Mailing::kAllowed && ReadIniInt(settings::kEmailOnError) == 1) {
    SendEmail(text);
  }
}

void LogDetail(const std::string& text) {
  if (ReadIniInt(settings::kDetailedLog) != 0) ReportError(text, Mailing::kAllowed);
}

}  // namespace dbrelay
