// The settings dialog driven as a user drives it: loading fixture files, editing, Save and Close
// with their questions answered, and the bytes of the file read back.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "config_editor/config_dialog.h"
#include "config_editor/dialog_template.h"
#include "config_editor/dialog_units.h"
#include "settings/setting_codec.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using config_editor_test::Button;
using config_editor_test::Click;
using config_editor_test::Edit;
using config_editor_test::IniEntries;
using config_editor_test::MessageBoxAnswerer;
using config_editor_test::Type;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr auto kYes = QMessageBox::Yes;
constexpr auto kNo = QMessageBox::No;

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { config_editor_test::EnsureQtApplication(); }

  std::string ini() const { return dir_.File("DbRelay.ini"); }
  void WriteIni(const std::vector<std::string>& lines) const {
    std::string bytes = "[General]\r\n";
    for (const std::string& line : lines) bytes += line + "\r\n";
    WriteFileBytes(ini(), bytes);
  }
  std::unique_ptr<CDbRelayConfigDlg> Open() const {
    auto dialog = std::make_unique<CDbRelayConfigDlg>(dir_.path());
    dialog->show();
    return dialog;
  }
  // Presses Save and answers the question.
  std::vector<config_editor_test::AnsweredBox> Save(CDbRelayConfigDlg& dialog,
                                                    std::vector<QMessageBox::StandardButton> a = {
                                                        kYes}) {
    MessageBoxAnswerer answerer(std::move(a));
    Click(dialog, id::kSave);
    return answerer.answered();
  }
  Entries SavedEntries() const { return IniEntries(ReadFileBytes(ini())); }
  static std::string Value(const Entries& entries, const std::string& key) {
    for (const auto& [k, v] : entries) {
      if (k == key) return v;
    }
    return "<missing>";
  }

  TempDir dir_;
};

TEST_F(ConfigDialogTest, BuildsTheTemplate) {
  auto dialog = Open();
  const DialogTemplate& t = SettingsDialogTemplate();
  EXPECT_EQ(dialog->windowTitle(), "DB Relay Setup");
  ASSERT_EQ(t.controls.size(), 63u);
  QList<QWidget*> children = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  DialogBaseUnits units = BaseUnitsOfFont(dialog->font());
  EXPECT_EQ(dialog->size(), MapDialogSize(611, 359, units));
  int index = 0;
  std::vector<QWidget*> tab_stops;
  for (const ControlTemplate& c : t.controls) {
    SCOPED_TRACE(index);
    QWidget* w = children.value(index++);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName(), QString::number(c.id));
    QString caption = QString::fromUtf8(c.caption.data(), c.caption.size());
    QRect expected = MapDialogRect(c.rect, units);
    if (c.kind != ControlKind::kGroupBox) {
      EXPECT_EQ(w->geometry(), expected);
    }
    switch (c.kind) {
      case ControlKind::kGroupBox:
        EXPECT_TRUE(qobject_cast<QGroupBox*>(w));
        EXPECT_EQ(w->geometry().bottom(), expected.bottom());
        break;
      case ControlKind::kLabel:
        ASSERT_TRUE(qobject_cast<QLabel*>(w));
        EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), caption);
        break;
      case ControlKind::kEdit:
      case ControlKind::kPasswordEdit:
        ASSERT_TRUE(qobject_cast<QLineEdit*>(w));
        EXPECT_EQ(qobject_cast<QLineEdit*>(w)->echoMode(),
                  c.kind == ControlKind::kPasswordEdit ? QLineEdit::Password : QLineEdit::Normal);
        EXPECT_GT(qobject_cast<QLineEdit*>(w)->maxLength(), 1000000);
        tab_stops.push_back(w);
        break;
      case ControlKind::kCheckBox:
        ASSERT_TRUE(qobject_cast<QCheckBox*>(w));
        EXPECT_EQ(qobject_cast<QCheckBox*>(w)->text(), caption);
        tab_stops.push_back(w);
        break;
      case ControlKind::kRadioButton:
        ASSERT_TRUE(qobject_cast<QRadioButton*>(w));
        EXPECT_EQ(qobject_cast<QRadioButton*>(w)->text(), caption);
        // Tab reaches a radio group once, at its selected button.
        if (qobject_cast<QRadioButton*>(w)->isChecked()) tab_stops.push_back(w);
        break;
      case ControlKind::kPushButton:
      case ControlKind::kDefaultButton:
        ASSERT_TRUE(qobject_cast<QPushButton*>(w));
        EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), caption);
        EXPECT_EQ(qobject_cast<QPushButton*>(w)->isDefault(),
                  c.kind == ControlKind::kDefaultButton);
        tab_stops.push_back(w);
        break;
      case ControlKind::kIcon:
        break;
    }
  }
  // Tab moves through the controls in template order.
  for (size_t i = 0; i + 1 < tab_stops.size(); ++i) {
    QWidget* next = tab_stops[i]->nextInFocusChain();
    while (next != nullptr && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next, tab_stops[i + 1]) << tab_stops[i]->objectName().toStdString();
  }
}

