// The settings dialog keeps every byte it was not asked to change and saves all or nothing:
// Windows-1252 files loaded and saved untouched, typed text stored in the locale's encoding, values
// a settings line cannot hold refused before anything is written, and one replacement per save.

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "config_editor/config_dialog.h"
#include "config_editor/dialog_template.h"
#include "settings/setting_codec.h"
#include "tests/config_editor/qt_test_support.h"
#include "tests/support/relay_sandbox.h"

namespace config_editor {
namespace {

using config_editor_test::Click;
using config_editor_test::Edit;
using config_editor_test::MessageBoxAnswerer;
using config_editor_test::ScopedLocale;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// A file exactly as the editor writes it, holding Windows-1252 text in plain values, in the
// scrambled mail password and in both kinds of connection string; 0x81 and 0x8D have no meaning in
// Windows-1252 either, so SecOtherConnStr cannot be shown faithfully in any locale.
std::string WindowsFile() {
  using settings::EncodeSettingValue;
  return "; written on Windows\r\nUnknownKey=\xE9t\xE9\r\n[General]\r\n"
         "PriDBType=1\r\n"
         "PriConnectionString=" +
         EncodeSettingValue("Provider=SQLOLEDB.1;Server=H\xD6ST\\SQL;Database=Caf\xE9;"
                            "Uid=J\xFCrgen;Pwd=p\xE4\x81ss;") +
         "\r\n"
         "SecDBType=2\r\n"
         "SecConnectionString=" +
         EncodeSettingValue("Provider=SQLOLEDB.1;Server=;Database=;Uid=;Pwd=;") +
         "\r\n"
         "UseSecConn=1\r\n"
         "PriOtherConnStr=Driver={x};Pwd=\xA7\r\n"
         "SecOtherConnStr=DSN=\x80\x81\x8D\r\n"
         "SecLocalTextFile=/var/spool/d\xE9p\xF4t.sql\r\n"
         "SecLocalTextFileTimestamp=0\r\nMsgBoxOnError=0\r\nDetailedLog=1\r\n"
         "RaiseErrorIfAffectedLinesLessThen=0\r\nEmailOnError=1\r\n"
         "EmailSMTP=mail.example.com\r\nEmailPort=25\r\nEmailUserName=ren\xE9\r\n"
         "EmailPassword=" +
         EncodeSettingValue("P\xE4\xDFw\xF6rt\x80") +
         "\r\n"
         "EmailFrom=a@example.com\r\nEmailTo=b@example.com\r\n"
         "EmailSubject=Caf\xE9 \x93quoted\x94 \x85\r\n"
         "EmailWhenBothDBFail=0\r\nDigitallySign=0\r\nPdfSignerPath=/opt/\xE9\r\n"
         "CopyFile=0\r\nCopyFilePath=\r\n";
}

class SettingsBytesTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    config_editor_test::EnsureQtApplication();
    locale_ = std::make_unique<ScopedLocale>(GetParam());
    if (!locale_->ok()) GTEST_SKIP() << "locale " << GetParam() << " cannot be made here";
  }
  std::string ini() const { return dir_.File("DbRelay.ini"); }
  std::unique_ptr<CDbRelayConfigDlg> Open() const {
    auto dialog = std::make_unique<CDbRelayConfigDlg>(dir_.path());
    dialog->show();
    return dialog;
  }
  std::vector<config_editor_test::AnsweredBox> Save(CDbRelayConfigDlg& dialog) {
    MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
    Click(dialog, id::kSave);
    return answerer.answered();
  }

  TempDir dir_;
  std::unique_ptr<ScopedLocale> locale_;
};

