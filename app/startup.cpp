#include "app/startup.h"

#include "app/cfgstore.h"

QString configFileName(const CfgStore &store)
{
    Q_UNUSED(store);
    return QStringLiteral("config.cfg");
}

QString dataRootFor(const CfgStore &store, const QString &appDir)
{
    Q_UNUSED(store);
    return appDir;
}

bool chooseJapanese(const CfgStore &store, const QString &programBaseName)
{
    Q_UNUSED(store);
    Q_UNUSED(programBaseName);
    return true;
}
