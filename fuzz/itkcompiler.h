// Read before anything else in the fuzz build (clang) by the code that includes ITK's
// headers. Debian's ITK 5.2 made its compiler detection for GCC alone and stops any
// other compiler with "Unsupported compiler"; here clang reads it once as the GCC of
// this system would (clang takes every language feature ITK's headers ask for), and
// its include guard keeps ITK's own includes of it from reading it again.
#ifndef OXA_FUZZ_ITKCOMPILER_H
#define OXA_FUZZ_ITKCOMPILER_H

#if defined(__clang__) && defined(__cplusplus)
#pragma push_macro("__clang__")
#pragma push_macro("__GNUC__")
#pragma push_macro("__GNUC_MINOR__")
#undef __clang__
#undef __GNUC__
#undef __GNUC_MINOR__
#define __GNUC__ 12
#define __GNUC_MINOR__ 2
#include <itk_compiler_detection.h>
#pragma pop_macro("__GNUC_MINOR__")
#pragma pop_macro("__GNUC__")
#pragma pop_macro("__clang__")
#endif

#endif
