#ifndef CFGSTORE_H
#define CFGSTORE_H

#include <QString>
#include <QStringList>

// Four parallel lists; position i of each belongs to one entry.
struct CfgTable {
    QStringList keys;
    QStringList vals;
    QStringList tails;
    QStringList comments;
};

// Every setting of the program as string entries: command-line options and
// configuration-file lines share one key space, looked up case-sensitively in
// `exact` and case-insensitively in `upper`. Filled on the main thread at
// start-up, read afterwards.
class CfgStore
{
public:
    CfgTable exact;
    CfgTable upper;
    QString cfgFile;

    void init(int argc, const char *const *argv, bool readNow, const QString &defaultFile,
              const QStringList &fileOptions);
    void parseArgs(int argc, const char *const *argv);
    // False when path cannot be opened (logged). INCLUDE lines read further
    // files in place; a file already being read, nesting deeper than 16 or more
    // than 256 included files in one call are refused with one debug line.
    bool readFile(const QString &path);
    void set(const QString &key, const QString &value, const QString &tail, const QString &comment);
    QString get(const QString &key, const QString &def) const;
    QString getExact(const QString &key, const QString &def) const;
    bool hasKey(const QString &key) const;
    bool hasExactKey(const QString &key) const;
    void appendLine(const QString &key, const QString &value, const QString &tail, const QString &comment);
};

// The one process-wide store.
extern CfgStore cfg;

#endif