TEST_F(ConfigDialogTest, RadioGroupsAreIndependent) {
  WriteIni({"UseSecConn=1"});
  auto dialog = Open();
  Click(*dialog, id::kSecLocalText);
  Click(*dialog, id::kPriOther);
  EXPECT_TRUE(Button(*dialog, id::kPriOther)->isChecked());
  EXPECT_FALSE(Button(*dialog, id::kPriSqlServer)->isChecked());
  EXPECT_TRUE(Button(*dialog, id::kSecLocalText)->isChecked());
  EXPECT_FALSE(Button(*dialog, id::kSecSqlServer)->isChecked());
  EXPECT_FALSE(Button(*dialog, id::kSecOther)->isChecked());
}

TEST_F(ConfigDialogTest, NoFileShowsTheDefaults) {
  auto dialog = Open();
  EXPECT_TRUE(Button(*dialog, id::kPriSqlServer)->isChecked());
  EXPECT_TRUE(Button(*dialog, id::kSecSqlServer)->isChecked());
  EXPECT_FALSE(Button(*dialog, id::kPriOther)->isChecked());
  for (int check : {id::kUseSecConn, id::kSecTimestamp, id::kMsgBoxOnError, id::kDetailedLog,
                    id::kRaiseError, id::kEmailOnError, id::kEmailWhenBothFail,
                    id::kDigitallySign, id::kCopyFile}) {
    EXPECT_FALSE(Button(*dialog, check)->isChecked()) << check;
  }
  for (const ControlTemplate& c : SettingsDialogTemplate().controls) {
    if (c.kind != ControlKind::kEdit && c.kind != ControlKind::kPasswordEdit) continue;
    QString expected = c.id == id::kPort ? "25" : c.id == id::kAffectedLines ? "0" : "";
    EXPECT_EQ(Edit(*dialog, c.id)->text(), expected) << c.id;
  }
  EXPECT_FALSE(testing_support::FileExists(ini()));
}

