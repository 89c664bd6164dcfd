#include "config_editor/app.h"

// The one application object.
config_editor::CDbRelayConfigApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
