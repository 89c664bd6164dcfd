#pragma once
// Which controls of the settings dialog are enabled for the choices made in its radio groups and
// check boxes. Disabling keeps a control's contents; the save writes them all the same.

#include <vector>

#include "config_editor/dialog_items.h"

namespace config_editor {

// The controls whose click re-runs UpdateControlStates.
const std::vector<int>& ControlsThatUpdateStates();

// Sets every dependent control enabled or disabled from the current state of id::kPriOther,
// id::kSecLocalText / id::kSecOther, id::kUseSecConn, id::kEmailOnError, id::kRaiseError,
// id::kDigitallySign and id::kCopyFile. No other control is ever disabled.
void UpdateControlStates(DialogItems& items);

}  // namespace config_editor
