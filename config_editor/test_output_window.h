#pragma once
// The read-only window that shows what a DbRelay test run prints (Linux gives the child no console
// window of its own), and the wait for that run. The window is transient for the settings dialog,
// so a click on the dialog never buries it, and wraps long lines instead of cutting them.

#include <QDialog>
#include <QString>
#include <QStringDecoder>

#include "config_editor/test_launcher.h"

class QPlainTextEdit;

namespace config_editor {

class CTestOutputWindow : public QDialog {
  Q_OBJECT

 public:
  explicit CTestOutputWindow(QWidget* parent);

  // Clears the window for a new run titled command_line and shows it.
  void Begin(const QString& command_line);
  void AppendOutput(const char* bytes, size_t size);
  // Ends the text with a line that gives DbRelay's wait status (exit code or signal) and marks the
  // title; the window stays open so its text can be read.
  void End(int wait_status);
  QString Output() const;

  // The last line of a run: "DbRelay ended with exit status 0." and the like.
  static QString EndLine(int wait_status);

 private:
  QPlainTextEdit* text_;
  QString command_line_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
};

// Waits, without a time-out, for the launched test to end, showing its output in window as it
// arrives. While it waits, blocked (the settings dialog) takes no input (mouse, keys, close) but
// keeps painting and shows a busy cursor; the output window stays usable. Closes test.output_fd.
void WaitForTest(QWidget* blocked, CTestOutputWindow* window, const LaunchedTest& test);

}  // namespace config_editor
