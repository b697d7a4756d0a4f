#include "data/volumeheader.h"

#include <QDir>
#include <QFileInfo>
#include <QList>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "data/slicefile.h"
#include "data/volumeslices.h"

namespace {

// MetaImage's own limit on dimensions, and a line length below the 255 bytes its
// reader copies a text field into without looking (a longer ObjectType or Name
// overruns the reader's buffer).
constexpr qint64 maxMetaDims = 10;
constexpr qsizetype maxMetaLine = 250;

// The lines of a header, each with the offset just past its end.
struct Line {
    QByteArray text;
    qint64 end = 0;
};

QList<Line> linesOf(const QByteArray &text)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype nl = text.indexOf('\n', start);
        const bool last = nl < 0;
        if (last)
            nl = text.size();
        QByteArray line = text.mid(start, nl - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append({line, last ? nl : nl + 1});
        start = nl + 1;
    }
    return lines;
}

std::vector<qint64> integersOf(const QByteArray &value)
{
    std::vector<qint64> out;
    for (const QByteArray &word : value.simplified().split(' ')) {
        bool ok = false;
        const qint64 v = word.toLongLong(&ok);
        // A size too large for 64 bits is simply too large.
        out.push_back(ok ? v : (word.startsWith('-') ? -1 : std::numeric_limits<qint64>::max()));
    }
    return out;
}

double numberOf(const QByteArray &word)
{
    bool ok = false;
    const double v = word.trimmed().toDouble(&ok);
    return ok ? v : std::numeric_limits<double>::quiet_NaN();
}

// NRRD's "space directions": "(1,0,0) (0,0.5,0) none": the length of each vector,
// and no entry for "none" (an axis that is not in space).
std::vector<double> directionLengths(const QByteArray &value)
{
    std::vector<double> out;
    for (const QByteArray &word : value.simplified().split(' ')) {
        if (!word.startsWith('('))
            continue;
        double sum = 0.0;
        for (const QByteArray &part : word.mid(1, word.size() - 2).split(','))
            sum += numberOf(part) * numberOf(part);
        out.push_back(std::sqrt(sum));
    }
    return out;
}

// Quoted words ("mm" "mm" "mm"): "mm" when every one of them (at least one) is.
QString unitOf(const QByteArray &value)
{
    const QList<QByteArray> words = value.simplified().split(' ');
    for (const QByteArray &w : words)
        if (w != "\"mm\"" && w != "mm")
            return QString();
    return words.isEmpty() ? QString() : QStringLiteral("mm");
}

// Files a numbered pattern may name at most.
constexpr qint64 maxPatternFiles = qint64(1) << 20;

// A data file's name: a plain name, or a numbered pattern ("slice%03d.raw 1 10 1",
// and a fifth number in NRRD). False for a name with '%' that is not such a pattern:
// MetaImage's reader divides by the step it makes of whatever follows the name.
bool addDataFile(HeaderFacts &f, const QByteArray &value)
{
    const QString name = QString::fromUtf8(value.trimmed());
    if (!name.contains(QLatin1Char('%'))) {
        if (!name.isEmpty())
            f.dataFiles.append(name);
        return true;
    }
    const QStringList words = name.simplified().split(QLatin1Char(' '));
    if (words.size() != 4 && words.size() != 5)
        return false;
    qint64 numbers[4] = {0, 0, 0, 0};
    for (qsizetype i = 1; i < words.size(); ++i) {
        bool ok = false;
        numbers[i - 1] = words[i].toLongLong(&ok);
        if (!ok || std::llabs(numbers[i - 1]) > maxPatternFiles)
            return false;
    }
    const qint64 count = numbers[2] == 0 ? -1 : (numbers[1] - numbers[0]) / numbers[2] + 1;
    if (count < 1 || count > maxPatternFiles)
        return false;
    f.dataPattern = true;
    f.dataFiles.append(words.first());
    return true;
}

// A name on a line of its own after "LIST", taken as it stands.
void addListedFile(HeaderFacts &f, const QByteArray &line)
{
    const QString name = QString::fromUtf8(line.trimmed());
    if (!name.isEmpty())
        f.dataFiles.append(name);
}

