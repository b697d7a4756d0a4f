#include "data/picturechecks.h"

#include <QByteArray>
#include <QIODevice>
#include <QImageReader>

#include <cstring>

namespace picturecheck {

namespace {

quint32 readBe32(const char *p)
{
    return (quint32(uchar(p[0])) << 24) | (quint32(uchar(p[1])) << 16) | (quint32(uchar(p[2])) << 8)
        | quint32(uchar(p[3]));
}

// Apple icon files hold blocks (type, length, data) and a table of contents listing
// the blocks' lengths. Qt's reader for them allocates whatever length a block or the
// table declares before it reads, beyond the image reader's allocation limit: a
// table entry of length 0 in a 181-byte file asks for 8 GiB. Such a file is refused
// here, before it reaches the decoder: every length must cover at least its own
// header and stay within the file. Other files pass unchecked. The file is what the
// device holds from its position on.
bool iconLengthsFit(QIODevice &file)
{
    const qint64 size = file.size() - file.pos();
    if (size < 8 || file.peek(4) != QByteArrayLiteral("icns"))
        return true;
    // The blocks of a well-formed icon file are small; a file too large to check
    // in one read is not decoded at all.
    constexpr qint64 maxIconFile = qint64(64) << 20;
    if (size > maxIconFile)
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.size() != size)
        return false;
    const char *d = bytes.constData();
    const quint32 total = readBe32(d + 4);
    if (total < 8 || total > quint64(size))
        return false;
    // Every block header up to the end of the file, whatever the total says.
    for (qint64 at = 8; at + 8 <= size;) {
        const quint32 length = readBe32(d + at + 4);
        if (length < 8 || length > quint64(size - at))
            return false;
        if (std::memcmp(d + at, "TOC ", 4) == 0) {
            for (qint64 e = at + 8; e + 8 <= at + length; e += 8) {
                const quint32 listed = readBe32(d + e + 4);
                if (listed < 8 || listed > quint64(size))
                    return false;
            }
        }
        at += length;
    }
    return true;
}

// Slices are measurement pictures. A vector drawing has no pixels of its own, may
// take minutes to render (thousands of translucent shapes) and can ask for any
// size; it is never decoded as a slice, whatever its name says: the format is the
// one the image reader recognises from the content.
bool isVectorFormat(QIODevice &device)
{
    QImageReader reader(&device);
    const QByteArray format = reader.format().toLower();
    return format == "svg" || format == "svgz" || format == "pdf";
}

}  // namespace

bool safeToDecode(QIODevice &device)
{
    const qint64 start = device.pos();
    if (isVectorFormat(device) || !device.seek(start))
        return false;
    return iconLengthsFit(device);
}

}  // namespace picturecheck
