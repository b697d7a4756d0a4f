// A deliberately racy program for the ThreadSanitizer build (test.sh --tsan). The
// suppressions in tools/tsan.supp exist for reports inside the uninstrumented Qt
// libraries; a suppression written too broadly (a whole Qt library, or the frames
// through which Qt calls a slot) would hide real races in our slots as well. This
// program makes such a race, in a slot that a worker thread's event loop calls, so:
//   tsan_canary race   must be reported (registered as a test that is expected to fail);
//   tsan_canary clean  the same threads and signals without the race, must pass.

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

int sharedCounter = 0;  // the racy variable: a plain int, no lock
std::atomic<bool> slotRan{false};  // stored with release; read relaxed in the racy run

}  // namespace

// Lives in the worker thread; its slot is reached through Qt's queued call.
class CanaryWorker : public QObject
{
    Q_OBJECT
public slots:
    void touch()
    {
        sharedCounter += 1;
        slotRan.store(true, std::memory_order_release);
    }
};

class CanaryTrigger : public QObject
{
    Q_OBJECT
signals:
    void go();
};

// Not inlined, so the report names it.
Q_NEVER_INLINE void racyWriteFromMain()
{
    sharedCounter += 100;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool race = argc > 1 && std::strcmp(argv[1], "race") == 0;

    QThread thread;
    CanaryWorker worker;
    worker.moveToThread(&thread);
    CanaryTrigger trigger;
    QObject::connect(&trigger, &CanaryTrigger::go, &worker, &CanaryWorker::touch);
    thread.start();

    emit trigger.go();
    if (race) {
        // The slot has written the counter; a relaxed load orders nothing, so nothing
        // the sanitizer can see orders that write before this one.
        while (!slotRan.load(std::memory_order_relaxed))
            QThread::yieldCurrentThread();
        racyWriteFromMain();
    } else {
        // QThread::wait below orders the slot before main's read, but when the thread
        // has already ended it returns without any wait the sanitizer can see inside
        // the uninstrumented Qt library (on a busy machine one run in three reported
        // the read). The acquire load is an ordering it does see.
        while (!slotRan.load(std::memory_order_acquire))
            QThread::yieldCurrentThread();
    }
    thread.quit();
    thread.wait();
    // The counter is ours alone now: no report in the clean run.
    std::printf("counter %d (%s)\n", sharedCounter, race ? "race" : "clean");
    return 0;
}

#include "tsan_canary.moc"