TEST_F(ConfigDialogTest, LoadsEveryKeyIntoItsControl) {
  WriteIni({"PriDBType=2", "SecDBType=3",
            "PriConnectionString=" +
                settings::EncodeSettingValue("Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;"
                                             "Database=Orders;Uid=sa;Pwd=Se;cret;"),
            "SecConnectionString=server=s2;DATABASE=d2;uid=u2;PWD=p2",  // plain, by hand
            "UseSecConn=1", "PriOtherConnStr=DSN=pri", "SecOtherConnStr=DSN=sec",
            "SecLocalTextFile=/var/spool/sql.txt", "SecLocalTextFileTimestamp=1",
            "MsgBoxOnError=1", "DetailedLog=2", "RaiseErrorIfAffectedLinesLessThen=5",
            "EmailOnError=1", "EmailSMTP=mail.example.com", "EmailPort=587",
            "EmailUserName=relay", "EmailPassword=" + settings::EncodeSettingValue("m@il pw"),
            "EmailFrom=a@example.com", "EmailTo=b@example.com", "EmailSubject=Relay failed",
            "EmailWhenBothDBFail=1", "DigitallySign=1", "PdfSignerPath=/opt/signer",
            "CopyFile=1", "CopyFilePath=/srv/copies"});
  auto dialog = Open();
  EXPECT_TRUE(Button(*dialog, id::kPriOther)->isChecked());
  EXPECT_TRUE(Button(*dialog, id::kSecLocalText)->isChecked());
  const std::vector<std::pair<int, QString>> texts = {
      {id::kPriServer, "HOST\\SQLEXPRESS"}, {id::kPriDatabase, "Orders"}, {id::kPriUser, "sa"},
      {id::kPriPassword, "Se"},  // a ";" in a password ends it
      {id::kSecServer, "s2"}, {id::kSecDatabase, "d2"}, {id::kSecUser, "u2"},
      {id::kSecPassword, "p2"}, {id::kPriOtherConnStr, "DSN=pri"},
      {id::kSecOtherConnStr, "DSN=sec"}, {id::kSecLocalTextFile, "/var/spool/sql.txt"},
      {id::kAffectedLines, "5"}, {id::kSmtp, "mail.example.com"}, {id::kPort, "587"},
      {id::kEmailUser, "relay"}, {id::kEmailPassword, "m@il pw"}, {id::kFrom, "a@example.com"},
      {id::kTo, "b@example.com"}, {id::kSubject, "Relay failed"}, {id::kSignerPath, "/opt/signer"},
      {id::kCopyFilePath, "/srv/copies"}};
  for (const auto& [control, text] : texts) EXPECT_EQ(Edit(*dialog, control)->text(), text) << control;
  for (int check : {id::kUseSecConn, id::kSecTimestamp, id::kMsgBoxOnError, id::kDetailedLog,
                    id::kRaiseError, id::kEmailOnError, id::kEmailWhenBothFail,
                    id::kDigitallySign, id::kCopyFile}) {
    EXPECT_TRUE(Button(*dialog, check)->isChecked()) << check;
  }
}

struct DbTypeCase {
  const char* pri;
  const char* sec;
  int pri_selected;
  int sec_selected;
};

class DbTypeLoadTest : public ConfigDialogTest, public ::testing::WithParamInterface<DbTypeCase> {};

