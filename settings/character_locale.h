#pragma once
// The character encoding of the environment's locale (LC_CTYPE), loaded only once a text needs it.
// Loading it costs a program run about a tenth of a millisecond (the locale archive and its alias
// file), and a text of ASCII bytes alone reads the same in every locale the C library offers, so a
// run whose texts are all ASCII never pays for it.

#include <string_view>

namespace settings {

// Asks for the environment's LC_CTYPE, falling back to "C" where that locale is not installed, to
// be loaded by the first NeedCharacterLocale(). A program that never calls this keeps the locale it
// has set itself.
void DeferEnvironmentCharacterLocale();

// Loads the deferred locale now, if one was asked for and is not loaded yet. Call before anything
// whose result depends on LC_CTYPE: multibyte scans, nl_langinfo(CODESET), iconv to the locale.
void NeedCharacterLocale();

// Whether every byte of text is below 0x80.
bool IsAscii(std::string_view text);

}  // namespace settings
