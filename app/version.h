#ifndef VERSION_H
#define VERSION_H

#include <QString>

// The program's version, "major.minor.patch", as the build was configured
// (the one VERSION of the top-level project).
QString oxaVersion();

#endif
