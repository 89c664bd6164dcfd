#pragma once
// Helpers for driving the real editor dialogs in-process on the offscreen Qt platform.

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config_editor/config_dialog.h"

namespace config_editor_test {

// The one QApplication of the test binary, on the offscreen platform unless QT_QPA_PLATFORM is set.
QApplication* EnsureQtApplication();

// What a message box showed and which button was pressed on it.
struct AnsweredBox {
  QString caption;
  QString text;
  std::vector<QString> buttons;  // their texts, left to right as Qt orders them
};

// Answers the message boxes that the next actions raise, in order, by clicking the given button
// when the box is the active modal widget. Records every box it answered.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> answers);
  ~MessageBoxAnswerer();
  const std::vector<AnsweredBox>& answered() const { return answered_; }

 private:
  void Poll();
  std::vector<QMessageBox::StandardButton> answers_;
  std::vector<AnsweredBox> answered_;
  std::unique_ptr<QObject> timer_owner_;
};

// Runs check on the active modal widget once one other than the dialogs below it appears, then
// closes it (reject). Used for the about box.
void OnNextModalWidget(std::function<void(QWidget*)> check);

QLineEdit* Edit(config_editor::CDbRelayConfigDlg& dialog, int id);
QAbstractButton* Button(config_editor::CDbRelayConfigDlg& dialog, int id);
void Click(config_editor::CDbRelayConfigDlg& dialog, int id);
// Replaces a field's text by typing.
void Type(config_editor::CDbRelayConfigDlg& dialog, int id, const QString& text);

// Switches the process to a locale for its lifetime and back to the one before. "C.UTF-8" is
// installed everywhere; any other name is compiled with localedef from the system's locale
// sources into a folder of its own (LOCPATH), so a test needs no locale installed system-wide.
// ok() is false when the locale cannot be made.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& name);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  std::string folder_;
  bool ok_ = false;
};

// The [General] lines of an INI file as name=value pairs, in file order.
std::vector<std::pair<std::string, std::string>> IniEntries(const std::string& bytes);

}  // namespace config_editor_test
