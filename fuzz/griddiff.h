#ifndef OXA_FUZZ_GRIDDIFF_H
#define OXA_FUZZ_GRIDDIFF_H

// The differential check of the grid readers: the same bytes through the fast
// readers (SliceData::readRangeGrid, readXyvGrid) and the line-by-line reference
// readers must give the same success, size, range and every value bit for bit, and
// leave a slice alone in the same cases. Any difference prints one line and aborts
// (replay the input through tests/tst_gridfast for the first differing value).

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/slicedata.h"
#include "fuzz/harness.h"

namespace oxafuzz {

// What a read leaves in a slice, with the values folded into one 64-bit digest, so
// that only one grid (up to SliceData::maxGridPoints values) is held at a time.
struct GridOutcome {
    bool ok = false;
    bool isImage = false;
    int width = 0;
    int height = 0;
    std::uint64_t minV = 0;
    std::uint64_t maxV = 0;
    std::uint64_t rows = 0;
    std::uint64_t digest = 0;
};

inline std::uint64_t bitsOf(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// One step of a bijective 64-bit mix (the splitmix64 finaliser) over the state and a word.
inline std::uint64_t mixIn(std::uint64_t h, std::uint64_t word)
{
    h ^= word + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

inline GridOutcome readGrid(const std::uint8_t *data, std::size_t size, bool range, bool fast)
{
    InputDevice input(data, size);
    QIODevice &device = input.device();
    SliceData s;
    // A slice that a reader leaves alone shows it: every field differs from a fresh one.
    s.width = 3;
    s.height = 2;
    s.minV = -7.0;
    s.maxV = 9.0;
    s.values.assign(2, std::vector<double>(3, 0.5));
    GridOutcome r;
    r.ok = range ? (fast ? s.readRangeGrid(device) : s.readRangeGridReference(device))
                 : (fast ? s.readXyvGrid(device) : s.readXyvGridReference(device));
    r.isImage = s.isImage;
    r.width = s.width;
    r.height = s.height;
    r.minV = bitsOf(s.minV);
    r.maxV = bitsOf(s.maxV);
    r.rows = s.cells.empty() ? s.values.size() : std::size_t(s.height);
    std::uint64_t h = mixIn(0, s.values.size());
    for (const std::vector<double> &row : s.values) {
        h = mixIn(h, row.size());
        for (double v : row)
            h = mixIn(h, bitsOf(v));
    }
    h = mixIn(h, s.cells.size());
    for (double v : s.cells)
        h = mixIn(h, bitsOf(v));
    r.digest = h;
    return r;
}

[[noreturn]] inline void gridDiffFailed(const char *format, const char *what)
{
    std::fprintf(stderr, "oxa fuzz check failed: %s grid, fast and reference readers differ in %s\n", format, what);
    std::fflush(stderr);
    std::abort();
}

inline void compareGridReaders(const std::uint8_t *data, std::size_t size, bool range)
{
    const char *format = range ? "range" : "XYV";
    const GridOutcome fast = readGrid(data, size, range, true);
    const GridOutcome ref = readGrid(data, size, range, false);
    if (fast.ok != ref.ok)
        gridDiffFailed(format, "success");
    if (fast.width != ref.width || fast.height != ref.height)
        gridDiffFailed(format, "size");
    if (fast.minV != ref.minV || fast.maxV != ref.maxV)
        gridDiffFailed(format, "minV or maxV");
    if (fast.isImage != ref.isImage)
        gridDiffFailed(format, "isImage");
    if (fast.rows != ref.rows)
        gridDiffFailed(format, "the number of rows");
    if (fast.digest != ref.digest)
        gridDiffFailed(format, "the values");
}

// Compares the readers of both formats on the input.
inline int runGridDiff(const std::uint8_t *data, std::size_t size)
{
    compareGridReaders(data, size, true);
    compareGridReaders(data, size, false);
    return 0;
}

}  // namespace oxafuzz

#endif
