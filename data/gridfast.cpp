#include "data/gridreaders.h"

#include <QByteArrayView>
#include <QFile>
#include <QIODevice>
#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>

namespace grid {

namespace {

// The fast path. A line of printable ASCII, blanks and tabs is split and converted
// straight from the bytes; its items and numbers come out exactly as QString gives
// them (checked against the reference readers by the tests and the fuzz target).
// Every other line is decoded as QTextStream would decode it and handled above.

enum : unsigned char { itemByte, blankByte, oddByte };

struct ByteClasses {
    unsigned char of[256];
};

constexpr ByteClasses makeByteClasses(bool commaSeparates)
{
    ByteClasses t{};
    for (int i = 0; i < 256; ++i) {
        if (i == ' ' || i == '\t' || (commaSeparates && i == ','))
            t.of[i] = blankByte;
        else if (i > 0x20 && i < 0x7f)
            t.of[i] = itemByte;
        else
            t.of[i] = oddByte;
    }
    return t;
}

constexpr ByteClasses rangeGridBytes = makeByteClasses(false);
constexpr ByteClasses xyvGridBytes = makeByteClasses(true);

// The first four items of a line and the number of items, as QString::simplified and
// split(' ') give them: an empty line has one empty item.
struct AsciiItems {
    const char *begin[4] = {};
    const char *end[4] = {};
    int count = 0;

    bool is(int i, const char *text) const
    {
        const std::size_t n = std::strlen(text);
        return std::size_t(end[i] - begin[i]) == n && std::memcmp(begin[i], text, n) == 0;
    }
};

// False when [p, e) holds a byte other than printable ASCII, blank or tab (or comma,
// where it separates): white space then includes vertical tab, form feed and the
// Unicode spaces, so such a line takes the QString path.
bool splitAscii(const char *p, const char *e, const ByteClasses &bytes, AsciiItems &items)
{
    int n = 0;
    for (;;) {
        while (p < e && bytes.of[uchar(*p)] == blankByte)
            ++p;
        if (p == e)
            break;
        const char *b = p;
        while (p < e && bytes.of[uchar(*p)] == itemByte)
            ++p;
        if (p < e && bytes.of[uchar(*p)] == oddByte)
            return false;
        if (n < 4) {
            items.begin[n] = b;
            items.end[n] = p;
        }
        ++n;
    }
    if (n == 0) {
        items.begin[0] = items.end[0] = e;
        n = 1;
    }
    items.count = n;
    return true;
}

// readInt on an item of printable ASCII: QString::toInt(base 10) accepts one optional
// sign and decimal digits (leading zeros too) within the int range; anything else is 0.
int asciiInt(const char *p, const char *e)
{
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == e)
        return 0;
    std::uint64_t v = 0;
    for (; p < e; ++p) {
        const unsigned digit = unsigned(uchar(*p)) - '0';
        if (digit > 9)
            return 0;
        if (v <= (std::uint64_t(1) << 32))  // stays past the int range once there, without overflow
            v = v * 10 + digit;
    }
    if (negative)
        return v > std::uint64_t(INT_MAX) + 1 ? 0 : int(-std::int64_t(v));
    return v > std::uint64_t(INT_MAX) ? 0 : int(v);
}

// readCoordinate on an item of printable ASCII: an integer as asciiInt reads it, else a
// number as asciiValue reads it that is a whole number within the int range.
bool asciiCoordinate(const char *p, const char *e, qint64 &out)
{
    const char *digits = p < e && (*p == '+' || *p == '-') ? p + 1 : p;
    if (digits < e && std::all_of(digits, e, [](char c) { return unsigned(uchar(c)) - '0' <= 9; })) {
        const int v = asciiInt(p, e);
        // asciiInt gives 0 for an integer beyond the int range; such an item is then read
        // as a number below, and refused there.
        if (v != 0 || std::all_of(digits, e, [](char c) { return c == '0'; })) {
            out = v;
            return true;
        }
    }
    if (p < e && *p == '+') {
        ++p;
        if (p < e && *p == '-')
            return false;
    }
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(p, e, v);
    if (r.ec != std::errc() || r.ptr != e || !(v >= double(INT_MIN) && v <= double(INT_MAX)) || v != std::trunc(v))
        return false;
    out = qint64(v);
    return true;
}

// readValue on an item of printable ASCII. std::from_chars takes the same numbers as
// QString::toDouble, rounded the same way, except that it refuses a leading '+' and
// accepts "infinity" and "nan(...)"; non-finite results and everything refused
// (overflow, underflow to zero) read as +0.0, as in readValue.
double asciiValue(const char *p, const char *e)
{
    if (p < e && *p == '+') {
        ++p;
        if (p < e && *p == '-')
            return 0.0;
    }
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(p, e, v);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v))
        return 0.0;
    return v;
}

