// libFuzzer target: the DICOM reader (DCMTK, with the JPEG, JPEG-LS and RLE decoders) on
// the input from memory, each frame checked, then a load of a two-file series of it.
#include "fuzz/fuzzmain.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    oxafuzz::start(argc, argv, oxafuzz::App::Gui);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return oxafuzz::inScratch([&] { return oxafuzz::runDicom(data, size); });
}
