#ifndef VEC3_H
#define VEC3_H

#include <QMetaType>

// A point or direction in volume coordinates. A plain value: the arithmetic on
// it is written out component by component where it is used, so every formula
// keeps the exact order of operations the renderer relies on.
struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Q_DECLARE_METATYPE(Vec3)

#endif
