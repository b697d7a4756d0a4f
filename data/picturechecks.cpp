#include "data/picturechecks.h"

#include <QByteArray>
#include <QIODevice>
#include <QImageReader>

#include <zlib.h>

#include <cstring>
#include <vector>

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

// libpng reports a damaged file on standard error by itself (Qt leaves it its default
// error handler) before Qt's reader gives up. A PNG file is walked here first: every
// chunk must lie within the file with the checksum it carries, the header must come
// first with a size and depth libpng takes, the image data must inflate to its end,
// and the end chunk must be there. Other files pass unchecked.
bool pngSound(QIODevice &file)
{
    static const char signature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    const QByteArray head = file.peek(8);
    if (head.size() < 8 || std::memcmp(head.constData(), signature, 8) != 0)
        return true;
    file.skip(8);
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return false;
    std::vector<unsigned char> sink(256 * 1024);
    bool first = true, imageEnded = false, sound = false;
    char h[8];
    QByteArray data;
    while (file.read(h, 8) == 8) {
        const quint32 length = readBe32(h);
        const QByteArray type(h + 4, 4);
        if (length > 0x7fffffffu || qint64(length) + 4 > file.size() - file.pos())
            break;
        data = file.read(qint64(length));
        char crcBytes[4];
        if (data.size() != qsizetype(length) || file.read(crcBytes, 4) != 4)
            break;
        uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(h + 4), 4);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(data.constData()), uInt(length));
        if (crc != readBe32(crcBytes))
            break;
        if (first != (type == "IHDR"))
            break;
        if (first) {
            const quint32 w = length == 13 ? readBe32(data.constData()) : 0;
            const quint32 hgt = length == 13 ? readBe32(data.constData() + 4) : 0;
            // libpng's own limit on either side is a million pixels.
            if (w == 0 || hgt == 0 || w > 1000000 || hgt > 1000000)
                break;
            first = false;
        }
        if (type == "IDAT" && !imageEnded) {
            z.next_in = reinterpret_cast<Bytef *>(data.data());
            z.avail_in = uInt(length);
            int r = Z_OK;
            while (z.avail_in > 0 && r == Z_OK) {
                z.next_out = sink.data();
                z.avail_out = uInt(sink.size());
                r = inflate(&z, Z_NO_FLUSH);
            }
            if (r == Z_STREAM_END)
                imageEnded = true;
            else if (r != Z_OK && r != Z_BUF_ERROR)
                break;
        }
        if (type == "IEND") {
            sound = imageEnded;
            break;
        }
    }
    inflateEnd(&z);
    return sound;
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
    if (!pngSound(device) || !device.seek(start))
        return false;
    return iconLengthsFit(device);
}

}  // namespace picturecheck
