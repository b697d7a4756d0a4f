#ifndef SLICEFIXTURES_H
#define SLICEFIXTURES_H

// Small slice files made on the fly for the panel, histogram and window tests.

#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace fixtures {

// A grey picture whose values (the blue channel) run from lo in the first pixel
// to hi in the last one, row by row.
inline bool writeRampPng(const QString &path, int w, int h, int lo, int hi)
{
    QImage img(w, h, QImage::Format_Grayscale8);
    const int n = w * h;
    for (int i = 0; i < n; ++i) {
        const int v = lo + static_cast<int>(qint64(hi - lo) * i / (n - 1));
        img.setPixel(i % w, i / w, qRgb(v, v, v));
    }
    return img.save(path, "PNG");
}

// Left half (columns below w / 2) holds lo, right half hi.
inline bool writeTwoValuePng(const QString &path, int w, int h, int lo, int hi)
{
    QImage img(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = x < w / 2 ? lo : hi;
            img.setPixel(x, y, qRgb(v, v, v));
        }
    return img.save(path, "PNG");
}

// A file that neither the picture readers nor the grid readers accept.
inline bool writeGarbage(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write("this is not a slice\n1 2 3\n") > 0;
}

}  // namespace fixtures

#endif
