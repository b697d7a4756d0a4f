#!/usr/bin/env bash
# The package step of test.sh and CI: builds the Debian package in a folder of its
# own, unpacks it into a temporary root and checks what a user would get.
#   tools/package-check.sh            uses build-package/ (made when missing)
#   OXA_PACKAGE_BUILD_DIR=dir ...     another folder
# Checks, in order: the package's name, dependencies and recommendation; the installed
# layout (program in usr/lib/oxa, symbolic links in usr/bin, icons); the installed
# program's --version against the version in CMakeLists.txt; the installed program
# started offscreen reading a site-wide config.cfg through its link in usr/bin;
# oxa-render --info on the sample head when the package has it; the desktop entry and
# the AppStream metadata through their validators; and a project that pulls this one in
# with add_subdirectory, without looking Qt up, configured and generated.
# Expects the packages of OXA_PACKAGING_PACKAGES (tools/setup.sh) to be installed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

dir=${OXA_PACKAGE_BUILD_DIR:-build-package}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "package check: $*" >&2
    exit 1
}

version=$(sed -n 's/^project(Oxa VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
arch=$(dpkg --print-architecture)

# The package: only the programs and what they install, no tests or tools.
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DOXA_BUILD_TESTS=OFF -DOXA_BUILD_BENCH=OFF \
          -DOXA_BUILD_TOOLS=OFF >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
deb=$dir/oxa_${version}_${arch}.deb
rm -f "$deb"
(cd "$dir" && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "cpack did not write $deb"
echo "package check: $deb"

depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libqt6widgets6*) ;; *) fail "Depends lacks the Qt libraries: $depends" ;; esac
case "$(dpkg-deb -f "$deb" Recommends)" in *fonts-noto-cjk*) ;; *) fail "the package does not recommend fonts-noto-cjk" ;; esac

root=$work/root
dpkg -x "$deb" "$root"
usr=$root/usr
[ -f "$usr/lib/oxa/Oxa" ] && [ -x "$usr/lib/oxa/Oxa" ] || fail "usr/lib/oxa/Oxa missing"
for twin in Oxae Oxaj; do
    [ "$(readlink "$usr/lib/oxa/$twin")" = Oxa ] || fail "usr/lib/oxa/$twin is not a link to Oxa"
done
for name in Oxa Oxae Oxaj; do
    [ "$(readlink "$usr/bin/$name")" = "../lib/oxa/$name" ] || fail "usr/bin/$name is not a link into usr/lib/oxa"
done
appid=$(basename "$usr"/share/applications/*.desktop .desktop)
for size in 16 22 24 32 48 64 128 256; do
    [ -s "$usr/share/icons/hicolor/${size}x${size}/apps/$appid.png" ] || fail "no ${size}x${size} icon"
done
[ -s "$usr/share/icons/hicolor/scalable/apps/$appid.svg" ] || fail "no scalable icon"

# --version, through the links as a user starts it; no display is needed.
for name in Oxa Oxae Oxaj; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$name" --version)
    [ "$out" = "Oxa $version" ] || fail "$name --version printed '$out', expected 'Oxa $version'"
done

# The installed program itself, offscreen: it must find the site-wide config.cfg in its
# own folder although it is started through usr/bin. Start-up writes the data root to
# the log before the window opens; the program is ended once that line is there.
printf 'DataRoot "%s"\n' "$work/site root" > "$usr/lib/oxa/config.cfg"
QT_QPA_PLATFORM=offscreen "$usr/bin/Oxa" >"$work/oxa.log" 2>&1 &
pid=$!
for _ in $(seq 600); do
    grep -q '^data root' "$work/oxa.log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
grep -qF "data root \"$work/site root\"" "$work/oxa.log" \
    || { cat "$work/oxa.log" >&2; fail "the installed program did not read usr/lib/oxa/config.cfg"; }
rm "$usr/lib/oxa/config.cfg"

if [ -e "$usr/bin/oxa-render" ]; then
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/oxa-render" --version)
    case "$out" in *"$version"*) ;; *) fail "oxa-render --version printed '$out'" ;; esac
    [ -s "$usr/share/man/man1/oxa-render.1" ] || fail "no manual page for oxa-render"
    if [ ! -d samples/head ] && [ -x build/make_phantom ]; then
        build/make_phantom samples >/dev/null
    fi
    if [ -d samples/head ]; then
        env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/oxa-render" --info samples/head/*.png >"$work/info.json" \
            || fail "oxa-render --info failed on the sample head"
        grep -q '"slices"' "$work/info.json" || fail "oxa-render --info printed no set"
    else
        echo "package check: no samples/head, oxa-render --info not tried"
    fi
fi

if [ -e "$usr/bin/oxa-convert" ]; then
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/oxa-convert" --version)
    case "$out" in *"$version"*) ;; *) fail "oxa-convert --version printed '$out'" ;; esac
    [ -s "$usr/share/man/man1/oxa-convert.1" ] || fail "no manual page for oxa-convert"
fi

desktop-file-validate "$usr/share/applications/$appid.desktop"
appstreamcli validate --no-net "$usr/share/metainfo/$appid.metainfo.xml" >"$work/as.log" \
    || { cat "$work/as.log" >&2; fail "appstreamcli validate"; }

# A project that has not looked Qt up pulls this one in and links oxacore.
outer=$work/outer
mkdir -p "$outer"
cat >"$outer/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.21)
project(Outer LANGUAGES CXX)
set(OXA_BUILD_TESTS OFF CACHE BOOL "")
set(OXA_BUILD_BENCH OFF CACHE BOOL "")
set(OXA_BUILD_TOOLS OFF CACHE BOOL "")
add_subdirectory("$here" oxa)
file(WRITE \${CMAKE_BINARY_DIR}/use.cpp "int main() { return 0; }\n")
add_executable(use \${CMAKE_BINARY_DIR}/use.cpp)
target_link_libraries(use PRIVATE oxacore)
EOF
cmake -S "$outer" -B "$outer/build" >"$work/outer.log" 2>&1 \
    || { cat "$work/outer.log" >&2; fail "add_subdirectory from a project without Qt"; }

echo "package check: passed (Oxa $version)"
