#ifndef STARTUP_H
#define STARTUP_H

#include <QString>

class CfgStore;

// The decisions of the start-up sequence as plain functions over a store.

// "config.cfg", replaced by "-c" and then by "-config" (keys case-insensitive).
QString configFileName(const CfgStore &store);
// appDir, replaced by the entry "DataRoot" and then by the option "-d" (both exact keys).
QString dataRootFor(const CfgStore &store, const QString &appDir);
// Japanese unless "lang" says English; the program-name rule; then "-e" and "-j".
bool chooseJapanese(const CfgStore &store, const QString &programBaseName);

#endif
