// libFuzzer target: OME-Zarr metadata (.zattrs multiscales, .zarray), chunk decoding
// (blosc, zstd, zlib, gzip, none) and the read of the image folder they make.
#include "fuzz/fuzzmain.h"
#include "fuzz/zarrharness.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Gui);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::inScratch([&] { return oxafuzz::runZarr(data, size); });
}
