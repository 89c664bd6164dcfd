#pragma once
// The words in which a database failure is told: the meaning of a code, the error block that
// CADODatabase keeps as its last error text, and the report of an error no operation caught.

#include <cstdint>
#include <optional>
#include <string>

#include "relay/database/com_error.h"

namespace dbrelay {

// The message table's text for code, exactly as stored there (ending in "\r\n"), or nothing.
std::optional<std::string> LookupSystemMessage(uint32_t code);

// The code meaning given the message-table lookup: a text longer than one character loses one
// trailing "\n" and a "\r" before it; no text gives "IDispatch error #%d" for 0x80040201 to
// 0x8004FFFF and "Unknown error 0x%0lX" otherwise.
std::string CodeMeaningFromMessage(uint32_t code, const std::optional<std::string>& message);

// Never fails; always returns a text.
std::string GetErrorCodeMeaning(uint32_t code);

// "CADODataBase Error\n\tCode = %08lx\n\tCode meaning = %s\n\tSource = %s\n\tDescription = %s\n";
// a missing source or description prints as "(null)".
std::string FormatErrorBlock(const _com_error& error);

// "CADODataBase Error:\n Code: %08lx\n Code meaning: %s\n Source: %s\n Description: %s\n".
std::string FormatComErrorReport(const _com_error& error);

// Hands FormatComErrorReport(error) to ReportError with mailing allowed.
void ReportComError(const _com_error& error);

}  // namespace dbrelay
