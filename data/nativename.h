#ifndef NATIVENAME_H
#define NATIVENAME_H

#include <QByteArray>
#include <QString>

// File names that are not valid UTF-8. Qt turns each bad byte of such a name into
// a replacement character (U+FFFD), and the text no longer names the file. These
// helpers find the directory entries such a text stands for, reach the file through
// its own bytes, and show any name with its odd bytes and control characters
// escaped. Plain functions, safe on any thread.
namespace nativename {

// The bytes of the file that name stands for: QFile::encodeName(name) when that
// exists; otherwise (on Linux) every path component holding a replacement character
// is matched against its directory's entries as Qt decodes them. Empty when a
// component matches no entry, or more than one (two names alike but for their bad
// bytes cannot be told apart).
QByteArray resolve(const QString &name);

// Bytes of a file name as text for people: valid UTF-8 as it stands, each byte
// that is not as "\xHH", control characters as "\n", "\r", "\t" or "\xHH" (or
// "\u{HHHH}" above U+007F), so a name always shows on one line.
QString escaped(const QByteArray &bytes);

// escaped() of the bytes name stands for (resolve), or of its own encoding when
// it stands for none.
QString displayName(const QString &name);

}  // namespace nativename

// A file opened by the bytes resolve() finds for a name Qt cannot open, named for
// Qt's readers through the descriptor's own path ("/proc/self/fd/N"). Other names,
// and where that path does not exist, path() is the name itself. Regular files only;
// the descriptor is closed with the object.
class NativeFileAlias
{
public:
    explicit NativeFileAlias(const QString &name);
    ~NativeFileAlias();
    NativeFileAlias(const NativeFileAlias &) = delete;
    NativeFileAlias &operator=(const NativeFileAlias &) = delete;

    const QString &path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};

#endif
