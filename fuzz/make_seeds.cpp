// Writes the generated seed inputs of the fuzz targets into DIR/<target>/:
//   fuzz_seeds DIR
// Pictures in every format the installed image writers offer, in several pixel
// formats, and grid and configuration files that walk the branches of their readers.
// The kept inputs of fuzz/corpus/ and the files of tests/data/ are added by fuzz.sh.

#include <QByteArray>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "tools/pngbytes.h"
#include "tools/scanwriters.h"
#include "tools/volumewriters.h"

namespace {

bool put(const QString &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir + u'/' + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        return false;
    }
    return true;
}

QImage sample(QImage::Format format, int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgba(40 * x, 30 * y, 20 * (x + y), 255 - 10 * x));
    QImage out = img.convertToFormat(format);
    // Zero the padding at the end of each row, which some writers copy into the file:
    // the same seeds on every run.
    const qsizetype used = (qsizetype(w) * out.depth() + 7) / 8;
    for (int y = 0; y < h; ++y)
        std::memset(out.scanLine(y) + used, 0, std::size_t(out.bytesPerLine() - used));
    return out;
}

void pictures(const QString &dir)
{
    const struct {
        QImage::Format format;
        const char *name;
    } formats[] = {
        {QImage::Format_Grayscale8, "grey8"}, {QImage::Format_Grayscale16, "grey16"}, {QImage::Format_RGB32, "rgb32"},
        {QImage::Format_ARGB32, "argb32"},    {QImage::Format_Indexed8, "indexed8"},  {QImage::Format_Mono, "mono"},
        {QImage::Format_RGBA64, "rgba64"},    {QImage::Format_RGB888, "rgb888"},
    };
    const QList<QByteArray> writers = QImageWriter::supportedImageFormats();
    for (const QByteArray &suffix : writers) {
        if (suffix == "svg" || suffix == "svgz")
            continue;
        for (const auto &f : formats) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, suffix);
            if (!writer.write(sample(f.format, 5, 4)) || bytes.isEmpty())
                continue;
            put(dir, QStringLiteral("%1_%2").arg(QString::fromLatin1(suffix), QString::fromLatin1(f.name)), bytes);
            if (suffix == "png") {
                // The same picture cut short, and with its data damaged.
                put(dir, QStringLiteral("png_%1_cut").arg(QString::fromLatin1(f.name)), bytes.left(bytes.size() / 2));
                QByteArray bad = bytes;
                bad[bad.size() / 2] = char(bad[bad.size() / 2] ^ 0x5a);
                put(dir, QStringLiteral("png_%1_damaged").arg(QString::fromLatin1(f.name)), bad);
            }
        }
    }
    put(dir, QStringLiteral("png_declared_huge"), pngbytes::declared(100000, 100000));
    put(dir, QStringLiteral("png_declared_wide"), pngbytes::declared(0x7fffffff, 1));
    put(dir, QStringLiteral("svg_small"),
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"6\" height=\"4\">"
        "<rect width=\"3\" height=\"4\" fill=\"#0000ff\"/><text x=\"1\" y=\"3\">a</text></svg>");
    put(dir, QStringLiteral("pgm_text"), "P2\n3 2\n255\n0 10 20\n30 40 255\n");
    put(dir, QStringLiteral("xbm_text"),
        "#define a_width 8\n#define a_height 2\nstatic char a_bits[] = { 0x0f, 0xf0 };\n");
}

const char *const rangeGrids[] = {
    "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : 3\n# Range_Y1 : 2\n0 0 1.5\n3 2 -0.25\n",
    ("#MOLK-VEDez\r\n# Range_X0 : 1\r\n# Range_Y0 : 1\r\n# Range_X1 : 4\r\n# Range_Y1 : 2\r\n"
     "1 1 7\r\n4 1 8\r\n2 0 1e300\r\n"),
    ("\xef\xbb\xbf#MOLK-VEDez extra\n\n# Range_X1 : 2147483647\n# Range_Y1 : 1\n"
     "# Range_X0 : -2147483648\n0 0 1\n"),
    "#MOLK-VEDez\n0 0 5\n# Range_X1 x 2\n# Range_Y1 x 2\n\t1\t1\t2.5e-3  junk\n#x 1 2\n2,2,9\n1 1 nan\n",
    // At and one past the row and point limits of fuzz builds (2^10 rows, 2^16 points).
    "#MOLK-VEDez\n# Range_X1 : 1\n# Range_Y1 : 1023\n1 1023 3\n0 0 -3\n",
    "#MOLK-VEDez\n# Range_X1 : 1\n# Range_Y1 : 1024\n1 1023 3\n0 0 -3\n",
    "#MOLK-VEDez\n# Range_X1 : 65535\n# Range_Y1 : 1\n# Range_Y0 : 1\n65535 1 3\n0 0 -3\n",
    "#MOLK-VEDez\n# Range_X1 : 65535\n# Range_Y1 : 1\n# Range_X0 : -1\n1 1 3\n0 0 -3\n",
    "#MOLK-VEDez\n# Range_X1 : 4294967296\n# Range_Y1 : 2147483648\n0 0 1\n-1 -1 2\n",
};

