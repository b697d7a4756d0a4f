#ifndef ZARRSTORE_H
#define ZARRSTORE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

// Where a Zarr image lies: a folder, or an http:// or https:// address. Its readers
// ask a store for keys (".zattrs", "0/.zarray", "0/1.2.3") and never for paths or
// addresses themselves, so the same reader serves both.

// How reading a key went: its bytes, missing (the store has no such key; for a chunk
// the format says that means the fill value), or a fault with its reason.
enum class ZarrRead { data, missing, fault };

// The keys of one Zarr hierarchy. Every member may be called from any thread at once.
class ZarrStore
{
public:
    virtual ~ZarrStore() = default;

    // The whole value of key, when it is no longer than maxBytes. A longer value, a
    // key that is not a plain file, or one that cannot be read is a fault; why is then
    // the reason, or null where the caller's own (damaged chunk, bad metadata) fits.
    virtual ZarrRead read(const QString &key, qint64 maxBytes, QByteArray &out, const char **why) const = 0;
    // length bytes of key from offset; with offset < 0, the last -offset bytes (length
    // is then -offset). Fewer bytes when the value is shorter. wholeLimit bounds what
    // may be fetched when the store can only give the whole value.
    virtual ZarrRead readRange(const QString &key, qint64 offset, qint64 length, qint64 wholeLimit, QByteArray &out,
                               const char **why) const = 0;
    // Ends every read of this store that is waiting, and those to come, as faults (a
    // store whose reader is going away). A folder's reads never wait.
    virtual void cancel() { }

    // The folder or address the keys are under, as given.
    const QString &location() const { return location_; }

protected:
    explicit ZarrStore(const QString &location) : location_(location) { }

private:
    QString location_;
};

// True for an http:// or https:// address (any letter case of the scheme).
bool isZarrAddress(const QString &name);

// The store of a folder or an address.
std::shared_ptr<ZarrStore> openZarrStore(const QString &location);

// A key under a prefix ("0" and ".zarray" make "0/.zarray"; an empty prefix or "."
// leaves the key as it is).
QString zarrKey(const QString &prefix, const QString &key);

// A folder or address below another: the folder joined, or the address resolved.
QString zarrLocation(const QString &location, const QString &relative);

// The name of a folder or address for people: its last path segment.
QString zarrLocationName(const QString &location);

#endif
