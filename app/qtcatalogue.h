#pragma once

#include <QString>

// Qt's own Chinese catalogue (standard buttons, the file and font dialogs),
// loaded beside the program's catalogue whenever Chinese is in force.
namespace QtCatalogue {

// The catalogue file: qt_zh_CN.qm in Qt's translations folder.
QString path();

// Loads and installs it (once); false when it cannot be loaded.
bool install();
// Removes it again; nothing happens when it is not installed.
void remove();
bool installed();

} // namespace QtCatalogue
