// The message-box module, loaded by DbRelay only when it shows a box.

#include <xcb/xcb.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdlib>
#include <cstring>

#include "relay/report/notice_module.h"

namespace {

// Qt ends the process when its display cannot be reached; ask the X server first so an unreachable
// display means "no box" (the caller then reports on the console) instead of a lost report.
bool DisplayReachable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  bool xcb = platform == nullptr || *platform == '\0' || std::strncmp(platform, "xcb", 3) == 0;
  if (!xcb) return true;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int DbRelayShowNotice(const char* text,
                                                                        size_t len) {
  static int argc = 1;
  static char name[] = "DbRelay";
  static char* argv[] = {name, nullptr};
  static QApplication* app = nullptr;
  if (app == nullptr) {
    if (!DisplayReachable()) return 0;
    app = new QApplication(argc, argv);  // kept: a run may show several boxes
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("DB Relay"),
                  QString::fromLocal8Bit(text, static_cast<qsizetype>(len)), QMessageBox::Ok);
  // A report holds statements and error texts, never markup: "<b>" and "&lt;" are shown as they
  // stand and every line break is kept. (Qt still wraps a line too wide for the screen.)
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return 1;
}
