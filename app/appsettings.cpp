#include "app/appsettings.h"

#include <QFileInfo>
#include <QStringList>

bool AppSettings::hasGroup(QSettings& settings, const QString& group)
{
    return settings.childGroups().contains(group);
}

bool AppSettings::isUsable(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

std::unique_ptr<QSettings> AppSettings::open()
{
    if (!isUsable(filePath()))
        return nullptr;
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
}
