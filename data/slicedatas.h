#ifndef SLICEDATAS_H
#define SLICEDATAS_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "data/direction.h"
#include "data/spacing.h"

class SetSpace;
class SliceData;
class StreamedVolume;


// A file a load left out, with the reason in English (the panel translates it in
// the context "SlicesCtrl").
struct SkippedFile {
    QString file;
    QString reason;
};

// How a DICOM series was put in order when not simply by slice position: an English
// text with %1 and %2 (translated by the panel in the context "SlicesCtrl") and its
// two numbers; no text when there is nothing to say.
struct StackingNote {
    const char *text = nullptr;
    int first = 0;
    int second = 0;
    QString english() const { return text ? QString::fromLatin1(text).arg(first).arg(second) : QString(); }
};

// How far the running load is: files done of files chosen. running is false
// between loads.
struct LoadProgress {
    bool running = false;
    int done = 0;
    int total = 0;
};

// One slice set and its loader. Owned by a SlicesCtrl panel as a plain member
// and moved to the panel's loader thread, where filesSelected runs. The GUI
// thread (renderer, panel) reads the set under a ReadGuard; the loader builds
// new slices apart and takes the write lock only to clear and to publish, so
// a reader sees either the empty set or the finished one, never a half-loaded one.
// A load decodes several files at once on the process's decode pool (and in its own
// thread), but accepts them, signals them and fixes the set's size strictly in list order.
class SliceDatas : public QObject
{
    Q_OBJECT
public:
    explicit SliceDatas(QObject *parent = nullptr);
    ~SliceDatas() override;

    // Shared lock on the set for readers in other threads than the loader's.
    class ReadGuard
    {
    public:
        explicit ReadGuard(const SliceDatas &set) : lock_(set.rwLock) { }

    private:
        std::shared_lock<std::shared_mutex> lock_;
    };

    std::vector<SliceData *> slices;  // owned
    // Changes whenever slices does (under the write lock), to a number no set of the
    // process had before, so copies made from the slices can tell they are out of date.
    quint64 generation = 0;
    bool loaded = false;
    int width = 0;
    int height = 0;
    double minV = 0.0;
    double maxV = 1.0;
    double minTh = 0.0;
    double maxTh = 1.0;
    bool histReady = false;
    const int histBins = 50;
    const int histHeight = 100;
    QList<int> hist;
    double binWidth = 1.0;
    double histMaxCount = 0.0;
    QImage histImage;

    // What the last load found, published with its slices: the accepted files in
    // stack order (list order, or slice position for a DICOM series), the files left
    // out with their reasons in list order, the voxel spacing that the files give
    // (1, 1, 1 where they say nothing) and its unit ("mm", or empty when unknown).
    QStringList acceptedFiles;
    QList<SkippedFile> skipped;
    Spacing spacing;
    QString spacingUnit;
    // The direction of the axes and the volume count of the first accepted file that
    // states a direction (the volume formats do), else the defaults.
    VolumeInfo volume;
    PatientAxes patientAxes;  // of a DICOM series stacked by position
    // The finer levels of a set read from one multi-resolution volume, drawn from its
    // chunks where the view calls for more detail than the slices hold; else null.
    std::shared_ptr<StreamedVolume> stream;
    // Whether a series was split or left in list order, and why.
    StackingNote stacking;

    // Frees every slice and resets size, range and thresholds under the write lock;
    // emits cleared() after releasing it. hist, histImage and histReady stay as they were.
    void clear();
    // Recomputes hist and histImage from the current slices, minV and maxV, then
    // publishes them under the write lock. Runs in the set's own thread.
    void makeHist();

    // Threads that decode the files of a load (and count its histogram) at the same
    // time: 0, the default, means one per core; 1 does everything in the loader
    // thread. Read once at the start of each run, so any thread may set it.
    void setLoadWorkers(int count);
    int loadWorkers() const;

    // The memory the slices of one load may hold, in bytes; 0, the default, means half
    // of the physical memory. A file whose slices would pass it is skipped with the
    // reason "not enough memory for this slice", before they are allocated. Read once
    // at the start of each run, so any thread may set it.
    void setMemoryBudget(qint64 bytes);
    qint64 memoryBudget() const;

    // The space this set is drawn in beside others (a window's, a command's), shared
    // with them; none by default. A file whose axes point elsewhere than those of
    // another set of the space, or of the set's own first such file, is left out with
    // the reason skipReason::otherDirection. Read once at the start of each run, so
    // any thread may set it.
    void setSpace(std::shared_ptr<SetSpace> space);

    // Any thread: the progress of the running load, polled by the panel.
    LoadProgress loadProgress() const;
    // Any thread: asks the running load to stop after its current file; what it
    // accepted so far is published as after an interruption. No effect between loads.
    void cancelLoad();

signals:
    void cleared();
    void loadedNewFile(QString fname);
    void loadFilesFinished();
    // First thing in the destructor, in the destroying thread, while the slices are
    // still there: whoever keeps copies of them (or reads them on a thread of its
    // own) lets go.
    void aboutToBeDestroyed();

public slots:
    // Empties the set and loads files in list order (runs in the loader thread):
    // cleared(), one loadedNewFile() per accepted file as it is accepted, then the
    // finished set is published at once and loadFilesFinished() ends the run. When the
    // thread is asked to interrupt, no further file is accepted (decodes already running
    // finish and are thrown away), and the files accepted so far are published as usual.
    // Files are decoded ahead of their turn by at most two per worker. The memory of
    // the set emptied at the start goes back to the system before any file is read.
    // Never throws.
    void filesSelected(QStringList files);

private:
    int workerCount() const;
    std::shared_ptr<SetSpace> space() const;

    mutable std::shared_mutex rwLock;
    std::atomic<int> loadWorkers_{0};
    std::atomic<qint64> memoryBudget_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<int> filesDone_{0};
    std::atomic<int> filesTotal_{0};
    mutable std::mutex spaceMutex_;
    std::shared_ptr<SetSpace> space_;
};

#endif
