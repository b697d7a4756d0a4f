#include "data/rawvolume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cmath>
#include <limits>
#include <mutex>

#include "data/slicefile.h"

namespace {

// Descriptions past this many are forgotten, oldest first.
constexpr int maxRemembered = 200;

struct Remembered {
    std::mutex mutex;
    QList<QPair<QString, RawDescription>> list;
};

Remembered &store()
{
    static Remembered r;
    return r;
}

QString keyOf(const QString &file)
{
    return QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

bool positiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

}  // namespace

qint64 RawDescription::fileBytes() const
{
    if (width <= 0 || height <= 0 || depth <= 0 || headerBytes < 0)
        return -1;
    const qint64 limit = std::numeric_limits<qint64>::max();
    qint64 n = qint64(width) * height;
    if (n > limit / depth)
        return -1;
    n *= depth;
    const int bytes = sampleTypeBytes(type);
    if (n > limit / bytes)
        return -1;
    n *= bytes;
    if (n > limit - headerBytes)
        return -1;
    return n + headerBytes;
}

bool RawDescription::operator==(const RawDescription &o) const
{
    return width == o.width && height == o.height && depth == o.depth && type == o.type && bigEndian == o.bigEndian
        && headerBytes == o.headerBytes && spacing.x == o.spacing.x && spacing.y == o.spacing.y
        && spacing.z == o.spacing.z;
}

bool parseRawDescription(const QString &text, RawDescription &out, QString *why)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 5 && parts.size() != 6 && parts.size() != 9)
        return fail(why, QStringLiteral("a raw description is W,H,D,TYPE,ORDER[,OFFSET[,SX,SY,SZ]]"));
    RawDescription d;
    int *sizes[] = {&d.width, &d.height, &d.depth};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok, 10);
        if (!ok || v < 1)
            return fail(why, QStringLiteral("width, height and slices are whole numbers from 1"));
        *sizes[i] = v;
    }
    if (!sampleTypeFromName(parts[3], d.type))
        return fail(why,
                    QStringLiteral("the type is one of uint8, int8, uint16, int16, uint32, int32, float32, "
                                   "float64"));
    const QString order = parts[4].trimmed().toLower();
    if (order == QLatin1String("be") || order == QLatin1String("big"))
        d.bigEndian = true;
    else if (order != QLatin1String("le") && order != QLatin1String("little"))
        return fail(why, QStringLiteral("the byte order is le or be"));
    if (parts.size() > 5) {
        bool ok = false;
        d.headerBytes = parts[5].trimmed().toLongLong(&ok, 10);
        if (!ok || d.headerBytes < 0)
            return fail(why, QStringLiteral("the offset is a whole number of bytes from 0"));
    }
    if (parts.size() == 9) {
        double *steps[] = {&d.spacing.x, &d.spacing.y, &d.spacing.z};
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            *steps[i] = parts[6 + i].trimmed().toDouble(&ok);
            if (!ok || !positiveFinite(*steps[i]))
                return fail(why, QStringLiteral("spacings are positive numbers"));
        }
    }
    if (d.fileBytes() < 0)
        return fail(why, QStringLiteral("the described file would be larger than any file can be"));
    out = d;
    return true;
}

QString rawDescriptionText(const RawDescription &d)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9")
        .arg(d.width)
        .arg(d.height)
        .arg(d.depth)
        .arg(sampleTypeName(d.type), d.bigEndian ? QStringLiteral("be") : QStringLiteral("le"))
        .arg(d.headerBytes)
        .arg(QString::number(d.spacing.x, 'g', 17), QString::number(d.spacing.y, 'g', 17),
             QString::number(d.spacing.z, 'g', 17));
}

namespace rawimport {

void remember(const QString &file, const RawDescription &d)
{
    const QString key = keyOf(file);
    Remembered &r = store();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (qsizetype i = 0; i < r.list.size(); ++i)
        if (r.list.at(i).first == key)
            r.list.removeAt(i--);
    r.list.append({key, d});
    while (r.list.size() > maxRemembered)
        r.list.removeFirst();
}

bool recall(const QString &file, RawDescription &d)
{
    const QString key = keyOf(file);
    Remembered &r = store();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto &entry : std::as_const(r.list)) {
        if (entry.first == key) {
            d = entry.second;
            return true;
        }
    }
    return false;
}

void forget(const QString &file)
{
    const QString key = keyOf(file);
    Remembered &r = store();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (qsizetype i = 0; i < r.list.size(); ++i)
        if (r.list.at(i).first == key)
            r.list.removeAt(i--);
}

QList<QPair<QString, RawDescription>> remembered()
{
    Remembered &r = store();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.list;
}

}  // namespace rawimport

bool readRawFile(const QString &name, const QString &path, SliceFile &out) noexcept
{
    try {
        RawDescription d;
        if (!rawimport::recall(name, d)) {
            if (!QFileInfo(name).suffix().compare(QLatin1String("raw"), Qt::CaseInsensitive)) {
                out.reason = QString::fromLatin1(skipReason::rawUndescribed);
                return true;
            }
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            out.reason = QString::fromLatin1(skipReason::unreadable);
            return true;
        }
        // The size is checked before anything is read or allocated.
        if (file.size() != d.fileBytes()) {
            out.reason = QString::fromLatin1(skipReason::rawSize);
            return true;
        }
        SampleLayout layout;
        layout.type = d.type;
        layout.swapBytes = d.bigEndian != (QSysInfo::ByteOrder == QSysInfo::BigEndian);
        if (const char *why = admitVolume(d.width, d.height, d.depth, layout)) {
            out.reason = QString::fromLatin1(why);
            return true;
        }
        if (!file.seek(d.headerBytes)) {
            out.reason = QString::fromLatin1(skipReason::dataShort);
            return true;
        }
        const char *why = readSlicesInTurn(
            d.width, d.height, d.depth, layout,
            [&file](unsigned char *to, qint64 bytes) {
                return file.read(reinterpret_cast<char *>(to), bytes) == bytes;
            },
            out.slices);
        if (why) {
            out.reason = QString::fromLatin1(why);
            return true;
        }
        out.hasSpacing = true;
        out.spacing = d.spacing;
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return true;
}
