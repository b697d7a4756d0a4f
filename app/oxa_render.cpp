#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "app/rendercommand.h"

int main(int argc, char *argv[])
{
    // Pictures are drawn into memory only: no display and no platform plugin.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oxa-render"));
#ifdef OXA_VERSION
    QCoreApplication::setApplicationVersion(QStringLiteral(OXA_VERSION));
#endif
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runRenderCommand(QCoreApplication::arguments(), out, err);
}
