// libFuzzer target: the TIFF stack reader (libtiff) on the input from memory, each page checked.
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Gui);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::runTiff(data, size);
}
