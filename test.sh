#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test through CTest.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}"
oxa_build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$(nproc)"
