#include "app/slicecommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>

#include "data/slicedatas.h"
#include "render/picking.h"

bool parseSliceOption(const QString &text, SliceAxis &axis, int &index)
{
    static const QRegularExpression form(QStringLiteral("^(stack|columns|rows|x|y|z):(\\d{1,9})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed().toLower());
    if (!m.hasMatch())
        return false;
    const QString name = m.captured(1);
    axis = name == QLatin1String("stack") || name == QLatin1String("z")      ? SliceAxis::Stack
           : name == QLatin1String("columns") || name == QLatin1String("x") ? SliceAxis::Columns
                                                                             : SliceAxis::Rows;
    index = m.captured(2).toInt();
    return true;
}

QImage slicePicture(const Scene &s, SliceAxis axis, int index, int w, int h, const std::vector<Measurement> &ms,
                    QString *error)
{
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr)
            continue;
        int count = 0;
        {
            SliceDatas::ReadGuard guard(*layer.set);
            planeIndex(layer, axis, 0.0, &count);
        }
        if (count <= 0)
            continue;
        if (index < 0 || index >= count) {
            if (error)
                *error = QStringLiteral("slice %1 is outside the set's %2 (0 to %3)").arg(index).arg(count).arg(count - 1);
            return QImage();
        }
        const SliceViewState v = fittedSliceView(s.layers, axis, planeCentre(layer, axis, index), w, h);
        QImage picture = drawSliceView(s.layers, v, w, h);
        if (!picture.isNull() && !ms.empty()) {
            QString unit;
            {
                SliceDatas::ReadGuard guard(*layer.set);
                unit = layer.set->spacingUnit;
            }
            QPainter p(&picture);
            drawMeasurements(p, v, w, h, ms, s.layers, -1, unit);
        }
        return picture;
    }
    if (error)
        *error = QStringLiteral("no set has slices");
    return QImage();
}

QByteArray pickJson(const Scene &s, int x, int y)
{
    QJsonArray all;
    const std::vector<std::optional<VoxelAt>> picks = render::pickPixel(s, x, y);
    for (std::size_t i = 0; i < picks.size(); ++i) {
        const std::optional<VoxelAt> &v = picks[i];
        if (!v) {
            all.append(QJsonValue());
            continue;
        }
        all.append(QJsonObject{{"set", int(i)},
                               {"voxel", QJsonArray{v->column, v->row, v->slice}},
                               {"position", QJsonArray{v->position.x, v->position.y, v->position.z}},
                               {"value", v->value}});
    }
    return QJsonDocument(all).toJson(QJsonDocument::Indented);
}
