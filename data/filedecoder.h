#ifndef FILEDECODER_H
#define FILEDECODER_H

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include "data/slicefile.h"

// What one run's loader and its decode tasks share (filedecoder.cpp).
struct DecodeRun;

// Decodes the files of one run ahead of the loader on the process's decode pool and
// hands the slices over in list order. Lives in the loader's thread. No file is
// started more than `window` places past the one the loader takes next, so at most
// that many decoded slices wait beside the accepted ones, and no more than `workers`
// files decode at once, the loader's own included. When the loader's turn comes to a
// file no task has started, the loader decodes it itself: a load never waits for a
// pool thread (all of them may be busy with other loads), and no pool thread ever
// waits for the loader. Without workers (one asked for, or a single file) take()
// decodes every file in the calling thread.
class FileDecoder
{
public:
    FileDecoder(const QStringList &files, int workers, SliceBudget *budget);
    ~FileDecoder();
    FileDecoder(const FileDecoder &) = delete;
    FileDecoder &operator=(const FileDecoder &) = delete;

    // What files[i] gives; i = 0, 1, 2, ... in turn.
    SliceFile take(qsizetype i);

    // Takes the tasks still queued back from the pool and waits for the decodes in
    // progress to finish; a task the pool starts after this returns ends at once.
    // Slices not taken are freed here.
    void stop();

private:
    // Puts tasks on the pool for the files a task could start now, as long as fewer
    // than limit are there; called with the run's mutex held, from the loader's thread
    // while it decodes nothing itself. Never throws: without a task the loader decodes
    // the file itself when its turn comes.
    void post();

    const QStringList &files_;
    SliceBudget *budget_;
    std::shared_ptr<DecodeRun> run_;
};

#endif
