#ifndef SESSIONDRAWING_H
#define SESSIONDRAWING_H

#include <QColor>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include "render/layersettings.h"
#include "render/overlays.h"

// The drawing choices of a set in a session file, kept apart from the rest of a
// set's keys: one object "drawing", every key of which may be left out (a file
// written before a choice existed reads the default).
QJsonObject drawingToJson(const LayerSettings &s);
// Reads the object at `path` (undefined: every default) into s; false with a
// one-line reason naming the key on a wrong type, an unknown name or key, or a
// number out of range.
bool drawingFromJson(const QJsonValue &v, const QString &path, LayerSettings &s, QString *error);

// The overlays as {"scaleBar": bool, "orientation": bool, "colorBar": bool}, each
// key optional; undefined reads as none.
QJsonObject overlaysToJson(const Overlays &o);
bool overlaysFromJson(const QJsonValue &v, const QString &path, Overlays &out, QString *error);

// The picture's background as "#rrggbb"; undefined reads as white.
bool backgroundFromJson(const QJsonValue &v, const QString &path, QColor &out, QString *error);

#endif
