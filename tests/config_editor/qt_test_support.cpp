#include "tests/config_editor/qt_test_support.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>

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
  QTest::keyClicks(edit, text);
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
