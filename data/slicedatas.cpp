#include "data/slicedatas.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "data/dicomstack.h"
#include "data/filedecoder.h"
#include "data/setspace.h"
#include "data/slicedata.h"
#include "data/slicefile.h"
#include "data/slicehistogram.h"
#include "data/workpool.h"

namespace {

// Generations are unique in the process, so a copy made from one set can never be
// taken for a copy of another set that lives at the same address later.
quint64 nextGeneration()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

const double largestDouble = std::numeric_limits<double>::max();

using slicehist::Histogram;

// Moves a finished histogram into the set; the caller holds the write lock.
void storeHistogram(SliceDatas &set, Histogram &h)
{
    set.hist = std::move(h.counts);
    set.binWidth = h.binWidth;
    set.histMaxCount = h.maxCount;
    set.histImage = std::move(h.image);
    set.histReady = true;
}

// Hands the memory of a freed set back to the system. glibc keeps freed blocks in
// the heap of the thread that allocated them, and the threads that decode the next
// load (the decode pool's, which end when idle and start anew, and the loader's) may
// well take other heaps, so without this a reload could hold the old set's memory
// beside the new one. Other allocators are left as they are.
void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

SliceDatas::SliceDatas(QObject *parent) : QObject(parent)
{
    clear();
}

SliceDatas::~SliceDatas()
{
    emit aboutToBeDestroyed();
    if (const std::shared_ptr<SetSpace> s = space())
        s->release(this);
    // The loader thread has ended; its last publish is ordered before this through the
    // lock it published under (a join inside Qt is not seen by the race checker).
    std::unique_lock<std::shared_mutex> lock(rwLock);
    for (SliceData *s : slices)
        delete s;
}

void SliceDatas::clear()
{
    std::vector<SliceData *> old;
    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        old.swap(slices);
        generation = nextGeneration();
        loaded = false;
        width = height = 0;
        minV = 0.0;
        maxV = 1.0;
        minTh = 0.0;
        maxTh = 1.0;
        acceptedFiles.clear();
        skipped.clear();
        spacing = Spacing();
        spacingUnit.clear();
        volume = VolumeInfo();
        patientAxes = PatientAxes();
        stream.reset();
        stacking = StackingNote();
    }
    if (const std::shared_ptr<SetSpace> s = space())
        s->release(this);
    for (SliceData *s : old)
        delete s;
    emit cleared();
}

void SliceDatas::makeHist()
{
    {
        // Not ready until the new one is stored (it stays so if building it fails).
        std::unique_lock<std::shared_mutex> lock(rwLock);
        histReady = false;
    }
    Histogram h = slicehist::computeHistogram(slices, width, height, minV, maxV, histBins, histHeight, workerCount());
    std::unique_lock<std::shared_mutex> lock(rwLock);
    storeHistogram(*this, h);
}

void SliceDatas::setLoadWorkers(int count)
{
    loadWorkers_.store(std::max(count, 0));
}

int SliceDatas::loadWorkers() const
{
    return loadWorkers_.load();
}

void SliceDatas::setMemoryBudget(qint64 bytes)
{
    memoryBudget_.store(std::max<qint64>(bytes, 0));
}

qint64 SliceDatas::memoryBudget() const
{
    const qint64 asked = memoryBudget_.load();
    return asked > 0 ? asked : defaultSliceBudget();
}

void SliceDatas::setSpace(std::shared_ptr<SetSpace> s)
{
    std::lock_guard<std::mutex> lock(spaceMutex_);
    space_ = std::move(s);
}

std::shared_ptr<SetSpace> SliceDatas::space() const
{
    std::lock_guard<std::mutex> lock(spaceMutex_);
    return space_;
}

int SliceDatas::workerCount() const
{
    const int asked = loadWorkers_.load();
    return std::clamp(asked > 0 ? asked : QThread::idealThreadCount(), 1, workpool::maxDecodeThreads);
}

LoadProgress SliceDatas::loadProgress() const
{
    LoadProgress p;
    p.running = running_.load();
    p.done = filesDone_.load();
    p.total = filesTotal_.load();
    return p;
}

void SliceDatas::cancelLoad()
{
    if (running_.load())
        cancelRequested_.store(true);
}

