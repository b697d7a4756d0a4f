# Shared set-up for run.sh and test.sh: installs the Debian packages the build
# needs (only those missing), then configures and builds into $OXA_BUILD_DIR.
# Sourced, not run: expects to be in the project root.

OXA_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools
              qt6-l10n-tools qt6-image-formats-plugins libgl-dev libbenchmark-dev)

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
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@"
    fi
    cmake --build "$dir" -j"$(nproc)"
}
