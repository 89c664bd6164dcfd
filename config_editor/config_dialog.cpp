#include "config_editor/config_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstring>

#include "config_editor/about_dialog.h"
#include "config_editor/app_icon.h"
#include "config_editor/control_states.h"
#include "config_editor/editor_paths.h"
#include "config_editor/settings_mapping.h"
#include "config_editor/test_launcher.h"
#include "config_editor/test_output_window.h"

namespace config_editor {
namespace {

constexpr char kMessageCaption[] = "DB Relay";
constexpr char kAboutMenuText[] = "&About DbRelayConfig...";

std::string ResolveFolder(std::string folder) {
  return folder.empty() ? GetEditorFolder() : folder;
}

}  // namespace

CDbRelayConfigDlg::CDbRelayConfigDlg(std::string editor_folder, QWidget* parent)
    : QDialog(parent),
      editor_folder_(ResolveFolder(std::move(editor_folder))),
      ini_(GetIniPath(editor_folder_)),
      icon_(ApplicationIcon()) {
  const DialogTemplate& t = SettingsDialogTemplate();
  // Caption with a window menu and a close box; no minimize or maximize box.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(t.title.data(), t.title.size()));
  widgets_ = BuildTemplateWidgets(this, t, icon_);

  auto button = [this](int control) { return static_cast<QAbstractButton*>(Item(control)); };
  connect(button(id::kSave), &QAbstractButton::clicked, this, &CDbRelayConfigDlg::OnSave);
  connect(button(id::kClose), &QAbstractButton::clicked, this, &CDbRelayConfigDlg::OnExit);
  connect(button(id::kAbout), &QAbstractButton::clicked, this, &CDbRelayConfigDlg::OnAbout);
  connect(button(id::kPriTest), &QAbstractButton::clicked, this, [this] { RunDbRelayTest("PriTest"); });
  connect(button(id::kSecTest), &QAbstractButton::clicked, this, [this] { RunDbRelayTest("SecTest"); });
  connect(button(id::kEmailTest), &QAbstractButton::clicked, this,
          [this] { RunDbRelayTest("EmailTest"); });
  for (int control : ControlsThatUpdateStates()) {
    connect(button(control), &QAbstractButton::toggled, this, [this] { UpdateControlStates(*this); });
  }
  OnInitDialog();
}

CDbRelayConfigDlg::~CDbRelayConfigDlg() = default;

void CDbRelayConfigDlg::OnInitDialog() {
  // A window menu of its own is the window manager's on Linux; the About entry sits in the
  // dialog's context menu instead, where a right click finds it.
  if (std::strlen(kAboutMenuText) > 0) {
    auto* about = new QAction(QString::fromUtf8(kAboutMenuText), this);
    about->setObjectName("AboutMenuEntry");
    connect(about, &QAction::triggered, this, &CDbRelayConfigDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
  }
  setWindowIcon(icon_);
  LoadSettings(ini_, *this);
  UpdateControlStates(*this);
}

QWidget* CDbRelayConfigDlg::Item(int control) const {
  auto it = widgets_.by_id.find(control);
  return it == widgets_.by_id.end() ? nullptr : it->second;
}

void CDbRelayConfigDlg::SetItemText(int control, const std::string& text) {
  QWidget* widget = Item(control);
  QString value = QString::fromUtf8(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
    edit->setCursorPosition(0);  // show the start of a long value, as the field opens
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
    b->setText(value);
  }
}

std::string CDbRelayConfigDlg::GetItemText(int control) const {
  QWidget* widget = Item(control);
  QString value;
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    value = edit->text();
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    value = label->text();
  } else if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
    value = b->text();
  }
  return value.toStdString();
}

void CDbRelayConfigDlg::CheckButton(int control, int state) {
  if (auto* b = qobject_cast<QAbstractButton*>(Item(control))) b->setChecked(state != 0);
}

int CDbRelayConfigDlg::IsButtonChecked(int control) const {
  auto* b = qobject_cast<QAbstractButton*>(Item(control));
  return b != nullptr && b->isCheckable() && b->isChecked() ? 1 : 0;
}

void CDbRelayConfigDlg::EnableItem(int control, bool enable) {
  if (QWidget* widget = Item(control)) widget->setEnabled(enable);
}

bool CDbRelayConfigDlg::AskYesNo(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kMessageCaption), text,
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void CDbRelayConfigDlg::OnSave() {
  if (!AskYesNo(QStringLiteral("Are you sure you want to save settings?"))) return;
  SaveResult result = SaveSettings(ini_, *this);
  if (result.error == 0) return;  // a save that worked is followed by no message
  // A save that did not work must not look like one that did.
  QString reason = QString::fromLocal8Bit(std::strerror(result.error));
  QString text =
      result.key.empty()
          ? QStringLiteral("The settings were not saved: \"%1\" cannot be replaced (%2).")
                .arg(QString::fromStdString(ini_.path()), reason)
          : QStringLiteral("The settings were not saved completely: writing \"%1\" to \"%2\" "
                           "failed (%3). %4 of 25 settings were written before it; the file holds "
                           "no partial line.")
                .arg(QString::fromStdString(result.key), QString::fromStdString(ini_.path()),
                     reason)
                .arg(result.keys_written);
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kMessageCaption), text, QMessageBox::Ok,
                  this);
  box.exec();
}

void CDbRelayConfigDlg::OnExit() {
  if (!AskYesNo(QStringLiteral("Are you sure you want to exit?"))) return;
  done(QDialog::Rejected);
}

void CDbRelayConfigDlg::reject() { OnExit(); }

void CDbRelayConfigDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  OnExit();
}

void CDbRelayConfigDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CDbRelayConfigDlg::RunDbRelayTest(const std::string& word) {
  LaunchedTest test;
  // A DbRelay that cannot be started (missing, not executable) leaves the editor as it was.
  if (LaunchDbRelayTest(editor_folder_, word, &test) != 0) return;
  if (test_output_ == nullptr) test_output_ = new CTestOutputWindow(this);
  QStringList command_line;
  for (const std::string& arg : DbRelayTestArgv(editor_folder_, word)) {
    command_line << QString::fromStdString(arg);
  }
  test_output_->Begin(command_line.join(' '));
  WaitForTest(this, test_output_, test);
}

}  // namespace config_editor
