// The load and save tables on a fake dialog, and a save that fails in the file seam.

#include "config_editor/settings_mapping.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "config_editor/dialog_template.h"
#include "settings/settings_files.h"
#include "tests/config_editor/fake_dialog_items.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using testing_support::FakeDialogItems;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Set(int control) { return "SetItemText " + std::to_string(control); }
std::string Check(int control, int state) {
  return "CheckButton " + std::to_string(control) + " " + std::to_string(state);
}

// A missing file: every control gets the editor's default, in the load's order (the radio groups,
// then both connection strings, then the rest in the order of the save).
TEST(LoadSettingsTest, AMissingFileLoadsTheEditorsDefaultsInLoadOrder) {
  TempDir dir;
  FakeDialogItems items;
  LoadSettings(settings::IniFile(dir.File("DbRelay.ini")), items);
  const std::vector<std::string> expected = {
      Check(id::kPriSqlServer, 1), Check(id::kSecSqlServer, 1),
      Set(id::kPriServer), Set(id::kPriDatabase), Set(id::kPriUser), Set(id::kPriPassword),
      Set(id::kSecServer), Set(id::kSecDatabase), Set(id::kSecUser), Set(id::kSecPassword),
      Check(id::kUseSecConn, 0), Set(id::kPriOtherConnStr), Set(id::kSecOtherConnStr),
      Set(id::kSecLocalTextFile), Check(id::kSecTimestamp, 0), Check(id::kMsgBoxOnError, 0),
      Check(id::kDetailedLog, 0), Check(id::kRaiseError, 0), Set(id::kAffectedLines),
      Check(id::kEmailOnError, 0), Set(id::kSmtp), Set(id::kPort), Set(id::kEmailUser),
      Set(id::kEmailPassword), Set(id::kFrom), Set(id::kTo), Set(id::kSubject),
      Check(id::kEmailWhenBothFail, 0), Check(id::kDigitallySign, 0), Set(id::kSignerPath),
      Check(id::kCopyFile, 0), Set(id::kCopyFilePath)};
  EXPECT_EQ(items.calls, expected);
  EXPECT_EQ(items.texts[id::kPort], "25");
  EXPECT_EQ(items.texts[id::kAffectedLines], "0");
  EXPECT_EQ(items.texts[id::kSignerPath], "");  // DbRelay's own default is not the editor's
}

// A save to a new file writes every key of the table once, in table order, each as its form
// stores it.
TEST(SaveSettingsTest, WritesEveryKeyOfTheTableInItsOrder) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  FakeDialogItems items;
  LoadSettings(ini, items);
  items.CheckButton(id::kSecLocalText, 1);
  items.SetItemText(id::kAffectedLines, "7");  // not stored: its check box is clear
  ASSERT_EQ(SaveSettings(ini, items).error, 0);

  std::string expected = "[General]\r\n";
  for (const settings::SettingKey* key : settings::kSettingKeys) {
    expected += std::string(key->name) + "=" + ini.ReadString("General", key->name, "?") + "\r\n";
  }
  EXPECT_EQ(ReadFileBytes(ini.path()), expected);
  EXPECT_EQ(ini.ReadInt("General", "SecDBType", 0), 3);
  EXPECT_EQ(ini.ReadString("General", "RaiseErrorIfAffectedLinesLessThen", "?"), "0");
  EXPECT_EQ(ini.ReadString("General", "PriConnectionString", "?").rfind("TAVOK", 0), 0u);
}

// Fails the check before a save or the replacement itself with error, counting replacements.
class FailingSave : public settings::SettingsFilesWrapper {
 public:
  FailingSave(bool fail_check, int error)
      : SettingsFilesWrapper(settings::PosixSettingsFiles()), fail_check_(fail_check),
        error_(error) {}
  int CheckReadWrite(const std::string& path) override {
    return fail_check_ ? error_ : target()->CheckReadWrite(path);
  }
  int ReplaceFile(const std::string&, std::string_view, unsigned) override {
    ++replacements;
    return error_;
  }
  int replacements = 0;

 private:
  bool fail_check_;
  int error_;
};

struct FailedSaveCase {
  const char* name;
  bool fail_check;  // else the replacement fails
  int error;
};

void PrintTo(const FailedSaveCase& c, std::ostream* os) { *os << c.name; }

class FailedSaveTest : public testing::TestWithParam<FailedSaveCase> {};

TEST_P(FailedSaveTest, IsReportedWithItsErrorAndTheFileStaysAsItWas) {
  TempDir dir;
  settings::IniFile ini(dir.File("DbRelay.ini"));
  const std::string before = "[General]\r\nEmailSMTP=old\r\n";
  WriteFileBytes(ini.path(), before);
  FakeDialogItems items;
  LoadSettings(ini, items);
  items.SetItemText(id::kSmtp, "new");
  FailingSave files(GetParam().fail_check, GetParam().error);
  settings::ScopedSettingsFilesOverride installed(&files);

  SaveResult result = SaveSettings(ini, items);

  EXPECT_EQ(result.error, GetParam().error);
  EXPECT_EQ(result.refusal, SaveRefusal::kNone);
  EXPECT_EQ(files.replacements, GetParam().fail_check ? 0 : 1);
  EXPECT_EQ(ReadFileBytes(ini.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailedSaveTest,
    testing::Values(FailedSaveCase{"read_only_file", true, EACCES},
                    FailedSaveCase{"replace_denied", false, EACCES},
                    FailedSaveCase{"disk_full", false, ENOSPC},
                    FailedSaveCase{"io_error", false, EIO}),
    [](const testing::TestParamInfo<FailedSaveCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace config_editor
