#include "config_editor/about_dialog.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

#include "config_editor/config_dialog.h"
#include "config_editor/dialog_template.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

QString VersionLabel(QWidget* about) {
  auto* label = about->findChild<QLabel*>(QString::number(id::kAboutVersion));
  return label == nullptr ? QString("<no label>") : label->text();
}

TEST(AboutDialogTest, ShowsTheVersionOfTheEditorFile) {
  config_editor_test::EnsureQtApplication();
  CAboutDlg about(nullptr, testing_support::BinDir() + "/DbRelayConfig");
  EXPECT_EQ(about.windowTitle(), "About DB Relay Setup");
  EXPECT_EQ(VersionLabel(&about), "Version: 1.1.1.0");
  EXPECT_NE(about.findChild<QLabel*>("-1"), nullptr);
}

TEST(AboutDialogTest, AFileWithoutVersionShowsAnEmptyVersion) {
  config_editor_test::EnsureQtApplication();
  CAboutDlg about(nullptr, "/bin/true");
  EXPECT_EQ(VersionLabel(&about), "Version: ");
}

TEST(AboutDialogTest, TheButtonAndTheMenuEntryOpenIt) {
  config_editor_test::EnsureQtApplication();
  testing_support::TempDir dir;
  CDbRelayConfigDlg dialog(dir.path());
  dialog.show();
  int opened = 0;
  auto expect_about = [&opened](QWidget* modal) {
    ++opened;
    EXPECT_EQ(modal->windowTitle(), "About DB Relay Setup");
    // In-process the running executable is the test binary, which carries no version record.
    EXPECT_EQ(VersionLabel(modal), "Version: ");
  };
  config_editor_test::OnNextModalWidget(expect_about);
  config_editor_test::Click(dialog, id::kAbout);
  EXPECT_EQ(opened, 1);

  QAction* entry = dialog.findChild<QAction*>("AboutMenuEntry");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->text(), "&About DbRelayConfig...");
  EXPECT_EQ(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
  config_editor_test::OnNextModalWidget(expect_about);
  entry->trigger();
  EXPECT_EQ(opened, 2);
  EXPECT_FALSE(dialog.windowIcon().isNull());
}

}  // namespace
}  // namespace config_editor
