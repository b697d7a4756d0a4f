// Drawing a volume larger than memory from the chunks of its finer levels: exact where
// every chunk is in, coarser where not, and the chunks asked for.

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/streamedvolume.h"
#include "data/volumeslices.h"
#include "render/renderer.h"
#include "render/scene.h"
#include "render/streamdraw.h"

namespace {

constexpr qint64 chunkEdge = 8;

// A pyramid made in memory from the stored samples of its finest level: each level
// half the one before (rounded up), each voxel the largest of the eight it stands for.
// The samples are kept in the layout's byte order; chunks are cut from them on demand
// and held only once read or asked for.
class MemoryPyramid : public StreamedVolume
{
public:
    // halveDepth false: the levels halve the columns and rows only, as many pyramids of
    // thick slices do.
    // step: the finest level's spacing along every axis.
    MemoryPyramid(qint64 w, qint64 h, qint64 d, const SampleLayout &l, int held, bool halveDepth = true,
                  double step = 1.0)
        : layout_(l), held_(held)
    {
        bytes_ = sampleTypeBytes(l.type);
        StreamLevel level{w, h, d, chunkEdge, chunkEdge, chunkEdge, Spacing{step, step, step}};
        values_.emplace_back(std::size_t(w * h * d));
        for (qint64 i = 0; i < w * h * d; ++i) {
            const qint64 x = i % w, y = i / w % h, z = i / (w * h);
            const double dx = x - w / 2.0, dy = y - h / 2.0, dz = z - d / 2.0;
            const bool ball = dx * dx + dy * dy + 2 * dz * dz < w * w / 6.0;
            values_[0][std::size_t(i)] = double((ball ? 90 : 10) + (x * 7 + y * 13 + z * 5) % 31);
        }
        levels_.push_back(level);
        while (levels_.size() < 4) {
            const StreamLevel &a = levels_.back();
            StreamLevel b = a;
            const int dz = halveDepth ? 2 : 1;
            b.width = (a.width + 1) / 2, b.height = (a.height + 1) / 2, b.depth = (a.depth + dz - 1) / dz;
            b.spacing = Spacing{a.spacing.x * 2, a.spacing.y * 2, a.spacing.z * dz};
            std::vector<double> v(std::size_t(b.width * b.height * b.depth), -1e300);
            const std::vector<double> &src = values_.back();
            for (qint64 z = 0; z < a.depth; ++z)
                for (qint64 y = 0; y < a.height; ++y)
                    for (qint64 x = 0; x < a.width; ++x) {
                        double &to = v[std::size_t((z / dz * b.height + y / 2) * b.width + x / 2)];
                        to = std::max(to, src[std::size_t((z * a.height + y) * a.width + x)]);
                    }
            levels_.push_back(b);
            values_.push_back(std::move(v));
        }
    }

    // Stored samples of level k's slice z (rows of columns) as makeVolumeSlice takes them.
    std::vector<unsigned char> slice(int k, qint64 z) const
    {
        const StreamLevel &L = levels_[std::size_t(k)];
        std::vector<unsigned char> out(std::size_t(L.width * L.height * bytes_));
        for (qint64 i = 0; i < L.width * L.height; ++i)
            store(values_[std::size_t(k)][std::size_t(z * L.width * L.height + i)], out.data() + i * bytes_);
        return out;
    }

    const std::vector<StreamLevel> &levels() const override { return levels_; }
    int heldLevel() const override { return held_; }
    SampleLayout layout() const override { return layout_; }

    Chunk find(int level, qint64 z, qint64 y, qint64 x) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = held_chunks_.find(std::make_tuple(level, z, y, x));
        return it == held_chunks_.end() ? nullptr : it->second;
    }
    ~MemoryPyramid() override
    {
        for (std::thread &t : loads_)
            t.join();
    }

