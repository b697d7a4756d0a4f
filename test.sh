#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test through CTest.
#   ./test.sh             the normal build in build/, every test
#   ./test.sh --sanitize  AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer:
#                         build-asan/, every test, halting on the first error
#   ./test.sh --tsan      ThreadSanitizer: build-tsan/, every test and the race canary
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}"

case "${1:-}" in
"")
    oxa_build
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    ;;
--sanitize)
    oxa_sanitized_build build-asan address,undefined
    export QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:exitcode=23"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=24"
    export LSAN_OPTIONS="suppressions=$here/tools/lsan.supp:print_suppressions=0"
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
--tsan)
    oxa_sanitized_build build-tsan thread
    export QT_QPA_PLATFORM=offscreen
    export TSAN_OPTIONS="suppressions=$here/tools/tsan.supp:halt_on_error=1:second_deadlock_stack=1:history_size=4:exitcode=66"
    ctest --test-dir build-tsan --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 [--sanitize | --tsan]" >&2
    exit 2
    ;;
esac
