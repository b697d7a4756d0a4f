#ifndef OXA_FUZZ_HARNESS_H
#define OXA_FUZZ_HARNESS_H

// What each fuzz target does with one input, shared by the libFuzzer programs in
// this folder and by tests/tst_fuzzcorpus.cpp, which replays every kept input of
// fuzz/corpus/ in the normal test run. Each function hands the input to one reader,
// from memory where the reader takes a device, else (the configuration reader with
// its includes, a load of a set) written to files in the current directory, a scratch
// folder the caller made, and checks what the reader promises about its result; a
// broken promise prints one line and aborts, which both libFuzzer and the test runner
// report with the input.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "app/cfgstore.h"
#include "app/session.h"
#include "app/tokenizer.h"
#include "data/dicomseries.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/slicefile.h"
#include "data/tiffstack.h"

namespace oxafuzz {

// The configuration target splits its input at this byte into up to three files:
// config.cfg (read first), a.cfg and b.cfg, which the first may INCLUDE, so that
// chains and cycles of includes are reachable. A file without a part is absent.
constexpr char fileSeparator = '\x1e';
inline const char *const configNames[] = {"config.cfg", "a.cfg", "b.cfg"};

// Picture decoding in the fuzz targets refuses anything above this many megabytes;
// a declared-huge picture is then a refused picture, not an out-of-memory finding.
constexpr int imageAllocationLimitMb = 64;

// Named in the message of a failed check (the test runner sets it to the input's file).
inline QByteArray &checkContext()
{
    static QByteArray context;
    return context;
}

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "oxa fuzz check failed: %s %s\n", what, checkContext().constData());
    std::fflush(stderr);
    std::abort();
}

#define OXA_FUZZ_CHECK(cond)                                                                                           \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            ::oxafuzz::fail(#cond);                                                                                    \
    } while (0)

// Debug lines of the readers (quoting messages, unopenable includes) are part of what
// runs, but printing them would slow fuzzing down tenfold.
inline void silentHandler(QtMsgType, const QMessageLogContext &, const QString &) { }

// The input as a read-only device, without a copy.
class InputDevice
{
public:
    InputDevice(const std::uint8_t *data, std::size_t size)
        : bytes_(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size))), buffer_(&bytes_)
    {
        buffer_.open(QIODevice::ReadOnly);
    }
    InputDevice(const InputDevice &) = delete;
    InputDevice &operator=(const InputDevice &) = delete;

    QIODevice &device() { return buffer_; }

private:
    QByteArray bytes_;
    QBuffer buffer_;
};

