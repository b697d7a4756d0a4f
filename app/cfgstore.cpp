#include "app/cfgstore.h"

CfgStore cfg;

void CfgStore::init(int argc, const char *const *argv, bool readNow, const QString &defaultFile,
                    const QStringList &fileOptions)
{
    Q_UNUSED(argc); Q_UNUSED(argv); Q_UNUSED(readNow); Q_UNUSED(defaultFile); Q_UNUSED(fileOptions);
}
void CfgStore::parseArgs(int argc, const char *const *argv) { Q_UNUSED(argc); Q_UNUSED(argv); }
bool CfgStore::readFile(const QString &path) { cfgFile = path; return false; }
void CfgStore::set(const QString &, const QString &, const QString &, const QString &) {}
QString CfgStore::get(const QString &, const QString &def) const { return def; }
QString CfgStore::getExact(const QString &, const QString &def) const { return def; }
bool CfgStore::hasKey(const QString &) const { return false; }
bool CfgStore::hasExactKey(const QString &) const { return false; }
void CfgStore::appendLine(const QString &, const QString &, const QString &, const QString &) {}
