#include "data/zarrstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "data/zarrhttp.h"

namespace {

// A folder: keys are file names below it.
class FolderStore : public ZarrStore
{
public:
    explicit FolderStore(const QString &dir) : ZarrStore(dir), dir_(dir) { }

    ZarrRead read(const QString &key, qint64 maxBytes, QByteArray &out, const char **why) const override
    {
        const QString path = dir_.filePath(key);
        const QFileInfo info(path);
        if (!info.exists())
            return ZarrRead::missing;
        *why = nullptr;
        // Regular files only: a pipe or a device would hold the reader.
        QFile f(path);
        if (!info.isFile() || info.size() > maxBytes || !f.open(QIODevice::ReadOnly))
            return ZarrRead::fault;
        out = f.read(maxBytes + 1);
        return out.size() <= maxBytes ? ZarrRead::data : ZarrRead::fault;
    }

    ZarrRead readRange(const QString &key, qint64 offset, qint64 length, qint64, QByteArray &out,
                       const char **why) const override
    {
        const QString path = dir_.filePath(key);
        const QFileInfo info(path);
        if (!info.exists())
            return ZarrRead::missing;
        *why = nullptr;
        QFile f(path);
        if (!info.isFile() || length < 0 || !f.open(QIODevice::ReadOnly))
            return ZarrRead::fault;
        const qint64 size = f.size();
        const qint64 from = offset < 0 ? std::max<qint64>(0, size + offset) : offset;
        if (from > size || !f.seek(from))
            return ZarrRead::fault;
        out = f.read(std::min(length, size - from));
        return ZarrRead::data;
    }

private:
    const QDir dir_;
};

}  // namespace

bool isZarrAddress(const QString &name)
{
    return name.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || name.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

std::shared_ptr<ZarrStore> openZarrStore(const QString &location)
{
    if (isZarrAddress(location))
        return makeHttpStore(location);
    return std::make_shared<FolderStore>(location);
}

QString zarrKey(const QString &prefix, const QString &key)
{
    if (prefix.isEmpty() || prefix == QLatin1String("."))
        return key;
    return QDir::cleanPath(prefix + u'/' + key);
}

QString zarrLocation(const QString &location, const QString &relative)
{
    if (!isZarrAddress(location))
        return QDir::cleanPath(QDir(location).filePath(relative));
    QUrl base(location);
    if (!base.path().endsWith(u'/'))
        base.setPath(base.path() + u'/');
    QUrl rel;
    rel.setPath(relative);
    QString joined = base.resolved(rel).toString(QUrl::FullyEncoded);
    while (joined.endsWith(u'/') && !joined.endsWith(QLatin1String("//")))
        joined.chop(1);
    return joined;
}

QString zarrLocationName(const QString &location)
{
    if (!isZarrAddress(location))
        return QFileInfo(QDir::cleanPath(location)).fileName();
    const QUrl url(location);
    QString path = url.path(QUrl::FullyDecoded);
    while (path.endsWith(u'/'))
        path.chop(1);
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    return name.isEmpty() ? url.host() : name;
}
