#include "render/sliceview.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/colormap.h"
#include "render/mip.h"

namespace {

// The extent of the set's box along each axis, in its unit.
Vec3 boxSize(const SliceDatas &set, const Spacing &sp)
{
    return Vec3{set.width * sp.x, set.height * sp.y, double(set.slices.size()) * sp.z};
}

// The cell index of coordinate x (in voxels from the box's low end), or -1 outside 0 .. n - 1.
int cellIndex(double x, int n)
{
    if (!(x >= 0.0) || !(x < double(n)))
        return -1;
    return std::min(int(x), n - 1);
}

double step(const Spacing &sp, int axis)
{
    return axis == 0 ? sp.x : axis == 1 ? sp.y : sp.z;
}

// Which volume axis the view steps along, and which are to the right and down.
int depthAxis(SliceAxis a)
{
    return a == SliceAxis::Stack ? 2 : a == SliceAxis::Columns ? 0 : 1;
}
int rightAxis(SliceAxis a)
{
    return a == SliceAxis::Columns ? 2 : 0;
}
int downAxis(SliceAxis a)
{
    return a == SliceAxis::Rows ? 2 : 1;
}

double component(const Vec3 &v, int axis)
{
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

int extent(const SliceDatas &set, int axis)
{
    return axis == 0 ? set.width : axis == 1 ? set.height : int(set.slices.size());
}

}  // namespace

QPointF planePoint(SliceAxis axis, const Vec3 &p)
{
    return QPointF(component(p, rightAxis(axis)), component(p, downAxis(axis)));
}

double planeDepth(SliceAxis axis, const Vec3 &p)
{
    return component(p, depthAxis(axis));
}

Vec3 spacePoint(SliceAxis axis, const QPointF &q, double depth)
{
    double c[3];
    c[rightAxis(axis)] = q.x();
    c[downAxis(axis)] = q.y();
    c[depthAxis(axis)] = depth;
    return Vec3{c[0], c[1], c[2]};
}

QPointF pixelToPlane(const SliceViewState &v, int w, int h, double c, double r)
{
    return QPointF(v.center.x() + (c + 0.5 - w / 2.0) * v.scale, v.center.y() + (r + 0.5 - h / 2.0) * v.scale);
}

QPointF planeToPixel(const SliceViewState &v, int w, int h, const QPointF &q)
{
    return QPointF((q.x() - v.center.x()) / v.scale + w / 2.0, (q.y() - v.center.y()) / v.scale + h / 2.0);
}

std::optional<VoxelAt> voxelAt(const SceneLayer &layer, const Vec3 &p)
{
    if (layer.set == nullptr)
        return std::nullopt;
    const SliceDatas &set = *layer.set;
    const Spacing &sp = layer.spacing;
    const int ss = int(set.slices.size());
    if (ss == 0 || set.width <= 0 || set.height <= 0)
        return std::nullopt;
    VoxelAt v;
    v.column = cellIndex(p.x / sp.x + set.width / 2.0, set.width);
    v.row = cellIndex(p.y / sp.y + set.height / 2.0, set.height);
    v.slice = cellIndex(p.z / sp.z + ss / 2.0, ss);
    if (v.column < 0 || v.row < 0 || v.slice < 0)
        return std::nullopt;
    const SliceData &s = *set.slices[size_t(v.slice)];
    if (s.width != set.width || s.height != set.height)
        return std::nullopt;
    v.position = Vec3{(v.column + 0.5 - set.width / 2.0) * sp.x, (v.row + 0.5 - set.height / 2.0) * sp.y,
                      (v.slice + 0.5 - ss / 2.0) * sp.z};
    v.value = s.value(v.column, v.row);
    return v;
}

int planeIndex(const SceneLayer &layer, SliceAxis axis, double depth, int *count)
{
    const int a = depthAxis(axis);
    const int n = layer.set ? extent(*layer.set, a) : 0;
    if (count)
        *count = n;
    if (n <= 0)
        return -1;
    return cellIndex(depth / step(layer.spacing, a) + n / 2.0, n);
}

double planeCentre(const SceneLayer &layer, SliceAxis axis, int index)
{
    const int a = depthAxis(axis);
    const int n = layer.set ? extent(*layer.set, a) : 0;
    return (index + 0.5 - n / 2.0) * step(layer.spacing, a);
}

namespace {

// One layer over the picture: the plane of the set through the view's depth is read
// once into `plane` (not the set), then every pixel looks its cell up.
void drawLayer(QImage &img, const SceneLayer &layer, const SliceViewState &v)
{
    const SliceDatas &set = *layer.set;
    SliceDatas::ReadGuard guard(set);
    const int ss = int(set.slices.size());
    if (ss == 0 || set.width <= 0 || set.height <= 0)
        return;
    for (const SliceData *s : set.slices)
        if (s->width != set.width || s->height != set.height)
            return;
    const int da = depthAxis(v.axis), ra = rightAxis(v.axis), dn = downAxis(v.axis);
    const int k = cellIndex(v.depth / step(layer.spacing, da) + extent(set, da) / 2.0, extent(set, da));
    if (k < 0)
        return;
    const int nu = extent(set, ra), nv = extent(set, dn);
    std::vector<double> plane(static_cast<size_t>(nu) * static_cast<size_t>(nv));
    if (v.axis == SliceAxis::Stack) {
        for (int y = 0; y < nv; ++y)
            set.slices[size_t(k)]->rowValues(y, plane.data() + size_t(y) * size_t(nu));
    } else if (v.axis == SliceAxis::Rows) {
        for (int z = 0; z < nv; ++z)
            set.slices[size_t(z)]->rowValues(k, plane.data() + size_t(z) * size_t(nu));
    } else {
        for (int z = 0; z < nu; ++z)
            for (int y = 0; y < nv; ++y)
                plane[size_t(y) * size_t(nu) + size_t(z)] = set.slices[size_t(z)]->value(k, y);
    }

    // The cell under each picture column and row (-1 outside the set).
    const int w = img.width(), h = img.height();
    const double su = step(layer.spacing, ra), sv = step(layer.spacing, dn);
    std::vector<int> cellU(static_cast<size_t>(w)), cellV(static_cast<size_t>(h));
    for (int c = 0; c < w; ++c)
        cellU[size_t(c)] = cellIndex(pixelToPlane(v, w, h, c, 0).x() / su + nu / 2.0, nu);
    for (int r = 0; r < h; ++r)
        cellV[size_t(r)] = cellIndex(pixelToPlane(v, w, h, 0, r).y() / sv + nv / 2.0, nv);

    mip::Params pr;
    pr.vColor = layer.vColor;
    pr.alpha = std::clamp(layer.alpha, 0, 255);
    pr.colorMap = layer.colorMap;
    pr.gamma = render::gammaOrOne(layer.gamma);
    pr.saturate = layer.above == AboveWindow::Saturate;
    const double a = pr.alpha / 255.0;
    for (int r = 0; r < h; ++r) {
        if (cellV[size_t(r)] < 0)
            continue;
        const double *values = plane.data() + size_t(cellV[size_t(r)]) * size_t(nu);
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(r));
        for (int c = 0; c < w; ++c) {
            if (cellU[size_t(c)] < 0)
                continue;
            const double q = mip::mapValue(values[cellU[size_t(c)]], layer.minTh, layer.maxTh, pr.saturate);
            if (!(q > 0.0))
                continue;
            const QColor col = mip::pixelColor(pr, q, 0.0);
            const QRgb below = line[c];
            line[c] = qRgb(int(col.red() * a + qRed(below) * (1.0 - a) + 0.5),
                           int(col.green() * a + qGreen(below) * (1.0 - a) + 0.5),
                           int(col.blue() * a + qBlue(below) * (1.0 - a) + 0.5));
        }
    }
}

}  // namespace