TEST_P(SettingsBytesTest, LoadAndSaveKeepEveryByte) {
  WriteFileBytes(ini(), WindowsFile());
  auto dialog = Open();
  if (std::string(GetParam()) == "C.UTF-8") {
    // Bytes that are not UTF-8 are shown as the Windows-1252 text they are.
    EXPECT_EQ(Edit(*dialog, id::kSubject)->text(), QString::fromUtf8("Café “quoted” …"));
    EXPECT_EQ(Edit(*dialog, id::kEmailPassword)->text(), QString::fromUtf8("Päßwört€"));
    EXPECT_EQ(Edit(*dialog, id::kPriUser)->text(), QString::fromUtf8("Jürgen"));
  } else {
    EXPECT_EQ(Edit(*dialog, id::kSubject)->text().left(5), QString::fromUtf8("Café "));
  }
  EXPECT_EQ(Save(*dialog).size(), 1u);  // the question only: no failure
  EXPECT_EQ(ReadFileBytes(ini()), WindowsFile());
}

TEST_P(SettingsBytesTest, ATypedValueIsStoredInTheLocaleEncodingAndTheRestStaysAsItWas) {
  WriteFileBytes(ini(), WindowsFile());
  auto dialog = Open();
  config_editor_test::Type(*dialog, id::kSubject, QString::fromUtf8("Grüße"));
  config_editor_test::Type(*dialog, id::kPriPassword, QString::fromUtf8("ä"));
  EXPECT_EQ(Save(*dialog).size(), 1u);
  const bool utf8 = std::string(GetParam()) == "C.UTF-8";
  std::string expected = WindowsFile();
  const std::string old_subject = "Caf\xE9 \x93quoted\x94 \x85";
  expected.replace(expected.find(old_subject), old_subject.size(),
                   utf8 ? "Gr\xC3\xBC\xC3\x9F" "e" : "Gr\xFC\xDF" "e");
  const std::string old_pri = settings::EncodeSettingValue(
      "Provider=SQLOLEDB.1;Server=H\xD6ST\\SQL;Database=Caf\xE9;Uid=J\xFCrgen;Pwd=p\xE4\x81ss;");
  expected.replace(expected.find(old_pri), old_pri.size(),
                   settings::EncodeSettingValue(
                       std::string("Provider=SQLOLEDB.1;Server=H\xD6ST\\SQL;Database=Caf\xE9;"
                                   "Uid=J\xFCrgen;Pwd=") +
                       (utf8 ? "\xC3\xA4" : "\xE4") + ";"));
  EXPECT_EQ(ReadFileBytes(ini()), expected);
}

INSTANTIATE_TEST_SUITE_P(Locales, SettingsBytesTest,
                         ::testing::Values("C.UTF-8", "de_DE.ISO-8859-1"),
                         [](const auto& info) {
                           return std::string(info.param).substr(0, 5) == "C.UTF" ? "utf8"
                                                                                  : "latin1";
                         });

struct RefusalCase {
  const char* name;
  const char* locale;
  int control;
  const char* pasted;  // UTF-8
  const char* field;   // as the message names it
  const char* reason;
};

class SaveRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_P(SaveRefusalTest, NamesTheFieldAndWritesNothing) {
  const RefusalCase& c = GetParam();
  config_editor_test::EnsureQtApplication();
  ScopedLocale locale(c.locale);
  if (!locale.ok()) GTEST_SKIP() << "locale " << c.locale << " cannot be made here";
  TempDir dir;
  WriteFileBytes(dir.File("DbRelay.ini"), WindowsFile());
  ino_t before = InodeOf(dir.File("DbRelay.ini"));
  CDbRelayConfigDlg dialog(dir.path());
  dialog.show();
  if (c.control == id::kAffectedLines) Click(dialog, id::kRaiseError);
  QLineEdit* edit = Edit(dialog, c.control);
  edit->setEnabled(true);
  QGuiApplication::clipboard()->setText(QString::fromUtf8(c.pasted));
  edit->setFocus();
  edit->selectAll();
  edit->paste();
  ASSERT_EQ(edit->text(), QString::fromUtf8(c.pasted));  // the field holds what was pasted
  MessageBoxAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
  Click(dialog, id::kSave);
  ASSERT_EQ(answerer.answered().size(), 2u);
  const QString text = answerer.answered()[1].text;
  EXPECT_EQ(answerer.answered()[1].caption, "DB Relay");
  EXPECT_TRUE(text.contains(QString::fromUtf8(c.field))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason))) << text.toStdString();
  EXPECT_TRUE(text.contains("Nothing was written")) << text.toStdString();
  EXPECT_EQ(ReadFileBytes(dir.File("DbRelay.ini")), WindowsFile());
  EXPECT_EQ(InodeOf(dir.File("DbRelay.ini")), before);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SaveRefusalTest,
    ::testing::Values(
        RefusalCase{"line_feed_in_subject", "C.UTF-8", id::kSubject, "Relay\nfailed",
                    "\"Email Subject:\" in Email on Error", "line break"},
        RefusalCase{"carriage_return_in_other_string", "C.UTF-8", id::kPriOtherConnStr,
                    "DSN=a\rDSN=b", "\"Other Connection String:\" in Primary Connection",
                    "line break"},
        RefusalCase{"line_break_in_affected_lines", "C.UTF-8", id::kAffectedLines, "1\r\n2",
                    "\"Raise an error in case less then:\" in Error Reporting", "line break"},
        RefusalCase{"euro_in_latin1_mail_password", "de_DE.ISO-8859-1", id::kEmailPassword,
                    "€uro", "\"Password:\" in Email on Error", "ISO-8859-1"},
        RefusalCase{"kanji_in_latin1_secondary_server", "de_DE.ISO-8859-1", id::kSecServer,
                    "日本", "\"Server and Instance:\" in Secondary Connection", "ISO-8859-1"}),
    [](const auto& info) { return std::string(info.param.name); });

// Counts what happens to the folder's entries while a save runs, as the kernel reports it.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& folder) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_MODIFY);
  }
  ~FolderWatch() { ::close(fd_); }
  // Events of each kind so far: {created, moved in, modified in place}.
  std::array<int, 3> Drain(const std::string& name, int* moved_to_name) {
    std::array<int, 3> counts{};
    alignas(inotify_event) char buffer[8192];
    ssize_t n;
    while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* p = buffer; p < buffer + n;) {
        auto* event = reinterpret_cast<inotify_event*>(p);
        if (event->mask & IN_CREATE) ++counts[0];
        if (event->mask & IN_MOVED_TO) {
          ++counts[1];
          if (event->len > 0 && name == event->name) ++*moved_to_name;
        }
        if (event->mask & IN_MODIFY) ++counts[2];
        p += sizeof(inotify_event) + event->len;
      }
    }
    return counts;
  }

 private:
  int fd_ = -1;
};

TEST(SaveOnceTest, ASaveReplacesTheFileOnceAndNeverWritesItInPlace) {
  config_editor_test::EnsureQtApplication();
  TempDir dir;
  WriteFileBytes(dir.File("DbRelay.ini"), WindowsFile());
  ino_t before = InodeOf(dir.File("DbRelay.ini"));
  CDbRelayConfigDlg dialog(dir.path());
  dialog.show();
  config_editor_test::Type(dialog, id::kSmtp, "smtp.example.org");
  FolderWatch watch(dir.path());
  {
    MessageBoxAnswerer answerer({QMessageBox::Yes});
    Click(dialog, id::kSave);
  }
  int replaced = 0;
  std::array<int, 3> counts = watch.Drain("DbRelay.ini", &replaced);
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(counts[0], 1);  // one temporary file
  EXPECT_EQ(counts[1], 1);  // renamed over the settings file once
  EXPECT_NE(InodeOf(dir.File("DbRelay.ini")), before);
  EXPECT_NE(ReadFileBytes(dir.File("DbRelay.ini")).find("\r\nEmailSMTP=smtp.example.org\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace config_editor
