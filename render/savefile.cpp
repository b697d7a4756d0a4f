#include "render/savefile.h"

#include <QFileInfo>

namespace {

bool failWith(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

}  // namespace

namespace render {

bool fileNameUsable(const QString &fname, QString *error)
{
    if (fname.isEmpty())
        return failWith(error, QStringLiteral("no file name given"));
    if (fname.contains(QChar(0)))
        return failWith(error, QStringLiteral("the file name holds a NUL character"));
    return true;
}

SaveFile::SaveFile(const QString &target) : file_(target) { }

bool SaveFile::open(QString *error)
{
    const QString fname = file_.fileName();
    if (!fileNameUsable(fname, error))
        return false;
    // QFileInfo follows links: this is what the rename would replace.
    const QFileInfo target(fname);
    if (target.exists() && !target.isFile())
        return failWith(error,
                        target.isDir() ? QStringLiteral("a folder of that name exists")
                                       : QStringLiteral("not a regular file"));
    // Unbuffered: every write reaches the file while its writer still waits for the
    // answer. Buffered, the last bytes would be written when the file is closed, and
    // a full disk seen only there would be taken for success.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failWith(error, file_.errorString());
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return true;
}

qint64 SaveFile::writeData(const char *data, qint64 len)
{
    if (!failure_.isEmpty())
        return -1;
    // A write cut short (the disk filled up, a size limit was reached during it) says
    // nothing; the next one, from where it stopped, fails with the system's reason.
    qint64 done = 0;
    while (done < len) {
        const qint64 n = file_.write(data + done, len - done);
        if (n <= 0) {
            failure_ = file_.errorString();
            setErrorString(failure_);
            return -1;
        }
        done += n;
    }
    return len;
}

qint64 SaveFile::readData(char *, qint64)
{
    return -1;
}

bool SaveFile::commit(QString *error)
{
    QIODevice::close();
    if (!failure_.isEmpty()) {
        file_.cancelWriting();
        file_.commit();  // removes the file beside the target
        return failWith(error, failure_);
    }
    if (!file_.commit())
        return failWith(error, file_.errorString());
    return true;
}

}  // namespace render
