#ifndef RENDERER_H
#define RENDERER_H

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "render/scene.h"

class QPainter;
class SliceDatas;

namespace mip {
struct Params;
}

namespace render {

class CoarseCopies;
struct CoarseSet;
struct VolumeCaches;

// Draws scenes and keeps what drawing derives from the sets between frames: the
// bounds of their blocks of values, the copies "Voxels" sampling re-cuts across
// columns or rows, slab copies of large 8-bit sets, the coarse copies for drags, the raster engine's blend tables
// and the raster-path switch. One per window and one per command-line run.
//
// A set drawn once is watched through its own signals: a set emptied for a reload
// or about to be destroyed has its entries dropped (and any coarse copy being made
// of it stopped) at once, so no caller has to remember to tell. The renderer lives
// in the thread that made it; the drawing functions may run on other threads at
// the same time (a picture written in the background), coarseCopy only in its own.
class Renderer : public QObject
{
    Q_OBJECT
public:
    explicit Renderer(QObject *parent = nullptr);
    ~Renderer() override;  // stops every coarse copy being made

    // The raster path is on by default; switching it off makes every drawing take
    // the per-point path (for comparisons and measurements).
    void setRasterPathEnabled(bool on);
    bool rasterPathEnabled() const;
    // Where the raster path reads 8-bit sets from a copy of them in slabs of eight
    // slices with interleaved rows (mip::SlabBytes; made on the first such drawing on
    // the pool, kept for the last set drawn so, and only when it fits the set's memory
    // budget beside the slices): by default (Auto) only where that was measured faster,
    // large sets seen with rays several voxels apart; Always wherever it gives the same
    // picture (oblique views of the largest value with nearest sampling), or Never.
    enum class SlabCopies { Auto, Always, Never };
    void setSlabCopies(SlabCopies use);

    // One set's maximum-intensity projection over the picture the painter is open on:
    // one point per pixel, blended by the layer's opacity. sw and sh are the set's
    // slice size as the caller saw it; a set that no longer has that size is not
    // drawn. On a plain opaque ARGB32 picture the pixels are computed in parallel with
    // the same result. Leaves the pen at the last pixel's colour.
    void drawVolume(QPainter &p, const SceneView &v, const SceneLayer &layer, int sw, int sh, int pw, int ph);
    // The whole picture: white, then per layer with slices the far frame, the volume
    // and the near frame; sets are boxes centred on the origin, sw x sh x slices
    // voxels of the layer's spacing. The painter stays open.
    void drawScene(QPainter &p, const Scene &s, int pw, int ph);
    // The scene drawn into a new ARGB32 picture of its size; a null picture when the
    // size is refused.
    QImage renderScene(const Scene &s);
    // The scene drawn at its size and written as render::writePicture does.
    bool writeScene(const QString &fname, const Scene &s, QString *error);
    // Makes ahead what drawing the scene's volumes will need of their sets (value
    // blocks, re-cut planes), so that the drawing itself takes only its own time.
    void prepareVolumes(const Scene &s);

    // The finished coarse copy of `set` as it is now, or null while it is being made
    // on a thread of its own (started by this call when none is).
    std::shared_ptr<const CoarseSet> coarseCopy(const SliceDatas &set);
    // Waits until every coarse copy started so far is made.
    void waitForCoarseCopies();
    // How many things derived from the set at this address the renderer keeps (value
    // blocks, re-cut planes, a slab copy, a coarse copy made or being made); for memory
    // reports.
    int keptCopies(const SliceDatas *set);

    // The level the last drawing of a set with finer levels in chunks drew it at, and
    // how many of its chunks were not yet in (-1: drawn from its slices).
    struct StreamedFrame {
        int level = -1;
        qint64 missing = 0;
    };
    StreamedFrame lastStreamedFrame() const;

signals:
    // Chunks a drawing asked for have come in; emitted in the renderer's thread, once
    // for any number that came in since the last time it was heard.
    void chunksArrived();

private:
    struct ArrivalLink;
    // Connects once to the set's signals that end what is kept of it.
    void watch(const SliceDatas &set);
    void forget(const SliceDatas *set);
    // The raster engine's premultiplied blend values at this opacity (1 .. 255), or
    // null when the engine does not blend points as the raster path assumes (checked
    // over every destination value, or over sixteen of them).
    const quint8 *engineBlend(int alpha, bool everyDestination = true);
    // What a streamed drawing passes to the chunks it asks for.
    std::function<void()> arrivalNotice() const;

    std::unique_ptr<VolumeCaches> caches_;
    std::unique_ptr<CoarseCopies> coarse_;
    // Whether a drawing with these parameters reads the set's slab copy.
    bool readSlabs(const mip::Params &pr, int ss) const;

    std::atomic<bool> rasterPath_{true};
    std::atomic<SlabCopies> slabs_{SlabCopies::Auto};
    std::mutex watchMutex_;
    std::set<const SliceDatas *> watched_;
    std::shared_ptr<ArrivalLink> arrival_;
    mutable std::mutex streamedMutex_;
    StreamedFrame streamed_;
};

}  // namespace render

#endif
