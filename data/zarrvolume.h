#ifndef ZARRVOLUME_H
#define ZARRVOLUME_H

#include <QString>

#include "data/zarrmeta.h"
#include "data/zarrstore.h"

struct SliceFile;

// Reads an OME-Zarr image folder or address (or one holding one Zarr array) as the slices
// of one volume: the finest level whose slices, one slab of stored samples (a row of
// chunks deep) and one chunk per decoding thread fit the load's memory budget, reserved before anything
// is allocated; the spacing of that level in the image's unit (millimetres where the
// file's unit is one of length) and, in out.volume, which level of how many it is
// and the finest level's size. A missing chunk reads as the array's fill value; a
// damaged one leaves the image out with the reason. When a coarser level is held,
// out.stream reads the finer ones chunk by chunk (ZarrStream), within what the budget
// has left after the slices.
// False, with out untouched, when dir is neither such a folder nor an http:// or
// https:// address; true otherwise, with the slices, or none and the reason. Never throws.
bool readZarrVolume(const QString &dir, SliceFile &out) noexcept;

// Stored samples of slices z0 .. z1 - 1 of the array under arrayKey (rows of columns,
// in the file's byte order) into dest, which holds (z1 - z0) * height * width
// samples; decodes every chunk the slices cross once, on up to `threads` threads (the
// caller's and the pool's). Null on success, else the reason. Holds one chunk per
// thread beside dest.
const char *readZarrSlab(const ZarrStore &store, const QString &arrayKey, const ZarrArrayMeta &meta, qint64 z0,
                         qint64 z1, unsigned char *dest, int threads = 1);
// The same for the array at a folder or address.
const char *readZarrSlab(const QString &arrayDir, const ZarrArrayMeta &meta, qint64 z0, qint64 z1, unsigned char *dest,
                         int threads = 1);

// The folder or address of level k of an image read from dir.
QString zarrLevelDir(const QString &dir, const ZarrImage &image, std::size_t k);

#endif
