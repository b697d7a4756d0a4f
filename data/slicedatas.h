#ifndef SLICEDATAS_H
#define SLICEDATAS_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <shared_mutex>
#include <vector>

class SliceData;

// One slice set and its loader. Owned by a SlicesCtrl panel as a plain member
// and moved to the panel's loader thread, where filesSelected runs. The GUI
// thread (renderer, panel) reads the set under a ReadGuard; the loader builds
// new slices apart and takes the write lock only to clear and to publish, so
// a reader sees either the empty set or the finished one, never a half-loaded one.
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
        explicit ReadGuard(const SliceDatas &set) : lock_(set.rwLock) {}
    private:
        std::shared_lock<std::shared_mutex> lock_;
    };

    std::vector<SliceData *> slices;  // owned
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

    // Frees every slice and resets size, range and thresholds under the write lock;
    // emits cleared() after releasing it. hist, histImage and histReady stay as they were.
    void clear();
    // Recomputes hist and histImage from the current slices, minV and maxV, then
    // publishes them under the write lock. Runs in the set's own thread.
    void makeHist();

signals:
    void cleared();
    void loadedNewFile(QString fname);
    void loadFilesFinished();

public slots:
    // Empties the set and loads files in list order (runs in the loader thread):
    // cleared(), one loadedNewFile() per accepted file as it is accepted, then the
    // finished set is published at once and loadFilesFinished() ends the run. When the
    // thread is asked to interrupt, no further file is started, and the files accepted
    // so far are published as usual. Never throws.
    void filesSelected(QStringList files);

private:
    mutable std::shared_mutex rwLock;
};

#endif