TEST_P(DbTypeLoadTest, SelectsOneRadioPerGroup) {
  WriteIni({std::string("PriDBType=") + GetParam().pri, std::string("SecDBType=") + GetParam().sec});
  auto dialog = Open();
  for (int radio : {id::kPriSqlServer, id::kPriOther}) {
    EXPECT_EQ(Button(*dialog, radio)->isChecked(), radio == GetParam().pri_selected) << radio;
  }
  for (int radio : {id::kSecSqlServer, id::kSecOther, id::kSecLocalText}) {
    EXPECT_EQ(Button(*dialog, radio)->isChecked(), radio == GetParam().sec_selected) << radio;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DbTypeLoadTest,
    ::testing::Values(DbTypeCase{"1", "1", id::kPriSqlServer, id::kSecSqlServer},
                      DbTypeCase{"2", "2", id::kPriOther, id::kSecOther},
                      DbTypeCase{"0", "3", id::kPriSqlServer, id::kSecLocalText},
                      DbTypeCase{"3", "4", id::kPriSqlServer, id::kSecSqlServer},
                      DbTypeCase{"text", "-1", id::kPriSqlServer, id::kSecSqlServer},
                      DbTypeCase{"2abc", "4294967299", id::kPriOther, id::kSecLocalText}));

TEST_F(ConfigDialogTest, SaveWritesThe25KeysInOrderToANewFile) {
  auto dialog = Open();
  Type(*dialog, id::kPriServer, "HOST\\SQLEXPRESS");
  Type(*dialog, id::kPriDatabase, "Orders");
  Type(*dialog, id::kPriUser, "sa");
  Type(*dialog, id::kPriPassword, "pw");
  Click(*dialog, id::kUseSecConn);
  Click(*dialog, id::kSecOther);
  Type(*dialog, id::kSecOtherConnStr, " DSN=x ");
  Click(*dialog, id::kRaiseError);
  Type(*dialog, id::kAffectedLines, "3");
  Click(*dialog, id::kEmailOnError);
  Type(*dialog, id::kEmailPassword, "secret");
  auto boxes = Save(*dialog);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "DB Relay");
  EXPECT_EQ(boxes[0].text, "Are you sure you want to save settings?");
  EXPECT_EQ(boxes[0].buttons.size(), 2u);
  EXPECT_TRUE(dialog->isVisible());  // saving does not close

  const std::string expected =
      "[General]\r\n"
      "PriDBType=1\r\n"
      "PriConnectionString=" +
      settings::EncodeSettingValue(
          "Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database=Orders;Uid=sa;Pwd=pw;") +
      "\r\n"
      "SecDBType=2\r\n"
      "SecConnectionString=" +
      settings::EncodeSettingValue("Provider=SQLOLEDB.1;Server=;Database=;Uid=;Pwd=;") +
      "\r\n"
      "UseSecConn=1\r\n"
      "PriOtherConnStr=\r\n"
      "SecOtherConnStr= DSN=x \r\n"
      "SecLocalTextFile=\r\n"
      "SecLocalTextFileTimestamp=0\r\n"
      "MsgBoxOnError=0\r\n"
      "DetailedLog=0\r\n"
      "RaiseErrorIfAffectedLinesLessThen=3\r\n"
      "EmailOnError=1\r\n"
      "EmailSMTP=\r\n"
      "EmailPort=25\r\n"
      "EmailUserName=\r\n"
      "EmailPassword=" +
      settings::EncodeSettingValue("secret") +
      "\r\n"
      "EmailFrom=\r\n"
      "EmailTo=\r\n"
      "EmailSubject=\r\n"
      "EmailWhenBothDBFail=0\r\n"
      "DigitallySign=0\r\n"
      "PdfSignerPath=\r\n"
      "CopyFile=0\r\n"
      "CopyFilePath=\r\n";
  EXPECT_EQ(ReadFileBytes(ini()), expected);
  struct stat st;
  ASSERT_EQ(::stat(ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConfigDialogTest, AnsweringNoWritesNothing) {
  WriteIni({"EmailSMTP=old"});
  std::string before = ReadFileBytes(ini());
  auto dialog = Open();
  Type(*dialog, id::kSmtp, "new");
  EXPECT_EQ(Save(*dialog, {kNo}).size(), 1u);
  EXPECT_EQ(ReadFileBytes(ini()), before);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ConfigDialogTest, LoadThenSaveKeepsTheDecodedConnectionsAndNormalisesChecks) {
  const std::string pri = "Provider=SQLOLEDB.1;Server=db1;Database=Orders;Uid=sa;Pwd=x y;";
  const std::string sec = "Provider=SQLOLEDB.1;Server=db2;Database=Backup;Uid=bu;Pwd=;";
  WriteIni({"; kept comment", "PriConnectionString=" + settings::EncodeSettingValue(pri),
            "SecConnectionString=" + settings::EncodeSettingValue(sec), "DetailedLog=2",
            "CopyFile=-7", "EmailPassword=plain", "Unknown=kept"});
  auto dialog = Open();
  Save(*dialog);
  Entries saved = SavedEntries();
  EXPECT_EQ(settings::DecodeSettingValue(Value(saved, "PriConnectionString")), pri);
  EXPECT_EQ(settings::DecodeSettingValue(Value(saved, "SecConnectionString")), sec);
  EXPECT_EQ(Value(saved, "DetailedLog"), "1");
  EXPECT_EQ(Value(saved, "CopyFile"), "1");
  EXPECT_EQ(Value(saved, "EmailPassword"), settings::EncodeSettingValue("plain"));
  EXPECT_EQ(Value(saved, "Unknown"), "kept");
  EXPECT_NE(ReadFileBytes(ini()).find("; kept comment\r\n"), std::string::npos);
}

TEST_F(ConfigDialogTest, HandWrittenConnectionLosesItsExtraKeys) {
  WriteIni({"PriConnectionString=Provider=SQLOLEDB;Connect Timeout=5;SERVER=h;database=D;UID=u;"
            "pwd=a;b"});
  auto dialog = Open();
  Save(*dialog);
  EXPECT_EQ(settings::DecodeSettingValue(Value(SavedEntries(), "PriConnectionString")),
            "Provider=SQLOLEDB.1;Server=h;Database=D;Uid=u;Pwd=a;");
}

struct RaiseCase {
  const char* stored;
  bool ticked;
  const char* field;
  bool tick_on_save;
  const char* field_on_save;
  const char* saved;
};

class RaiseErrorTest : public ConfigDialogTest, public ::testing::WithParamInterface<RaiseCase> {};

TEST_P(RaiseErrorTest, OneKeyDrivesBoxAndField) {
  const RaiseCase& c = GetParam();
  WriteIni({std::string("RaiseErrorIfAffectedLinesLessThen=") + c.stored});
  auto dialog = Open();
  EXPECT_EQ(Button(*dialog, id::kRaiseError)->isChecked(), c.ticked);
  EXPECT_EQ(Edit(*dialog, id::kAffectedLines)->text(), c.field);
  if (Button(*dialog, id::kRaiseError)->isChecked() != c.tick_on_save) Click(*dialog, id::kRaiseError);
  Edit(*dialog, id::kAffectedLines)->setText(c.field_on_save);
  Save(*dialog);
  EXPECT_EQ(Value(SavedEntries(), "RaiseErrorIfAffectedLinesLessThen"), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, RaiseErrorTest,
                         ::testing::Values(RaiseCase{"5", true, "5", true, "5", "5"},
                                           RaiseCase{"5", true, "5", false, "9", "0"},
                                           RaiseCase{"0", false, "0", true, "", ""},
                                           RaiseCase{"", false, "", false, "", "0"},
                                           RaiseCase{"abc", false, "abc", true, "x1", "x1"}));

TEST_F(ConfigDialogTest, EnterAsksToSaveEscapeAndCloseBoxAskToExit) {
  auto dialog = Open();
  Edit(*dialog, id::kSmtp)->setEnabled(true);
  {
    MessageBoxAnswerer answerer({kNo});
    QTest::keyClick(Edit(*dialog, id::kPriServer), Qt::Key_Return);
    ASSERT_EQ(answerer.answered().size(), 1u);
    EXPECT_EQ(answerer.answered()[0].text, "Are you sure you want to save settings?");
  }
  {
    MessageBoxAnswerer answerer({kNo});
    QTest::keyClick(Edit(*dialog, id::kPriServer), Qt::Key_Escape);
    ASSERT_EQ(answerer.answered().size(), 1u);
    EXPECT_EQ(answerer.answered()[0].caption, "DB Relay");
    EXPECT_EQ(answerer.answered()[0].text, "Are you sure you want to exit?");
    EXPECT_TRUE(dialog->isVisible());
  }
  {
    MessageBoxAnswerer answerer({kNo});
    EXPECT_FALSE(dialog->close());
    EXPECT_EQ(answerer.answered().size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
  }
  Type(*dialog, id::kPriServer, "unsaved");
  {
    MessageBoxAnswerer answerer({kYes});
    Click(*dialog, id::kClose);
    EXPECT_EQ(answerer.answered().size(), 1u);
  }
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_FALSE(testing_support::FileExists(ini()));  // the edit was dropped
}

TEST_F(ConfigDialogTest, LongValuesAreCutOnLoadButSavedWhole) {
  std::string long_value(5000, 'v');
  WriteIni({"EmailSubject=" + long_value, "PriOtherConnStr=" + long_value});
  auto dialog = Open();
  EXPECT_EQ(Edit(*dialog, id::kSubject)->text().size(), 4095);
  Edit(*dialog, id::kCopyFilePath)->setText(QString::fromStdString(long_value));
  Save(*dialog);
  Entries saved = SavedEntries();
  EXPECT_EQ(Value(saved, "EmailSubject"), std::string(4095, 'v'));
  EXPECT_EQ(Value(saved, "CopyFilePath"), long_value);
}

TEST_F(ConfigDialogTest, JunkFileLoadsWithoutHarmAndSaveKeepsItsLines) {
  std::string junk = "\x01\x02garbage\xff\xfe\r\n[General\r\n=novalue\r\n"
                     "[General]\r\nPriDBType=junk\r\nEmailPort\r\n" +
                     std::string(3000, '\0') + "\r\nEmailTo=\"x\"\r\n";
  WriteFileBytes(ini(), junk);
  auto dialog = Open();
  EXPECT_TRUE(Button(*dialog, id::kPriSqlServer)->isChecked());
  EXPECT_EQ(Edit(*dialog, id::kPort)->text(), "25");
  EXPECT_EQ(Save(*dialog, {kYes, QMessageBox::Ok}).size(), 1u);  // no failure message
  Entries saved = SavedEntries();
  EXPECT_NE(ReadFileBytes(ini()).find("\x01\x02garbage\xff\xfe\r\n"), std::string::npos);
  EXPECT_EQ(Value(saved, "PriDBType"), "1");
  EXPECT_EQ(Value(saved, "CopyFilePath"), "");
}

class UnwritableFileTest : public ConfigDialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnwritableFileTest, SaveIsRefusedVisiblyAndTheFileStaysAsItWas) {
  WriteIni({"EmailSMTP=old"});
  std::string before = ReadFileBytes(ini());
  auto dialog = Open();
  ASSERT_EQ(::chmod(ini().c_str(), GetParam()), 0);
  Type(*dialog, id::kSmtp, "new");
  auto boxes = Save(*dialog, {kYes, QMessageBox::Ok});
  ::chmod(ini().c_str(), 0600);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].caption, "DB Relay");
  EXPECT_TRUE(boxes[1].text.contains("not saved")) << boxes[1].text.toStdString();
  EXPECT_TRUE(boxes[1].text.contains(QString::fromStdString(ini())));
  EXPECT_EQ(ReadFileBytes(ini()), before);
}

INSTANTIATE_TEST_SUITE_P(Modes, UnwritableFileTest, ::testing::Values(0444, 0000, 0200));

TEST_F(ConfigDialogTest, AFailedReplacementSaysSoNamingTheFileAndTheReason) {
  // The folder cannot take the temporary file: every write fails.
  std::string sub = dir_.File("ro");
  ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
  auto dialog = std::make_unique<CDbRelayConfigDlg>(sub);
  dialog->show();
  ASSERT_EQ(::mkdir((sub + "/DbRelay.ini").c_str(), 0755), 0);  // a folder in the file's place
  auto boxes = Save(*dialog, {kYes, QMessageBox::Ok});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_TRUE(boxes[1].text.contains("not saved")) << boxes[1].text.toStdString();
  EXPECT_TRUE(boxes[1].text.contains(QString::fromStdString(sub + "/DbRelay.ini")));
  EXPECT_TRUE(boxes[1].text.contains(QString::fromLocal8Bit(std::strerror(EISDIR))));
}

}  // namespace
}  // namespace config_editor

