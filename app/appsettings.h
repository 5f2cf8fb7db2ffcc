#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// The program's own settings file and every key in it. There is no settings
// object held open: each step opens the file, reads or writes, and closes it.
namespace AppSettings {

inline QString filePath() { return QStringLiteral("config/settings.ini"); }
inline QString historyPath() { return QStringLiteral("config/completer.dat"); }
inline QString catalogPath() { return QStringLiteral("translations/zh.qm"); }
// The catalogue to load: catalogPath() where the working directory has it,
// otherwise the one installed with the program, otherwise catalogPath()
// (which then fails to load, and the interface stays English).
QString catalogToLoad();

namespace Key {
inline const char* language() { return "language"; } // "Chinese", "English" or empty
inline const char* fontGroup() { return "Font"; }
inline const char* fontSize() { return "Font/size"; }
inline const char* fontFamily() { return "Font/family"; }
inline const char* fontBold() { return "Font/bold"; }
inline const char* fontItalic() { return "Font/italic"; }
inline const char* screenGroup() { return "screen"; }
inline const char* screenWidth() { return "screen/width"; }
inline const char* screenHeight() { return "screen/height"; }
// Devices the batch dialog serves at once (1 to 64; absent: the number of
// cores).
inline const char* batchParallelDevices() { return "Batch/parallelDevices"; }
} // namespace Key

inline const char* chineseValue() { return "Chinese"; }
inline const char* englishValue() { return "English"; }

// True when the settings file has the section (only presence is tested).
bool hasGroup(QSettings& settings, const QString& group);

// True when the path names nothing or a regular file (links followed). A
// FIFO, a device or a folder under one of the program's own file names is
// never opened, for reading or writing: it is treated as absent, and what
// would have been written there is left out.
bool isUsable(const QString& path);

// The settings file, or nullptr when its name is not usable.
std::unique_ptr<QSettings> open();

// Limits applied to stored values when they are read. The stored values
// themselves stay as they are until the operator changes them.
constexpr int kMinFontPoints = 6;
constexpr int kMaxFontPoints = 72;

} // namespace AppSettings