const char *const xyvGrids[] = {
    ("## 240301\n# Format1 : XYV\n# Format2 : SPACE-Separated\n# X-NUM 3\n# Y-NUM 3\n"
     "10,20,0.5\n11 20 0.75\n10 21 1.0\n11 21 2.0\n"),
    "## 2403011\r\n# Y-NUM 4\r\n# X-NUM 5\r\n\r\n-5,-5,1\r\n-2,-3,4e2\r\n# X-NUM 9\r\n-6 -5 3\r\n",
    "## 240301\n#X-NUM 3\n# X-NUM 2147483647\n# Y-NUM 2\n7\n2147483647 -2147483648 1\n0 0 2\n",
    "## 240301\n# X-NUM 3.0\n# Y-NUM -1\n# X-NUM 0\n# Y-NUM 4294967296\n1 1 1\n",
    "\xef\xbb\xbf## 240301\n# X-NUM 65\n# Y-NUM 1025\n0\t0\t1,,2\n63 1023 -inf\n",
    "## 240301\n# X-NUM 65\n# Y-NUM 1026\n0 0 1\n63 1024 2\n",
};

const char *const configs[] = {
    "DataRoot \"/data/my slices\" # where the slices are\nlang English\nnative_dialog 1\n",
    "x 'it # not a comment\n  \t \n# only a comment\n\xe3\x80\x80\xe3\x80\x80\nLang English\nLANG Japanese\n",
    "include a.cfg\nkey after\n\x1ekey inside\nINCLUDE b.cfg\n\x1eINCLUDE config.cfg\nINCLUDE a.cfg\nkey deep\n",
    "\"\"\n\"quoted\"letters rest\nend\" more\nend\"\n\"\n-d -x\nINCLUDE\nINCLUDE \"missing file.cfg\"\n",
    "\xef\xbb\xbfkey\tvalue\r\nkey2 \"a#b\" # c\r\n\x80\xff bad utf8\r\n",
    "INCLUDE a.cfg\nINCLUDE a.cfg\n\x1eINCLUDE b.cfg\nINCLUDE b.cfg\n\x1eINCLUDE a.cfg\nv 1\n",
};

void texts(const QString &dir, const QString &prefix, const char *const *items, int n)
{
    for (int i = 0; i < n; ++i)
        put(dir, QStringLiteral("%1_%2").arg(prefix).arg(i), QByteArray(items[i]));
}

// Small TIFF stacks of every sample kind the stack reader keeps, with and without
// spacing, and a single 8-bit page (left to the picture readers).
void tiffs(const QString &dir)
{
    using scanwriters::TiffPage;
    auto page = [](int bits, int format, int seed) {
        TiffPage p;
        p.width = 5;
        p.height = 3;
        p.bits = bits;
        p.sampleFormat = format;
        p.samples.resize(5 * 3 * bits / 8);
        for (qsizetype i = 0; i < p.samples.size(); ++i)
            p.samples[i] = char((i * 37 + seed * 11) & 0xff);
        if (format == 3 && bits == 32) {
            for (qsizetype i = 0; i + 4 <= p.samples.size(); i += 4) {
                const float v = float(i) * 0.5f - float(seed);
                std::memcpy(p.samples.data() + i, &v, 4);
            }
        }
        return p;
    };
    const struct {
        int bits, format;
        const char *name;
    } kinds[] = {{8, 1, "u8"},   {8, 2, "s8"},   {16, 1, "u16"}, {16, 2, "s16"},
                 {32, 1, "u32"}, {32, 2, "s32"}, {32, 3, "f32"}, {64, 3, "f64"}};
    for (const auto &k : kinds) {
        scanwriters::writeTiff(dir + QStringLiteral("/stack_%1.tif").arg(QLatin1String(k.name)),
                               {page(k.bits, k.format, 1), page(k.bits, k.format, 2)});
    }
    scanwriters::writeTiff(dir + QStringLiteral("/stack_imagej.tif"), {page(16, 1, 1), page(16, 1, 2)},
                           "ImageJ=1.54f\nimages=2\nslices=2\nunit=mm\nspacing=2.5\n", 2.0, 2.0, 1);
    scanwriters::writeTiff(dir + QStringLiteral("/single_u16_cm.tif"), {page(16, 1, 3)}, {}, 40.0, 40.0, 3);
    scanwriters::writeTiff(dir + QStringLiteral("/single_u8.tif"), {page(8, 1, 4)});
}

