// libFuzzer target: the loader's decode of the input from memory (every installed
// picture reader, then both grid readers), then a one-file load of a set of it.
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
