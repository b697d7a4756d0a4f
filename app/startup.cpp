#include "app/startup.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTranslator>

#include <csignal>
#include <cstring>
#include <mutex>

#include "app/cfgstore.h"
#include "app/version.h"
#include "data/tiffstack.h"
#include "data/zarrstore.h"

QString defaultConfigFileName()
{
    return QStringLiteral("config.cfg");
}

QStringList configFileOptions()
{
    return {QStringLiteral("-c"), QStringLiteral("-config")};
}

QString configFileName(const CfgStore &store)
{
    QString name = defaultConfigFileName();
    for (const QString &option : configFileOptions()) {
        if (store.hasKey(option))
            name = store.get(option, name);
    }
    return name;
}

QString programBaseName(int argc, const char *const *argv)
{
    if (argc < 1 || !argv || !argv[0])
        return QString();
    return QFileInfo(QString::fromUtf8(argv[0])).baseName();
}

QString dataRootFor(const CfgStore &store, const QString &currentDir)
{
    QString root = currentDir;
    if (store.hasExactKey(QStringLiteral("DataRoot")))
        root = store.getExact(QStringLiteral("DataRoot"), root);
    if (store.hasExactKey(QStringLiteral("-d")))
        root = store.getExact(QStringLiteral("-d"), root);
    return root;
}

QString dataRootLogValue(const CfgStore &store)
{
    return store.getExact(QStringLiteral("DataRoot"), QStringLiteral("aa"));
}

bool chooseJapanese(const CfgStore &store, const QString &programBaseName)
{
    bool useJapanese = true;
    if (store.hasKey(QStringLiteral("lang")))
        useJapanese = store.get(QStringLiteral("lang"), QString()).toUpper() != QLatin1String("ENGLISH");

    if (programBaseName.size() == 4 && programBaseName.startsWith(QLatin1String("Oxa"))) {
        if (programBaseName.at(3) == u'e')
            useJapanese = false;
        else if (programBaseName.at(3) == u'j')
            useJapanese = true;
    }

    if (store.hasExactKey(QStringLiteral("-j")))
        return true;
    if (store.hasExactKey(QStringLiteral("-e")))
        return false;
    return useJapanese;
}

bool loadJapaneseTranslation(QTranslator &translator, const QString &appDir)
{
    return translator.load(QStringLiteral(":Oxa_ja_JP"), appDir);
}

QStringList sliceFileArguments(int argc, const char *const *argv, const QString &startDir)
{
    QStringList files;
    if (!argv)
        return files;
    const QDir start(startDir);
    for (int i = 1; i < argc && argv[i]; ++i) {
        const QString arg = QString::fromUtf8(argv[i]);
        if (arg.startsWith(u'-'))
            break;
        // An address (of an OME-Zarr image) is kept as it is.
        if (isZarrAddress(arg))
            files.append(arg);
        else if (!arg.isEmpty())
            files.append(QDir::cleanPath(start.absoluteFilePath(arg)));
    }
    return files;
}

bool versionRequested(int argc, const char *const *argv)
{
    if (!argv)
        return false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    }
    return false;
}

QString versionLine()
{
    return QStringLiteral("Oxa ") + oxaVersion() + u'\n';
}

void logReadResult(bool readOk, const QString &fileName)
{
    qDebug() << "read Ok" << readOk << fileName;
}

void logDataRoot(const QString &dataRoot, const QString &rawDataRoot)
{
    qDebug() << "data root" << dataRoot << rawDataRoot;
}

namespace {

QtMessageHandler nextMessageHandler = nullptr;

void imageLibraryFilter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QLatin1String category(context.category ? context.category : "");
    if (type != QtFatalMsg
        && (category.startsWith(QLatin1String("qt.imageformats")) || message.startsWith(QLatin1String("libpng "))
            || message.startsWith(QLatin1String("libtiff")) || message.startsWith(QLatin1String("QWebpHandler"))
            || message.startsWith(QLatin1String("QTiffHandler")) || message.startsWith(QLatin1String("QIcoHandler"))))
        return;
    if (nextMessageHandler)
        nextMessageHandler(type, context, message);
}

}  // namespace

void quietImageLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        nextMessageHandler = qInstallMessageHandler(imageLibraryFilter);
        quietTiffLibrary();
    });
}

void ignoreFileSizeSignal()
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}
