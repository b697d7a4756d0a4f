#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "app/rendercommand.h"
#include "app/startup.h"
#include "app/version.h"

int main(int argc, char *argv[])
{
    ignoreFileSizeSignal();
    quietImageLibraries();
    // Pictures are drawn into memory only: no display and no platform plugin.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oxa-render"));
    QCoreApplication::setApplicationVersion(oxaVersion());
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runRenderCommand(QCoreApplication::arguments(), out, err);
}
