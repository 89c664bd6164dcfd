#pragma once
// The keyboard in the settings dialog as Windows dialogs behave: Tab reaches each radio group once,
// at its selected button, and the arrow keys move the selection within the group (wrapping round);
// the first focus goes to the first control that takes focus and is not a radio button, so a Space
// right after opening changes nothing by surprise.

#include <QObject>
#include <vector>

class QButtonGroup;
class QWidget;

namespace config_editor {

class RadioGroupKeys : public QObject {
  Q_OBJECT

 public:
  // Takes the groups' buttons over for Tab and the arrow keys; lives as long as parent.
  RadioGroupKeys(const std::vector<QButtonGroup*>& groups, QObject* parent);

  // Gives the Tab stop of each group to its selected button (to the first one when none is).
  void UpdateTabStops();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<QButtonGroup*> groups_;
};

// Focuses the first control in template order that is enabled, takes Tab focus and is not a
// radio button.
void SetInitialFocus(const std::vector<QWidget*>& controls_in_order);

}  // namespace config_editor
