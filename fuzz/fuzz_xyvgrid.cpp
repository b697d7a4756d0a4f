// libFuzzer target: SliceData::readXyvGrid on the input, read from memory.
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::runGrid(oxafuzz::Grid::Xyv, data, size);
}
