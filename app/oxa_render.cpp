#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

#include "app/rendercommand.h"
#include "app/startup.h"
#include "app/version.h"

namespace {

// The command's standard error carries its own lines only: Qt's notes and warnings
// (the runtime folder it makes up without a session, the image plugins' remarks) are
// dropped; what Qt calls critical or fatal still shows.
void keepOnlyGraveMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

}  // namespace

int main(int argc, char *argv[])
{
    ignoreFileSizeSignal();
    qInstallMessageHandler(keepOnlyGraveMessages);
    quietImageLibraries();
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
