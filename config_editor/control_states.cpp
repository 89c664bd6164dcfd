#include "config_editor/control_states.h"

#include <initializer_list>

#include "config_editor/dialog_template.h"

namespace config_editor {
namespace {

void EnableAll(DialogItems& items, std::initializer_list<int> controls, bool enable) {
  for (int control : controls) items.EnableItem(control, enable);
}

}  // namespace

const std::vector<int>& ControlsThatUpdateStates() {
  static const std::vector<int> kControls = {
      id::kPriSqlServer, id::kPriOther,     id::kSecSqlServer, id::kSecOther,
      id::kSecLocalText, id::kUseSecConn,   id::kEmailOnError, id::kRaiseError,
      id::kDigitallySign, id::kCopyFile};
  return kControls;
}

void UpdateControlStates(DialogItems& items) {
  const bool p = items.IsButtonChecked(id::kPriOther) != 0;
  const int k = items.IsButtonChecked(id::kSecLocalText) ? 2
                : items.IsButtonChecked(id::kSecOther)   ? 1
                                                         : 0;
  const bool u = items.IsButtonChecked(id::kUseSecConn) != 0;
  const bool e = items.IsButtonChecked(id::kEmailOnError) != 0;

  EnableAll(items,
            {id::kPriUserLabel, id::kPriUser, id::kPriPasswordLabel, id::kPriPassword,
             id::kPriDatabaseLabel, id::kPriDatabase, id::kPriServerLabel, id::kPriServer},
            !p);
  EnableAll(items, {id::kPriOtherConnStr}, p);
  EnableAll(items,
            {id::kSecUserLabel, id::kSecUser, id::kSecPasswordLabel, id::kSecPassword,
             id::kSecDatabaseLabel, id::kSecDatabase, id::kSecServerLabel, id::kSecServer},
            k == 0 && u);
  EnableAll(items, {id::kSecOtherConnStr}, k == 1 && u);
  EnableAll(items, {id::kSecLocalTextFile}, k == 2 && u);
  EnableAll(items, {id::kSecTimestamp}, k == 2 && u);
  EnableAll(items, {id::kSecSqlServer, id::kSecOther, id::kSecLocalText}, u);
  EnableAll(items, {id::kSecTest}, k != 2 && u);
  EnableAll(items,
            {id::kSmtpLabel, id::kSmtp, id::kPortLabel, id::kPort, id::kEmailUserLabel,
             id::kEmailUser, id::kEmailPasswordLabel, id::kEmailPassword, id::kFromLabel, id::kFrom,
             id::kToLabel, id::kTo, id::kSubjectLabel, id::kSubject, id::kEmailTest,
             id::kEmailWhenBothFail},
            e);
  EnableAll(items, {id::kAffectedLines}, items.IsButtonChecked(id::kRaiseError) != 0);
  EnableAll(items, {id::kSignerPathLabel, id::kSignerPath},
            items.IsButtonChecked(id::kDigitallySign) != 0);
  EnableAll(items, {id::kCopyFilePath}, items.IsButtonChecked(id::kCopyFile) != 0);
}

}  // namespace config_editor
