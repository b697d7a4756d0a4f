// libFuzzer target: the research volume formats through ITK (NIfTI, NRRD and MetaImage,
// attached and detached) and described raw files, each slice checked, then a load.
#include "fuzz/fuzzmain.h"
#include "fuzz/volumeharness.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Gui);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::inScratch([&] { return oxafuzz::runVolume(data, size); });
}
