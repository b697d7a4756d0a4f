#ifndef CFGSTORE_H
#define CFGSTORE_H

#include <QHash>
#include <QString>
#include <QStringList>

// Four parallel lists; position i of each belongs to one entry. Keys are found
// through a hash from key to position, so a file of many keys reads in linear time.
struct CfgTable {
    QStringList keys;
    QStringList vals;
    QStringList tails;
    QStringList comments;

    // Position of key in keys, -1 when absent. The hash is rebuilt when keys grew
    // or shrank behind its back (the lists are public).
    qsizetype indexOf(const QString &key) const;

private:
    mutable QHash<QString, qsizetype> index_;
    friend class CfgStore;
};

// Every setting of the program as string entries: command-line options and
// configuration-file lines share one key space, looked up case-sensitively in
// `exact` and case-insensitively in `upper`. Filled on the main thread at
// start-up, read afterwards; no locking.
class CfgStore
{
public:
    // Limits that keep INCLUDE from running away: nesting below the top-level
    // file, and included files opened during one top-level readFile call.
    static constexpr int maxIncludeDepth = 16;
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static constexpr int maxIncludedFiles = 256;
#else
    // Fuzz builds (fuzz/CMakeLists.txt): the same rule, reached with a few INCLUDE lines
    // instead of 256 file reads per input.
    static constexpr int maxIncludedFiles = 8;
#endif
    // An over-long line keeps its first maxLineChars characters; a file stops
    // being read after maxFileChars characters. Both are logged.
    static constexpr qsizetype maxLineChars = 1 << 20;
    static constexpr qint64 maxFileChars = qint64(64) << 20;

    CfgTable exact;
    CfgTable upper;
    QString cfgFile;

    // Reads the file only when readNow is set and the name found through
    // fileOptions (each key's value, case-insensitive, replaces the name so far)
    // is not empty.
    void init(int argc, const char *const *argv, bool readNow, const QString &defaultFile,
              const QStringList &fileOptions);
    // argv entries are UTF-8; null entries count as empty arguments.
    void parseArgs(int argc, const char *const *argv);
    // False when path cannot be opened or is not a regular file (a named pipe, a
    // device, a directory: logged, never opened, cfgFile emptied). INCLUDE lines
    // read further files in place; a file already being read, nesting deeper
    // than maxIncludeDepth or more than maxIncludedFiles included files in one
    // call are refused, each refusal logged with one debug line.
    bool readFile(const QString &path);
    void set(const QString &key, const QString &value, const QString &tail, const QString &comment);
    QString get(const QString &key, const QString &def) const;
    QString getExact(const QString &key, const QString &def) const;
    bool hasKey(const QString &key) const;
    bool hasExactKey(const QString &key) const;
    // set(), then one line appended to cfgFile when it names a writable file;
    // failures are silent.
    void appendLine(const QString &key, const QString &value, const QString &tail, const QString &comment);

private:
    static void setInTable(CfgTable &t, const QString &key, const QString &value, const QString &tail,
                           const QString &comment);
    struct ReadState;
    bool readNested(const QString &path, ReadState &state);
};

// The one process-wide store.
extern CfgStore cfg;

#endif
