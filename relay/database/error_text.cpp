#include "relay/database/error_text.h"

#include <cstdio>

#include "relay/report/report.h"

namespace dbrelay {

namespace {

struct MessageEntry {
  uint32_t code;
  const char* text;
};

// The codes this program can meet that have a system text. Codes of the database component
// (0x80040Exx) have none, as on the original platform, and take the IDispatch form.
constexpr MessageEntry kMessageTable[] = {
    {0x80004005, "Unspecified error\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80070057, "The parameter is incorrect.\r\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070002, "The system cannot find the file specified.\r\n"},
};

std::string HexCode(uint32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(code));
  return buffer;
}

std::string OrNull(const std::optional<std::string>& text) { return text ? *text : "(null)"; }

}  // namespace

std::optional<std::string> LookupSystemMessage(uint32_t code) {
  for (const MessageEntry& entry : kMessageTable) {
    if (entry.code == code) return std::string(entry.text);
  }
  return std::nullopt;
}

std::string CodeMeaningFromMessage(uint32_t code, const std::optional<std::string>& message) {
  if (message && !message->empty()) {
    std::string text = *message;
    if (text.size() > 1 && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
  }
  char buffer[32];
  if (code >= 0x80040201u && code <= 0x8004FFFFu) {
    std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
  } else {
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  }
  return buffer;
}

std::string GetErrorCodeMeaning(uint32_t code) {
  return CodeMeaningFromMessage(code, LookupSystemMessage(code));
}

std::string FormatErrorBlock(const _com_error& error) {
  return "CADODataBase Error\n\tCode = " + HexCode(error.Error()) +
         "\n\tCode meaning = " + error.ErrorMessage() + "\n\tSource = " + OrNull(error.Source()) +
         "\n\tDescription = " + OrNull(error.Description()) + "\n";
}

std::string FormatComErrorReport(const _com_error& error) {
  return "CADODataBase Error:\n Code: " + HexCode(error.Error()) +
         "\n Code meaning: " + GetErrorCodeMeaning(error.Error()) +
         "\n Source: " + OrNull(error.Source()) + "\n Description: " + OrNull(error.Description()) +
         "\n";
}

void ReportComError(const _com_error& error) {
  ReportError(FormatComErrorReport(error), Mailing::kAllowed);
}

}  // namespace dbrelay
