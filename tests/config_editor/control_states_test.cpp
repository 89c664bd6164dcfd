// The enabled state of every control of the real dialog for each combination of the radio groups
// and the check boxes that drive it, set by clicking as a user does.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>

#include "config_editor/config_dialog.h"
#include "config_editor/control_states.h"
#include "config_editor/dialog_template.h"
#include "tests/config_editor/fake_dialog_items.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using config_editor_test::Button;
using config_editor_test::Click;

struct Inputs {
  bool p;  // primary "Other Connection String:"
  int k;   // secondary kind: 0 SQL Server, 1 other, 2 local text file
  bool u, e, raise, sign, copy;
};

using Rule = std::function<bool(const Inputs&)>;

// The enabling table; every control not named here is always enabled.
const std::map<int, Rule>& EnablingTable() {
  static const std::map<int, Rule> kTable = [] {
    std::map<int, Rule> t;
    auto set = [&t](std::initializer_list<int> ids, Rule rule) {
      for (int i : ids) t[i] = rule;
    };
    set({1046, 1003, 1047, 1004, 1017, 1007, 1015, 1005}, [](const Inputs& in) { return !in.p; });
    set({1006}, [](const Inputs& in) { return in.p; });
    set({1049, 1008, 1050, 1009, 1018, 1010, 1016, 1012},
        [](const Inputs& in) { return in.k == 0 && in.u; });
    set({1013}, [](const Inputs& in) { return in.k == 1 && in.u; });
    set({1032, 1036}, [](const Inputs& in) { return in.k == 2 && in.u; });
    set({1048, 1051, 1059}, [](const Inputs& in) { return in.u; });
    set({1022}, [](const Inputs& in) { return in.k != 2 && in.u; });
    set({1052, 1019, 1054, 1024, 1056, 1026, 1057, 1027, 1055, 1025, 1053, 1023, 1058, 1029, 1030,
         1033},
        [](const Inputs& in) { return in.e; });
    set({1035}, [](const Inputs& in) { return in.raise; });
    set({1060, 1043}, [](const Inputs& in) { return in.sign; });
    set({1061}, [](const Inputs& in) { return in.copy; });
    return t;
  }();
  return kTable;
}

class ControlStatesTest
    : public ::testing::TestWithParam<std::tuple<bool, int, bool, bool>> {};

TEST_P(ControlStatesTest, EveryControlFollowsTheTable) {
  config_editor_test::EnsureQtApplication();
  testing_support::TempDir dir;
  auto [p, k, u, e] = GetParam();
  for (int extras = 0; extras < 8; ++extras) {
    Inputs in{p, k, u, e, (extras & 1) != 0, (extras & 2) != 0, (extras & 4) != 0};
    CDbRelayConfigDlg dialog(dir.path());
    dialog.show();
    // Clicked in an order that reaches every state: the secondary kind needs the group enabled.
    Click(dialog, id::kUseSecConn);
    Click(dialog, k == 2 ? id::kSecLocalText : k == 1 ? id::kSecOther : id::kSecSqlServer);
    if (!u) Click(dialog, id::kUseSecConn);
    Click(dialog, p ? id::kPriOther : id::kPriSqlServer);
    if (e) Click(dialog, id::kEmailOnError);
    if (in.raise) Click(dialog, id::kRaiseError);
    if (in.sign) Click(dialog, id::kDigitallySign);
    if (in.copy) Click(dialog, id::kCopyFile);
    // Boxes that drive nothing change nothing.
    for (int inert : {id::kSecTimestamp, id::kMsgBoxOnError, id::kDetailedLog, id::kEmailWhenBothFail}) {
      if (Button(dialog, inert)->isEnabled()) Click(dialog, inert);
    }

    const auto& table = EnablingTable();
    int index = 0;
    for (const ControlTemplate& c : SettingsDialogTemplate().controls) {
      QWidget* widget = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)[index++];
      auto rule = table.find(c.id);
      bool expected = c.id == kStaticId || rule == table.end() || rule->second(in);
      EXPECT_EQ(widget->isEnabled(), expected)
          << "control " << c.id << " (" << c.caption << ") extras " << extras;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, ControlStatesTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0, 1, 2),
                                            ::testing::Bool(), ::testing::Bool()));

// The same table on the logic alone: UpdateControlStates over a fake dialog, every combination.
class ControlStatesLogicTest
    : public ::testing::TestWithParam<std::tuple<bool, int, bool, bool>> {};

TEST_P(ControlStatesLogicTest, EveryControlFollowsTheTable) {
  auto [p, k, u, e] = GetParam();
  for (int extras = 0; extras < 8; ++extras) {
    Inputs in{p, k, u, e, (extras & 1) != 0, (extras & 2) != 0, (extras & 4) != 0};
    testing_support::FakeDialogItems items;
    items.CheckButton(p ? id::kPriOther : id::kPriSqlServer, 1);
    items.CheckButton(k == 2 ? id::kSecLocalText : k == 1 ? id::kSecOther : id::kSecSqlServer, 1);
    items.CheckButton(id::kUseSecConn, u);
    items.CheckButton(id::kEmailOnError, e);
    items.CheckButton(id::kRaiseError, in.raise);
    items.CheckButton(id::kDigitallySign, in.sign);
    items.CheckButton(id::kCopyFile, in.copy);
    UpdateControlStates(items);

    for (const auto& [control, rule] : EnablingTable()) {
      ASSERT_EQ(items.enabled.count(control), 1u) << "control " << control << " never set";
      EXPECT_EQ(items.enabled[control], rule(in)) << "control " << control << " extras " << extras;
    }
    // No other control is ever disabled.
    for (const auto& [control, enabled] : items.enabled) {
      if (EnablingTable().count(control) == 0) {
        EXPECT_TRUE(enabled) << "control " << control;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, ControlStatesLogicTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0, 1, 2),
                                            ::testing::Bool(), ::testing::Bool()));

TEST(ControlStatesLoadTest, StatesMatchTheLoadedValues) {
  config_editor_test::EnsureQtApplication();
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(
      dir.File("DbRelay.ini"),
      "[General]\r\nPriDBType=2\r\nSecDBType=3\r\nUseSecConn=1\r\nEmailOnError=1\r\nCopyFile=1\r\n");
  CDbRelayConfigDlg dialog(dir.path());
  EXPECT_FALSE(dialog.Item(id::kPriServer)->isEnabled());
  EXPECT_TRUE(dialog.Item(id::kPriOtherConnStr)->isEnabled());
  EXPECT_TRUE(dialog.Item(id::kSecLocalTextFile)->isEnabled());
  EXPECT_FALSE(dialog.Item(id::kSecTest)->isEnabled());
  EXPECT_TRUE(dialog.Item(id::kEmailTest)->isEnabled());
  EXPECT_TRUE(dialog.Item(id::kCopyFilePath)->isEnabled());
  EXPECT_FALSE(dialog.Item(id::kSignerPath)->isEnabled());
}

}  // namespace
}  // namespace config_editor
