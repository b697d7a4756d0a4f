#ifndef LOADERRIG_H
#define LOADERRIG_H

// A slice set in a loader thread of its own, wired as a panel wires it, for the
// loader tests: the set's signals are recorded in the test thread, in order.

#include <QCoreApplication>
#include <QImage>
#include <QObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>

#include "data/slicedatas.h"

// Receives the set's signals queued in the test thread, as a panel does, and
// keeps them in order.
class LoadRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList events;

signals:
    void select(QStringList files);
    void finished();

public slots:
    void onCleared() { events << QStringLiteral("cleared"); }
    void onLoadedNewFile(QString fname) { events << QStringLiteral("file ") + fname; }
    void onLoadFilesFinished()
    {
        events << QStringLiteral("finished");
        emit finished();
    }
};

// Holds a thread in one of its slots until released, so that work queued to the
// thread meanwhile waits behind it. The slot is invoked by name, so no state of
// ours travels with the call: Qt's queue orders it, and the thread sanitizer,
// which cannot see inside Qt, has nothing of ours to mistake for a race.
class ThreadParker : public QObject
{
    Q_OBJECT
public:
    // Returns once `thread` is parked.
    void parkIn(QThread *thread)
    {
        moveToThread(thread);
        QMetaObject::invokeMethod(this, "park", Qt::QueuedConnection);
        holding.acquire();
    }
    void release() { hold.release(); }

public slots:
    void park()
    {
        holding.release();
        hold.acquire();
        moveToThread(QCoreApplication::instance()->thread());
    }

private:
    QSemaphore hold;
    QSemaphore holding;
};

struct LoaderRig {
    SliceDatas set;
    QThread thread;
    LoadRecorder rec;
    // Signals of the set that left from a thread other than the loader's.
    std::atomic<int> foreignEmits{0};

    // workers: decoding workers of the set; 0 keeps one per core.
    explicit LoaderRig(int workers = 0)
    {
        set.setLoadWorkers(workers);
        set.moveToThread(&thread);
        QObject::connect(&set, &SliceDatas::cleared, &rec, &LoadRecorder::onCleared);
        QObject::connect(&set, &SliceDatas::loadedNewFile, &rec, &LoadRecorder::onLoadedNewFile);
        QObject::connect(&set, &SliceDatas::loadFilesFinished, &rec, &LoadRecorder::onLoadFilesFinished);
        QObject::connect(&rec, &LoadRecorder::select, &set, &SliceDatas::filesSelected);
        auto check = [this] {
            if (QThread::currentThread() != &thread)
                ++foreignEmits;
        };
        QObject::connect(&set, &SliceDatas::cleared, &set, check, Qt::DirectConnection);
        QObject::connect(&set, &SliceDatas::loadedNewFile, &set, check, Qt::DirectConnection);
        QObject::connect(&set, &SliceDatas::loadFilesFinished, &set, check, Qt::DirectConnection);
        thread.start(QThread::InheritPriority);
    }
    ~LoaderRig()
    {
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }
    LoaderRig(const LoaderRig &) = delete;
    LoaderRig &operator=(const LoaderRig &) = delete;

    // Runs one load to its end; false when loadFilesFinished never came. `between`,
    // when given, runs after the selection is queued and before the loader thread
    // may start on it.
    bool load(const QStringList &files, const std::function<void()> &between = {}, int timeoutMs = 120000)
    {
        rec.events.clear();
        QSignalSpy done(&rec, &LoadRecorder::finished);
        if (!between) {
            emit rec.select(files);
            return done.wait(timeoutMs);
        }
        ThreadParker parker;
        parker.parkIn(&thread);
        emit rec.select(files);
        between();
        parker.release();
        const bool finished = done.wait(timeoutMs);
        // The parker goes home before the run starts; wait for that before it is destroyed.
        return QTest::qWaitFor([&parker] { return parker.thread() == QThread::currentThread(); }, 10000) && finished;
    }
};

// The events of a load that accepts `accepted`, in order.
inline QStringList expectedEvents(const QStringList &accepted)
{
    QStringList events{QStringLiteral("cleared")};
    for (const QString &f : accepted)
        events << QStringLiteral("file ") + f;
    events << QStringLiteral("finished");
    return events;
}

// A grey picture that is not flat; seed makes each one different at (0, 0).
inline QImage greyPicture(int width, int height, int seed)
{
    QImage img(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.scanLine(y)[x] = uchar((seed * 37 + x * 3 + y * 5) % 251);
    return img;
}

#endif
