// The Test buttons against a stand-in DbRelay in the editor's folder, and against the real one.

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWindow>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

#include "config_editor/config_dialog.h"
#include "config_editor/dialog_template.h"
#include "config_editor/test_output_window.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using config_editor_test::Click;
using config_editor_test::MessageBoxAnswerer;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class TestLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_editor_test::EnsureQtApplication();
    // Every group enabled, so each Test button can be clicked.
    WriteFileBytes(dir_.File("DbRelay.ini"),
                   "[General]\r\nUseSecConn=1\r\nEmailOnError=1\r\nEmailSMTP=saved\r\n");
  }
  void WriteStandIn(const std::string& body, unsigned mode = 0755) {
    WriteFileBytes(dir_.File("DbRelay"), "#!/bin/sh\n" + body);
    ::chmod(dir_.File("DbRelay").c_str(), mode);
  }
  std::unique_ptr<CDbRelayConfigDlg> Open() {
    auto dialog = std::make_unique<CDbRelayConfigDlg>(dir_.path());
    dialog->show();
    return dialog;
  }
  static QString Output(CDbRelayConfigDlg& dialog) {
    auto* window = dialog.findChild<CTestOutputWindow*>("DbRelayTestOutput");
    return window == nullptr ? QString("<no window>") : window->Output();
  }

  TempDir dir_;
};

struct ButtonCase {
  int button;
  const char* word;
};

class TestButtonTest : public TestLaunchTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(TestButtonTest, StartsDbRelayFromTheEditorFolderWithTheTestWord) {
  WriteStandIn(
      "d=$(dirname \"$0\")\n"
      "printf '%s\\n' \"$0\" \"$@\" > \"$d/argv.txt\"\n"
      "pwd > \"$d/cwd.txt\"\n"
      "echo \"stand-in ran $1\"\n"
      "grep EmailSMTP \"$d/DbRelay.ini\" 1>&2\n");
  auto dialog = Open();
  config_editor_test::Type(*dialog, id::kSmtp, "unsaved");  // a test uses the file, not the screen
  Click(*dialog, GetParam().button);
  EXPECT_EQ(ReadFileBytes(dir_.File("argv.txt")),
            dir_.File("DbRelay") + "\n" + GetParam().word + "\n");
  EXPECT_EQ(ReadFileBytes(dir_.File("cwd.txt")), std::filesystem::current_path().string() + "\n");
  QString output = Output(*dialog);
  EXPECT_TRUE(output.contains(QString("stand-in ran ") + GetParam().word)) << output.toStdString();
  EXPECT_TRUE(output.contains("EmailSMTP=saved")) << output.toStdString();
  auto* window = dialog->findChild<CTestOutputWindow*>("DbRelayTestOutput");
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->findChild<QPlainTextEdit*>("output")->isReadOnly());
  EXPECT_TRUE(dialog->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Buttons, TestButtonTest,
                         ::testing::Values(ButtonCase{id::kPriTest, "PriTest"},
                                           ButtonCase{id::kSecTest, "SecTest"},
                                           ButtonCase{id::kEmailTest, "EmailTest"}));

struct EndCase {
  const char* name;
  const char* body;       // of the stand-in script
  const char* last_line;  // of the output window
};

