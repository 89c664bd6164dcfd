#pragma once
// The read-only window that shows what a DbRelay test run prints (Linux gives the child no console
// window of its own), and the wait for that run.

#include <QDialog>
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
  // Marks the run as ended; the window stays open so its text can be read.
  void End();
  QString Output() const;

 private:
  QPlainTextEdit* text_;
  QString command_line_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
};

// Waits, without a time-out, for the launched test to end, showing its output in window as it
// arrives. While it waits, blocked (the settings dialog) takes no input (mouse, keys, close) but
// keeps painting; the output window stays usable. Closes test.output_fd.
void WaitForTest(QWidget* blocked, CTestOutputWindow* window, const LaunchedTest& test);

}  // namespace config_editor
