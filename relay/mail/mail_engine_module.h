#pragma once
// The contract between DbRelay and its on-demand mail module, which carries libcurl and its many
// libraries so that a run which sends no mail does not load them.

namespace dbrelay {

class MailEngine;

inline constexpr char kMailModuleFileName[] = "libdbrelay_mail.so";
inline constexpr char kCreateMailEngineSymbol[] = "DbRelayCreateMailEngine";

// Returns a new engine, owned by the caller (delete through MailEngine's virtual destructor).
using CreateMailEngineFunction = MailEngine* (*)();

}  // namespace dbrelay
