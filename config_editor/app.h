#pragma once
// The application object of DbRelayConfig: starts the toolkit, runs the settings dialog as the
// program's one window, and ends the program when the dialog closes.

namespace config_editor {

class CDbRelayConfigApp {
 public:
  // Runs the whole program; returns its exit status.
  int Run(int argc, char** argv);

 private:
  // Starts the toolkit and shows the dialog until it closes; no message loop of its own follows.
  void InitInstance(int& argc, char** argv);
};

}  // namespace config_editor