inline bool writeFile(const char *name, const char *data, std::size_t size)
{
    std::FILE *f = std::fopen(name, "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The tokenizer's promises on one line: the text before the comment is a prefix of
// the line, the comment (when found) the rest after a '#', the rest after an item a
// suffix of the line, and the item never longer than the line.
inline void checkTokenizer(const QString &line)
{
    QString comment = QStringLiteral("untouched");
    const QString before = splitComment(line, comment);
    OXA_FUZZ_CHECK(line.startsWith(before));
    if (before.size() == line.size()) {
        OXA_FUZZ_CHECK(comment == QLatin1String("untouched"));
    } else {
        OXA_FUZZ_CHECK(line.at(before.size()) == u'#');
        OXA_FUZZ_CHECK(line.mid(before.size() + 1) == comment);
    }
    OXA_FUZZ_CHECK(stripComment(line) == before);
    const bool blank = isBlankLine(line);
    OXA_FUZZ_CHECK(blank == before.simplified().isEmpty());

    QString item;
    const QString rest = takeItem(line, item);
    OXA_FUZZ_CHECK(line.endsWith(rest));
    OXA_FUZZ_CHECK(item.size() + rest.size() <= line.size());
    OXA_FUZZ_CHECK(line.contains(item));
    // The string passed in may also be the one that receives the item.
    QString same = line;
    const QString rest2 = takeItem(same, same);
    OXA_FUZZ_CHECK(rest2 == rest && same == item);
}

inline void checkTable(const CfgTable &t)
{
    OXA_FUZZ_CHECK(t.keys.size() == t.vals.size());
    OXA_FUZZ_CHECK(t.keys.size() == t.tails.size());
    OXA_FUZZ_CHECK(t.keys.size() == t.comments.size());
    QStringList unique = t.keys;
    OXA_FUZZ_CHECK(unique.removeDuplicates() == 0);
}

// The tokenizer on every line of the input, then the configuration reader on the
// files made from it. Returns 0 (libFuzzer's "keep going").
inline int runConfig(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    std::vector<QByteArray> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && parts.size() < 3; ++i) {
        if (i == size || bytes[i] == fileSeparator) {
            parts.emplace_back(bytes + start, qsizetype(i - start));
            start = i + 1;
        }
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (i < parts.size())
            OXA_FUZZ_CHECK(writeFile(configNames[i], parts[i].constData(), std::size_t(parts[i].size())));
        else
            std::remove(configNames[i]);
    }

    for (const QByteArray &part : parts) {
        const QStringList lines = QString::fromUtf8(part).split(u'\n');
        for (const QString &line : lines)
            checkTokenizer(line);
    }

    CfgStore store;
    const bool ok = store.readFile(QString::fromLatin1(configNames[0]));
    OXA_FUZZ_CHECK(ok);
    checkTable(store.exact);
    checkTable(store.upper);
    OXA_FUZZ_CHECK(store.exact.keys.size() >= store.upper.keys.size());
    for (qsizetype i = 0; i < store.exact.keys.size(); ++i) {
        const QString &key = store.exact.keys.at(i);
        OXA_FUZZ_CHECK(key.toUpper() != QLatin1String("INCLUDE"));
        OXA_FUZZ_CHECK(store.hasExactKey(key) && store.hasKey(key));
        OXA_FUZZ_CHECK(store.getExact(key, QString()) == store.exact.vals.at(i));
    }
    for (const QString &key : std::as_const(store.upper.keys))
        OXA_FUZZ_CHECK(key == key.toUpper());
    return 0;
}

const double largestDouble = std::numeric_limits<double>::max();

// What a grid reader promises about the slice it filled: a made grid of the size it
// reports, every row of full length, a range that holds every stored value; a failed
// read leaves no grid behind.
inline void checkGridSlice(const SliceData &s, bool ok)
{
    if (!ok) {
        OXA_FUZZ_CHECK(s.width == 0 && s.height == 0);
        OXA_FUZZ_CHECK(s.values.empty() && s.cells.empty());
        return;
    }
    OXA_FUZZ_CHECK(s.width > 0 && s.height > 0);
    OXA_FUZZ_CHECK(!s.isImage);
    OXA_FUZZ_CHECK(qint64(s.width) * s.height <= SliceData::maxGridPoints);
    OXA_FUZZ_CHECK(s.values.empty());
    OXA_FUZZ_CHECK(s.cells.size() == std::size_t(s.width) * std::size_t(s.height));
    const bool anyStored = s.minV <= s.maxV;
    if (!anyStored) {
        OXA_FUZZ_CHECK(s.minV == largestDouble && s.maxV == -largestDouble);
        return;
    }
    OXA_FUZZ_CHECK(!std::isnan(s.minV) && !std::isnan(s.maxV));
    std::vector<double> row(std::size_t(s.width));
    for (int y = 0; y < s.height; ++y) {
        s.rowValues(y, row.data());
        for (int x = 0; x < s.width; ++x) {
            const double v = row[std::size_t(x)];
            OXA_FUZZ_CHECK(v == s.value(x, y));
            // Points no record named hold 0.0 outside the range; stored ones lie inside it.
            OXA_FUZZ_CHECK(v == 0.0 || (v >= s.minV && v <= s.maxV));
        }
    }
}

enum class Grid { Range, Xyv };

inline int runGrid(Grid which, const std::uint8_t *data, std::size_t size)
{
    InputDevice input(data, size);
    SliceData s;
    const bool ok = which == Grid::Range ? s.readRangeGrid(input.device()) : s.readXyvGrid(input.device());
    if (!ok && s.width == 0 && s.height == 0 && s.minV == 0.0 && s.maxV == 1.0)
        return 0;  // no tag: untouched
    checkGridSlice(s, ok);
    return 0;
}

// The loader's whole decode of one file (pictures through every installed image
// plugin, then both grid readers), then the file as a one-file selection, so that the
// accept rules and the histogram see what the decoders made.
inline int runLoad(const std::uint8_t *data, std::size_t size)
{
    SliceData s;
    bool ok = false;
    {
        InputDevice input(data, size);
        ok = s.load(input.device());
    }
    if (ok && s.isImage) {
        OXA_FUZZ_CHECK(s.width == s.image.width() && s.height == s.image.height());
        std::vector<double> row(std::size_t(qMax(s.width, 0)));
        for (int y = 0; y < s.height; ++y) {
            s.rowValues(y, row.data());
            for (int x = 0; x < s.width; ++x) {
                const double v = row[std::size_t(x)];
                OXA_FUZZ_CHECK(v == s.value(x, y));
                OXA_FUZZ_CHECK(v >= s.minV && v <= s.maxV);
            }
        }
    } else if (ok) {
        checkGridSlice(s, true);
    }

    const char *name = "slice.dat";
    OXA_FUZZ_CHECK(writeFile(name, reinterpret_cast<const char *>(data), size));
    const QString fname = QString::fromLatin1(name);
    SliceDatas set;
    int accepted = 0;
    QObject::connect(&set, &SliceDatas::loadedNewFile, &set, [&accepted](const QString &) { ++accepted; });
    set.filesSelected(QStringList{fname});
    OXA_FUZZ_CHECK(accepted == (set.loaded ? 1 : 0));
    // A stack file gives several slices.
    OXA_FUZZ_CHECK(accepted == 0 ? set.slices.empty() : !set.slices.empty());
    // The file is kept or skipped whole; a kept stack may name pages of it left out
    // ("slice.dat, page 3").
    qsizetype skippedWhole = 0;
    for (const SkippedFile &f : std::as_const(set.skipped))
        skippedWhole += f.file == fname ? 1 : 0;
    OXA_FUZZ_CHECK(set.acceptedFiles.size() + skippedWhole == 1);
    OXA_FUZZ_CHECK(skippedWhole == 0 || set.skipped.size() == 1);
    if (set.loaded) {
        OXA_FUZZ_CHECK(set.minV < set.maxV);
        OXA_FUZZ_CHECK(set.histReady && set.hist.size() == set.histBins);
        qint64 counted = 0;
        for (int c : std::as_const(set.hist))
            counted += c;
        OXA_FUZZ_CHECK(counted == qint64(set.width) * set.height * qint64(set.slices.size()));
    }
    return 0;
}

// A session file's text: refused with a reason and the target untouched, or read
// into values inside their ranges that write and read back to the same session.
inline int runSession(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const QDir base(QStringLiteral("/base"));
    Session s;
    s.width = -7;
    QString error;
    if (!sessionFromJson(json, base, s, &error)) {
        OXA_FUZZ_CHECK(!error.isEmpty());
        OXA_FUZZ_CHECK(s.width == -7 && s.sets.empty());
        return 0;
    }
    OXA_FUZZ_CHECK(render::pictureSizeOk(s.width, s.height));
    OXA_FUZZ_CHECK(std::isnormal(s.view.scale) && s.view.scale > 0.0);
    // A view that can be drawn: unit axes at right angles.
    const Vec3 axes[] = {s.view.nx, s.view.ny, s.view.nz};
    for (int i = 0; i < 3; ++i) {
        OXA_FUZZ_CHECK(render::unitLength(axes[i]));
        for (int j = i + 1; j < 3; ++j)
            OXA_FUZZ_CHECK(std::fabs(render::dot(axes[i], axes[j])) <= render::viewAxisTolerance);
    }
    for (const SessionSet &set : s.sets) {
        OXA_FUZZ_CHECK(set.alpha >= 0 && set.alpha <= 255);
        OXA_FUZZ_CHECK(set.cutPos >= -100 && set.cutPos <= 100);
        OXA_FUZZ_CHECK(set.vColor.isValid() && set.sColor.isValid());
        OXA_FUZZ_CHECK(std::isfinite(set.minTh) && std::isfinite(set.maxPC));
        OXA_FUZZ_CHECK(spacingStepOk(set.spacing.x) && spacingStepOk(set.spacing.y) && spacingStepOk(set.spacing.z));
        const bool noNormal = set.csNz.x == 0.0 && set.csNz.y == 0.0 && set.csNz.z == 0.0;
        OXA_FUZZ_CHECK(noNormal ? !set.showCSection : render::unitLength(set.csNz));
        for (const QString &f : set.files)
            OXA_FUZZ_CHECK(!f.contains(QChar(0)));
    }
    Session again;
    OXA_FUZZ_CHECK(sessionFromJson(sessionToJson(s, base), base, again, &error));
    OXA_FUZZ_CHECK(again.sets.size() == s.sets.size() && again.width == s.width && again.height == s.height);
    OXA_FUZZ_CHECK(sessionToJson(again, base) == sessionToJson(s, base));
    return 0;
}

// What every slice of a stack file promises: an allowed size, the same value read
// point by point and row by row, within the slice's range; finite values.
inline void checkStackFile(const SliceFile &file)
{
    long long points = 0;
    for (const auto &s : file.slices) {
        OXA_FUZZ_CHECK(sliceSizeAllowed(s->width, s->height));
        points += qint64(s->width) * s->height;
        if (s->isImage)
            OXA_FUZZ_CHECK(s->width == s->image.width() && s->height == s->image.height());
        std::vector<double> row(std::size_t(s->width));
        for (int y = 0; y < s->height; ++y) {
            s->rowValues(y, row.data());
            for (int x = 0; x < s->width; ++x) {
                const double v = row[std::size_t(x)];
                OXA_FUZZ_CHECK(std::isfinite(v));
                OXA_FUZZ_CHECK(v == s->value(x, y));
                OXA_FUZZ_CHECK(v >= s->minV && v <= s->maxV);
            }
        }
    }
    OXA_FUZZ_CHECK(points <= maxStackFilePoints);
    OXA_FUZZ_CHECK(file.slices.empty() != file.reason.isEmpty());
    OXA_FUZZ_CHECK(std::isfinite(file.spacing.x) && file.spacing.x > 0);
    OXA_FUZZ_CHECK(std::isfinite(file.spacing.y) && file.spacing.y > 0);
    OXA_FUZZ_CHECK(std::isfinite(file.spacing.z) && file.spacing.z > 0);
}

// The TIFF stack reader on the input.
inline int runTiff(const std::uint8_t *data, std::size_t size)
{
    InputDevice input(data, size);
    SliceFile file;
    if (readTiffStack(input.device(), file))
        checkStackFile(file);
    else
        OXA_FUZZ_CHECK(file.slices.empty());
    return 0;
}

// The DICOM reader on the input, then a load of a series of two files of it.
inline int runDicom(const std::uint8_t *data, std::size_t size)
{
    SliceFile file;
    {
        InputDevice input(data, size);
        if (!readDicomFile(input.device(), file)) {
            OXA_FUZZ_CHECK(file.slices.empty());
            return 0;
        }
    }
    checkStackFile(file);
    OXA_FUZZ_CHECK(writeFile("a.dcm", reinterpret_cast<const char *>(data), size));
    OXA_FUZZ_CHECK(writeFile("b.dcm", reinterpret_cast<const char *>(data), size));
    SliceDatas set;
    set.setLoadWorkers(1);
    set.filesSelected(QStringList{QStringLiteral("a.dcm"), QStringLiteral("b.dcm")});
    // Each file is kept or skipped whole; frames left out of a kept one are named apart.
    qsizetype skippedWhole = 0;
    for (const SkippedFile &f : std::as_const(set.skipped))
        skippedWhole += f.file == QLatin1String("a.dcm") || f.file == QLatin1String("b.dcm") ? 1 : 0;
    OXA_FUZZ_CHECK(set.acceptedFiles.size() + skippedWhole == 2);
    OXA_FUZZ_CHECK(std::isfinite(set.spacing.z) && set.spacing.z > 0);
    return 0;
}

}  // namespace oxafuzz

#endif
