#include "render/scene.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include "data/slicedatas.h"
#include "render/renderer.h"
#include "render/savefile.h"

namespace {

// Pictures beyond these sizes are refused: a raster picture of more pixels
// could not be held (or would be drawn for minutes), and an SVG embeds its
// picture as base64 text, a third larger again.
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
    return pictureSizeOk(w, h) && qint64(w) * h <= maxSvgPixels;
}

void Renderer::drawScene(QPainter &p, const Scene &s, int pw, int ph)
{
    QColor background = s.background;
    background.setAlpha(255);
    p.fillRect(QRect(0, 0, pw, ph), background);
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
            drawFrame(p, s.view, s.frameWidth, s.frameHeight, ss, sw, sh, false, layer.vColor, layer.spacing);
        if (layer.showVolume)
            drawVolume(p, s.view, layer, sw, sh, pw, ph);
        if (layer.showFrame)
            drawFrame(p, s.view, s.frameWidth, s.frameHeight, ss, sw, sh, true, layer.vColor, layer.spacing);
    }
    if (s.overlays.any())
        drawOverlays(p, overlayInfo(s), pw, ph);
}

QImage Renderer::renderScene(const Scene &s)
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

SvgOverlay svgOverlay(const Scene &s)
{
    SvgOverlay o;
    o.view = s.view;
    o.frameWidth = s.frameWidth;
    o.frameHeight = s.frameHeight;
    o.overlays = overlayInfo(s);
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr || !layer.showFrame)
            continue;
        SliceDatas::ReadGuard guard(*layer.set);
        if (layer.set->width > 0 && layer.set->height > 0)
            o.boxes.push_back(
                {int(layer.set->slices.size()), layer.set->width, layer.set->height, layer.vColor, layer.spacing});
    }
    return o;
}

bool writePicture(const QString &fname, const QImage &picture, const SvgOverlay &overlay, QString *error)
{
    if (!fileNameUsable(fname, error))
        return false;
    const QString suffix = QFileInfo(fname).suffix().toLower();
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const bool svg = suffix == QLatin1String("svg");
    if (!svg && !rasterFormats().contains(suffix))
        return fail(QStringLiteral("unknown picture format \"%1\"").arg(suffix));
    if (picture.isNull())
        return fail(QStringLiteral("no picture of that size can be made"));
    // Icons hold at most 256 x 256 pixels; the writer would silently shrink the picture.
    if ((suffix == QLatin1String("ico") || suffix == QLatin1String("cur"))
        && (picture.width() > 256 || picture.height() > 256))
        return fail(QStringLiteral("%1 pictures hold at most 256 x 256 pixels").arg(suffix.toUpper()));
    if (suffix == QLatin1String("webp") && (picture.width() > 16383 || picture.height() > 16383))
        return fail(QStringLiteral("WEBP pictures hold at most 16383 x 16383 pixels"));

    SaveFile file(fname);
    if (!file.open(error))
        return false;
    if (svg) {
        const int w = picture.width();
        const int h = picture.height();
        QSvgGenerator gen;
        gen.setOutputDevice(&file);
        gen.setSize(QSize(w, h));
        gen.setViewBox(QRect(0, 0, w, h));
        QPainter p;
        if (!p.begin(&gen))
            return fail(QStringLiteral("cannot start the SVG drawing"));
        p.drawImage(QRect(0, 0, w, h), picture);
        for (const SvgOverlay::Box &b : overlay.boxes)
            drawFrame(p, overlay.view, overlay.frameWidth, overlay.frameHeight, b.ss, b.sw, b.sh, true, b.color,
                      b.spacing);
        drawOverlays(p, overlay.overlays, w, h);
        p.end();
    } else {
        QImageWriter writer(&file, suffix.toUtf8());
        // A failed write to the file says more than the encoder's "Unknown error".
        if (!writer.write(picture)) {
            if (!file.failure().isEmpty())
                return fail(file.failure());
            if (writer.error() == QImageWriter::UnknownError)
                return fail(QStringLiteral("the %1 encoder refused the picture").arg(suffix.toUpper()));
            return fail(writer.errorString());
        }
    }
    return file.commit(error);
}

bool Renderer::writeScene(const QString &fname, const Scene &s, QString *error)
{
    const bool svg = QFileInfo(fname).suffix().toLower() == QLatin1String("svg");
    if (svg && !svgSizeOk(s.width, s.height)) {
        if (error)
            *error = QStringLiteral("picture too large for SVG");
        return false;
    }
    if (!svg)
        return writePicture(fname, renderScene(s), SvgOverlay(), error);
    // The SVG draws the overlays as vectors, over a picture without them.
    Scene plain = s;
    plain.overlays = Overlays();
    return writePicture(fname, renderScene(plain), svgOverlay(s), error);
}

}  // namespace render