void SliceDatas::filesSelected(QStringList files)
{
    cancelRequested_.store(false);
    filesDone_.store(0);
    filesTotal_.store(int(std::min<qsizetype>(files.size(), std::numeric_limits<int>::max())));
    running_.store(true);
    clear();
    returnFreedMemory();

    // The new slices are built apart; readers keep seeing the empty set until the
    // whole result is published under the write lock below.
    std::vector<std::unique_ptr<SliceData>> accepted;
    QStringList acceptedNames;
    QList<SkippedFile> skippedFiles;
    std::vector<AcceptedFile> acceptedMeta;
    VolumeInfo setVolume;
    std::shared_ptr<StreamedVolume> setStream;
    bool volumeAccepted = false;  // setVolume came with a file that was kept
    VolumeInfo levelsFrom;        // the first kept file of a multi-resolution volume
    const std::shared_ptr<SetSpace> setSpace = space();
    int setWidth = 0;
    int setHeight = 0;
    double setMinV = largestDouble;
    double setMaxV = -largestDouble;
    QThread *thread = QThread::currentThread();
    const int workers = workerCount();
    // Every slice of the run, accepted or in flight, is held in the budget; a dropped
    // one gives its share back. Slices a stopped decoder frees need not: the budget
    // ends with the run.
    SliceBudget budget(memoryBudget());
    FileDecoder decoder(std::as_const(files), workers, &budget);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (thread->isInterruptionRequested() || cancelRequested_.load())
            break;
        const QString &name = std::as_const(files).at(i);
        filesDone_.store(int(std::min<qsizetype>(i + 1, std::numeric_limits<int>::max())));
        try {
            SliceFile file = decoder.take(i);
            // The first file that states the direction of its axes sets the set's, which
            // must agree with those of the other sets in its space; later files, with it.
            if (!file.slices.empty() && file.volume.hasDirection) {
                const bool fits = setVolume.hasDirection ? setVolume.direction.sameAs(file.volume.direction)
                                                         : !setSpace || setSpace->claim(this, file.volume.direction);
                if (!fits) {
                    for (const auto &slice : file.slices)
                        budget.release(sliceBytes(*slice));
                    skippedFiles.append(SkippedFile{name, QString::fromLatin1(skipReason::otherDirection)});
                    continue;
                }
                if (!setVolume.hasDirection)
                    setVolume = file.volume;
            }
            // A flat page inside a stack is a real slice of it (and pages each flat but
            // of different values are a volume); a file of one value throughout is
            // dropped like a flat picture.
            double fileMin = largestDouble, fileMax = -largestDouble;
            for (const auto &slice : file.slices) {
                fileMin = std::min(fileMin, slice->minV);
                fileMax = std::max(fileMax, slice->maxV);
            }
            const bool fileVaries = fileMax > fileMin;
            bool otherSize = false;
            AcceptedFile meta;
            QList<SkippedFile> parts;
            for (std::size_t k = 0; k < file.slices.size(); ++k) {
                auto &slice = file.slices[k];
                // The first decoded slice fixes the size, even when it is dropped below.
                if (slice->width > 0 && slice->height != 0 && setWidth <= 0) {
                    setWidth = slice->width;
                    setHeight = slice->height;
                }
                const bool sameSize = slice->width == setWidth && slice->height == setHeight;
                otherSize = otherSize || !sameSize;
                if (!sameSize || !fileVaries) {
                    budget.release(sliceBytes(*slice));
                    if (!sameSize)
                        parts.append(SkippedFile{partName(file, k), QString::fromLatin1(skipReason::otherSize)});
                    continue;
                }
                if (slice->maxV > setMaxV)
                    setMaxV = slice->maxV;
                if (slice->minV < setMinV)
                    setMinV = slice->minV;
                accepted.push_back(std::move(slice));
                ++meta.sliceCount;
            }
            if (meta.sliceCount == 0) {
                QString reason = file.reason;
                if (otherSize)
                    reason = QString::fromLatin1(skipReason::otherSize);
                else if (!file.slices.empty())
                    reason = QString::fromLatin1(skipReason::flat);
                else if (reason.isEmpty())
                    reason = QString::fromLatin1(skipReason::notSlices);
                skippedFiles.append(SkippedFile{name, reason});
                continue;
            }
            // Pages left out of a file that gave others are named one by one.
            parts = file.skippedParts + parts;
            for (const SkippedFile &part : std::as_const(parts))
                skippedFiles.append(SkippedFile{QStringLiteral("%1, %2").arg(name, part.file), part.reason});
            volumeAccepted = volumeAccepted || file.volume.hasDirection;
            if (file.volume.finestSize[0] > 0 && levelsFrom.finestSize[0] == 0)
                levelsFrom = file.volume;
            if (acceptedNames.isEmpty())
                setStream = file.stream;
            meta.hasSpacing = file.hasSpacing;
            meta.spacing = file.spacing;
            meta.spacingUnit = file.spacingUnit;
            meta.isDicom = file.isDicom;
            meta.dicom = file.dicom;
            acceptedMeta.push_back(meta);
            acceptedNames.append(name);
        } catch (const std::exception &) {
            skippedFiles.append(SkippedFile{name, QString::fromLatin1(skipReason::unreadable)});
            continue;
        }
        emit loadedNewFile(name);
    }
    decoder.stop();

    Spacing setSpacing;
    QString setSpacingUnit;
    PatientAxes setAxes;
    StackingNote setStacking;
    bool anyAccepted = setMinV < largestDouble && setMaxV > -largestDouble;
    std::vector<SliceData *> newSlices;
    Histogram h;
    try {
        stackByPosition(accepted, acceptedNames, acceptedMeta, setSpacing, setSpacingUnit, skippedFiles, setStacking,
                        &setAxes);
        if (setStacking.text && !accepted.empty()) {
            // Slices of another series may have been left out: the range is that of the rest.
            setMinV = largestDouble;
            setMaxV = -largestDouble;
            for (const auto &s : accepted) {
                setMinV = std::min(setMinV, s->minV);
                setMaxV = std::max(setMaxV, s->maxV);
            }
            anyAccepted = setMinV < largestDouble && setMaxV > -largestDouble;
        }
        newSlices.reserve(accepted.size());
        for (const auto &s : accepted)
            newSlices.push_back(s.get());
        if (anyAccepted)
            h = slicehist::computeHistogram(newSlices, setWidth, setHeight, setMinV, setMaxV, histBins, histHeight,
                                            workers);
    } catch (const std::exception &) {
        // Out of memory while finishing: end in the failed state rather than half-made.
        newSlices.clear();
        accepted.clear();
        acceptedNames.clear();
        anyAccepted = false;
        setMinV = largestDouble;
        setMaxV = -largestDouble;
        setSpacing = Spacing();
        setAxes = PatientAxes();
        setSpacingUnit.clear();
        setStacking = StackingNote();
    }
    // A direction whose file was left out after all (its slices of another size, or
    // flat) is not the set's.
    if (!anyAccepted || !volumeAccepted) {
        setVolume = VolumeInfo();
        if (setSpace)
            setSpace->release(this);
    }
    if (anyAccepted && levelsFrom.finestSize[0] > 0) {
        if (!setVolume.hasDirection)
            setVolume.volumes = levelsFrom.volumes;
        setVolume.level = levelsFrom.level;
        setVolume.levels = levelsFrom.levels;
        std::copy(levelsFrom.finestSize, levelsFrom.finestSize + 3, setVolume.finestSize);
    }

    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        slices.swap(newSlices);
        generation = nextGeneration();
        width = setWidth;
        height = setHeight;
        minV = setMinV;
        maxV = setMaxV;
        acceptedFiles.swap(acceptedNames);
        skipped.swap(skippedFiles);
        spacing = setSpacing;
        spacingUnit = setSpacingUnit;
        volume = setVolume;
        patientAxes = setAxes;
        // Chunks stand for the set only while its one file is all it holds.
        stream = anyAccepted && acceptedFiles.size() == 1 ? setStream : nullptr;
        stacking = setStacking;
        if (anyAccepted) {
            loaded = true;
            minTh = minV;
            maxTh = maxV;
            storeHistogram(*this, h);
        }
    }
    for (auto &s : accepted)
        s.release();  // now owned by slices
    for (SliceData *s : newSlices)
        delete s;  // whatever the set held before; empty after clear()

    running_.store(false);
    emit loadFilesFinished();
}
