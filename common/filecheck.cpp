#include "common/filecheck.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace FileCheck {

QString refusal(const QString& path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QCoreApplication::translate("FileCheck",
                                           "Only regular files can be opened, not folders, pipes or devices!");
    if (info.size() > maxBytes)
        return QCoreApplication::translate("FileCheck", "The file is larger than %1 MiB!")
            .arg(maxBytes / (1024 * 1024));
    return QString();
}

} // namespace FileCheck
