#include "ui/ctview.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>

#include "data/slicedatas.h"
#include "data/streamedvolume.h"
#include "render/renderer.h"
#include "render/streamdraw.h"
#include "ui/slicesctrl.h"

namespace {

// Drawings of one view at most: chunks that do not stay in memory (a view needing more
// than the cache holds) would otherwise be asked for again and again.
constexpr int maxRefineRounds = 8;

}  // namespace

bool CtView::refinementWanted() const
{
    const SceneView v = view();
    for (const SlicesCtrl *s : sCtrls) {
        const SceneLayer layer = layerOf(s);
        if (!layer.showVolume)
            continue;
        SliceDatas::ReadGuard guard(s->sliceDatas);
        const std::shared_ptr<StreamedVolume> stream = s->sliceDatas.stream;
        if (stream && render::streamLevelFor(v, layer, *stream) < stream->heldLevel())
            return true;
    }
    return false;
}

void CtView::showDrawnLevels(bool refined)
{
    const SceneView v = view();
    for (SlicesCtrl *s : sCtrls) {
        std::shared_ptr<StreamedVolume> stream;
        {
            SliceDatas::ReadGuard guard(s->sliceDatas);
            stream = s->sliceDatas.stream;
        }
        if (!stream)
            continue;
        // A refined picture draws a set at the level its view calls for, where finer.
        int level = stream->heldLevel();
        if (refined) {
            const SceneLayer layer = layerOf(s);
            if (layer.showVolume)
                level = std::min(level, render::streamLevelFor(v, layer, *stream));
        }
        s->showDrawnLevel(level);
    }
}

void CtView::scheduleRefinement()
{
    // Every new picture makes the drawings of the views before it out of date.
    ++refineGeneration_;
    refineRounds_ = 0;
    refineMissing_ = -1;
    if (pImg.isNull() || coarseShown_ || !refinementWanted()) {
        refineTimer_->stop();
        return;
    }
    refineTimer_->start();
}

void CtView::startRefinement()
{
    if (refineWatcher_->isRunning()) {
        refineAgain_ = true;
        return;
    }
    if (pImg.isNull() || refineRounds_ >= maxRefineRounds || !refinementWanted())
        return;
    Scene sc = scene(pImg.width(), pImg.height());
    for (SceneLayer &layer : sc.layers)
        layer.finerLevels = FinerLevels::ask;
    ++refineRounds_;
    refineStarted_ = refineGeneration_;
    render::Renderer *renderer = renderer_.get();
    refineWatcher_->setFuture(QtConcurrent::run([renderer, sc] {
        // Out of memory for the picture leaves the one on screen.
        try {
            return renderer->renderScene(sc);
        } catch (const std::exception &) {
            return QImage();
        }
    }));
}

void CtView::refinementDone()
{
    const QImage picture = refineWatcher_->result();
    const render::Renderer::StreamedFrame frame = renderer_->lastStreamedFrame();
    const bool current = refineStarted_ == refineGeneration_;
    if (current && !picture.isNull() && picture.size() == pImg.size()) {
        pImg = picture;
        dispA_->update();
        showDrawnLevels(true);
    }
    // Drawn again when chunks came in meanwhile, or for the newest view; a view whose
    // drawing lacks as many chunks as the one before has what the cache can give.
    const bool progress = refineMissing_ < 0 || frame.missing < refineMissing_;
    refineMissing_ = frame.missing;
    if (!current) {
        refineRounds_ = 0;
        refineMissing_ = -1;
        if (!refineTimer_->isActive())
            startRefinement();
    } else if (refineAgain_ && frame.missing > 0 && progress) {
        startRefinement();
    }
    refineAgain_ = false;
}

void CtView::finishRefinement()
{
    refineTimer_->stop();
    ++refineGeneration_;
    refineWatcher_->waitForFinished();
}
