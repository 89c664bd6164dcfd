#pragma once
// What each control of the settings dialog is called outside its picture: the caption that names
// it and the connection or group it belongs to. One table gives screen readers their names and
// descriptions and gives messages the field they speak of, so three "User Name:" fields and three
// "Test" buttons can be told apart without seeing the group boxes.

#include <QString>
#include <vector>

class QWidget;

namespace config_editor {

struct ControlName {
  QString caption;  // the visible caption that names the control ("User Name:"), empty for a frame
  QString group;    // "Primary Connection", "Email on Error", ...
};

// The names of the settings template's controls, in template order.
const std::vector<ControlName>& SettingsControlNames();

// The name of the control with this identifier; empty caption and group when there is none.
ControlName NameOfControl(int id);

// The accessible name: the caption without its ":" or "..." followed by the group, e.g.
// "User Name, Primary Connection"; the group alone when the caption is the group's own heading.
QString AccessibleNameOf(const ControlName& name);

// Gives every control (in template order, as the dialog built them) its accessible name and
// description, and each label the edit it names as its buddy.
void ApplyControlNames(const std::vector<QWidget*>& controls_in_order);

// The field as a message names it: "User Name:" in Primary Connection.
QString FieldInMessage(int id);

}  // namespace config_editor
