#include "relay/run/run_statement.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "relay/database/ado_database.h"
#include "relay/database/com_error.h"
#include "relay/database/connection_string.h"
#include "relay/database/error_text.h"
#include "relay/mail/send_email.h"
#include "relay/output/copy_file.h"
#include "relay/output/sign_file.h"
#include "relay/output/text_file.h"
#include "relay/report/report.h"
#include "relay/common/format_text.h"
#include "relay/settings/relay_ini.h"
#include "settings/setting_codec.h"

namespace dbrelay {

namespace {

struct StatementArguments {
  std::string statement;
  std::string file_name;       // empty when not given
  std::string text_file_name;  // empty when not given
};

StatementArguments ArgumentsOf(int argc, const char* const* argv) {
  StatementArguments args;
  args.statement = argv[1];
  if (argc > 2) args.file_name = argv[2];
  if (argc > 3) args.text_file_name = argv[3];
  return args;
}

std::string SecondaryConnectionString() {
  if (ReadIniInt(settings::kSecDBType) == 1) {
    return settings::DecodeSettingValue(ReadIniString(settings::kSecConnectionString));
  }
  return ReadIniString(settings::kSecOtherConnStr);
}

// The system error code printed beside a database error text: errno, taken right after the text.
int LastSystemError() { return errno; }

// A failed primary is mailed at once only when mails are on and not held back until both fail.
void MailPrimaryFailure(const CADODatabase& database) {
  int email_on_error = ReadIniInt(settings::kEmailOnError);
  int when_both_fail = ReadIniInt(settings::kEmailWhenBothDBFail);
  if (email_on_error != 1 || when_both_fail != 0) return;
  std::string error_text = database.GetLastErrorText();
  int last_error = LastSystemError();
  SendEmail(FormatText(
      "Primary DB connection failed with error:\n%s\nGetLastError = %d\n\nTrying secondary "
      "connection\n",
      error_text.c_str(), last_error));
}

// Appends the statement to the local text file; returns the exit code (0 or the errno).
int DeliverToTextFile(const StatementArguments& args) {
  std::string path =
      BuildTextFileName(ReadIniString(settings::kSecLocalTextFile), args.text_file_name);
  int code = AppendStatementToTextFile(path, args.statement);
  if (code != 0) {
    ReportError(FormatText("Unable to write to text file: %s\n\n%s\n\nError returned = %d\n",
                           path.c_str(), args.statement.c_str(), code),
                Mailing::kAllowed);
  }
  return code;
}

// Runs the statement once on the open connection and checks the count; returns the exit code.
int ExecuteOnOpenConnection(CADODatabase& database, const StatementArguments& args) {
  LogDetail("\nOpen ADO Connection OK\n");
  LogDetail("\nRunning Query: " + args.statement + "\n");
  database.Execute(args.statement);  // a failure shows as a count of 0
  int32_t count = database.GetRecordsAffected();
  LogDetail(FormatText("Number of records Affected = %d\n", count));

  int32_t minimum = ReadIniInt(settings::kRaiseErrorIfAffectedLinesLessThen);
  if (count >= minimum) return 0;
  std::string error_text = database.GetLastErrorText();
  int last_error = LastSystemError();
  // "Less then" is the system's own text: callers and their scripts match it as it stands.
  ReportError(FormatText("Less then expected lines are affected in query:%s\n\n%s\nGetLastError = %d\n",
                         args.statement.c_str(), error_text.c_str(), last_error),
              Mailing::kAllowed);
  return -1;
}

// Everything from the primary's Open to the last Close; a COM error escapes to the caller.
int RunDatabasePhase(CADODatabase& database, const StatementArguments& args) {
  if (database.Open() == 0) {
    MailPrimaryFailure(database);
    if (ReadIniInt(settings::kSecDBType) == 3) {
      int code = DeliverToTextFile(args);
      database.Close();
      return code;
    }
    std::string secondary = SecondaryConnectionString();
    LogDetail("\nSecondary Connection String: " + MaskConnectionPassword(secondary) + "\n");
    database.SetConnectionString(secondary);
    if (database.Open() == 0) {
      std::string error_text = database.GetLastErrorText();
      int last_error = LastSystemError();
      ReportError(FormatText("%s\nGetLastError = %d\n", error_text.c_str(), last_error),
                  Mailing::kAllowed);
      database.Close();
      return -1;
    }
  }
  int code = ExecuteOnOpenConnection(database, args);
  database.Close();
  return code;
}

}  // namespace

std::string PrimaryConnectionString() {
  if (ReadIniInt(settings::kPriDBType) == 1) {
    return settings::DecodeSettingValue(ReadIniString(settings::kPriConnectionString));
  }
  return ReadIniString(settings::kPriOtherConnStr);
}

int RunStatement(int argc, const char* const* argv) {
  StatementArguments args = ArgumentsOf(argc, argv);

  if (ReadIniInt(settings::kDigitallySign) > 0 && !args.file_name.empty()) {
    int result = SignFile(args.file_name);
    if (result != 0) {
      ReportError(FormatText("Unable to sign file: %s\n\nError returned = %d\n",
                             args.file_name.c_str(), result),
                  Mailing::kAllowed);
      return -1;
    }
  }
  CopyFileToFolder(args.file_name);  // its outcome is logged, not acted on

  std::string primary = PrimaryConnectionString();
  // The password never reaches the console or a mail; the rest of the string is shown as used.
  LogDetail("\nPrimary Connection String: " + MaskConnectionPassword(primary) + "\n");

  auto database = std::make_unique<CADODatabase>();
  database->SetConnectionString(primary);
  try {
    return RunDatabasePhase(*database, args);
  } catch (const _com_error& error) {
    std::string text;
    for (int i = 0; i < argc; ++i) text += std::string("\n") + argv[i];
    text += "\n";
    ReportError(text, Mailing::kAllowed);
    ReportComError(error);
    return -1;
  }
}

}  // namespace dbrelay
