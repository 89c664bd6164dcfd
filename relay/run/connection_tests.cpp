#include "relay/run/connection_tests.h"

#include <cerrno>
#include <string>

#include "relay/database/ado_database.h"
#include "relay/database/com_error.h"
#include "relay/database/error_text.h"
#include "relay/mail/send_email.h"
#include "relay/report/report.h"
#include "relay/common/format_text.h"
#include "relay/settings/relay_ini.h"
#include "settings/setting_codec.h"

namespace dbrelay {

namespace {

// Opens the connection stored under key once and shows the outcome. Every key goes through the
// decoder; a plain value comes back unchanged. The result is shown, never mailed.
void TestConnection(const settings::SettingKey& key) {
  std::string connection_string =
      settings::DecodeSettingValue(ReadIniString(key));
  std::string result;
  try {
    CADODatabase database;
    database.SetConnectionString(connection_string);
    if (database.Open() != 0) {
      result = "\nConnection OK:\n";
    } else {
      std::string error_text = database.GetLastErrorText();
      int last_error = errno;
      // "Faild" is the system's own text: callers and their scripts match it as it stands.
      result = FormatText("\nConnection Faild:\n%s\nGetLastError = %d\n", error_text.c_str(),
                          last_error);
    }
    database.Close();
  } catch (const _com_error& error) {
    // A connection that cannot even be closed is a failed test, shown like any other.
    result += FormatComErrorReport(error);
  }
  ReportError(result, Mailing::kSuppressed);
}

}  // namespace

int RunPrimaryTest() {
  TestConnection(ReadIniInt(settings::kPriDBType) == 1 ? settings::kPriConnectionString
                                                        : settings::kPriOtherConnStr);
  return 0;
}

int RunSecondaryTest() {
  TestConnection(ReadIniInt(settings::kSecDBType) == 1 ? settings::kSecConnectionString
                                                        : settings::kSecOtherConnStr);
  return 0;
}

int RunEmailTest() {
  SendEmail("This is a test email\n\n");  // failures report themselves
  return 0;
}

}  // namespace dbrelay