    void request(int level, qint64 z, qint64 y, qint64 x, std::function<void()> arrived) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        loads_.emplace_back([this, level, z, y, x, arrived] {
            get(level, z, y, x);
            if (arrived)
                arrived();
        });
    }
    Chunk get(int level, qint64 z, qint64 y, qint64 x) override
    {
        if (Chunk c = find(level, z, y, x))
            return c;
        const StreamLevel &L = levels_[std::size_t(level)];
        auto chunk = std::make_shared<std::vector<unsigned char>>(std::size_t(chunkEdge * chunkEdge * chunkEdge * bytes_));
        for (qint64 k = 0; k < chunkEdge; ++k)
            for (qint64 j = 0; j < chunkEdge; ++j)
                for (qint64 i = 0; i < chunkEdge; ++i) {
                    const qint64 gz = z * chunkEdge + k, gy = y * chunkEdge + j, gx = x * chunkEdge + i;
                    // Past the volume's edge a chunk holds anything; it is never read there.
                    const double v = gz < L.depth && gy < L.height && gx < L.width
                        ? values_[std::size_t(level)][std::size_t((gz * L.height + gy) * L.width + gx)]
                        : 12345.0;
                    store(v, chunk->data() + ((k * chunkEdge + j) * chunkEdge + i) * bytes_);
                }
        std::lock_guard<std::mutex> lock(mutex_);
        held_chunks_[std::make_tuple(level, z, y, x)] = chunk;
        return chunk;
    }
    qint64 bytesHeld() const override { return 0; }
    qint64 memoryLimit() const override { return 0; }
    int requests() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void settle()
    {
        // Wait until every chunk asked for is held.
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (int(held_chunks_.size()) >= requests_)
                    return;
            }
            QTest::qWait(10);
        }
    }

private:
    // Writes value v (the sample's value) as this layout stores it.
    void store(double v, unsigned char *p) const
    {
        const double stored = (v - layout_.intercept) / layout_.slope;
        unsigned char raw[8];
        switch (layout_.type) {
        case SampleType::u8: raw[0] = quint8(stored); break;
        case SampleType::s8: raw[0] = quint8(qint8(stored)); break;
        case SampleType::s16: { const qint16 s = qint16(stored); std::memcpy(raw, &s, 2); break; }
        case SampleType::u16: { const quint16 s = quint16(stored); std::memcpy(raw, &s, 2); break; }
        case SampleType::f32: { const float f = float(stored) + 0.25f; std::memcpy(raw, &f, 4); break; }
        case SampleType::s32: { const qint32 s = qint32(stored); std::memcpy(raw, &s, 4); break; }
        default: { const double f = stored + 0.125; std::memcpy(raw, &f, 8); break; }
        }
        for (int i = 0; i < bytes_; ++i)
            p[i] = layout_.swapBytes ? raw[bytes_ - 1 - i] : raw[i];
    }

    SampleLayout layout_;
    int held_ = 0;
    int bytes_ = 1;
    std::vector<StreamLevel> levels_;
    std::vector<std::vector<double>> values_;
    mutable std::mutex mutex_;
    std::map<std::tuple<int, qint64, qint64, qint64>, Chunk> held_chunks_;
    int requests_ = 0;
    std::vector<std::thread> loads_;  // one per chunk asked for, joined at the end
};

// Fills set with level k of the pyramid, as a reader makes its slices.
void fill(SliceDatas &set, const MemoryPyramid &p, int k)
{
    const StreamLevel &L = p.levels()[std::size_t(k)];
    double lo = 1e300, hi = -1e300;
    for (qint64 z = 0; z < L.depth; ++z) {
        std::vector<unsigned char> bytes = p.slice(k, z);
        std::unique_ptr<SliceData> s = makeVolumeSlice(bytes.data(), int(L.width), int(L.height), p.layout());
        lo = std::min(lo, s->minV);
        hi = std::max(hi, s->maxV);
        set.slices.push_back(s.release());
    }
    set.width = int(L.width);
    set.height = int(L.height);
    set.minV = lo;
    set.maxV = hi;
    set.loaded = true;
    ++set.generation;
}

Scene sceneOf(const SliceDatas &set, const SceneView &view, Projection projection, bool linear, bool cut,
              FinerLevels finer, const Spacing &spacing = Spacing{1.0, 1.0, 1.0})
{
    Scene s;
    s.width = s.frameWidth = 72;
    s.height = s.frameHeight = 60;
    s.view = view;
    SceneLayer l;
    l.set = &set;
    l.minTh = 20;
    l.maxTh = 110;
    l.showFrame = false;
    l.projection = projection;
    l.interpolation = linear ? Interpolation::Linear : Interpolation::Nearest;
    l.cut = cut;
    l.cutPos = 10;
    l.csNz = view.nz;
    l.colorMap = ColorMap::Viridis;
    l.alpha = 200;
    l.finerLevels = finer;
    // The set's spacing, as its reader gives it: that of the level its slices hold.
    l.spacing = set.stream ? set.stream->levels()[std::size_t(set.stream->heldLevel())].spacing : spacing;
    s.layers.push_back(l);
    return s;
}

SceneView viewTurned(double aboutY, double aboutX, double scale, Sampling sampling)
{
    SceneView v;
    v = render::turned(v, Vec3{0, 1, 0}, aboutY * M_PI / 180.0);
    v = render::turned(v, v.nx, aboutX * M_PI / 180.0);
    v.scale = scale;
    v.sampling = sampling;
    return v;
}

}  // namespace

