#include "data/dicomprecheck.h"

#include <QIODevice>

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

constexpr quint32 undefinedLength = 0xffffffffu;
// How often a deflated data set reports its inflated size.
constexpr qint64 growStep = qint64(16) << 20;

// The bytes of the data set, from its first element on.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Exactly n bytes, or false.
    virtual bool read(char *buf, qint64 n) = 0;
    virtual bool skip(qint64 n) = 0;
    virtual bool atEnd() = 0;
    qint64 pos = 0;  // bytes of the data set consumed
};

class DeviceSource : public ByteSource
{
public:
    explicit DeviceSource(QIODevice &device) : device_(device), base_(device.pos()), size_(device.size()) { }

    bool read(char *buf, qint64 n) override
    {
        if (n < 0 || n > size_ - base_ - pos || device_.read(buf, n) != n)
            return false;
        pos += n;
        return true;
    }
    bool skip(qint64 n) override
    {
        if (n < 0 || n > size_ - base_ - pos || !device_.seek(base_ + pos + n))
            return false;
        pos += n;
        return true;
    }
    bool atEnd() override { return pos >= size_ - base_; }
    qint64 length() const { return size_ - base_; }

private:
    QIODevice &device_;
    const qint64 base_;
    const qint64 size_;
};

// A raw deflate stream (as the deflated transfer syntax stores the data set), inflated
// as it is read.
class InflateSource : public ByteSource
{
public:
    InflateSource(QIODevice &device, const std::function<bool(qint64)> &grow)
        : device_(device), grow_(grow), in_(64 * 1024), out_(256 * 1024)
    {
        std::memset(&z_, 0, sizeof z_);
        ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    }
    ~InflateSource() override { inflateEnd(&z_); }

    bool read(char *buf, qint64 n) override
    {
        while (n > 0) {
            if (outPos_ == outLen_ && !fill())
                return false;
            const qint64 take = std::min<qint64>(n, qint64(outLen_ - outPos_));
            if (buf) {
                std::memcpy(buf, out_.data() + outPos_, std::size_t(take));
                buf += take;
            }
            outPos_ += std::size_t(take);
            pos += take;
            n -= take;
        }
        return true;
    }
    bool skip(qint64 n) override { return n >= 0 && read(nullptr, n); }
    bool atEnd() override { return outPos_ == outLen_ && !fill(); }
    bool refused() const { return refused_; }

private:
    bool fill()
    {
        outPos_ = outLen_ = 0;
        while (ok_ && !ended_ && outLen_ == 0) {
            if (z_.avail_in == 0) {
                const qint64 got = device_.read(in_.data(), qint64(in_.size()));
                if (got <= 0) {
                    ended_ = true;
                    break;
                }
                z_.next_in = reinterpret_cast<Bytef *>(in_.data());
                z_.avail_in = uInt(got);
            }
            z_.next_out = reinterpret_cast<Bytef *>(out_.data());
            z_.avail_out = uInt(out_.size());
            const int r = inflate(&z_, Z_NO_FLUSH);
            outLen_ = out_.size() - z_.avail_out;
            if (r == Z_STREAM_END)
                ended_ = true;
            else if (r != Z_OK && r != Z_BUF_ERROR)
                ok_ = false;
        }
        inflated_ += qint64(outLen_);
        if (inflated_ >= reported_ + growStep || (ended_ && inflated_ > reported_)) {
            reported_ = inflated_;
            if (!grow_(inflated_)) {
                refused_ = true;
                ok_ = false;
                outLen_ = 0;
            }
        }
        return outLen_ > 0;
    }

    QIODevice &device_;
    const std::function<bool(qint64)> &grow_;
    z_stream z_;
    std::vector<char> in_;
    std::vector<char> out_;
    std::size_t outPos_ = 0;
    std::size_t outLen_ = 0;
    qint64 inflated_ = 0;
    qint64 reported_ = 0;
    bool ok_ = false;
    bool ended_ = false;
    bool refused_ = false;
};

quint16 word16(const unsigned char *p, bool bigEndian)
{
    return bigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
}

quint32 word32(const unsigned char *p, bool bigEndian)
{
    return bigEndian ? quint32(word16(p, true)) << 16 | word16(p + 2, true)
                     : quint32(word16(p + 2, false)) << 16 | word16(p, false);
}

bool isVr(const unsigned char *v, const char *list)
{
    for (const char *p = list; *p; p += 3) {
        if (v[0] == p[0] && v[1] == p[1])
            return true;
    }
    return false;
}

