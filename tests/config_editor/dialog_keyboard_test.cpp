// The settings dialog from the keyboard and through the accessibility interface: where the first
// focus lands, where Tab and the arrow keys go, how the About menu opens without a mouse, and what
// a screen reader is told about every control.

#include <QAccessible>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <set>

#include "config_editor/config_dialog.h"
#include "config_editor/dialog_template.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using config_editor_test::Button;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class DialogKeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override { config_editor_test::EnsureQtApplication(); }
  std::unique_ptr<CDbRelayConfigDlg> Open(const std::vector<std::string>& lines) {
    std::string bytes = "[General]\r\n";
    for (const std::string& line : lines) bytes += line + "\r\n";
    WriteFileBytes(dir_.File("DbRelay.ini"), bytes);
    auto dialog = std::make_unique<CDbRelayConfigDlg>(dir_.path());
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }
  static int FocusId(CDbRelayConfigDlg& dialog) {
    QWidget* focus = dialog.focusWidget();
    return focus == nullptr ? 0 : focus->objectName().toInt();
  }
  TempDir dir_;
};

struct FocusCase {
  const char* name;
  std::vector<std::string> file;
  std::vector<int> order;  // the first focus, then one control per Tab, back to the start
};

class FocusOrderTest : public DialogKeyboardTest, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusOrderTest, TabVisitsEachRadioGroupOnceAtItsSelectedButton) {
  auto dialog = Open(GetParam().file);
  const std::vector<int>& order = GetParam().order;
  EXPECT_EQ(FocusId(*dialog), order.front());
  for (size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(FocusId(*dialog), order[i]) << "after Tab " << i;
  }
  // Shift+Tab goes the same way back.
  for (size_t i = order.size() - 1; i-- > 0;) {
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(FocusId(*dialog), order[i]) << "after Shift+Tab back to step " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FocusOrderTest,
    ::testing::Values(
        FocusCase{"defaults",
                  {},
                  {1003, 1004, 1007, 1005, 1020, 1031, 1011, 1028, 1034, 1014, 1037, 1038, 1021,
                   1, 2, 1044, 1003}},
        FocusCase{"everything_enabled",
                  {"PriDBType=2", "SecDBType=2", "UseSecConn=1", "EmailOnError=1",
                   "RaiseErrorIfAffectedLinesLessThen=5", "DigitallySign=1", "CopyFile=1"},
                  {1006, 1020, 1031, 1051, 1013, 1022, 1011, 1028, 1034, 1035, 1014, 1019, 1024,
                   1026, 1027, 1025, 1023, 1029, 1033, 1030, 1037, 1043, 1038, 1061, 1021, 1, 2,
                   1045, 1006}},
        FocusCase{"local_text_file",
                  {"SecDBType=3", "UseSecConn=1"},
                  {1003, 1004, 1007, 1005, 1020, 1031, 1059, 1032, 1036, 1011, 1028, 1034, 1014,
                   1037, 1038, 1021, 1, 2, 1044, 1003}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogKeyboardTest, ASpaceRightAfterOpeningLeavesTheConnectionTypeAlone) {
  auto dialog = Open({});
  QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
  EXPECT_TRUE(Button(*dialog, id::kPriSqlServer)->isChecked());
  EXPECT_FALSE(Button(*dialog, id::kPriOther)->isChecked());
}

struct ArrowCase {
  int from;
  Qt::Key key;
  int to;
};

class RadioArrowTest : public DialogKeyboardTest, public ::testing::WithParamInterface<ArrowCase> {};

TEST_P(RadioArrowTest, ArrowsMoveTheSelectionWithinTheGroupAndWrap) {
  auto dialog = Open({"UseSecConn=1"});
  Button(*dialog, GetParam().from)->click();
  Button(*dialog, GetParam().from)->setFocus();
  QTest::keyClick(Button(*dialog, GetParam().from), GetParam().key);
  EXPECT_EQ(FocusId(*dialog), GetParam().to);
  EXPECT_TRUE(Button(*dialog, GetParam().to)->isChecked());
  EXPECT_FALSE(Button(*dialog, GetParam().from)->isChecked());
  // The enabled states follow the new choice, as after a click.
  EXPECT_EQ(dialog->Item(id::kPriOtherConnStr)->isEnabled(),
            Button(*dialog, id::kPriOther)->isChecked());
  // And Tab now stops at the newly selected button.
  EXPECT_TRUE(Button(*dialog, GetParam().to)->focusPolicy() & Qt::TabFocus);
  EXPECT_FALSE(Button(*dialog, GetParam().from)->focusPolicy() & Qt::TabFocus);
}

INSTANTIATE_TEST_SUITE_P(Keys, RadioArrowTest,
                         ::testing::Values(ArrowCase{id::kPriSqlServer, Qt::Key_Down, id::kPriOther},
                                           ArrowCase{id::kPriOther, Qt::Key_Down, id::kPriSqlServer},
                                           ArrowCase{id::kPriSqlServer, Qt::Key_Up, id::kPriOther},
                                           ArrowCase{id::kSecSqlServer, Qt::Key_Right, id::kSecOther},
                                           ArrowCase{id::kSecOther, Qt::Key_Down, id::kSecLocalText},
                                           ArrowCase{id::kSecLocalText, Qt::Key_Right,
                                                     id::kSecSqlServer},
                                           ArrowCase{id::kSecSqlServer, Qt::Key_Left,
                                                     id::kSecLocalText}));

enum class MenuTrigger { kShiftF10, kMenuKey, kRightClick };

class AboutMenuKeyTest : public DialogKeyboardTest,
                         public ::testing::WithParamInterface<MenuTrigger> {};

TEST_P(AboutMenuKeyTest, OpensTheMenuWithTheAboutEntry) {
  auto dialog = Open({});
  QStringList entries;
  int about_opened = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr || !entries.isEmpty()) return;
    for (QAction* action : menu->actions()) entries << action->text();
    config_editor_test::OnNextModalWidget([&](QWidget* about) {
      ++about_opened;
      EXPECT_EQ(about->windowTitle(), "About DB Relay Setup");
    });
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  poll.start(10);
  QWidget* focus = dialog->focusWidget();  // an edit: the menu opens all the same
  switch (GetParam()) {
    case MenuTrigger::kShiftF10:
      QTest::keyClick(focus, Qt::Key_F10, Qt::ShiftModifier);
      break;
    case MenuTrigger::kMenuKey:
      QTest::keyClick(focus, Qt::Key_Menu);
      break;
    case MenuTrigger::kRightClick: {
      // What the window system hands a widget for a right click: on a label, passed on to the
      // dialog.
      QWidget* label = dialog->Item(id::kPriUserLabel);
      QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
      QApplication::sendEvent(label, &event);
      break;
    }
  }
  for (int i = 0; i < 500 && about_opened == 0; ++i) QTest::qWait(10);
  EXPECT_EQ(about_opened, 1);
  EXPECT_EQ(entries, QStringList{"&About DbRelayConfig..."});
}

INSTANTIATE_TEST_SUITE_P(Triggers, AboutMenuKeyTest,
                         ::testing::Values(MenuTrigger::kShiftF10, MenuTrigger::kMenuKey,
                                           MenuTrigger::kRightClick));

QString AccessibleText(QWidget* widget, QAccessible::Text which) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
  return iface == nullptr ? QString() : iface->text(which);
}

TEST_F(DialogKeyboardTest, EveryControlSaysWhatItIsAndWhereItBelongs) {
  auto dialog = Open({});
  QList<QWidget*> children = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  const auto& controls = SettingsDialogTemplate().controls;
  // A label, or a choice, and the field it names may share a name: a screen reader tells their
  // roles apart. Two controls of one role may not.
  std::set<std::pair<QString, int>> focusable_names;
  for (size_t i = 0; i < controls.size(); ++i) {
    SCOPED_TRACE(i);
    QWidget* w = children.value(static_cast<qsizetype>(i));
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(AccessibleText(w, QAccessible::Name).isEmpty());
    EXPECT_FALSE(AccessibleText(w, QAccessible::Description).isEmpty());
    if (w->focusPolicy() != Qt::NoFocus) {
      QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
      int role = iface == nullptr ? -1 : static_cast<int>(iface->role());
      EXPECT_TRUE(focusable_names.insert({AccessibleText(w, QAccessible::Name), role}).second)
          << "two controls share the name " << AccessibleText(w, QAccessible::Name).toStdString();
    }
  }
  const std::vector<std::pair<int, QString>> expected = {
      {id::kPriUser, "User Name, Primary Connection"},
      {id::kSecUser, "User Name, Secondary Connection"},
      {id::kEmailUser, "User Name, Email on Error"},
      {id::kPriPassword, "Password, Primary Connection"},
      {id::kSecPassword, "Password, Secondary Connection"},
      {id::kEmailPassword, "Password, Email on Error"},
      {id::kPriTest, "Test, Primary Connection"},
      {id::kSecTest, "Test, Secondary Connection"},
      {id::kEmailTest, "Test, Email on Error"},
      {id::kPriOtherConnStr, "Other Connection String, Primary Connection"},
      {id::kSecOtherConnStr, "Other Connection String, Secondary Connection"},
      {id::kSecLocalTextFile, "Local Text File with SQL commands, Secondary Connection"},
      {id::kAffectedLines, "Raise an error in case less then, Error Reporting"},
      {id::kCopyFilePath, "Duplicate File to another Folder, File Copy"},
      {id::kSignerPath, "PDF Signer Path, Digital Signing"},
      {id::kUseSecConn, "Secondary Connection"},
      {id::kSave, "Save"}};
  for (const auto& [control, name] : expected) {
    EXPECT_EQ(AccessibleText(dialog->Item(control), QAccessible::Name), name) << control;
  }
}

}  // namespace
}  // namespace config_editor
