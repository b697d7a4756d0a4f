#ifndef IMAGECOMPARE_H
#define IMAGECOMPARE_H

// Pixel-by-pixel comparison of two pictures for the rendering tests.

#include <QImage>
#include <QString>

namespace fixtures {

// The first pixel in which two pictures differ, with both colours, or an empty
// string when they are the same size and every pixel is equal.
inline QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1 x %2, expected %3 x %4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *la = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *le = reinterpret_cast<const QRgb *>(e.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            if (la[x] != le[x])
                return QStringLiteral("first difference at (%1, %2): #%3, expected #%4")
                    .arg(x)
                    .arg(y)
                    .arg(la[x], 8, 16, QLatin1Char('0'))
                    .arg(le[x], 8, 16, QLatin1Char('0'));
    }
    return QString();
}

}  // namespace fixtures

#endif
