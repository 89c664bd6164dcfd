#include "config_editor/template_widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>

namespace config_editor {
namespace {

// No character limit on edits (QLineEdit's own default is 32767).
constexpr int kUnlimitedLength = 1 << 30;

// A group box of a template: a frame of one line on the edges of its rectangle. The style's own
// frame is shaded and inset, so two boxes that the template lets meet would show two lines.
class TemplateGroupBox : public QGroupBox {
 public:
  explicit TemplateGroupBox(QWidget* parent) : QGroupBox(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

// Edges of two boxes that lie this close (in dialog units) are meant to be one line: the template
// overlaps its boxes by a unit or two, and the half-font shift of a box's top moves it off its
// neighbour's bottom.
constexpr int kSeamDialogUnits = 3;

bool Overlap(int a0, int a1, int b0, int b1) { return a0 < b1 && b0 < a1; }

// Moves the left and top edges of later boxes onto the right and bottom edges of earlier ones
// where the two meet, so both frames fall on the same pixels.
void JoinAdjoiningGroupBoxes(const std::vector<QWidget*>& boxes, const DialogBaseUnits& units) {
  const int tolerance_x = MulDiv(kSeamDialogUnits, units.average_width, 4);
  const int tolerance_y = MulDiv(kSeamDialogUnits, units.height, 8);
  for (size_t later = 0; later < boxes.size(); ++later) {
    QRect g = boxes[later]->geometry();
    for (size_t earlier = 0; earlier < later; ++earlier) {
      const QRect e = boxes[earlier]->geometry();
      if (std::abs(g.left() - e.right()) <= tolerance_x &&
          Overlap(g.top(), g.bottom(), e.top(), e.bottom())) {
        g.setLeft(e.right());
      }
      if (std::abs(g.top() - e.bottom()) <= tolerance_y &&
          Overlap(g.left(), g.right(), e.left(), e.right())) {
        g.setTop(e.bottom());
      }
    }
    boxes[later]->setGeometry(g);
  }
}

QWidget* CreateControl(QWidget* dialog, const ControlTemplate& control, const QIcon& icon,
                       const DialogBaseUnits& units) {
  const QString caption = QString::fromUtf8(control.caption.data(), control.caption.size());
  switch (control.kind) {
    case ControlKind::kGroupBox:
      return new TemplateGroupBox(dialog);
    case ControlKind::kLabel: {
      auto* label = new QLabel(caption, dialog);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ControlKind::kIcon: {
      auto* label = new QLabel(dialog);
      QSize size = MapDialogSize(control.rect.width, control.rect.height, units);
      int side = std::min(size.width(), size.height());
      label->setPixmap(icon.pixmap(side, side));
      return label;
    }
    case ControlKind::kEdit:
    case ControlKind::kPasswordEdit: {
      auto* edit = new QLineEdit(dialog);
      edit->setMaxLength(kUnlimitedLength);
      if (control.kind == ControlKind::kPasswordEdit) edit->setEchoMode(QLineEdit::Password);
      return edit;
    }
    case ControlKind::kCheckBox:
      return new QCheckBox(caption, dialog);
    case ControlKind::kRadioButton:
      return new QRadioButton(caption, dialog);
    case ControlKind::kPushButton:
    case ControlKind::kDefaultButton: {
      auto* button = new QPushButton(caption, dialog);
      button->setDefault(control.kind == ControlKind::kDefaultButton);
      return button;
    }
  }
  return nullptr;
}

}  // namespace

QString ControlObjectName(int id) { return QString::number(id); }

TemplateWidgets BuildTemplateWidgets(QWidget* dialog, const DialogTemplate& dialog_template,
                                     const QIcon& icon) {
  TemplateWidgets widgets;
  QFont font = DialogFont(dialog_template);
  dialog->setFont(font);
  widgets.units = BaseUnitsOfFont(font);
  dialog->setFixedSize(
      MapDialogSize(dialog_template.width, dialog_template.height, widgets.units));

  std::vector<QWidget*> group_boxes;
  QButtonGroup* current_group = nullptr;
  QWidget* previous_in_chain = nullptr;
  for (const ControlTemplate& control : dialog_template.controls) {
    QWidget* widget = CreateControl(dialog, control, icon, widgets.units);
    widget->setObjectName(ControlObjectName(control.id));
    QRect geometry = MapDialogRect(control.rect, widgets.units);
    if (control.kind == ControlKind::kGroupBox) {
      // A group box draws its frame half a font height below the top of its rectangle, where a
      // caption would sit; the template's adjoining boxes rely on that to meet in one line.
      geometry.setTop(geometry.top() + widgets.units.height / 2);
      group_boxes.push_back(widget);
    }
    widget->setGeometry(geometry);
    if (control.kind == ControlKind::kRadioButton) {
      if (current_group == nullptr) {
        current_group = new QButtonGroup(dialog);
        current_group->setExclusive(true);
        widgets.radio_groups.push_back(current_group);
      }
      current_group->addButton(static_cast<QRadioButton*>(widget));
    } else {
      // Every other control carries the group-start flag, so it closes the radio group before it.
      current_group = nullptr;
    }
    if (widget->focusPolicy() & Qt::TabFocus) {
      if (previous_in_chain != nullptr) QWidget::setTabOrder(previous_in_chain, widget);
      previous_in_chain = widget;
    }
    widgets.in_order.push_back(widget);
    if (control.id != kStaticId) widgets.by_id[control.id] = widget;
  }
  JoinAdjoiningGroupBoxes(group_boxes, widgets.units);
  return widgets;
}

}  // namespace config_editor