Q_DECLARE_METATYPE(SampleLayout)
Q_DECLARE_METATYPE(SceneView)

class TestStreamDraw : public QObject
{
    Q_OBJECT
private slots:
    void exactWhereChunksAreIn_data();
    void exactWhereChunksAreIn();
    void askedChunksRefine();
    void levelForView_data();
    void levelForView();
};

void TestStreamDraw::exactWhereChunksAreIn_data()
{
    QTest::addColumn<SampleLayout>("layout");
    QTest::addColumn<int>("held");
    QTest::addColumn<SceneView>("view");
    QTest::addColumn<int>("projection");
    QTest::addColumn<bool>("linear");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("halveDepth");

    auto layout = [](SampleType t, bool swap, double slope, double intercept) {
        SampleLayout l;
        l.type = t, l.swapBytes = swap, l.slope = slope, l.intercept = intercept;
        return l;
    };
    const SampleLayout u8 = layout(SampleType::u8, false, 1, 0);
    QTest::newRow("bytes, maximum, turned") << u8 << 2 << viewTurned(30, 20, 0.8, Sampling::Slices)
                                            << int(Projection::Maximum) << false << false << true;
    QTest::newRow("bytes, maximum, along the stack, held one level up")
        << u8 << 1 << viewTurned(0, 0, 0.6, Sampling::Slices) << int(Projection::Maximum) << false << false << true;
    QTest::newRow("scaled 16-bit, minimum, linear")
        << layout(SampleType::s16, false, 0.5, -20) << 3 << viewTurned(-40, 15, 0.9, Sampling::Slices)
        << int(Projection::Minimum) << true << false << true;
    QTest::newRow("floats, mean, voxels across columns")
        << layout(SampleType::f32, false, 1, 0) << 2 << viewTurned(75, 5, 0.7, Sampling::Voxels) << int(Projection::Mean)
        << false << false << true;
    QTest::newRow("big-endian doubles, composite, cut")
        << layout(SampleType::f64, true, 1, 0) << 2 << viewTurned(20, -30, 1.0, Sampling::Slices)
        << int(Projection::Composite) << false << true << true;
    QTest::newRow("big-endian 16-bit, maximum, linear, voxels across rows, cut")
        << layout(SampleType::u16, true, 1, 0) << 2 << viewTurned(10, 80, 0.8, Sampling::Voxels)
        << int(Projection::Maximum) << true << true << true;
    // Each sample type through its own reading (tables of 8- and 16-bit words, mapped
    // ones for the maximum of nearest values, the layout for the others), along every
    // stepping axis, with and without a cut.
    QTest::newRow("signed bytes, maximum, voxels across columns, cut")
        << layout(SampleType::s8, false, 1, 0) << 2 << viewTurned(75, 5, 0.7, Sampling::Voxels)
        << int(Projection::Maximum) << false << true << true;
    QTest::newRow("16-bit, maximum, turned, cut")
        << layout(SampleType::u16, false, 1, 0) << 2 << viewTurned(-30, 25, 0.8, Sampling::Slices)
        << int(Projection::Maximum) << false << true << true;
    QTest::newRow("scaled big-endian 16-bit, maximum, voxels across rows")
        << layout(SampleType::s16, true, 0.25, 7) << 1 << viewTurned(10, 80, 0.8, Sampling::Voxels)
        << int(Projection::Maximum) << false << false << true;
    QTest::newRow("floats, maximum, along the stack, cut")
        << layout(SampleType::f32, false, 1, 0) << 2 << viewTurned(0, 0, 0.6, Sampling::Slices)
        << int(Projection::Maximum) << false << true << true;
    QTest::newRow("32-bit integers, minimum") << layout(SampleType::s32, false, 1, 0) << 2
                                              << viewTurned(50, -20, 0.9, Sampling::Slices) << int(Projection::Minimum)
                                              << false << false << true;
    QTest::newRow("bytes, composite, turned") << u8 << 2 << viewTurned(30, 20, 0.8, Sampling::Slices)
                                              << int(Projection::Composite) << false << false << true;
    QTest::newRow("bytes, maximum, levels halving columns and rows only")
        << u8 << 2 << viewTurned(35, 25, 0.8, Sampling::Slices) << int(Projection::Maximum) << false << false
        << false;
}

