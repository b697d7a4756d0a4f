// libFuzzer target: the tokenizer on every line, then the configuration reader
// with INCLUDE among up to three files made from the input.
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::inScratch([&] { return oxafuzz::runConfig(data, size); });
}
