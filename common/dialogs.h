#pragma once

#include <QFont>
#include <QString>
#include <functional>

class QWidget;

// The standard dialogs the program opens (font, file choice). Like message
// boxes they go through one place so that tests can answer them.
namespace Dialogs {

// Font dialog: returns the chosen font, or `initial` after Cancel.
QFont getFont(const QFont& initial, QWidget* parent = nullptr);

enum class FileMode { Open, Save };

struct FileRequest
{
    FileMode mode = FileMode::Open;
    QString caption;
    QString directory;
    QString filter;
};

// File dialogs: return the chosen path, or an empty text after Cancel.
QString getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                        const QString& filter);
QString getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                        const QString& filter);

using FontInterceptor = std::function<QFont(const QFont& initial)>;
using FileInterceptor = std::function<QString(const FileRequest&)>;
FontInterceptor setFontInterceptor(FontInterceptor interceptor);
FileInterceptor setFileInterceptor(FileInterceptor interceptor);

} // namespace Dialogs
