#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QIcon>
#include <QSettings>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "app/version.h"
#include "ui/ctview.h"

namespace {
// How long closing waits for the loaders to stop before the process leaves anyway.
constexpr int loaderGraceMs = 700;
}  // namespace

int main(int argc, char *argv[])
{
    // "--version" is answered before anything else is read, without a display.
    if (versionRequested(argc, argv)) {
        std::fputs(versionLine().toUtf8().constData(), stdout);
        return 0;
    }

    // Slice files named on the command line are taken from where the program
    // was started, so that directory is noted before start-up changes it.
    const QString startDir = QDir::currentPath();

    ignoreFileSizeSignal();
    quietImageLibraries();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(oxaVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral(OXA_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/oxa.svg")));
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
    if (chooseJapanese(cfg, baseName) && loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()))
        QCoreApplication::installTranslator(&translator);

    CtView w(dataRoot, nullptr);
    // What the user set last time, unless the configuration or the command line says otherwise.
    QSettings remembered(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("oxa"), QStringLiteral("Oxa"));
    const bool rootGiven = cfg.hasExactKey(QStringLiteral("DataRoot")) || cfg.hasExactKey(QStringLiteral("-d"));
    w.restoreSettings(remembered, !rootGiven);
    QObject::connect(&w, &CtView::finishing, &app, [&w, &remembered]() {
        w.storeSettings(remembered);
        remembered.sync();
    });
    QObject::connect(&w, &CtView::finishing, &app, &QCoreApplication::quit);
    loadSliceFilesAtStart(w, sliceFileArguments(argc, argv, startDir));
    w.show();
    const int code = app.exec();
    w.finishSaves();

    // The window is gone. A loader busy with a decode that cannot be interrupted (a
    // huge picture, a slow disk) would hold the process while the panels wait for
    // their threads; nothing is left to save, so after a short grace the process
    // leaves at once.
    if (!w.stopLoaders(loaderGraceMs)) {
        qDebug() << "A slice file is still being read; leaving without waiting for it";
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