class TestEndTest : public TestLaunchTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(TestEndTest, TheOutputEndsWithALineGivingTheExitStatus) {
  WriteStandIn(GetParam().body);
  auto dialog = Open();
  Click(*dialog, id::kSecTest);
  QString output = Output(*dialog);
  EXPECT_TRUE(output.endsWith(QString("\n") + GetParam().last_line + "\n") ||
              output == QString(GetParam().last_line) + "\n")
      << output.toStdString();
  auto* window = dialog->findChild<CTestOutputWindow*>("DbRelayTestOutput");
  EXPECT_TRUE(window->windowTitle().endsWith(" (ended)"));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, TestEndTest,
    ::testing::Values(
        EndCase{"success", "echo connected\n", "DbRelay ended with exit status 0."},
        EndCase{"failure", "echo failed\nexit 255\n", "DbRelay ended with exit status 255."},
        EndCase{"no_line_end", "printf 'no line end'\nexit 3\n",
                "DbRelay ended with exit status 3."},
        EndCase{"silent", "exit 0\n", "DbRelay ended with exit status 0."},
        EndCase{"signal", "kill -9 $$\n", "DbRelay was ended by signal 9 (Killed)."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TestLaunchTest, TheOutputWindowIsTransientForTheDialogAndWrapsLongLines) {
  const std::string long_line(600, 'x');
  WriteStandIn("echo " + long_line + "\n");
  auto dialog = Open();
  Click(*dialog, id::kPriTest);
  auto* window = dialog->findChild<CTestOutputWindow*>("DbRelayTestOutput");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowType(), Qt::Dialog);
  ASSERT_NE(window->windowHandle(), nullptr);
  EXPECT_EQ(window->windowHandle()->transientParent(), dialog->windowHandle());
  EXPECT_FALSE(window->isModal());
  auto* text = window->findChild<QPlainTextEdit*>("output");
  EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  // The long line takes several lines of the window instead of running off its edge.
  EXPECT_GT(text->document()->documentLayout()->documentSize().height(), 3);
  EXPECT_EQ(text->horizontalScrollBar()->maximum(), 0);
}

class UnstartableTest : public TestLaunchTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnstartableTest, TheUserIsToldThePathAndTheReasonAndTheEditorStaysUsable) {
  int expected_errno = ENOENT;
  if (GetParam() == 1) {
    WriteStandIn("echo never\n", 0644);  // present but not executable
    expected_errno = EACCES;
  }
  if (GetParam() == 2) {
    ::mkdir(dir_.File("DbRelay").c_str(), 0755);
    expected_errno = EACCES;
  }
  auto dialog = Open();
  {
    MessageBoxAnswerer answerer({QMessageBox::Ok});
    Click(*dialog, id::kPriTest);
    ASSERT_EQ(answerer.answered().size(), 1u);
    const QString text = answerer.answered()[0].text;
    EXPECT_EQ(answerer.answered()[0].caption, "DB Relay");
    EXPECT_TRUE(text.contains(QString::fromStdString("\"" + dir_.File("DbRelay") + "\"")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(expected_errno))))
        << text.toStdString();
  }
  EXPECT_EQ(dialog->findChild<CTestOutputWindow*>("DbRelayTestOutput"), nullptr);
  MessageBoxAnswerer answerer({QMessageBox::No});
  Click(*dialog, id::kSave);
  EXPECT_EQ(answerer.answered().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnstartableTest, ::testing::Values(0, 1, 2));

TEST_F(TestLaunchTest, WaitsWithoutTimeOutTakingNoInputButPainting) {
  WriteStandIn("echo $$ > \"$(dirname \"$0\")/pid\"\necho started\nexec sleep 600\n");
  auto dialog = Open();
  bool checked = false;
  int boxes_seen = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) ++boxes_seen;
    if (checked || !Output(*dialog).contains("started")) return;
    checked = true;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);  // the editor looks busy
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // Input to the dialog is swallowed while the child runs: no save question, no exit.
    Click(*dialog, id::kSave);
    QTest::keyClick(dialog->Item(id::kPriServer), Qt::Key_Escape);
    QTest::keyClicks(dialog->Item(id::kPriServer), "typed");
    EXPECT_FALSE(dialog->close());
    EXPECT_FALSE(dialog->grab().isNull());  // it still paints
    std::string pid = ReadFileBytes(dir_.File("pid"));
    QTimer::singleShot(300, [pid] { ::kill(std::stoi(pid), SIGKILL); });
  });
  probe.start(20);
  auto start = std::chrono::steady_clock::now();
  Click(*dialog, id::kPriTest);
  probe.stop();
  EXPECT_TRUE(checked);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(boxes_seen, 0);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(config_editor_test::Edit(*dialog, id::kPriServer)->text(), "");
}

TEST_F(TestLaunchTest, TheRealDbRelayReadsTheFileTheEditorWrote) {
  testing_support::DeployRelay(dir_.path());
  ::chmod(dir_.File("DbRelay").c_str(), 0755);
  setenv("DBRELAY_REPORT_PAUSE_MS", "0", 1);
  unsetenv("DISPLAY");
  auto dialog = Open();
  Click(*dialog, id::kDetailedLog);
  {
    MessageBoxAnswerer answerer({QMessageBox::Yes});
    Click(*dialog, id::kSave);
  }
  Click(*dialog, id::kPriTest);
  unsetenv("DBRELAY_REPORT_PAUSE_MS");
  QString output = Output(*dialog);
  EXPECT_TRUE(output.startsWith(QString::fromStdString(dir_.File("DbRelay") + " PriTest")))
      << output.toStdString();
}

}  // namespace
}  // namespace config_editor
