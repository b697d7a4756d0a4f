#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTranslator>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "ui/ctview.h"

int main(int argc, char *argv[])
{
    // Slice files named on the command line are taken from where the program
    // was started, so that directory is noted before start-up changes it.
    const QString startDir = QDir::currentPath();

    QApplication app(argc, argv);
    QTranslator translator;

    // Every relative path from here on (configuration files, "-d") is taken
    // from the application directory, wherever the program was started.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    cfg.init(argc, argv, false, defaultConfigFileName(), configFileOptions());
    const QString cfgName = configFileName(cfg);
    const bool readOk = cfg.readFile(cfgName);
    logReadResult(readOk, cfgName);

    const QString baseName = programBaseName(argc, argv);
    const QString dataRoot = dataRootFor(cfg, QDir::current().absolutePath());
    logDataRoot(dataRoot, dataRootLogValue(cfg));

    // The forms translate their texts while they are built, so the translator
    // goes in before the window.
    if (chooseJapanese(cfg, baseName)
        && loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()))
        QCoreApplication::installTranslator(&translator);

    CtView w(dataRoot, nullptr);
    // What the user set last time, unless the configuration or the command line says otherwise.
    QSettings remembered(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("oxa"), QStringLiteral("Oxa"));
    const bool rootGiven = cfg.hasExactKey(QStringLiteral("DataRoot")) || cfg.hasExactKey(QStringLiteral("-d"));
    w.restoreSettings(remembered, !rootGiven);
    QObject::connect(&w, &CtView::finishing, &app, [&w, &remembered]() { w.storeSettings(remembered); });
    QObject::connect(&w, &CtView::finishing, &app, &QCoreApplication::quit);
    loadSliceFilesAtStart(w, sliceFileArguments(argc, argv, startDir));
    w.show();
    return app.exec();
}