const char *const longVrs = "OB OD OF OL OV OW SQ SV UC UN UR UT UV ";
const char *const shortVrs = "AE AS AT CS DA DS DT FD FL IS LO LT PN SH SL SS ST TM UI UL US ";

struct Syntax {
    bool explicitVr = true;
    bool bigEndian = false;
};

// A sequence or item being read: where it ends (-1: at its delimiter) and how its
// elements are written.
struct Open {
    qint64 end = -1;
    bool isItem = false;
    Syntax syntax;
    bool fragments = false;  // pixel data in fragments: its items hold bytes, not elements
};

// Counts item tags (either byte order) in the rest of the source.
qint64 itemTagsLeft(ByteSource &src)
{
    static const unsigned char little[4] = {0xfe, 0xff, 0x00, 0xe0};
    static const unsigned char big[4] = {0xff, 0xfe, 0xe0, 0x00};
    std::vector<char> buf(64 * 1024 + 3);
    std::size_t carry = 0;
    qint64 count = 0;
    while (!src.atEnd()) {
        qint64 n = 64 * 1024;
        // The last block may be shorter: read what is there byte by byte at the end.
        if (!src.read(buf.data() + carry, n)) {
            n = 0;
            while (n < 64 * 1024 && src.read(buf.data() + carry + n, 1))
                ++n;
        }
        const std::size_t len = carry + std::size_t(n);
        const auto *b = reinterpret_cast<const unsigned char *>(buf.data());
        for (std::size_t i = 0; i + 4 <= len; ++i) {
            if (std::memcmp(b + i, little, 4) == 0 || std::memcmp(b + i, big, 4) == 0)
                ++count;
        }
        carry = std::min<std::size_t>(len, 3);
        std::memmove(buf.data(), buf.data() + len - carry, carry);
        if (n == 0)
            break;
    }
    return count;
}

// Walks the data set; false where its structure cannot be followed (then the caller
// counts what is left).
bool walk(ByteSource &src, Syntax top, DicomPrecheck &out, std::vector<Open> &open)
{
    unsigned char h[12];
    while (true) {
        while (!open.empty() && open.back().end >= 0 && src.pos >= open.back().end) {
            if (src.pos > open.back().end)
                return false;
            open.pop_back();
        }
        if (src.atEnd())
            return open.empty() || open.back().end < 0;
        const Syntax s = open.empty() ? top : open.back().syntax;
        if (!src.read(reinterpret_cast<char *>(h), 4))
            return false;
        const quint16 group = word16(h, s.bigEndian);
        const quint16 element = word16(h + 2, s.bigEndian);
        if (group == 0xfffe) {
            if (!src.read(reinterpret_cast<char *>(h + 4), 4))
                return false;
            const quint32 len = word32(h + 4, s.bigEndian);
            if (element == 0xe000) {
                if (open.empty() || open.back().isItem)
                    return false;
                if (open.back().fragments) {
                    // A fragment: bytes of a compressed frame.
                    if (len == undefinedLength || !src.skip(qint64(len)))
                        return false;
                    continue;
                }
                open.push_back(Open{len == undefinedLength ? -1 : src.pos + qint64(len), true, s});
            } else if (element == 0xe00d || element == 0xe0dd) {
                const bool wantItem = element == 0xe00d;
                if (open.empty() || open.back().isItem != wantItem || open.back().end >= 0)
                    return false;
                open.pop_back();
            } else {
                return false;
            }
            out.depth = std::max(out.depth, int(open.size()));
            if (int(open.size()) > maxDicomNesting)
                return false;
            continue;
        }
        quint32 len = 0;
        bool sequence = false;
        bool unknown = false;
        bool bytes = false;
        if (s.explicitVr) {
            if (!src.read(reinterpret_cast<char *>(h + 4), 4))
                return false;
            if (isVr(h + 4, longVrs)) {
                if (!src.read(reinterpret_cast<char *>(h + 8), 4))
                    return false;
                len = word32(h + 8, s.bigEndian);
            } else if (isVr(h + 4, shortVrs)) {
                len = word16(h + 6, s.bigEndian);
            } else {
                return false;
            }
            sequence = h[4] == 'S' && h[5] == 'Q';
            unknown = h[4] == 'U' && h[5] == 'N';
            bytes = h[4] == 'O' && (h[5] == 'B' || h[5] == 'W');
        } else {
            if (!src.read(reinterpret_cast<char *>(h + 4), 4))
                return false;
            len = word32(h + 4, s.bigEndian);
            unknown = true;
            bytes = group == 0x7fe0 && element == 0x0010;
        }
        if (len == undefinedLength) {
            // A sequence, pixel data in fragments, or an unknown element read as a
            // sequence in implicit little endian: items follow either way.
            Syntax inner = s;
            if (unknown && s.explicitVr)
                inner = Syntax{false, false};
            open.push_back(Open{-1, false, inner, bytes});
        } else {
            const qint64 end = src.pos + qint64(len);
            if (!open.empty() && open.back().end >= 0 && end > open.back().end)
                return false;
            bool descend = sequence;
            Syntax inner = s;
            if (!sequence && unknown && len >= 8) {
                // Read as a sequence when it holds items: look at its first tag.
                unsigned char first[4];
                if (!src.read(reinterpret_cast<char *>(first), 4))
                    return false;
                const bool innerBig = s.explicitVr ? false : s.bigEndian;
                descend = word16(first, innerBig) == 0xfffe && word16(first + 2, innerBig) == 0xe000;
                if (descend) {
                    // Put the tag back by reading the item from here.
                    if (s.explicitVr)
                        inner = Syntax{false, false};
                    open.push_back(Open{end, false, inner});
                    if (!src.read(reinterpret_cast<char *>(h + 4), 4))
                        return false;
                    const quint32 itemLen = word32(h + 4, inner.bigEndian);
                    open.push_back(Open{itemLen == undefinedLength ? -1 : src.pos + qint64(itemLen), true, inner});
                } else if (!src.skip(qint64(len) - 4)) {
                    return false;
                }
            } else if (descend) {
                open.push_back(Open{end, false, inner});
            } else if (!src.skip(qint64(len))) {
                return false;
            }
        }
        out.depth = std::max(out.depth, int(open.size()));
        if (int(open.size()) > maxDicomNesting)
            return false;
    }
}

}  // namespace

