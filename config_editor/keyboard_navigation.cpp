#include "config_editor/keyboard_navigation.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QRadioButton>

namespace config_editor {
namespace {

// +1 for Down and Right, -1 for Up and Left, 0 for every other key.
int StepOfKey(int key) {
  switch (key) {
    case Qt::Key_Down:
    case Qt::Key_Right:
      return 1;
    case Qt::Key_Up:
    case Qt::Key_Left:
      return -1;
    default:
      return 0;
  }
}

}  // namespace

RadioGroupKeys::RadioGroupKeys(const std::vector<QButtonGroup*>& groups, QObject* parent)
    : QObject(parent), groups_(groups) {
  for (QButtonGroup* group : groups_) {
    for (QAbstractButton* button : group->buttons()) button->installEventFilter(this);
    connect(group, &QButtonGroup::buttonToggled, this, [this] { UpdateTabStops(); });
  }
  UpdateTabStops();
}

void RadioGroupKeys::UpdateTabStops() {
  for (QButtonGroup* group : groups_) {
    const QList<QAbstractButton*> buttons = group->buttons();
    QAbstractButton* stop = group->checkedButton();
    if (stop == nullptr && !buttons.isEmpty()) stop = buttons.front();
    for (QAbstractButton* button : buttons) {
      button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
  }
}

bool RadioGroupKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  int step = StepOfKey(key->key());
  auto* button = qobject_cast<QAbstractButton*>(watched);
  if (step == 0 || button == nullptr || button->group() == nullptr) return false;
  const QList<QAbstractButton*> buttons = button->group()->buttons();
  const qsizetype count = buttons.size();
  qsizetype at = buttons.indexOf(button);
  for (qsizetype tried = 1; tried < count; ++tried) {
    QAbstractButton* next = buttons[((at + step * tried) % count + count) % count];
    if (!next->isEnabled() || next->isHidden()) continue;
    next->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    next->click();  // an automatic radio button is selected when the arrow reaches it
    return true;
  }
  return true;  // a group of one: the arrow stays
}

void SetInitialFocus(const std::vector<QWidget*>& controls_in_order) {
  for (QWidget* control : controls_in_order) {
    if (qobject_cast<QRadioButton*>(control) != nullptr) continue;
    if (!control->isEnabled() || !(control->focusPolicy() & Qt::TabFocus)) continue;
    control->setFocus(Qt::OtherFocusReason);
    return;
  }
}

}  // namespace config_editor