QImage drawSliceView(const std::vector<SceneLayer> &layers, const SliceViewState &v, int w, int h,
                     const QColor &background)
{
    if (!render::pictureSizeOk(w, h) || !(v.scale > 0.0) || !std::isfinite(v.scale))
        return QImage();
    QImage img(w, h, QImage::Format_RGB32);
    if (img.isNull())
        return img;
    img.fill(background);
    for (const SceneLayer &layer : layers)
        if (layer.set != nullptr && layer.showVolume)
            drawLayer(img, layer, v);
    return img;
}

SliceViewState fittedSliceView(const std::vector<SceneLayer> &layers, SliceAxis axis, double depth, int w, int h)
{
    SliceViewState v;
    v.axis = axis;
    v.depth = depth;
    double right = 0.0, down = 0.0;
    for (const SceneLayer &layer : layers) {
        if (layer.set == nullptr)
            continue;
        SliceDatas::ReadGuard guard(*layer.set);
        if (layer.set->slices.empty())
            continue;
        const Vec3 box = boxSize(*layer.set, layer.spacing);
        right = std::max(right, component(box, rightAxis(axis)));
        down = std::max(down, component(box, downAxis(axis)));
    }
    if (right > 0.0 && down > 0.0 && w > 0 && h > 0)
        v.scale = std::max(right / w, down / h) * 1.05;
    return v;
}