DicomPrecheck precheckDicom(QIODevice &device, const std::function<bool(qint64)> &grow) noexcept
{
    DicomPrecheck out;
    try {
        // The preamble, the marker, then the meta header in explicit little endian.
        if (!device.skip(132))
            return out;
        DeviceSource meta(device);
        QByteArray syntaxUid;
        unsigned char h[12];
        while (!meta.atEnd()) {
            const QByteArray peek = device.peek(2);
            if (peek.size() < 2 || word16(reinterpret_cast<const unsigned char *>(peek.constData()), false) != 0x0002)
                break;
            if (!meta.read(reinterpret_cast<char *>(h), 8))
                break;
            quint32 len = word16(h + 6, false);
            if (isVr(h + 4, longVrs)) {
                if (!meta.read(reinterpret_cast<char *>(h + 8), 4))
                    break;
                len = word32(h + 8, false);
            }
            if (len == undefinedLength || len > (1u << 20)) {
                out.cut = true;
                return out;
            }
            if (word16(h + 2, false) == 0x0010) {
                syntaxUid.resize(qsizetype(len));
                if (!meta.read(syntaxUid.data(), qint64(len)))
                    break;
            } else if (!meta.skip(qint64(len))) {
                break;
            }
        }
        while (syntaxUid.endsWith('\0') || syntaxUid.endsWith(' '))
            syntaxUid.chop(1);
        Syntax top;
        if (syntaxUid == "1.2.840.10008.1.2")
            top = Syntax{false, false};
        else if (syntaxUid == "1.2.840.10008.1.2.2")
            top = Syntax{true, true};
        out.bigEndian = top.bigEndian;
        out.deflated = syntaxUid == "1.2.840.10008.1.2.1.99";

        std::vector<Open> open;
        open.reserve(maxDicomNesting + 2);
        auto run = [&](ByteSource &src) {
            if (!walk(src, top, out, open)) {
                out.cut = true;
                const qint64 left = itemTagsLeft(src);
                out.depth = int(std::min<qint64>(qint64(open.size()) + left, qint64(1) << 30));
            }
            out.tooDeep = out.depth > maxDicomNesting;
            out.datasetBytes = src.pos;
        };
        if (out.deflated) {
            InflateSource src(device, grow);
            run(src);
            out.cut = out.cut || src.refused();
        } else {
            DeviceSource src(device);
            run(src);
        }
    } catch (...) {
        out.cut = true;
    }
    return out;
}
