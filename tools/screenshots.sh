#!/usr/bin/env bash
# Makes the pictures of the user guide, docs/*.png: the viewer on the sample data
# under a virtual X server (Xvfb, xcb platform), in English and in Japanese, scaled
# down with ImageMagick. Installs what it needs when missing; run from anywhere.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}" xvfb xauth imagemagick fonts-noto-cjk
oxa_build
oxa_samples
build=$(cd "${OXA_BUILD_DIR:-build}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# shot SCENE OUTPUT [options]: one run of the viewer on its own X server.
shot() {
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1280x24" \
        "$build/oxa_screenshot" "$here/samples" "$@"
}
shot start "$tmp/start-en.png" -e
shot start "$tmp/start-ja.png" -j --controls "$tmp/controls-ja.png"
shot turned "$tmp/turned.png" -e
shot overlay "$tmp/overlay.png" -e --controls "$tmp/controls-en.png"
shot fit "$tmp/fit.png" -e
shot side "$tmp/side.png" -e
shot follow "$tmp/follow.png" -e
shot savefail "$tmp/savefail.png" -e
shot skipped "$tmp/skipped.png" -e

# small IN WIDTH OUT: scaled to WIDTH pixels, at most 256 colours, no metadata.
small() {
    convert "$1" -resize "$2x" -strip -colors 256 "PNG8:$3"
}
mkdir -p docs
small "$tmp/start-en.png" 480 docs/start-en.png
small "$tmp/start-ja.png" 480 docs/start-ja.png
small "$tmp/turned.png" 480 docs/turned.png
small "$tmp/overlay.png" 480 docs/overlay.png
small "$tmp/controls-en.png" 760 docs/controls-en.png
small "$tmp/controls-ja.png" 760 docs/controls-ja.png
small "$tmp/fit.png" 480 docs/fit.png
small "$tmp/side.png" 560 docs/side.png
small "$tmp/follow.png" 560 docs/follow.png
small "$tmp/savefail.png" 480 docs/savefail.png
small "$tmp/skipped.png" 760 docs/skipped.png
ls -l docs/*.png
