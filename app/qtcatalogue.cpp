#include "app/qtcatalogue.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace QtCatalogue {
namespace {

// Owned by the application object, so it goes with it.
QPointer<QTranslator>& translatorRef()
{
    static QPointer<QTranslator> translator;
    return translator;
}

bool& installedRef()
{
    static bool installed = false;
    return installed;
}

} // namespace

QString path()
{
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath) +
           QStringLiteral("/qt_zh_CN.qm");
}

bool install()
{
    if (!QCoreApplication::instance())
        return false;
    QPointer<QTranslator>& translator = translatorRef();
    if (!translator) {
        translator = new QTranslator(QCoreApplication::instance());
        installedRef() = false;
        if (!translator->load(path())) {
            delete translator;
            return false;
        }
    }
    if (!installedRef())
        installedRef() = QCoreApplication::installTranslator(translator);
    return installedRef();
}

void remove()
{
    if (translatorRef() && installedRef())
        QCoreApplication::removeTranslator(translatorRef());
    installedRef() = false;
}

bool installed()
{
    return translatorRef() && installedRef();
}

} // namespace QtCatalogue
