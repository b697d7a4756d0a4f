#include "app/cfgstore.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "app/tokenizer.h"

CfgStore cfg;

// Book-keeping of one top-level readFile call and the INCLUDEs below it.
struct CfgStore::ReadState {
    QStringList openPaths;  // canonical paths of the files being read, outermost first
    int includedFiles = 0;
};

namespace {


QString decodeArg(const char *arg)
{
    return arg ? QString::fromUtf8(arg) : QString();
}

bool isOption(const QString &arg)
{
    return arg.startsWith(u'-');
}

}  // namespace

qsizetype CfgTable::indexOf(const QString &key) const
{
    if (index_.size() != keys.size()) {
        index_.clear();
        for (qsizetype i = keys.size() - 1; i >= 0; --i)
            index_.insert(keys.at(i), i);
        if (index_.size() != keys.size()) {
            // Duplicate keys put in by hand: the list itself is the answer.
            index_.clear();
            return keys.indexOf(key);
        }
    }
    const auto it = index_.constFind(key);
    return it == index_.cend() ? -1 : it.value();
}

void CfgStore::setInTable(CfgTable &t, const QString &key, const QString &value, const QString &tail,
                          const QString &comment)
{
    const qsizetype i = t.indexOf(key);
    if (i >= 0) {
        t.vals[i] = value;
        t.tails[i] = tail;
        return;
    }
    t.keys.append(key);
    t.vals.append(value);
    t.tails.append(tail);
    t.comments.append(comment);
    t.index_.insert(key, t.keys.size() - 1);
}

void CfgStore::init(int argc, const char *const *argv, bool readNow, const QString &defaultFile,
                    const QStringList &fileOptions)
{
    parseArgs(argc, argv);
    cfgFile.clear();
    QString name = defaultFile;
    for (const QString &option : fileOptions)
        name = get(option, name);
    if (readNow && !name.isEmpty())
        readFile(name);
}

void CfgStore::parseArgs(int argc, const char *const *argv)
{
    if (!argv)
        return;
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(decodeArg(argv[i]));

    qsizetype i = 0;
    while (i < args.size()) {
        if (!isOption(args.at(i))) {
            ++i;
            continue;
        }
        const QString &key = args.at(i);
        qsizetype next = i + 1;
        QStringList collected;
        while (next < args.size() && !isOption(args.at(next)))
            collected.append(args.at(next++));
        const QString value = collected.isEmpty() ? QString() : collected.first();
        set(key, value, collected.join(u' '), QString());
        i = next;
    }
}

bool CfgStore::readFile(const QString &path)
{
    ReadState state;
    return readNested(path, state);
}

bool CfgStore::readNested(const QString &path, ReadState &state)
{
    cfgFile = path;
    QFile file(path);
    // Regular files only (or links to them): opening a named pipe blocks until a writer
    // comes, and a device may never end. Anything else is skipped like a missing file.
    const QFileInfo info(path);
    if (!path.isEmpty() && info.exists() && !info.isFile()) {
        qDebug() << "Can't open config file, not a regular file : " << path;
        cfgFile.clear();
        return false;
    }
    // An empty name fails like a missing file (QFile would add a warning of its own).
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Can't open config file : " << path;
        cfgFile.clear();
        return false;
    }
    QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QFileInfo(path).absoluteFilePath();
    state.openPaths.append(canonical);

    QTextStream in(&file);
    qint64 charsRead = 0;
    while (!in.atEnd()) {
        if (charsRead >= maxFileChars) {
            qDebug() << "Config file too large, rest not read : " << path;
            break;
        }
        QString line = in.readLine(maxLineChars);
        charsRead += line.size() + 1;
        if (line.size() == maxLineChars) {
            // Drop the rest of an over-long line; a piece shorter than the limit ends it.
            qsizetype dropped = 0;
            while (!in.atEnd() && charsRead < maxFileChars) {
                const qsizetype piece = in.readLine(maxLineChars).size();
                charsRead += piece;
                dropped += piece;
                if (piece < maxLineChars)
                    break;
            }
            if (dropped > 0)
                qDebug() << "Config file line too long, cut : " << path;
        }

        line = stripComment(line);
        if (isBlankLine(line))
            continue;
        QString key;
        QString value;
        const QString tail = takeItem(line, key);
        takeItem(tail, value);

        if (key.toUpper() == QLatin1String("INCLUDE")) {
            const QString target = QFileInfo(value).canonicalFilePath();
            if (!target.isEmpty() && state.openPaths.contains(target)) {
                qDebug() << "Config file is already being read, not read again : " << value;
            } else if (state.openPaths.size() > maxIncludeDepth) {
                qDebug() << "Config files nested too deeply, not read : " << value;
            } else if (state.includedFiles >= maxIncludedFiles) {
                qDebug() << "Too many included config files, not read : " << value;
            } else {
                ++state.includedFiles;
                readNested(value, state);
            }
            continue;
        }
        set(key, value, tail, QString());
    }

    state.openPaths.removeLast();
    file.close();
    return true;
}

void CfgStore::set(const QString &key, const QString &value, const QString &tail, const QString &comment)
{
    setInTable(exact, key, value, tail, comment);
    setInTable(upper, key.toUpper(), value, tail, comment);
}

QString CfgStore::get(const QString &key, const QString &def) const
{
    const qsizetype i = upper.indexOf(key.toUpper());
    return i >= 0 ? upper.vals.at(i) : def;
}

QString CfgStore::getExact(const QString &key, const QString &def) const
{
    const qsizetype i = exact.indexOf(key);
    return i >= 0 ? exact.vals.at(i) : def;
}

bool CfgStore::hasKey(const QString &key) const
{
    return upper.indexOf(key.toUpper()) >= 0;
}

bool CfgStore::hasExactKey(const QString &key) const
{
    return exact.indexOf(key) >= 0;
}

void CfgStore::appendLine(const QString &key, const QString &value, const QString &tail, const QString &comment)
{
    set(key, value, tail, comment);
    if (cfgFile.isEmpty())
        return;
    QFile file(cfgFile);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << QStringLiteral("%1\t%2 %3\t # %4\n").arg(key, value, tail, comment);
}
