#include "render/mip.h"

// The switch between the raster path and the per-point path. The projection itself
// lives beside this file: the per-point reference in mipreference.cpp, the kernels of
// each instruction set in mipkernels.cpp, the tiles of the raster path in miptiles.cpp.

namespace mip {

namespace {
bool rasterPathOn = true;
}

void setRasterPathEnabled(bool on)
{
    rasterPathOn = on;
}

bool rasterPathEnabled()
{
    return rasterPathOn;
}

}  // namespace mip