// Small DICOM files: unsigned and signed, one and two frames, each compression.
void dicoms(const QString &dir)
{
    using scanwriters::Compression;
    const struct {
        Compression compression;
        const char *name;
    } kinds[] = {{Compression::None, "plain"},        {Compression::Rle, "rle"},
                 {Compression::JpegLossless, "jpeg"}, {Compression::JpegLs, "jpegls"},
                 {Compression::Deflated, "deflated"}, {Compression::BigEndian, "bigendian"}};
    for (const auto &k : kinds) {
        for (int frames : {1, 2}) {
            scanwriters::DicomImage d;
            d.width = 5;
            d.height = 3;
            d.frames = frames;
            d.isSigned = frames == 2;
            d.slope = 1.5;
            d.intercept = -1024;
            d.thickness = 2.0;
            for (int i = 0; i < 5 * 3 * frames; ++i)
                d.stored.push_back(d.isSigned ? i * 97 - 700 : i * 131);
            scanwriters::writeDicom(dir + QStringLiteral("/%1_%2.dcm").arg(QLatin1String(k.name)).arg(frames), d);
        }
    }
    // Sequences nested around the limit of what is read: a level below it and one past it.
    for (int depth : {32, 33}) {
        scanwriters::DicomImage d;
        d.width = 2;
        d.height = 2;
        d.stored = {1, 2, 3, 4};
        const QString path = dir + QStringLiteral("/nested_%1.dcm").arg(depth);
        if (scanwriters::writeDicom(path, d))
            scanwriters::appendNestedSequences(path, depth);
    }
}

// Small volumes of every format and sample type, as the volume target takes them: the
// format's byte first, a detached header's data file after the byte 0x1e.
void volumes(const QString &dir)
{
    const struct {
        char kind;
        const char *name;
        bool compress;
    } formats[] = {{0, "v.nii", false},  {1, "v.nii.gz", false}, {3, "v.nrrd", true}, {3, "v.nrrd", false},
                   {4, "v.nhdr", false}, {5, "v.mha", true},     {5, "v.mha", false}, {6, "v.mhd", false}};
    const volumewriters::Type types[] = {volumewriters::Type::u8,  volumewriters::Type::s8,  volumewriters::Type::u16,
                                         volumewriters::Type::s16, volumewriters::Type::u32, volumewriters::Type::s32,
                                         volumewriters::Type::f32, volumewriters::Type::f64};
    const QString scratch = dir + QStringLiteral("/.scratch");
    QDir().mkpath(scratch);
    int n = 0;
    for (const auto &f : formats) {
        for (volumewriters::Type t : types) {
            volumewriters::Volume v;
            v.size[0] = 5, v.size[1] = 3, v.size[2] = 2;
            v.spacing[2] = 2.5;
            v.type = t;
            v.compress = f.compress;
            v.slope = t == volumewriters::Type::s16 ? 0.5 : 1.0;
            v.samples.resize(5 * 3 * 2 * volumewriters::typeBytes(t));
            for (int i = 0; i < v.samples.size(); ++i)
                v.samples[i] = char(i * 37 + 11);
            const QString path = scratch + u'/' + QLatin1String(f.name);
            if (!volumewriters::write(path, v))
                continue;
            QFile header(path);
            QFile data(scratch + QStringLiteral("/v.raw"));
            if (!header.open(QIODevice::ReadOnly))
                continue;
            QByteArray seed = QByteArray(1, f.kind) + header.readAll();
            if ((f.kind == 4 || f.kind == 6) && data.open(QIODevice::ReadOnly))
                seed += '\x1e' + data.readAll();
            put(dir, QStringLiteral("volume_%1").arg(n++, 2, 10, QLatin1Char('0')), seed);
        }
    }
    put(dir, QStringLiteral("raw_int16"),
        QByteArray("\x07"
                   "3,2,2,int16,be,4\x1e")
            + QByteArray(28, '\x05'));
    QDir(scratch).removeRecursively();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const char *sub : {"config", "rangegrid", "xyvgrid", "load", "tiff", "dicom", "volume"})
        QDir().mkpath(root + u'/' + QLatin1String(sub));

    texts(root + QStringLiteral("/config"), QStringLiteral("config"), configs, int(std::size(configs)));
    texts(root + QStringLiteral("/rangegrid"), QStringLiteral("range"), rangeGrids, int(std::size(rangeGrids)));
    texts(root + QStringLiteral("/xyvgrid"), QStringLiteral("xyv"), xyvGrids, int(std::size(xyvGrids)));
    // The loader target sees both grid formats as well as the pictures.
    texts(root + QStringLiteral("/load"), QStringLiteral("range"), rangeGrids, int(std::size(rangeGrids)));
    texts(root + QStringLiteral("/load"), QStringLiteral("xyv"), xyvGrids, int(std::size(xyvGrids)));
    pictures(root + QStringLiteral("/load"));
    tiffs(root + QStringLiteral("/tiff"));
    dicoms(root + QStringLiteral("/dicom"));
    // The loader sees every kind of file.
    tiffs(root + QStringLiteral("/load"));
    dicoms(root + QStringLiteral("/load"));
    volumes(root + QStringLiteral("/volume"));
    return 0;
}
