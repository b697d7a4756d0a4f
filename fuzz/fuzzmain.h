#ifndef OXA_FUZZ_FUZZMAIN_H
#define OXA_FUZZ_FUZZMAIN_H

// Start-up shared by the libFuzzer programs: a scratch folder for the files made
// from each input, quiet Qt logging, and (for picture decoding) an application
// object on the off-screen platform, as the viewer has one when it loads.

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "fuzz/harness.h"

namespace oxafuzz {

inline std::string &scratchDir()
{
    static std::string dir;
    return dir;
}

inline void removeScratch()
{
    const std::string &dir = scratchDir();
    if (!dir.empty())
        QDir(QString::fromStdString(dir)).removeRecursively();
}

// Makes the scratch folder (in memory when /dev/shm is there), removed at exit.
inline void makeScratch()
{
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/oxa-fuzz-XXXXXX" : "/tmp/oxa-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    scratchDir() = pattern;
    std::atexit(removeScratch);
}

// Runs f with the scratch folder as the current directory, then goes back, so that
// paths given on the command line (a crash file to replay) keep their meaning.
template <typename F> int inScratch(F f)
{
    char here[4096];
    if (!getcwd(here, sizeof here))
        here[0] = '\0';
    if (chdir(scratchDir().c_str()) != 0)
        std::abort();
    const int r = f();
    if (here[0] && chdir(here) != 0)
        std::abort();
    return r;
}

enum class App { Core, Gui };

inline void start(int *argc, char ***argv, App app)
{
    makeScratch();
    qInstallMessageHandler(silentHandler);
    if (app == App::Gui) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static QGuiApplication gui(*argc, *argv);
        QImageReader::setAllocationLimit(imageAllocationLimitMb);
    } else {
        static QCoreApplication core(*argc, *argv);
    }
}

}  // namespace oxafuzz

#endif
