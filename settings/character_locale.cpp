#include "settings/character_locale.h"

#include <clocale>

namespace settings {

namespace {
bool g_deferred = false;
}  // namespace

void DeferEnvironmentCharacterLocale() { g_deferred = true; }

void NeedCharacterLocale() {
  if (!g_deferred) return;
  g_deferred = false;
  if (std::setlocale(LC_CTYPE, "") == nullptr) std::setlocale(LC_CTYPE, "C");
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace settings
