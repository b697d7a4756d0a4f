// libFuzzer target: the loader's decode of one file (every installed picture
// reader, then both grid readers) and a one-file load of a set.
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Gui);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::inScratch([&] { return oxafuzz::runLoad(data, size); });
}
