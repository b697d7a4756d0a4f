#ifndef ZARRPARSE_H
#define ZARRPARSE_H

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include "data/volumeslices.h"

// Pieces of JSON metadata that the readers of both Zarr versions share.
namespace zarrparse {

// The document as an object; false when it is not JSON or not an object.
bool objectOf(const QByteArray &json, QJsonObject &out);
// A whole number in 1 .. limit (JSON stores numbers as doubles).
bool positiveCount(const QJsonValue &v, qint64 limit, qint64 &out);
// A fill value: null (0), a number, "NaN", "Infinity", "-Infinity", or the bits of a
// float as "0x" and hexadecimal digits.
bool fillFrom(const QJsonValue &v, SampleType type, double &fill);

}  // namespace zarrparse

#endif
