#include "config_editor/app.h"

#include <QApplication>

#include "config_editor/app_icon.h"
#include "config_editor/config_dialog.h"

namespace config_editor {

void CDbRelayConfigApp::InitInstance(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("DbRelayConfig");
  QApplication::setWindowIcon(ApplicationIcon());
  CDbRelayConfigDlg dialog;
  dialog.exec();  // whatever the result: settings are written only by Save
}

int CDbRelayConfigApp::Run(int argc, char** argv) {
  InitInstance(argc, argv);
  return 0;
}

}  // namespace config_editor
