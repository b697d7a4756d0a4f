#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each of them in
# turn for the given number of seconds (default 60), one at a time:
#   ./fuzz.sh [seconds-per-target] [target...]
# Targets: config (tokenizer and configuration reader with INCLUDE), rangegrid,
# xyvgrid, load (the loader's decode of one file: pictures, then both grid readers),
# grid_diff (the fast grid readers against the reference readers, bit for bit),
# tiff (TIFF stacks through libtiff), dicom (DICOM files and series through DCMTK),
# volume (NIfTI, NRRD and MetaImage through ITK, and described raw files), zarr (OME-Zarr
# metadata, chunk decoding and the read of an image folder).
# Prints the executions and findings of each target; exits non-zero on any finding.
# A finding is kept as build-fuzz/findings/<target>/crash-* (or leak-, oom-,
# timeout-); replay it with build-fuzz/fuzz/fuzz_<target> FILE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. tools/setup.sh
oxa_install_packages "${OXA_PACKAGES[@]}" "${OXA_FUZZ_PACKAGES[@]}"

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(config rangegrid xyvgrid load grid_diff session tiff dicom volume zarr)
case "$seconds" in
'' | *[!0-9]*) echo "usage: $0 [seconds-per-target] [target...]" >&2; exit 2 ;;
esac

dir=$here/build-fuzz
mkdir -p "$dir"
# One run at a time in this folder: two would share the corpora and logs, and halve the speed.
exec 9>"$dir/.fuzz.lock"
if ! flock -n 9; then
    echo "fuzz.sh is already running in $dir" >&2
    exit 2
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DOXA_BUILD_FUZZ=ON -DOXA_BUILD_TESTS=OFF -DOXA_BUILD_BENCH=OFF -DOXA_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" --target oxa_fuzz -j"$(nproc)"

rm -rf "$dir/seeds"
"$dir/fuzz/fuzz_seeds" "$dir/seeds"
cp tests/data/*.dat "$dir/seeds/rangegrid/"
cp tests/data/*.dat "$dir/seeds/xyvgrid/"
cp tests/data/*.dat "$dir/seeds/load/"
mkdir -p "$dir/seeds/grid_diff"
# Two copies: both folders hold the tests/data samples under the same names.
cp "$dir/seeds/rangegrid/"* "$dir/seeds/grid_diff/"
cp -f "$dir/seeds/xyvgrid/"* "$dir/seeds/grid_diff/"

# A smaller quarantine than the default 256 MB: freed memory is reused sooner, which
# spares a page fault per allocation and runs small inputs about 40 % faster.
export ASAN_OPTIONS="detect_leaks=1:symbolize=1:detect_stack_use_after_return=1:handle_abort=1:quarantine_size_mb=32"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:symbolize=1"
# Leaks inside the libraries under the readers, each explained there (tools/lsan.supp).
export LSAN_OPTIONS="suppressions=$here/tools/lsan.supp"
export QT_QPA_PLATFORM=offscreen

status=0
summary=()
for t in "${targets[@]}"; do
    rss=2048
    case "$t" in
    config) dict=config.dict; maxlen=4096 ;;
    rangegrid | xyvgrid) dict=grid.dict; maxlen=4096 ;;
    grid_diff) dict=grid_diff.dict; maxlen=4096; rss=4096 ;; # two largest grids in turn
    load) dict=load.dict; maxlen=16384 ;;
    session) dict=session.dict; maxlen=16384 ;;
    tiff) dict=tiff.dict; maxlen=16384 ;;
    dicom) dict=dicom.dict; maxlen=16384 ;;
    volume) dict=volume.dict; maxlen=16384 ;;
    zarr) dict=zarr.dict; maxlen=16384 ;;
    *) echo "unknown target: $t" >&2; exit 2 ;;
    esac
    corpus=$dir/corpus/$t
    findings=$dir/findings/$t
    log=$dir/logs/$t.log
    mkdir -p "$corpus" "$findings" "$dir/logs" "$here/fuzz/corpus/$t" "$dir/seeds/$t"
    before=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'oom-*' -o -name 'timeout-*' \) | wc -l)
    echo "== fuzz_$t: ${seconds}s"
    # Memory per input: 2 GiB of resident memory, 1 GiB in one allocation; an input that
    # runs a minute counts as a hang.
    rc=0
    "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb="$rss" -malloc_limit_mb=1024 \
        -max_len="$maxlen" -timeout=60 -dict="$here/fuzz/$dict" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$here/fuzz/corpus/$t" "$dir/seeds/$t" \
        >"$log" 2>&1 || rc=$?
    # The logs hold input bytes, so every grep reads them as text (-a).
    execs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
    if [ -z "$execs" ]; then
        execs=$(grep -ao '^#[0-9]*' "$log" | tail -1 | tr -d '#' || true)
    fi
    rate=$(grep -ao 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
    after=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'oom-*' -o -name 'timeout-*' \) | wc -l)
    found=$((after - before))
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        [ "$found" -gt 0 ] || found=1
        echo "!! fuzz_$t: finding (exit $rc), log $log:"
        grep -aE 'ERROR|WARNING|SUMMARY|runtime error|oxa fuzz check|Test unit written|#[0-9]+ 0x' "$log" | head -40 || true
    fi
    line=$(printf '%-10s %6ss  executions %10s  (%s/s)  corpus %5s  findings %s' \
        "$t" "$seconds" "${execs:-?}" "${rate:-?}" "$(find "$corpus" -type f | wc -l)" "$found")
    echo "$line"
    summary+=("$line")
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit "$status"
