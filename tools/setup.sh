# Shared set-up for run.sh and test.sh: installs the Debian packages the build
# needs (only those missing), then configures and builds into $OXA_BUILD_DIR,
# and makes the sample data when samples/ is missing.
# Sourced, not run: expects to be in the project root.

# fonts-noto-cjk: the Japanese interface (the default) needs a font with its characters.
OXA_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools
              qt6-l10n-tools qt6-image-formats-plugins libgl-dev libbenchmark-dev fonts-noto-cjk
              libtiff-dev zlib1g-dev libdcmtk-dev libinsighttoolkit5-dev)
# Only for the package step (tools/package-check.sh): cpack's dependency search through
# dpkg-shlibdeps (dpkg-dev, file) and the validators of the desktop entry and metadata.
OXA_PACKAGING_PACKAGES=(dpkg-dev file desktop-file-utils appstream)
# Only for fuzz.sh: clang with the libFuzzer and sanitizer runtimes, and the symbolizer
# that puts names and lines into the reports.
OXA_FUZZ_PACKAGES=(clang libclang-rt-dev llvm)

oxa_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

oxa_build() {
    local dir=${OXA_BUILD_DIR:-build}
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DOXA_WERROR="${OXA_WERROR:-OFF}" "$@"
    fi
    cmake --build "$dir" -j"$(nproc)"
}

# A build with sanitizers in its own folder: oxa_sanitized_build DIR SANITIZERS [cmake options].
# Configured every time, so a changed option reaches an existing folder; debug information
# gives the reports their line numbers; the benchmarks are left out.
oxa_sanitized_build() {
    local dir=$1 sanitizers=$2
    shift 2
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXA_SANITIZE="$sanitizers" \
          -DOXA_BUILD_BENCH=OFF -DOXA_WERROR="${OXA_WERROR:-OFF}" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

# The sample slice sets (samples/head, samples/vessels); made once, since samples/
# is not kept in git. Delete the folder to have it made again.
oxa_samples() {
    local dir=${OXA_BUILD_DIR:-build}
    [ -d samples ] && return 0
    echo "Making the sample data in samples/"
    "$dir/make_phantom" samples
}
