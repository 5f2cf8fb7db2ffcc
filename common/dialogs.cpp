#include "common/dialogs.h"

#include <QFileDialog>
#include <QFontDialog>

namespace Dialogs {
namespace {

FontInterceptor& fontInterceptor()
{
    static FontInterceptor interceptor;
    return interceptor;
}

FileInterceptor& fileInterceptor()
{
    static FileInterceptor interceptor;
    return interceptor;
}

QString askFile(FileMode mode, QWidget* parent, const QString& caption,
                const QString& directory, const QString& filter)
{
    if (fileInterceptor()) {
        FileInterceptor interceptor = fileInterceptor();
        return interceptor(FileRequest{mode, caption, directory, filter});
    }
    if (mode == FileMode::Open)
        return QFileDialog::getOpenFileName(parent, caption, directory, filter);
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

} // namespace

QFont getFont(const QFont& initial, QWidget* parent)
{
    if (fontInterceptor()) {
        FontInterceptor interceptor = fontInterceptor();
        return interceptor(initial);
    }
    bool ok = false;
    return QFontDialog::getFont(&ok, initial, parent);
}

QString getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                        const QString& filter)
{
    return askFile(FileMode::Open, parent, caption, directory, filter);
}

QString getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                        const QString& filter)
{
    return askFile(FileMode::Save, parent, caption, directory, filter);
}

FontInterceptor setFontInterceptor(FontInterceptor interceptor)
{
    FontInterceptor old = std::move(fontInterceptor());
    fontInterceptor() = std::move(interceptor);
    return old;
}

FileInterceptor setFileInterceptor(FileInterceptor interceptor)
{
    FileInterceptor old = std::move(fileInterceptor());
    fileInterceptor() = std::move(interceptor);
    return old;
}

} // namespace Dialogs
