#include "config_editor/about_dialog.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "config_editor/app_icon.h"
#include "config_editor/editor_paths.h"
#include "config_editor/version_record.h"

namespace config_editor {

namespace {
constexpr size_t kVersionBufferSize = 1000;
}

CAboutDlg::CAboutDlg(QWidget* parent, std::string executable_path)
    : QDialog(parent),
      executable_path_(executable_path.empty() ? GetEditorExecutablePath()
                                               : std::move(executable_path)) {
  const DialogTemplate& t = AboutDialogTemplate();
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(t.title.data(), t.title.size()));
  setWindowIcon(ApplicationIcon());
  widgets_ = BuildTemplateWidgets(this, t, ApplicationIcon());
  connect(static_cast<QPushButton*>(widgets_.by_id.at(id::kAboutOk)), &QPushButton::clicked, this,
          &QDialog::accept);
  UpdateVersionLine();
}

void CAboutDlg::UpdateVersionLine() {
  char buffer[kVersionBufferSize];
  std::string version;
  if (GetFileVersionString(executable_path_, buffer, sizeof(buffer))) version = buffer;
  static_cast<QLabel*>(widgets_.by_id.at(id::kAboutVersion))
      ->setText(QString::fromUtf8(FormatVersionLine(version)));
}

void CAboutDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) UpdateVersionLine();
}

}  // namespace config_editor
