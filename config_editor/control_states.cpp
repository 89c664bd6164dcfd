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
  const bool primary_other = items.IsButtonChecked(id::kPriOther) != 0;
  const bool use_secondary = items.IsButtonChecked(id::kUseSecConn) != 0;
  // The secondary kind counts only while the secondary connection is ticked.
  const bool secondary_text_file = use_secondary && items.IsButtonChecked(id::kSecLocalText) != 0;
  const bool secondary_other =
      use_secondary && !secondary_text_file && items.IsButtonChecked(id::kSecOther) != 0;
  const bool secondary_sql_server = use_secondary && !secondary_text_file && !secondary_other;
  const bool email = items.IsButtonChecked(id::kEmailOnError) != 0;

  EnableAll(items,
            {id::kPriUserLabel, id::kPriUser, id::kPriPasswordLabel, id::kPriPassword,
             id::kPriDatabaseLabel, id::kPriDatabase, id::kPriServerLabel, id::kPriServer},
            !primary_other);
  EnableAll(items, {id::kPriOtherConnStr}, primary_other);
  EnableAll(items,
            {id::kSecUserLabel, id::kSecUser, id::kSecPasswordLabel, id::kSecPassword,
             id::kSecDatabaseLabel, id::kSecDatabase, id::kSecServerLabel, id::kSecServer},
            secondary_sql_server);
  EnableAll(items, {id::kSecOtherConnStr}, secondary_other);
  EnableAll(items, {id::kSecLocalTextFile}, secondary_text_file);
  EnableAll(items, {id::kSecTimestamp}, secondary_text_file);
  EnableAll(items, {id::kSecSqlServer, id::kSecOther, id::kSecLocalText}, use_secondary);
  EnableAll(items, {id::kSecTest}, use_secondary && !secondary_text_file);
  EnableAll(items,
            {id::kSmtpLabel, id::kSmtp, id::kPortLabel, id::kPort, id::kEmailUserLabel,
             id::kEmailUser, id::kEmailPasswordLabel, id::kEmailPassword, id::kFromLabel, id::kFrom,
             id::kToLabel, id::kTo, id::kSubjectLabel, id::kSubject, id::kEmailTest,
             id::kEmailWhenBothFail},
            email);
  EnableAll(items, {id::kAffectedLines}, items.IsButtonChecked(id::kRaiseError) != 0);
  EnableAll(items, {id::kSignerPathLabel, id::kSignerPath},
            items.IsButtonChecked(id::kDigitallySign) != 0);
  EnableAll(items, {id::kCopyFilePath}, items.IsButtonChecked(id::kCopyFile) != 0);
}

}  // namespace config_editor
