// libFuzzer target: the fast grid readers against the reference readers on the
// input from memory, in both formats; any difference is a finding.
#include "fuzz/fuzzmain.h"
#include "fuzz/griddiff.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Core);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::runGridDiff(data, size);
}
