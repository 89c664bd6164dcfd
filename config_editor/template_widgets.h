#pragma once
// Creates the widgets of a dialog template as children of a dialog: one widget per control, placed
// by its dialog-unit rectangle converted with the dialog font's base units, named by its numeric
// identifier, and chained for Tab in template order.

#include <QIcon>
#include <QWidget>
#include <map>
#include <vector>

#include "config_editor/dialog_template.h"
#include "config_editor/dialog_units.h"

class QButtonGroup;

namespace config_editor {

struct TemplateWidgets {
  std::vector<QWidget*> in_order;    // every control, template order
  std::map<int, QWidget*> by_id;     // controls with an identifier
  std::vector<QButtonGroup*> radio_groups;
  DialogBaseUnits units{};
};

// The object name of a control: its identifier in decimal ("-1" for unnamed statics).
QString ControlObjectName(int id);

// Builds the controls and fixes the dialog's client size. Radio buttons that follow one another in
// template order form one exclusive group; any other control ends the group. icon is shown by icon
// controls.
TemplateWidgets BuildTemplateWidgets(QWidget* dialog, const DialogTemplate& dialog_template,
                                     const QIcon& icon);

}  // namespace config_editor
