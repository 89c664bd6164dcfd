#include "tests/config_editor/qt_test_support.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>

#include "tests/support/relay_sandbox.h"

namespace config_editor_test {

QApplication* EnsureQtApplication() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "config_editor_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)), timer_owner_(std::make_unique<QObject>()) {
  auto* timer = new QTimer(timer_owner_.get());
  QObject::connect(timer, &QTimer::timeout, [this] { Poll(); });
  timer->start(10);
}

MessageBoxAnswerer::~MessageBoxAnswerer() = default;

void MessageBoxAnswerer::Poll() {
  if (answered_.size() >= answers_.size()) return;
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible()) return;
  AnsweredBox seen{box->windowTitle(), box->text(), {}};
  for (QAbstractButton* b : box->buttons()) seen.buttons.push_back(b->text());
  QAbstractButton* button = box->button(answers_[answered_.size()]);
  answered_.push_back(seen);
  if (button != nullptr) {
    button->click();
  } else {
    box->reject();  // the expected button is missing: the test fails on the recorded buttons
  }
}

void OnNextModalWidget(std::function<void(QWidget*)> check) {
  QWidget* before = QApplication::activeModalWidget();
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, before, check] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == before || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    check(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
  });
  timer->start(10);
}

QLineEdit* Edit(config_editor::CDbRelayConfigDlg& dialog, int id) {
  return qobject_cast<QLineEdit*>(dialog.Item(id));
}

QAbstractButton* Button(config_editor::CDbRelayConfigDlg& dialog, int id) {
  return qobject_cast<QAbstractButton*>(dialog.Item(id));
}

void Click(config_editor::CDbRelayConfigDlg& dialog, int id) {
  QAbstractButton* button = Button(dialog, id);
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

void Type(config_editor::CDbRelayConfigDlg& dialog, int id, const QString& text) {
  QLineEdit* edit = Edit(dialog, id);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  for (QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(edit, c.toLatin1());
    } else {
      // A key of a keyboard layout QTest has no table for: the event carries the character.
      QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }
}

ScopedLocale::ScopedLocale(const std::string& name) {
  const char* current = std::setlocale(LC_ALL, nullptr);
  previous_ = current != nullptr ? current : "C";
  std::string locale = name;
  if (name != "C.UTF-8") {
    // "de_DE.ISO-8859-1" from the sources de_DE and ISO-8859-1.
    size_t dot = name.find('.');
    char pattern[] = "/tmp/dbrelay-locale-XXXXXX";
    if (dot == std::string::npos || ::mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    testing_support::RunOptions options;
    options.timeout_seconds = 60;
    testing_support::ProcessResult made = testing_support::RunProcess(
        {"/usr/bin/localedef", "-i", name.substr(0, dot), "-f", name.substr(dot + 1),
         folder_ + "/" + name},
        options);
    if (made.exit_status != 0 && made.exit_status != 1) return;  // 1: made, with warnings
    ::setenv("LOCPATH", folder_.c_str(), 1);
  }
  ok_ = std::setlocale(LC_ALL, locale.c_str()) != nullptr;
}

ScopedLocale::~ScopedLocale() {
  std::setlocale(LC_ALL, previous_.c_str());
  if (!folder_.empty()) {
    ::unsetenv("LOCPATH");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::vector<std::pair<std::string, std::string>> IniEntries(const std::string& bytes) {
  std::vector<std::pair<std::string, std::string>> entries;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    pos = end + 1;
  }
  return entries;
}

}  // namespace config_editor_test