// A record line of a range grid: the first that can make the grid makes it; a value
// is stored when the line has one.
void rangeGridRecord(SliceData &s, RangeGridState &st, qint64 column, qint64 row, const double *value)
{
    if (!st.made) {
        if (st.x1 <= 0 || st.y1 <= 0 || !makeGrid(s, st.x1 - st.x0 + 1, st.y1 - st.y0 + 1))
            return;
        st.made = true;
    }
    if (value && inGrid(s, column, row))
        storeValue(s, column, row, *value);
}

void rangeGridAsciiLine(SliceData &s, RangeGridState &st, const AsciiItems &items)
{
    if (items.is(0, "#")) {
        if (items.count >= 4) {
            qint64 *rangeEnd = nullptr;
            if (items.is(1, "Range_X0"))
                rangeEnd = &st.x0;
            else if (items.is(1, "Range_Y0"))
                rangeEnd = &st.y0;
            else if (items.is(1, "Range_X1"))
                rangeEnd = &st.x1;
            else if (items.is(1, "Range_Y1"))
                rangeEnd = &st.y1;
            if (rangeEnd)
                *rangeEnd = asciiInt(items.begin[3], items.end[3]);
        }
        return;
    }
    if (items.count < 3) {
        rangeGridRecord(s, st, 0, 0, nullptr);
        return;
    }
    qint64 column = 0;
    qint64 row = 0;
    const double v = asciiValue(items.begin[2], items.end[2]);
    const bool whole =
        asciiCoordinate(items.begin[0], items.end[0], column) && asciiCoordinate(items.begin[1], items.end[1], row);
    rangeGridRecord(s, st, column, row, whole ? &v : nullptr);
}

// A record line of an XYV grid: the first once both counts are known makes the grid
// and gives the origin (a line of one item cannot, and is skipped); a value is
// stored when the line has one.
void xyvGridRecord(SliceData &s, XyvGridState &st, qint64 x, qint64 y, const double *value)
{
    if (!st.made) {
        if (!makeGrid(s, st.w, st.h))
            return;
        st.originX = x;
        st.originY = y;
        st.made = true;
    }
    if (value && inGrid(s, x - st.originX, y - st.originY))
        storeValue(s, x - st.originX, y - st.originY, *value);
}

void xyvGridAsciiLine(SliceData &s, XyvGridState &st, const AsciiItems &items)
{
    if (items.begin[0] != items.end[0] && *items.begin[0] == '#') {
        if (!st.made && items.count == 3) {
            if (items.is(1, "X-NUM"))
                st.w = qint64(asciiInt(items.begin[2], items.end[2])) - 1;
            else if (items.is(1, "Y-NUM"))
                st.h = qint64(asciiInt(items.begin[2], items.end[2])) - 1;
        }
        return;
    }
    qint64 x = 0;
    qint64 y = 0;
    if (items.count < 2 || !asciiCoordinate(items.begin[0], items.end[0], x)
        || !asciiCoordinate(items.begin[1], items.end[1], y))
        return;
    if (items.count < 3) {
        xyvGridRecord(s, st, x, y, nullptr);
        return;
    }
    const double v = asciiValue(items.begin[2], items.end[2]);
    xyvGridRecord(s, st, x, y, &v);
}

// The record line as it nearly always comes: two plain integers of at most nine
// digits and a number that std::from_chars reads in full, each followed by a
// separator (the number possibly by the line end). Only the first three items of a
// record line count, and the bytes after them cannot change those (the line is known
// to be within the length limit), so the rest is not looked at. False for anything
// else, which then takes the general path.
bool quickRecord(const char *p, const char *e, const ByteClasses &bytes, qint64 &x, qint64 &y, double &v)
{
    auto separators = [&] {
        while (p < e && bytes.of[uchar(*p)] == blankByte)
            ++p;
    };
    auto integer = [&](qint64 &out) {
        const bool negative = p < e && *p == '-';
        if (negative)
            ++p;
        const char *digits = p;
        std::int64_t n = 0;
        while (p < e && unsigned(uchar(*p)) - '0' <= 9 && p - digits < 9) {
            n = n * 10 + (*p - '0');
            ++p;
        }
        if (p == digits || p == e || bytes.of[uchar(*p)] != blankByte)
            return false;
        out = negative ? -n : n;
        separators();
        return true;
    };
    separators();
    if (!integer(x) || !integer(y) || p == e || *p == '+')
        return false;
    const std::from_chars_result r = std::from_chars(p, e, v);
    return r.ec == std::errc() && (r.ptr == e || bytes.of[uchar(*r.ptr)] == blankByte) && std::isfinite(v);
}

