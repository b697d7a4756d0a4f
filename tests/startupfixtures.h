#ifndef STARTUPFIXTURES_H
#define STARTUPFIXTURES_H

// Helpers of the start-up, configuration and tokenizer tests: the debug lines
// written, and argv as the process gets it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

namespace fixtures {

// Collects the debug lines written while it is alive, as the logger formats them.
class MessageLog
{
public:
    MessageLog()
    {
        previous = qInstallMessageHandler(&MessageLog::handler);
        lines().clear();
    }
    ~MessageLog() { qInstallMessageHandler(previous); }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    // How many lines start with `start`.
    static int count(const QString &start)
    {
        int n = 0;
        for (const QString &l : lines())
            n += l.startsWith(start) ? 1 : 0;
        return n;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg) { lines().append(msg); }
    QtMessageHandler previous = nullptr;
};

// argv as the process gets it: UTF-8 bytes, element 0 the program, a null pointer last.
class Argv
{
public:
    explicit Argv(const QStringList &args)
    {
        for (const QString &a : args)
            bytes.push_back(a.toUtf8());
        for (const QByteArray &b : bytes)
            ptrs.push_back(b.constData());
        ptrs.push_back(nullptr);
    }
    int argc() const { return int(bytes.size()); }
    const char *const *argv() const { return ptrs.data(); }

private:
    std::vector<QByteArray> bytes;
    std::vector<const char *> ptrs;
};

}  // namespace fixtures

#endif
