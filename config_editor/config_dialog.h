#pragma once
// The settings dialog "DB Relay Setup": a form over DbRelay.ini in the editor's folder. It loads
// every key when it starts, writes all 25 keys when the user confirms Save, and starts DbRelay in
// a test mode for its Test buttons.

#include <QDialog>
#include <QIcon>
#include <map>
#include <string>

#include "config_editor/dialog_items.h"
#include "config_editor/template_widgets.h"
#include "settings/ini_file.h"

namespace config_editor {

class CTestOutputWindow;

class CDbRelayConfigDlg : public QDialog, public DialogItems {
  Q_OBJECT

 public:
  // editor_folder holds DbRelay.ini and DbRelay; the running executable's folder by default.
  explicit CDbRelayConfigDlg(std::string editor_folder = {}, QWidget* parent = nullptr);
  ~CDbRelayConfigDlg() override;

  // DialogItems, addressed by control identifier.
  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id) const override;
  bool ItemTextIsStorable(int id) const override;
  void CheckButton(int id, int state) override;
  int IsButtonChecked(int id) const override;
  void EnableItem(int id, bool enable) override;

  QWidget* Item(int id) const;
  const std::string& editor_folder() const { return editor_folder_; }
  std::string ini_path() const { return ini_.path(); }

  // Command 1: asks, then saves.
  void OnSave();
  // Command 2: asks, then ends the dialog with the cancel result.
  void OnExit();
  // Command 1021 and the window menu's About entry.
  void OnAbout();
  // Commands 1020, 1022, 1030.
  void RunDbRelayTest(const std::string& word);
  // The menu with the About entry, from the keyboard (Shift+F10, the Menu key) as from a right
  // click: the Linux stand-in for the window menu's entry.
  void OpenWindowMenu();

 public slots:
  void reject() override;  // Escape

 protected:
  void closeEvent(QCloseEvent* event) override;  // the window's close box

 private:
  void OnInitDialog();
  bool AskYesNo(const QString& text);
  void ShowWarning(const QString& text);
  QString SaveFailureText(int error, int control, bool refused_as_line) const;

  // What an edit was loaded with: the stored bytes and the text they showed. While the edit shows
  // that text the bytes are what a save stores, so a value the user did not touch keeps every byte.
  struct LoadedText {
    std::string bytes;
    QString shown;
  };

  std::string editor_folder_;
  settings::IniFile ini_;
  QIcon icon_;
  TemplateWidgets widgets_;
  CTestOutputWindow* test_output_ = nullptr;
  std::map<int, LoadedText> loaded_;
};

}  // namespace config_editor