// The text QTextStream gives for the line [b, e): UTF-8 decoded by a decoder that
// is fresh at the start of the line (the stream's own is, after the previous line
// feed), so a byte-order mark there is kept; a terminated line is decoded together
// with its line feed, which ends any unfinished sequence with replacement
// characters, while at the end of the file an unfinished sequence is dropped. Every
// CR is removed after decoding, so a CR inside a sequence breaks it.
QString decodeLine(const char *b, const char *e, bool terminated)
{
    QStringDecoder toUtf16(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString line = toUtf16(QByteArrayView(b, (e - b) + (terminated ? 1 : 0)));
    if (terminated)
        line.chop(1);
    line.remove(QLatin1Char('\r'));
    return line;
}

// The lines of a grid file, read from a device in blocks into a buffer that each thread
// keeps, so that a file costs neither its own size in memory nor fresh pages.
class GridLines
{
public:
    static constexpr std::size_t blockBytes = std::size_t(1) << 18;
    // A line is held whole up to this many bytes: enough for any line within
    // maxGridLineLength characters unless it is mostly CRs, which count for nothing.
    static constexpr std::size_t maxLineBytes = std::size_t(4 * SliceData::maxGridLineLength) + blockBytes;

    explicit GridLines(QIODevice &device) : device_(device), buf_(threadBuffer())
    {
        if (buf_.size() < blockBytes)
            buf_.resize(blockBytes);
    }
    ~GridLines()
    {
        if (buf_.size() > blockBytes) {
            buf_.resize(blockBytes);
            buf_.shrink_to_fit();
        }
    }
    GridLines(const GridLines &) = delete;
    GridLines &operator=(const GridLines &) = delete;

    // The next line [b, e), without its line feed; terminated tells whether it had one.
    // False at the end of the file, and for a line longer than maxLineBytes (tooLong()).
    bool next(const char *&b, const char *&e, bool &terminated)
    {
        for (;;) {
            char *data = buf_.data();
            if (const void *lf = std::memchr(data + scan_, '\n', fill_ - scan_)) {
                b = data + pos_;
                e = static_cast<const char *>(lf);
                terminated = true;
                pos_ = scan_ = std::size_t(e - data) + 1;
                return true;
            }
            scan_ = fill_;
            if (eof_) {
                if (pos_ == fill_)
                    return false;
                b = data + pos_;
                e = data + fill_;
                terminated = false;
                pos_ = scan_ = fill_;
                return true;
            }
            if (pos_ > 0) {
                std::memmove(data, data + pos_, fill_ - pos_);
                fill_ -= pos_;
                scan_ -= pos_;
                pos_ = 0;
            }
            if (fill_ == buf_.size()) {
                if (buf_.size() >= maxLineBytes) {
                    tooLong_ = true;
                    return false;
                }
                buf_.resize(std::min(buf_.size() * 2, maxLineBytes));
                data = buf_.data();
            }
            const qint64 n = device_.read(data + fill_, qint64(buf_.size() - fill_));
            if (n <= 0) {
                eof_ = true;
                failed_ = n < 0 || !device_.atEnd();
            } else {
                fill_ += std::size_t(n);
            }
        }
    }
    bool tooLong() const { return tooLong_; }
    // Whether the reading stopped before the end of the device: a read failed.
    bool failed() const { return failed_; }

private:
    static std::vector<char> &threadBuffer()
    {
        thread_local std::vector<char> buffer;
        return buffer;
    }

    QIODevice &device_;
    std::vector<char> &buf_;
    std::size_t pos_ = 0;  // start of the lines not yet handed out
    std::size_t scan_ = 0;  // searched for a line feed up to here
    std::size_t fill_ = 0;  // end of the bytes read
    bool eof_ = false;
    bool tooLong_ = false;
    bool failed_ = false;
};

// Parses a grid file whose first line starts with its tag after skip bytes (a
// byte-order mark): record(x, y, value) for a usual record line, asciiLine(items)
// for another line of plain ASCII, or textLine(QString &) for the rest, for each
// line after the tag line as the reference reader sees it. made tells whether the grid was
// made. False also for an over-long line and a failed read, as in GridLineReader.
// Returns nothing when a line is too long to hold, so that the reference reader takes over.
template <class Record, class AsciiLine, class TextLine>
std::optional<bool> parseGridText(SliceData &s, GridLines &lines, qint64 skip, const ByteClasses &bytes, Record record,
                                  AsciiLine asciiLine, TextLine textLine, const bool &made)
{
    const qint64 limit = SliceData::maxGridLineLength;
    const char *b = nullptr;
    const char *e = nullptr;
    bool terminated = false;
    // Of the tag line only the length matters; a decoded line is never longer than its bytes.
    if (!lines.next(b, e, terminated))
        return lines.tooLong() ? std::nullopt : std::optional<bool>(false);
    b += skip;
    if (e - b > limit && decodeLine(b, e, terminated).size() > limit)
        return false;

    resetGrid(s);
    AsciiItems items;
    qint64 x = 0;
    qint64 y = 0;
    double v = 0.0;
    while (lines.next(b, e, terminated)) {
        const char *lineEnd = e;
        while (e > b && e[-1] == '\r')
            --e;
        if (!terminated && e == b)
            break;  // only CRs after the last line feed: no line
        if (e - b <= limit) {
            if (quickRecord(b, e, bytes, x, y, v)) {
                record(x, y, v);
                continue;
            }
            if (splitAscii(b, e, bytes, items)) {
                asciiLine(items);
                continue;
            }
        }
        QString line = decodeLine(b, lineEnd, terminated);
        if (!terminated && line.isEmpty())
            break;  // an unfinished sequence at the end of the file is no line
        if (line.size() > limit) {
            resetGrid(s);
            return false;
        }
        textLine(line);
    }
    if (lines.tooLong())
        return std::nullopt;
    if (made && !lines.failed())
        return true;
    resetGrid(s);
    return false;
}

enum class GridFormat { range, xyv };

// Reads the grid the fast way when the device is random access and starts with the tag
// (after a UTF-8 byte-order mark); everything else, and a grid with a line too long to
// hold, goes to the reference reader, which gives the same result.
bool readGridFast(SliceData &s, QIODevice &device, GridFormat format)
{
    const bool range = format == GridFormat::range;
    const char *tag = range ? "#MOLK-VEDez" : "## 240301";
    const qint64 tagSize = qint64(std::strlen(tag));
    auto reference = [&] { return range ? s.readRangeGridReference(device) : s.readXyvGridReference(device); };

    if (!device.isReadable())
        return false;
    if (device.isSequential())
        return reference();
    const qint64 start = device.pos();
    char head[3 + 16];
    const qint64 headSize = device.read(head, 3 + tagSize);
    qint64 skip = 0;
    if (headSize >= 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0)
        skip = 3;
    const bool tagged = headSize - skip >= tagSize && std::memcmp(head + skip, tag, std::size_t(tagSize)) == 0;
    if (!device.seek(start))
        return false;
    if (!tagged)
        return reference();

    std::optional<bool> made;
    {
        GridLines lines(device);
        if (range) {
            RangeGridState st;
            made = parseGridText(
                s, lines, skip, rangeGridBytes, [&](qint64 x, qint64 y, double v) { rangeGridRecord(s, st, x, y, &v); },
                [&](const AsciiItems &items) { rangeGridAsciiLine(s, st, items); },
                [&](QString &line) { rangeGridLine(s, st, line); }, st.made);
        } else {
            XyvGridState st;
            made = parseGridText(
                s, lines, skip, xyvGridBytes, [&](qint64 x, qint64 y, double v) { xyvGridRecord(s, st, x, y, &v); },
                [&](const AsciiItems &items) { xyvGridAsciiLine(s, st, items); },
                [&](QString &line) { xyvGridLine(s, st, line); }, st.made);
        }
    }
    if (made)
        return *made;
    if (!device.seek(start)) {
        resetGrid(s);
        return false;
    }
    return reference();
}

// A grid file is read unbuffered: the fast path reads it in large blocks of its own.
bool readGridFile(SliceData &s, const QString &fname, GridFormat format)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    return readGridFast(s, file, format);
}

// Runs a read; out of memory, the slice is left as after a failed read.
template <typename Read> bool guarded(SliceData &s, Read read)
{
    try {
        return read();
    } catch (const std::exception &) {
        resetGrid(s);
        return false;
    }
}

}  // namespace

}  // namespace grid

bool SliceData::readRangeGrid(const QString &fname)
{
    return grid::guarded(*this, [&] { return grid::readGridFile(*this, fname, grid::GridFormat::range); });
}

bool SliceData::readXyvGrid(const QString &fname)
{
    return grid::guarded(*this, [&] { return grid::readGridFile(*this, fname, grid::GridFormat::xyv); });
}

bool SliceData::readRangeGrid(QIODevice &device)
{
    return grid::guarded(*this, [&] { return grid::readGridFast(*this, device, grid::GridFormat::range); });
}

bool SliceData::readXyvGrid(QIODevice &device)
{
    return grid::guarded(*this, [&] { return grid::readGridFast(*this, device, grid::GridFormat::xyv); });
}
