#include "data/gridreaders.h"

#include <QFile>
#include <QIODevice>
#include <QStringList>
#include <QTextStream>

#include <climits>
#include <cmath>
#include <exception>
#include <limits>

#include "data/slicefile.h"

namespace grid {

namespace {

const double largestDouble = std::numeric_limits<double>::max();

// The lines of a grid file, each at most maxGridLineLength characters; a longer
// line ends the reading and marks the file as bad, so that a file of garbage
// without line ends never grows one huge string.
class GridLineReader
{
public:
    explicit GridLineReader(QIODevice &device) : device_(device), in_(&device)
    {
        in_.setEncoding(QStringConverter::Utf8);
    }

    bool next(QString &line)
    {
        if (tooLong_ || !in_.readLineInto(&line, SliceData::maxGridLineLength + 1))
            return false;
        if (line.size() > SliceData::maxGridLineLength) {
            tooLong_ = true;
            line.clear();
            return false;
        }
        return true;
    }
    bool tooLong() const { return tooLong_; }
    // Once next() gave false: whether the lines ended before the end of a random-access
    // device, that is, a read failed. Unknown for a sequential device: false.
    bool failed() const { return !tooLong_ && !device_.isSequential() && !device_.atEnd(); }

private:
    QIODevice &device_;
    QTextStream in_;
    bool tooLong_ = false;
};

// Decimal integer with optional sign within the 32-bit range, else 0.
int readInt(const QString &item)
{
    bool ok = false;
    const int v = item.toInt(&ok, 10);
    return ok ? v : 0;
}

// A record coordinate: a decimal integer as readInt takes it, or a number written
// with a decimal point or an exponent whose value is a whole number within the int
// range ("1.0", "2e1", "-0.0"). False for anything else ("1.5", "abc", "1e10"), and
// the record is then skipped like one outside the grid.
bool readCoordinate(const QString &item, qint64 &out)
{
    bool ok = false;
    const int i = item.toInt(&ok, 10);
    if (ok) {
        out = i;
        return true;
    }
    const double v = item.toDouble(&ok);
    if (!ok || !(v >= double(INT_MIN) && v <= double(INT_MAX)) || v != std::trunc(v))
        return false;
    out = qint64(v);
    return true;
}

// C-locale number; text, overflow, "nan" and "inf" read as 0.0, so that ranges
// and histograms built from the values stay finite.
double readValue(const QString &item)
{
    bool ok = false;
    const double v = item.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

// Stores one record of a made grid.
void storeRecord(SliceData &s, qint64 column, qint64 row, const QString &valueItem)
{
    if (inGrid(s, column, row))
        storeValue(s, column, row, readValue(valueItem));
}

QStringList splitItems(const QString &line)
{
    return line.simplified().split(QLatin1Char(' '));
}

// Text mode on a device while it lives: QTextStream then drops every CR, as it does
// for a file opened as text.
class TextMode
{
public:
    explicit TextMode(QIODevice &device) : device_(device), was_(device.isTextModeEnabled())
    {
        device.setTextModeEnabled(true);
    }
    ~TextMode() { device_.setTextModeEnabled(was_); }
    TextMode(const TextMode &) = delete;
    TextMode &operator=(const TextMode &) = delete;

private:
    QIODevice &device_;
    const bool was_;
};

// The line-by-line reading both reference grid readers share: the tag at the start
// of the first line, then every later line through gridLine until the end of the
// device, an over-long line or a failed read. A device without the tag, or not open
// for reading, leaves s untouched.
template <typename State, typename LineFn>
bool readGridByLines(SliceData &s, QIODevice &device, QLatin1String tag, LineFn gridLine)
{
    if (!device.isReadable())
        return false;
    const TextMode text(device);
    try {
        GridLineReader in(device);
        QString line;
        in.next(line);  // an over-long first line comes back empty and fails the tag test
        if (line.left(tag.size()) != tag)
            return false;

        resetGrid(s);
        State state;
        while (!in.tooLong() && in.next(line))
            gridLine(s, state, line);
        if (state.made && !in.tooLong() && !in.failed())
            return true;
    } catch (const std::exception &) {
        // Out of memory: the file fails like any other bad grid.
    }
    resetGrid(s);
    return false;
}

}  // namespace

void resetGrid(SliceData &s)
{
    s.width = s.height = 0;
    s.minV = largestDouble;
    s.maxV = -largestDouble;
    std::vector<std::vector<double>>().swap(s.values);
    decltype(s.cells)().swap(s.cells);
}

bool makeGrid(SliceData &s, qint64 w, qint64 h)
{
    if (!sliceSizeAllowed(w, h))
        return false;
    // The whole grid is reserved, though only the pages its records fall in take memory:
    // whatever is drawn from it later may read every point.
    if (!reserveSliceMemory(h * w * qint64(sizeof(double))))
        return false;
    decltype(s.cells)().swap(s.cells);
    s.cells.resize(std::size_t(h) * std::size_t(w));
    s.width = int(w);
    s.height = int(h);
    return true;
}

void rangeGridLine(SliceData &s, RangeGridState &st, const QString &line)
{
    const QStringList items = splitItems(line);
    if (items.at(0) == QLatin1String("#")) {
        if (items.size() >= 4) {
            const QString &key = items.at(1);
            if (key == QLatin1String("Range_X0"))
                st.x0 = readInt(items.at(3));
            else if (key == QLatin1String("Range_Y0"))
                st.y0 = readInt(items.at(3));
            else if (key == QLatin1String("Range_X1"))
                st.x1 = readInt(items.at(3));
            else if (key == QLatin1String("Range_Y1"))
                st.y1 = readInt(items.at(3));
        }
        return;
    }
    if (!st.made) {
        // Ranges are fixed by the first record line that can make the grid; earlier
        // record lines are lost. Range lines after that change nothing.
        if (st.x1 <= 0 || st.y1 <= 0 || !makeGrid(s, st.x1 - st.x0 + 1, st.y1 - st.y0 + 1))
            return;
        st.made = true;
    }
    qint64 x = 0;
    qint64 y = 0;
    if (items.size() >= 3 && readCoordinate(items.at(0), x) && readCoordinate(items.at(1), y))
        storeRecord(s, x, y, items.at(2));
}

void xyvGridLine(SliceData &s, XyvGridState &st, QString &line)
{
    line.replace(QLatin1Char(','), QLatin1Char(' '));
    const QStringList items = splitItems(line);
    if (items.at(0).startsWith(QLatin1Char('#'))) {
        // Count lines after the grid is made are ignored: the grid keeps the size
        // that holds its values.
        if (!st.made && items.size() == 3) {
            if (items.at(1) == QLatin1String("X-NUM"))
                st.w = qint64(readInt(items.at(2))) - 1;
            else if (items.at(1) == QLatin1String("Y-NUM"))
                st.h = qint64(readInt(items.at(2))) - 1;
        }
        return;
    }
    // A line of one item cannot give both coordinates; nor can one whose coordinates
    // are not whole numbers. Either is skipped, and never gives the origin.
    qint64 x = 0;
    qint64 y = 0;
    if (items.size() < 2 || !readCoordinate(items.at(0), x) || !readCoordinate(items.at(1), y))
        return;
    if (!st.made) {
        // Missing, too small or too large counts skip the line.
        if (!makeGrid(s, st.w, st.h))
            return;
        st.originX = x;
        st.originY = y;
        st.made = true;
    }
    if (items.size() >= 3)
        storeRecord(s, x - st.originX, y - st.originY, items.at(2));
}

}  // namespace grid

bool SliceData::readRangeGridReference(const QString &fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    return readRangeGridReference(file);
}

bool SliceData::readXyvGridReference(const QString &fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    return readXyvGridReference(file);
}

bool SliceData::readRangeGridReference(QIODevice &device)
{
    return grid::readGridByLines<grid::RangeGridState>(*this, device, QLatin1String("#MOLK-VEDez"),
                                                       grid::rangeGridLine);
}

bool SliceData::readXyvGridReference(QIODevice &device)
{
    return grid::readGridByLines<grid::XyvGridState>(*this, device, QLatin1String("## 240301"), grid::xyvGridLine);
}
