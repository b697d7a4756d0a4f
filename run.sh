#!/usr/bin/env bash
# Sets up what is missing, builds, makes the sample data when samples/ is missing,
# and starts the viewer with the data root at samples/. Slice files among the
# arguments are loaded into the first panel; without any, the head phantom is.
#
# The viewer takes slice files only before its first option, and every option but
# -e and -j takes the next word (one not beginning with "-") as its value. So the
# words that are neither options nor option values are moved to the front:
#   ./run.sh -e samples/vessels/*   runs   Oxa samples/vessels/... -d <here>/samples -e
# Relative file names are taken from the folder run.sh was started in.
set -euo pipefail
start=$PWD
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}"
oxa_build
oxa_samples

files=()
opts=()
while [ $# -gt 0 ]; do
    case $1 in
        -e | -j)
            opts+=("$1")
            shift
            ;;
        -*)
            opts+=("$1")
            shift
            if [ $# -gt 0 ] && [[ $1 != -* ]]; then
                opts+=("$1")
                shift
            fi
            ;;
        *)
            files+=("$1")
            shift
            ;;
    esac
done
[ ${#files[@]} -gt 0 ] || files=("$here"/samples/head/*.png)

# A -d of the user's own comes later and wins.
build=$(cd "${OXA_BUILD_DIR:-build}" && pwd)
cd "$start"
exec "$build/Oxa" "${files[@]}" -d "$here/samples" "${opts[@]}"