bool insideFolder(const QString &folder, const QString &name)
{
    const QString resolved = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
    return resolved.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

HeaderFacts scanNrrdHeader(const QByteArray &text)
{
    HeaderFacts f;
    if (!text.startsWith("NRRD00"))
        return f;
    f.scanned = true;
    const QList<Line> lines = linesOf(text);
    bool listFollows = false;
    bool skipUnknown = false;
    bool anatomical = false;
    bool unitsGiven = false;
    qint64 byteSkip = 0;
    qint64 headerEnd = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i).text;
        if (listFollows) {
            addListedFile(f, line);
            continue;
        }
        if (line.isEmpty()) {
            headerEnd = lines.at(i).end;
            break;
        }
        if (line.startsWith('#') || line.contains(":="))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (key == "sizes") {
            f.sizes = integersOf(value);
        } else if (key == "spacings") {
            f.spacings.clear();
            for (const QByteArray &w : value.simplified().split(' '))
                f.spacings.push_back(numberOf(w));
        } else if (key == "space directions") {
            if (f.spacings.empty())
                f.spacings = directionLengths(value);
        } else if (key == "space units" || key == "units") {
            f.unit = unitOf(value);
            unitsGiven = true;
        } else if (key == "space") {
            // The patient spaces of the scanners are measured in millimetres.
            static const QList<QByteArray> patientSpaces = {"right-anterior-superior",
                                                            "left-anterior-superior",
                                                            "left-posterior-superior",
                                                            "ras",
                                                            "las",
                                                            "lps",
                                                            "right-anterior-superior-time",
                                                            "left-anterior-superior-time",
                                                            "left-posterior-superior-time",
                                                            "rast",
                                                            "last",
                                                            "lpst"};
            anatomical = patientSpaces.contains(value.toLower());
        } else if (key == "encoding") {
            f.rawData = value == "raw";
        } else if (key == "byte skip") {
            byteSkip = value.toLongLong();
        } else if (key == "line skip") {
            skipUnknown = value.toLongLong() != 0;
        } else if (key == "data file" || key == "datafile") {
            if (value.startsWith("LIST"))
                listFollows = true;
            else if (!addDataFile(f, value))
                return HeaderFacts();
        }
    }
    if (anatomical && !unitsGiven)
        f.unit = QStringLiteral("mm");
    if (skipUnknown || byteSkip < 0)
        f.dataOffset = -1;
    else if (!f.dataFiles.isEmpty())
        f.dataOffset = byteSkip;
    else if (headerEnd >= 0)
        f.dataOffset = headerEnd + byteSkip;
    return f;
}

HeaderFacts scanMetaHeader(const QByteArray &text)
{
    HeaderFacts f;
    const QList<Line> lines = linesOf(text);
    bool compressed = false;
    bool listFollows = false;
    bool local = false;
    qint64 dims = -1;
    bool dataNamed = false;
    qint64 headerSize = 0;
    for (const Line &l : lines) {
        if (listFollows) {
            addListedFile(f, l.text);
            continue;
        }
        if (l.text.size() > maxMetaLine && !l.text.trimmed().toLower().startsWith("elementdatafile"))
            return HeaderFacts();
        const qsizetype eq = l.text.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = l.text.left(eq).trimmed().toLower();
        const QByteArray value = l.text.mid(eq + 1).trimmed();
        if (key == "ndims") {
            // Once, and one number: the reader takes the first number it finds, and
            // then as many numbers of each later field.
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (!ok || dims != -1)
                return HeaderFacts();
            dims = n;
        } else if (key == "dimsize") {
            if (!f.sizes.empty())
                return HeaderFacts();
            f.sizes = integersOf(value);
        } else if (key == "elementspacing") {
            f.spacings.clear();
            for (const QByteArray &w : value.simplified().split(' '))
                f.spacings.push_back(numberOf(w));
        } else if (key == "transformmatrix" || key == "rotation" || key == "orientation") {
            // ITK makes a direction of it; numbers that are not numbers never come out.
            for (const QByteArray &w : value.simplified().split(' ')) {
                const double v = numberOf(w);
                if (!std::isfinite(v) || std::fabs(v) > 1e12)
                    return HeaderFacts();
            }
        } else if (key == "compresseddata") {
            compressed = value.toLower() == "true";
        } else if (key == "compresseddatasize") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            f.compressedBytes = ok && n > 0 ? n : -1;
        } else if (key == "headersize") {
            headerSize = value.toLongLong();
        } else if (key == "elementdatafile") {
            dataNamed = true;
            // The last field: what follows is data (LOCAL) or a list of files.
            if (value.toUpper() == "LOCAL") {
                local = true;
                f.dataOffset = l.end;
            } else if (value.startsWith("LIST")) {
                listFollows = true;
            } else if (!addDataFile(f, value)) {
                return HeaderFacts();
            }
            if (!listFollows)
                break;
        }
    }
    // Every MetaImage header gives its dimensions (the reader takes as many numbers of
    // each field as NDims says, for ever if need be), its sizes, and ends with where
    // its data is.
    f.scanned = dims >= 1 && dims <= maxMetaDims && qint64(f.sizes.size()) == dims && dataNamed;
    f.rawData = !compressed;
    if (!local)
        f.dataOffset = headerSize >= 0 ? headerSize : -1;
    else if (headerSize != 0)
        f.dataOffset = -1;
    return f;
}

const char *checkHeaderFacts(const HeaderFacts &facts, const QString &headerPath)
{
    qint64 points = 1;
    for (qint64 s : facts.sizes) {
        if (s <= 0)
            return skipReason::noVoxels;
    }
    for (qint64 s : facts.sizes) {
        if (s > maxStackFilePoints / points)
            return skipReason::tooManyVoxels;
        points *= s;
    }
    for (std::size_t i = 0; i < facts.spacings.size() && i < 3; ++i) {
        const double v = facts.spacings[i];
        if (!std::isfinite(v) || v <= 0.0)
            return skipReason::badSpacing;
    }
    const QString folder = QDir::cleanPath(QFileInfo(headerPath).absolutePath());
    for (const QString &name : facts.dataFiles)
        if (!insideFolder(folder, name))
            return skipReason::dataOutside;
    if (!facts.dataPattern) {
        for (const QString &name : facts.dataFiles)
            if (!QFileInfo(QDir(folder).absoluteFilePath(name)).isFile())
                return skipReason::dataMissing;
    }
    return nullptr;
}
