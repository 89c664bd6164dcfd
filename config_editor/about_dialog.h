#pragma once
// The about box "About DB Relay Setup": the version line is read from the editor's own executable
// every time the box is activated or deactivated.

#include <QDialog>
#include <string>

#include "config_editor/template_widgets.h"

namespace config_editor {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // executable_path is the file whose version record is shown (the running editor by default).
  explicit CAboutDlg(QWidget* parent = nullptr, std::string executable_path = {});

  // Rewrites label 1036 with "Version: " and the file's version.
  void UpdateVersionLine();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  std::string executable_path_;
  TemplateWidgets widgets_;
};

}  // namespace config_editor
