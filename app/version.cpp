#include "app/version.h"

// OXA_VERSION is defined for this file alone, so a new version recompiles only it.
#ifndef OXA_VERSION
#error "OXA_VERSION must be defined by the build"
#endif

QString oxaVersion()
{
    return QStringLiteral(OXA_VERSION);
}
