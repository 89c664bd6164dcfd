#include "config_editor/control_names.h"

#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <map>

#include "config_editor/dialog_template.h"

namespace config_editor {
namespace {

// The first template index of each group; a group runs up to the next one.
struct GroupStart {
  size_t index;
  const char* group;
};
constexpr GroupStart kGroups[] = {
    {0, "Primary Connection"},            // first group box
    {14, "Secondary Connection"},         // second group box
    {31, "Error Reporting and Email"},    // third group box (frame only)
    {32, "Error Reporting"},              // 1011 ... "lines are affected"
    {37, "Email on Error"},               // 1014 ... 1030
    {54, "Signing and Copying"},          // fourth group box (frame only)
    {55, "Digital Signing"},              // 1037, 1060, 1043
    {58, "File Copy"},                    // 1038, 1061
    {60, "DB Relay Setup"},               // About..., Save, Close
};

// Edits without a label of their own are named by the choice that uses them.
const std::map<int, const char*>& CaptionOfUnlabelledEdits() {
  static const std::map<int, const char*> kCaptions = {
      {id::kPriOtherConnStr, "Other Connection String:"},
      {id::kSecOtherConnStr, "Other Connection String:"},
      {id::kSecLocalTextFile, "Local Text File with SQL commands:"},
      // "less then": the caption of the check box it belongs to, spelt as the dialog spells it.
      {id::kAffectedLines, "Raise an error in case less then:"},
      {id::kCopyFilePath, "Duplicate File to another Folder"},
  };
  return kCaptions;
}

QString Caption(const ControlTemplate& c) {
  return QString::fromUtf8(c.caption.data(), static_cast<qsizetype>(c.caption.size()));
}

std::vector<ControlName> BuildNames() {
  const auto& controls = SettingsDialogTemplate().controls;
  std::vector<ControlName> names;
  size_t group = 0;
  for (size_t i = 0; i < controls.size(); ++i) {
    while (group + 1 < std::size(kGroups) && kGroups[group + 1].index <= i) ++group;
    const ControlTemplate& c = controls[i];
    QString caption = Caption(c);
    if (c.kind == ControlKind::kEdit || c.kind == ControlKind::kPasswordEdit) {
      auto unlabelled = CaptionOfUnlabelledEdits().find(c.id);
      caption = unlabelled != CaptionOfUnlabelledEdits().end() ? QString(unlabelled->second)
                : i > 0 && controls[i - 1].kind == ControlKind::kLabel ? Caption(controls[i - 1])
                                                                     : QString();
    }
    names.push_back({caption, QString(kGroups[group].group)});
  }
  return names;
}

}  // namespace

const std::vector<ControlName>& SettingsControlNames() {
  static const std::vector<ControlName> kNames = BuildNames();
  return kNames;
}

ControlName NameOfControl(int id) {
  const auto& controls = SettingsDialogTemplate().controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].id == id && id != kStaticId) return SettingsControlNames()[i];
  }
  return {};
}

QString AccessibleNameOf(const ControlName& name) {
  QString caption = name.caption;
  if (caption.endsWith("...")) caption.chop(3);
  if (caption.endsWith(':')) caption.chop(1);
  if (caption.isEmpty() || caption == name.group) return name.group;
  if (name.group == "DB Relay Setup") return caption;  // the dialog's own buttons
  return caption + ", " + name.group;
}

void ApplyControlNames(const std::vector<QWidget*>& controls_in_order) {
  const std::vector<ControlName>& names = SettingsControlNames();
  for (size_t i = 0; i < controls_in_order.size() && i < names.size(); ++i) {
    QWidget* widget = controls_in_order[i];
    widget->setAccessibleName(AccessibleNameOf(names[i]));
    widget->setAccessibleDescription(names[i].group);
    auto* label = qobject_cast<QLabel*>(widget);
    if (label != nullptr && i + 1 < controls_in_order.size()) {
      if (auto* edit = qobject_cast<QLineEdit*>(controls_in_order[i + 1])) label->setBuddy(edit);
    }
  }
}

QString FieldInMessage(int id) {
  ControlName name = NameOfControl(id);
  return QStringLiteral("\"%1\" in %2").arg(name.caption, name.group);
}

}  // namespace config_editor
