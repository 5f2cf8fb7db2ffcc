#include "app/appsettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#ifndef FM_CATALOG_FROM_BIN
#define FM_CATALOG_FROM_BIN "../share/fieldmate/translations/zh.qm"
#endif

QString AppSettings::catalogToLoad()
{
    const QFileInfo local(catalogPath());
    if (local.isFile())
        return catalogPath();
    const QFileInfo installed(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                              QLatin1String(FM_CATALOG_FROM_BIN));
    return installed.isFile() ? installed.canonicalFilePath() : catalogPath();
}

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
