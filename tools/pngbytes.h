#ifndef PNGBYTES_H
#define PNGBYTES_H

// PNG files written byte by byte, for pictures no image writer would make: a header
// declaring any size at all, with as little pixel data as wanted. Used by the loader
// fault tests and the fuzz seed generator.

#include <QByteArray>
#include <QtGlobal>

namespace pngbytes {

inline quint32 crc32(const QByteArray &bytes)
{
    quint32 c = 0xffffffffu;
    for (char ch : bytes) {
        c ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline void appendBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

// One chunk: length, type, payload and the CRC of type and payload.
inline QByteArray chunk(const char *type, const QByteArray &payload)
{
    QByteArray out;
    appendBe32(out, quint32(payload.size()));
    const QByteArray body = QByteArray(type, 4) + payload;
    out += body;
    appendBe32(out, crc32(body));
    return out;
}

// A well-formed PNG declaring width x height pixels of 8-bit grey, with `idat` (a
// zlib stream; none when empty) as its only pixel data.
inline QByteArray declared(quint32 width, quint32 height, const QByteArray &idat = QByteArray())
{
    QByteArray ihdr;
    appendBe32(ihdr, width);
    appendBe32(ihdr, height);
    ihdr.append(char(8)).append(char(0)).append(char(0)).append(char(0)).append(char(0));
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += chunk("IHDR", ihdr);
    if (!idat.isEmpty())
        png += chunk("IDAT", idat);
    png += chunk("IEND", QByteArray());
    return png;
}

}  // namespace pngbytes

#endif
