#include <QCoreApplication>
#include <QTextStream>

#include "app/convertcommand.h"
#include "app/startup.h"
#include "app/version.h"

int main(int argc, char *argv[])
{
    ignoreFileSizeSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oxa-convert"));
    QCoreApplication::setApplicationVersion(oxaVersion());
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runConvertCommand(QCoreApplication::arguments(), out, err);
}
