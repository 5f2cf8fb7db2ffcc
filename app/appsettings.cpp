#include "app/appsettings.h"

#include <QStringList>

bool AppSettings::hasGroup(QSettings& settings, const QString& group)
{
    return settings.childGroups().contains(group);
}
