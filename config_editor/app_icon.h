#pragma once
// The application icon (a database with a relay arrow), drawn in several sizes.

#include <QIcon>

namespace config_editor {

QIcon ApplicationIcon();

}  // namespace config_editor
