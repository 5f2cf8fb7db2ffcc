#include "app/startup.h"

#include "app/appsettings.h"
#include "app/crashhandler.h"
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
    QSettings settings(AppSettings::filePath(), QSettings::IniFormat);
    const QVariant value = settings.value(AppSettings::Key::language());
    if (!value.isValid()) {
        settings.setValue(AppSettings::Key::language(), AppSettings::englishValue());
        return English;
    }
    if (value.toString() == QLatin1String(AppSettings::chineseValue())) {
        const QString catalog = AppSettings::catalogToLoad();
        if (translator.load(catalog)) {
            QCoreApplication::installTranslator(&translator);
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
