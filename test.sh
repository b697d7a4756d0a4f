#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test through CTest.
#   ./test.sh             the normal build in build/, every test, then the package step
#   ./test.sh --package   only the package step (tools/package-check.sh): the Debian package
#                         built in build-package/, unpacked and checked
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
    # The package step runs the installed oxa-render on the sample head.
    oxa_samples
    oxa_install_packages "${OXA_PACKAGING_PACKAGES[@]}"
    tools/package-check.sh
    ;;
--package)
    oxa_install_packages "${OXA_PACKAGING_PACKAGES[@]}"
    tools/package-check.sh
    ;;
--sanitize)
    oxa_sanitized_build build-asan address,undefined
    # The sanitizer options are set on each test by tests/CMakeLists.txt.
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
--tsan)
    oxa_sanitized_build build-tsan thread
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build-tsan --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 [--package | --sanitize | --tsan]" >&2
    exit 2
    ;;
esac