namespace config_editor {
namespace {

// A scan across the seam of two group boxes, in dialog units: from (x0, y0) to (x1, y1), along one
// axis, where nothing but the boxes' frames is drawn.
struct SeamCase {
  const char* name;
  int x0, y0, x1, y1;
};

class GroupBoxSeamTest : public ConfigDialogTest, public ::testing::WithParamInterface<SeamCase> {};

// The lines a scan crosses: runs of pixels that differ from the dialog's background.
std::vector<int> LineWidthsAlong(const QImage& image, QPoint from, QPoint to) {
  const QColor background = image.pixelColor(from);
  std::vector<int> widths;
  bool in_line = false;
  const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
  for (int i = 0; i <= steps; ++i) {
    QPoint p(from.x() + (to.x() - from.x()) * i / steps, from.y() + (to.y() - from.y()) * i / steps);
    QColor c = image.pixelColor(p);
    bool line = std::abs(c.lightness() - background.lightness()) > 12;
    if (line && !in_line) widths.push_back(0);
    if (line) ++widths.back();
    in_line = line;
  }
  return widths;
}

TEST_P(GroupBoxSeamTest, WhereTwoGroupBoxesMeetOneLineShows) {
  auto dialog = Open();
  const QImage image = dialog->grab().toImage();
  const DialogBaseUnits units = BaseUnitsOfFont(dialog->font());
  const SeamCase& c = GetParam();
  QRect from = MapDialogRect({c.x0, c.y0, 1, 1}, units);
  QRect to = MapDialogRect({c.x1, c.y1, 1, 1}, units);
  std::vector<int> widths = LineWidthsAlong(image, from.topLeft(), to.topLeft());
  EXPECT_EQ(widths, std::vector<int>{1});
}

INSTANTIATE_TEST_SUITE_P(
    Seams, GroupBoxSeamTest,
    ::testing::Values(SeamCase{"primary_over_secondary", 200, 140, 200, 162},
                      SeamCase{"primary_beside_errors", 299, 142, 314, 142},
                      SeamCase{"email_over_signing", 500, 200, 500, 213},
                      SeamCase{"secondary_beside_signing", 299, 262, 314, 262}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace config_editor
