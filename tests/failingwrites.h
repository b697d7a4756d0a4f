#ifndef FAILINGWRITES_H
#define FAILINGWRITES_H

// A folder in which writing fails the way a full disk or a file-size limit makes
// it fail, for the tests of saving:
//  - FullDisk: a 1 MiB tmpfs mounted on a temporary folder and filled up (needs
//    the right to mount, so root; else unavailable() says why);
//  - SizeLimit: this process's RLIMIT_FSIZE lowered to a few bytes while failing()
//    is on, with SIGXFSZ ignored, so a write past it fails with EFBIG.
// Files put() before failing() are there as a user's old files would be.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/mount.h>
#include <sys/resource.h>

namespace fixtures {

class FailingWrites
{
public:
    enum Kind { FullDisk, SizeLimit };

    explicit FailingWrites(Kind kind) : kind_(kind)
    {
        if (!scratch_.isValid()) {
            why_ = QStringLiteral("no temporary folder");
            return;
        }
        folder_ = scratch_.path();
        if (kind_ == FullDisk) {
            folder_ = scratch_.filePath(QStringLiteral("fs"));
            QDir().mkpath(folder_);
            if (::mount("tmpfs", QFile::encodeName(folder_).constData(), "tmpfs", 0, "size=1m") != 0)
                why_ =
                    QStringLiteral("cannot mount a tmpfs here: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            else
                mounted_ = true;
        }
    }

    ~FailingWrites()
    {
        stopFailing();
        if (mounted_)
            ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
    }

    FailingWrites(const FailingWrites &) = delete;
    FailingWrites &operator=(const FailingWrites &) = delete;

    // Empty when the folder can be made to fail here, else the reason for QSKIP.
    QString unavailable() const { return why_; }

    QString path(const QString &name) const { return QDir(folder_).filePath(name); }

    bool put(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

    QByteArray contents(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The names in the folder, hidden ones too, without the filler of a full disk.
    QStringList names() const
    {
        QStringList all = QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        all.removeAll(QString::fromLatin1(filler));
        return all;
    }

    // From here on every write that grows a file fails.
    bool startFailing()
    {
        if (kind_ == FullDisk) {
            // Fill the tmpfs to its last page.
            QFile f(path(QString::fromLatin1(filler)));
            if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
                return false;
            const QByteArray block(4096, 'x');
            while (f.write(block) > 0) {
            }
            return f.error() != QFileDevice::NoError;
        }
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0)
            return false;
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit low = saved_;
        low.rlim_cur = 16;
        limited_ = ::setrlimit(RLIMIT_FSIZE, &low) == 0;
        return limited_;
    }

    // Lifts a size limit (a full disk stays full until the folder goes).
    void stopFailing()
    {
        if (!limited_)
            return;
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
        limited_ = false;
    }

    // What the system says of such a write.
    QString reason() const { return QString::fromLocal8Bit(std::strerror(kind_ == FullDisk ? ENOSPC : EFBIG)); }

private:
    static constexpr const char *filler = ".filler";
    Kind kind_;
    QTemporaryDir scratch_;
    QString folder_;
    QString why_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit saved_ = {};
    void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace fixtures

#endif
