#include "data/nativename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#if defined(Q_OS_LINUX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char16_t replacementChar = 0xfffd;

#if defined(Q_OS_LINUX)
// The one entry of directory dir (bytes) that Qt shows as name; empty when none or several.
QByteArray matchEntry(const QByteArray &dir, const QString &name)
{
    DIR *d = ::opendir(dir.isEmpty() ? "." : dir.constData());
    if (!d)
        return {};
    QByteArray found;
    int matches = 0;
    while (const dirent *e = ::readdir(d)) {
        if (QFile::decodeName(e->d_name) == name) {
            found = e->d_name;
            if (++matches > 1)
                break;
        }
    }
    ::closedir(d);
    return matches == 1 ? found : QByteArray();
}
#endif

// Length of the valid UTF-8 sequence at p (of n bytes), 0 when it is not one.
int sequenceLength(const uchar *p, qsizetype n, char32_t &cp)
{
    const uchar b = p[0];
    int len = 0;
    char32_t min = 0;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if (b >= 0xc2 && b <= 0xdf) {
        len = 2, cp = b & 0x1f, min = 0x80;
    } else if (b >= 0xe0 && b <= 0xef) {
        len = 3, cp = b & 0x0f, min = 0x800;
    } else if (b >= 0xf0 && b <= 0xf4) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return len;
}

bool isControl(char32_t cp)
{
    return cp < 0x20 || cp == 0x7f || (cp >= 0x80 && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029;
}

}  // namespace

namespace nativename {

QByteArray resolve(const QString &name)
{
    const QByteArray plain = QFile::encodeName(name);
    if (name.isEmpty() || !name.contains(QChar(replacementChar)) || QFileInfo::exists(name))
        return plain;
#if defined(Q_OS_LINUX)
    const QStringList parts = name.split(u'/');
    QByteArray path;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (i > 0)
            path += '/';
        if (!part.contains(QChar(replacementChar))) {
            path += QFile::encodeName(part);
            continue;
        }
        const QByteArray entry = matchEntry(i == 0 ? QByteArray() : path.chopped(1), part);
        if (entry.isEmpty())
            return {};
        path += entry;
    }
    return path;
#else
    return {};
#endif
}

QString escaped(const QByteArray &bytes)
{
    QString out;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        char32_t cp = 0;
        const int len = sequenceLength(p + i, n - i, cp);
        if (len == 0) {
            out += QStringLiteral("\\x%1").arg(uint(p[i]), 2, 16, QLatin1Char('0'));
            ++i;
            continue;
        }
        i += len;
        if (cp == '\n')
            out += QLatin1String("\\n");
        else if (cp == '\r')
            out += QLatin1String("\\r");
        else if (cp == '\t')
            out += QLatin1String("\\t");
        else if (isControl(cp) && cp < 0x80)
            out += QStringLiteral("\\x%1").arg(uint(cp), 2, 16, QLatin1Char('0'));
        else if (isControl(cp))
            out += QStringLiteral("\\u{%1}").arg(uint(cp), 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(&cp, 1);
    }
    return out;
}

QString displayName(const QString &name)
{
    const QByteArray bytes = resolve(name);
    return escaped(bytes.isEmpty() ? QFile::encodeName(name) : bytes);
}

}  // namespace nativename

NativeFileAlias::NativeFileAlias(const QString &name) : path_(name)
{
#if defined(Q_OS_LINUX)
    if (name.isEmpty() || !name.contains(QChar(replacementChar)) || QFileInfo::exists(name))
        return;
    const QByteArray bytes = nativename::resolve(name);
    if (bytes.isEmpty())
        return;
    // Not blocking on a named pipe; anything but a regular file is left to fail by name.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat st;
    const QString alias = QStringLiteral("/proc/self/fd/%1").arg(fd);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !QFileInfo::exists(alias)) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    path_ = alias;
#endif
}

NativeFileAlias::~NativeFileAlias()
{
#if defined(Q_OS_LINUX)
    if (fd_ >= 0)
        ::close(fd_);
#endif
}
