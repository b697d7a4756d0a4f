#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the viewer; arguments go to the viewer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}"
oxa_build
exec "$here/build/Oxa" "$@"
