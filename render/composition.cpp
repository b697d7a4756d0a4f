#include "render/scene.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include "data/slicedatas.h"

namespace {

// Pictures beyond these sizes are refused: a raster picture of more pixels
// could not be held (or would be drawn for minutes), and an SVG holds one
// element per pixel and set.
constexpr qint64 maxRasterPixels = qint64(1) << 28;
constexpr int maxRasterSide = 32767;
constexpr qint64 maxSvgPixels = qint64(8192) * 8192;

}  // namespace

namespace render {

bool pictureSizeOk(int w, int h)
{
    return w > 0 && h > 0 && w <= maxRasterSide && h <= maxRasterSide && qint64(w) * h <= maxRasterPixels;
}

bool svgSizeOk(int w, int h)
{
    return qint64(w) * h <= maxSvgPixels;
}

void drawScene(QPainter &p, const Scene &s, int pw, int ph)
{
    p.fillRect(QRect(0, 0, pw, ph), QColor(255, 255, 255, 255));
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr)
            continue;
        int sw, sh, ss;
        {
            SliceDatas::ReadGuard guard(*layer.set);
            sw = layer.set->width;
            sh = layer.set->height;
            ss = int(layer.set->slices.size());
        }
        if (sw <= 0 || sh <= 0)
            continue;
        if (layer.showFrame)
            drawFrame(p, s.view, s.frameWidth, s.frameHeight, ss, sw, sh, false, layer.vColor);
        if (layer.showVolume)
            drawVolume(p, s.view, layer, sw, sh, pw, ph);
        if (layer.showFrame)
            drawFrame(p, s.view, s.frameWidth, s.frameHeight, ss, sw, sh, true, layer.vColor);
    }
}

QImage renderScene(const Scene &s)
{
    if (!pictureSizeOk(s.width, s.height))
        return QImage();
    QImage img(s.width, s.height, QImage::Format_ARGB32);
    if (img.isNull())
        return img;
    QPainter p(&img);
    drawScene(p, s, s.width, s.height);
    p.end();
    return img;
}

QStringList rasterFormats()
{
    QStringList names;
    for (const QByteArray &name : QImageWriter::supportedImageFormats())
        names.append(QString::fromUtf8(name).toLower());
    return names;
}

bool writePicture(const QString &fname, const QImage &picture, const Scene &s, QString *error)
{
    const QString suffix = QFileInfo(fname).suffix().toLower();
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (rasterFormats().contains(suffix)) {
        if (picture.isNull())
            return fail(QStringLiteral("no picture to write"));
        QImageWriter writer(fname, suffix.toUtf8());
        if (!writer.write(picture))
            return fail(writer.errorString());
        return true;
    }
    if (suffix == QLatin1String("svg")) {
        const int w = s.width;
        const int h = s.height;
        if (!svgSizeOk(w, h))
            return fail(QStringLiteral("picture too large for SVG"));
        QSvgGenerator gen;
        gen.setFileName(fname);
        gen.setSize(QSize(w, h));
        gen.setViewBox(QRect(0, 0, w, h));
        QPainter p;
        if (!p.begin(&gen))
            return fail(QStringLiteral("cannot write the file"));
        drawScene(p, s, w, h);
        if (!p.end())
            return fail(QStringLiteral("cannot write the file"));
        return true;
    }
    return fail(QStringLiteral("unknown picture format \"%1\"").arg(suffix));
}

}  // namespace render
