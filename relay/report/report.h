#pragma once
// The one output channel of DbRelay. Every text a person sees passes through ReportError: on the
// console followed by a pause (so a console window stays readable before it closes), or in a
// message box when MsgBoxOnError is exactly 1; then, when EmailOnError is exactly 1 and the caller
// allows it, the same text is mailed. There is no log file: the detailed log is the stream of
// LogDetail reports.

#include <string>

namespace dbrelay {

// Whether ReportError may hand its text on to the mail step. Failures of the mail step itself are
// reported with kSuppressed, so a report never starts another mail.
enum class Mailing { kAllowed, kSuppressed };

// The pause after a console report, in milliseconds. DBRELAY_REPORT_PAUSE_MS may shorten (or
// lengthen) it for tests and batch callers; a value that is not a non-negative number is ignored.
inline constexpr int kReportPauseMilliseconds = 5000;
int ReportPauseMilliseconds();

// Shows text verbatim (never as a format) and then hands it to the mail step.
void ReportError(const std::string& text, Mailing mailing);

// Reports text with mailing allowed when DetailedLog is not 0; otherwise does nothing.
void LogDetail(const std::string& text);

}  // namespace dbrelay
