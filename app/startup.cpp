#include "app/startup.h"

#include "app/appsettings.h"
#include "app/crashhandler.h"
#include "app/qtcatalogue.h"
#include "mainwindow/mainwindow.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSettings>
#include <QTranslator>

// QT_LOGGING_RULES="fieldmate.startup.debug=true" shows which catalogue a
// start loaded.
Q_LOGGING_CATEGORY(lcStartup, "fieldmate.startup", QtInfoMsg)

int Startup::applyLanguage(QTranslator& translator)
{
    // A settings file that is not a regular file reads as an empty one, and
    // the first-run value is not written into it.
    const std::unique_ptr<QSettings> settings = AppSettings::open();
    const QVariant value =
        settings ? settings->value(AppSettings::Key::language()) : QVariant();
    if (!value.isValid()) {
        if (settings)
            settings->setValue(AppSettings::Key::language(), AppSettings::englishValue());
        return English;
    }
    if (value.toString() == QLatin1String(AppSettings::chineseValue())) {
        // Qt's own texts (standard buttons, file and font dialogs) follow
        // the program's catalogue; without it everything stays English.
        const QString catalog = AppSettings::catalogToLoad();
        if (translator.load(catalog)) {
            QCoreApplication::installTranslator(&translator);
            QtCatalogue::install();
            qCDebug(lcStartup, "catalogue loaded: %s", qPrintable(catalog));
        }
        return Chinese;
    }
    return English;
}

int Startup::run(int argc, char** argv)
{
    CrashHandler::install();
    if (CrashHandler::isCrashBoxProcess())
        return CrashHandler::runCrashBox(argc, argv);

    QApplication app(argc, argv);
    auto* translator = new QTranslator;
    const int language = applyLanguage(*translator);

    auto* window = new MainWindow;
    window->setTranslator(translator, language);
    window->show();
    const int code = app.exec();

    delete window;
    delete translator;
    return code;
}
