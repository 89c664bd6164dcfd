#include "config_editor/test_output_window.h"

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace config_editor {
namespace {

// Bounds the memory a child that prints without end can take.
constexpr int kMaxOutputLines = 20000;
constexpr int kChildPollMilliseconds = 50;

// Eats user input addressed to one window and its children while it lives.
class InputBlocker : public QObject {
 public:
  explicit InputBlocker(QWidget* blocked) : blocked_(blocked) { qApp->installEventFilter(this); }
  ~InputBlocker() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsUserInput(event->type()) || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != blocked_) return false;
    event->ignore();  // a close event left accepted would still close the window
    return true;
  }

 private:
  static bool IsUserInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::Close:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
        return true;
      default:
        return false;
    }
  }

  QWidget* blocked_;
};

// Reads what is available now. Returns false at end of file or on a read error.
bool DrainOutput(int fd, CTestOutputWindow* window) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n > 0) {
      window->AppendOutput(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
}

}  // namespace

// A dialog-type window with a parent is transient for it (WM_TRANSIENT_FOR): window managers keep
// it above the settings dialog. A plain Qt::Window would fall behind the dialog at its first click.
CTestOutputWindow::CTestOutputWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName("DbRelayTestOutput");
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("output");
  text_->setReadOnly(true);
  text_->setMaximumBlockCount(kMaxOutputLines);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // long paths too
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  resize(640, 300);
}

void CTestOutputWindow::Begin(const QString& command_line) {
  command_line_ = command_line;
  decoder_.resetState();
  text_->clear();
  setWindowTitle(command_line);
  show();
  raise();
}

void CTestOutputWindow::AppendOutput(const char* bytes, size_t size) {
  QString text = decoder_.decode(QByteArrayView(bytes, static_cast<qsizetype>(size)));
  text_->moveCursor(QTextCursor::End);
  text_->insertPlainText(text);
  text_->moveCursor(QTextCursor::End);
}

QString CTestOutputWindow::EndLine(int wait_status) {
  if (wait_status < 0) return QStringLiteral("DbRelay ended; its exit status is not known.");
  if (WIFEXITED(wait_status)) {
    return QStringLiteral("DbRelay ended with exit status %1.").arg(WEXITSTATUS(wait_status));
  }
  if (WIFSIGNALED(wait_status)) {
    int signal = WTERMSIG(wait_status);
    return QStringLiteral("DbRelay was ended by signal %1 (%2).")
        .arg(signal)
        .arg(QString::fromLocal8Bit(::strsignal(signal)));
  }
  return QStringLiteral("DbRelay ended with wait status %1.").arg(wait_status);
}

void CTestOutputWindow::End(int wait_status) {
  const QString output = text_->toPlainText();
  const QString separator = output.isEmpty() || output.endsWith('\n') ? "" : "\n";
  text_->moveCursor(QTextCursor::End);
  text_->insertPlainText(separator + EndLine(wait_status) + '\n');
  text_->moveCursor(QTextCursor::End);
  setWindowTitle(command_line_ + tr(" (ended)"));
}

QString CTestOutputWindow::Output() const { return text_->toPlainText(); }

namespace {

// The busy cursor over the editor's windows while a test runs.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void WaitForTest(QWidget* blocked, CTestOutputWindow* window, const LaunchedTest& test) {
  InputBlocker blocker(blocked);
  BusyCursor busy;
  int status = -1;
  QEventLoop loop;
  QSocketNotifier notifier(test.output_fd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    if (!DrainOutput(test.output_fd, window)) notifier.setEnabled(false);
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ChildHasEnded(test.pid, &status)) loop.quit();
  });
  poll.start(kChildPollMilliseconds);
  if (!ChildHasEnded(test.pid, &status)) loop.exec();
  // What the child wrote just before it ended; a descendant that keeps the pipe open does not hold
  // the editor up.
  DrainOutput(test.output_fd, window);
  ::close(test.output_fd);
  window->End(status);
}

}  // namespace config_editor
