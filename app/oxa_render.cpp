#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

#include "app/rendercommand.h"
#include "app/startup.h"
#include "app/version.h"

int main(int argc, char *argv[])
{
    ignoreFileSizeSignal();
    // Pictures are drawn into memory only, never on a display: the offscreen platform
    // gives the fonts the overlays are written in, whatever platform the caller's
    // environment names.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oxa-render"));
    QCoreApplication::setApplicationVersion(oxaVersion());
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runRenderCommand(QCoreApplication::arguments(), out, err);
}
