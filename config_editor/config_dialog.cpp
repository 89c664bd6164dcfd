#include "config_editor/config_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QShortcut>
#include <cerrno>
#include <cstring>

#include "config_editor/about_dialog.h"
#include "config_editor/app_icon.h"
#include "config_editor/control_names.h"
#include "config_editor/control_states.h"
#include "config_editor/editor_paths.h"
#include "config_editor/keyboard_navigation.h"
#include "config_editor/locale_text.h"
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
  ApplyControlNames(widgets_.in_order);
  new RadioGroupKeys(widgets_.radio_groups, this);

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
  // dialog's context menu instead, where a right click, Shift+F10 or the Menu key finds it.
  if (std::strlen(kAboutMenuText) > 0) {
    auto* about = new QAction(QString::fromUtf8(kAboutMenuText), this);
    about->setObjectName("AboutMenuEntry");
    connect(about, &QAction::triggered, this, &CDbRelayConfigDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QKeySequence keys : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
      auto* shortcut = new QShortcut(keys, this);
      connect(shortcut, &QShortcut::activated, this, &CDbRelayConfigDlg::OpenWindowMenu);
    }
  }
  setWindowIcon(icon_);
  LoadSettings(ini_, *this);
  UpdateControlStates(*this);
  SetInitialFocus(widgets_.in_order);
}

void CDbRelayConfigDlg::OpenWindowMenu() {
  // The same event a right click on the dialog raises, so the keyboard opens the same menu.
  QWidget* anchor = focusWidget() != nullptr ? focusWidget() : this;
  QPoint at = anchor->mapTo(this, anchor->rect().center());
  QContextMenuEvent event(QContextMenuEvent::Keyboard, at, mapToGlobal(at));
  QCoreApplication::sendEvent(this, &event);
}

QWidget* CDbRelayConfigDlg::Item(int control) const {
  auto it = widgets_.by_id.find(control);
  return it == widgets_.by_id.end() ? nullptr : it->second;
}

void CDbRelayConfigDlg::SetItemText(int control, const std::string& text) {
  QWidget* widget = Item(control);
  QString value = DecodeSettingBytes(text).text;
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
    edit->setCursorPosition(0);  // show the start of a long value, as the field opens
    loaded_[control] = {text, edit->text()};
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
    auto loaded = loaded_.find(control);
    if (loaded != loaded_.end() && edit->text() == loaded->second.shown) return loaded->second.bytes;
    std::string bytes;
    // What the user typed, in the locale's encoding; a text it cannot hold never reaches the file
    // (ItemTextIsStorable refuses the save first).
    if (EncodeSettingText(edit->text(), &bytes)) return bytes;
    value = edit->text();
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    value = label->text();
  } else if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
    value = b->text();
  }
  return value.toStdString();
}

bool CDbRelayConfigDlg::ItemTextIsStorable(int control) const {
  auto* edit = qobject_cast<QLineEdit*>(Item(control));
  if (edit == nullptr) return true;
  auto loaded = loaded_.find(control);
  if (loaded != loaded_.end() && edit->text() == loaded->second.shown) return true;
  std::string bytes;
  return EncodeSettingText(edit->text(), &bytes);
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

void CDbRelayConfigDlg::ShowWarning(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kMessageCaption), text, QMessageBox::Ok,
                  this);
  box.exec();
}

QString CDbRelayConfigDlg::SaveFailureText(int error, int control, bool refused_as_line) const {
  if (control != 0) {
    QString why = refused_as_line
                      ? QStringLiteral("holds a line break, which a line of the settings file "
                                       "cannot hold")
                      : QStringLiteral("holds a character that this system's character set (%1) "
                                       "cannot store")
                            .arg(QString::fromStdString(LocaleEncoding()));
    return QStringLiteral("The settings were not saved: the field %1 %2. Nothing was written; "
                          "correct the field and save again.")
        .arg(FieldInMessage(control), why);
  }
  return QStringLiteral("The settings were not saved: \"%1\" cannot be replaced (%2). The file "
                        "was left as it was.")
      .arg(QString::fromStdString(ini_.path()), QString::fromLocal8Bit(std::strerror(error)));
}

void CDbRelayConfigDlg::OnSave() {
  if (!AskYesNo(QStringLiteral("Are you sure you want to save settings?"))) return;
  SaveResult result = SaveSettings(ini_, *this);
  if (result.error == 0) return;  // a save that worked is followed by no message
  // A save that did not work must not look like one that did.
  ShowWarning(SaveFailureText(result.error, result.control,
                              result.refusal == SaveRefusal::kLineBreak));
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
  if (int error = LaunchDbRelayTest(editor_folder_, word, &test); error != 0) {
    ShowWarning(QStringLiteral("DbRelay could not be started for the test: \"%1\": %2.")
                    .arg(QString::fromLocal8Bit(DbRelayTestArgv(editor_folder_, word)[0]),
                         QString::fromLocal8Bit(std::strerror(error))));
    return;
  }
  if (test_output_ == nullptr) test_output_ = new CTestOutputWindow(this);
  QStringList command_line;
  for (const std::string& arg : DbRelayTestArgv(editor_folder_, word)) {
    command_line << QString::fromLocal8Bit(arg);
  }
  test_output_->Begin(command_line.join(' '));
  WaitForTest(this, test_output_, test);
}

}  // namespace config_editor