// Read at once, every chunk the rays meet is in: the picture equals the level's own
// slices drawn in memory, pixel for pixel.
void TestStreamDraw::exactWhereChunksAreIn()
{
    QFETCH(SampleLayout, layout);
    QFETCH(int, held);
    QFETCH(SceneView, view);
    QFETCH(int, projection);
    QFETCH(bool, linear);
    QFETCH(bool, cut);
    QFETCH(bool, halveDepth);
    // Spacings of whole numbers, and the kind a file's scale gives, which no product
    // before a quotient may move by a bit.
    for (const double step : {1.0, 0.7499999776482589}) {
        auto pyramid = std::make_shared<MemoryPyramid>(37, 21, 19, layout, held, halveDepth, step);
        SliceDatas streamed, whole;
        fill(streamed, *pyramid, held);
        streamed.stream = pyramid;
        fill(whole, *pyramid, 0);
        const Spacing finest = pyramid->levels().front().spacing;
        SceneView v = view;
        v.scale *= step;

        render::Renderer renderer;
        const Projection p = Projection(projection);
        const QImage fromChunks = renderer.renderScene(sceneOf(streamed, v, p, linear, cut, FinerLevels::read));
        QCOMPARE(renderer.lastStreamedFrame().level, 0);
        QCOMPARE(renderer.lastStreamedFrame().missing, qint64(0));
        const QImage inMemory = renderer.renderScene(sceneOf(whole, v, p, linear, cut, FinerLevels::off, finest));
        QCOMPARE(fromChunks.size(), inMemory.size());
        int differ = 0;
        for (int y = 0; y < inMemory.height(); ++y)
            for (int x = 0; x < inMemory.width(); ++x)
                differ += fromChunks.pixel(x, y) != inMemory.pixel(x, y);
        QCOMPARE(differ, 0);
        // Not drawn alike by chance: the held level alone gives another picture.
        const QImage held_ = renderer.renderScene(sceneOf(streamed, v, p, linear, cut, FinerLevels::off));
        QVERIFY(held_ != inMemory);
    }
}

// Asked for, the missing chunks come in on other threads; the renderer says so once
// they are in, and the next picture is the exact one.
void TestStreamDraw::askedChunksRefine()
{
    SampleLayout u16;
    u16.type = SampleType::u16;
    auto pyramid = std::make_shared<MemoryPyramid>(37, 21, 19, u16, 2);
    SliceDatas streamed, whole;
    fill(streamed, *pyramid, 2);
    streamed.stream = pyramid;
    fill(whole, *pyramid, 0);
    const SceneView view = viewTurned(25, 10, 0.8, Sampling::Slices);

    render::Renderer renderer;
    QSignalSpy arrived(&renderer, &render::Renderer::chunksArrived);
    const QImage first = renderer.renderScene(sceneOf(streamed, view, Projection::Maximum, false, false, FinerLevels::ask));
    const qint64 missing = renderer.lastStreamedFrame().missing;
    QVERIFY(missing > 0);
    QCOMPARE(qint64(pyramid->requests()), missing);
    pyramid->settle();
    QVERIFY(arrived.count() > 0 || arrived.wait(5000));

    const QImage second =
        renderer.renderScene(sceneOf(streamed, view, Projection::Maximum, false, false, FinerLevels::ask));
    QCOMPARE(renderer.lastStreamedFrame().missing, qint64(0));
    QCOMPARE(pyramid->requests(), int(missing));
    QCOMPARE(second, renderer.renderScene(sceneOf(whole, view, Projection::Maximum, false, false, FinerLevels::off)));
    QVERIFY(first != second);
}

void TestStreamDraw::levelForView_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("spacing");  // the layer's, for the held level 2
    QTest::addColumn<int>("level");

    QTest::newRow("finer than the finest") << 0.3 << 4.0 << 0;
    QTest::newRow("one voxel a pixel") << 1.0 << 4.0 << 0;
    QTest::newRow("just past a voxel") << 1.01 << 4.0 << 1;
    QTest::newRow("four voxels a pixel") << 4.0 << 4.0 << 2;
    QTest::newRow("beyond the coarsest") << 50.0 << 4.0 << 3;
    QTest::newRow("typed spacing halves every level") << 1.0 << 2.0 << 1;
}

void TestStreamDraw::levelForView()
{
    QFETCH(double, scale);
    QFETCH(double, spacing);
    QFETCH(int, level);
    SampleLayout u8;
    const MemoryPyramid pyramid(37, 21, 19, u8, 2);
    SceneView v;
    v.scale = scale;
    SceneLayer layer;
    layer.spacing = Spacing{spacing, spacing, spacing};
    QCOMPARE(render::streamLevelFor(v, layer, pyramid), level);
}

QTEST_MAIN(TestStreamDraw)
#include "tst_streamdraw.moc"
