#pragma once

class QTranslator;

namespace Startup {

enum Language { English = 0, Chinese = 1 };

// Reads `language` from the settings file (writing "English" on the first
// run) and, for "Chinese", loads the catalogue into `translator` and installs
// it. Returns the language index, 1 for "Chinese" even when the catalogue
// could not be loaded.
int applyLanguage(QTranslator& translator);

// The whole program: crash handler, application, language, main window and
// the event loop. Returns the event loop's exit code.
int run(int argc, char** argv);

} // namespace Startup
