#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it: every input goes through
# the code under test with AddressSanitizer and UndefinedBehaviorSanitizer,
# and with a limit on any single allocation.
#
#   tools/fuzz.sh [TARGET] [SECONDS] [LIBFUZZER ARGS...]     (default 60 seconds)
#
# TARGET (default status_stream_fuzzer):
#   status_stream_fuzzer   any bytes as the status stream, through the reader's
#                          own loop; no allocation beyond 2 MiB
#   job_script_fuzzer      any text as a simulator job script; no allocation
#                          beyond 300 MiB (the script limit is 256 MiB)
#   text_format_fuzzer     the dialog's text formatter against the plain
#                          reading of its rule; no allocation beyond 2 MiB
#   ipp_response_fuzzer    any bytes as an IPP response body, through the
#                          decoder and the choice of a status code; no
#                          allocation of 2 MiB (what a list or buffer
#                          growing past the 1 MiB cap asks for)
#
# The build lives in build/fuzz, each target's corpus in
# build/fuzz/corpus/TARGET (seeded from the example job scripts and a few
# hand-made inputs). The last line says how it went, in a form to quote:
#
#   status_stream_fuzzer: 10234567 executions in 1800 s, no finding; corpus 812 inputs, 1.3 MB
#
# A finding leaves its input in build/fuzz (crash-..., leak-..., oom-...,
# timeout-...); replay it with build/fuzz/<folder>/TARGET FILE. The exit code
# is 0 only when the run ended without a finding.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
target=status_stream_fuzzer
case "${1:-}" in
  *_fuzzer) target=$1; shift ;;
esac
seconds=${1:-60}
[ $# -gt 0 ] && shift

case "$target" in
  status_stream_fuzzer) folder=channel; limits=(-malloc_limit_mb=2 -max_len=1100000) ;;
  job_script_fuzzer) folder=tools; limits=(-malloc_limit_mb=300 -max_len=4096) ;;
  text_format_fuzzer) folder=dialog; limits=(-malloc_limit_mb=2 -max_len=8192) ;;
  ipp_response_fuzzer) folder=bridge; limits=(-malloc_limit_mb=2 -max_len=1048576) ;;
  *) echo "fuzz.sh: no fuzz target $target" >&2; exit 2 ;;
esac

# clang and its libFuzzer runtime, installed like the other packages.
if ! command -v clang++ >/dev/null 2>&1 ||
   ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  . tools/setup.sh
  MONITOR_PACKAGES=(cmake make clang libclang-rt-14-dev)
  ensure_packages || exit 1
fi

build=build/fuzz
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DMONITOR_FUZZ=ON >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build" -j2 --target "$target"

corpus="$build/corpus/$target"
mkdir -p "$corpus"
case "$target" in
  status_stream_fuzzer)
    # One record of each kind.
    printf 'TARN\0\0\0\0\0\0\0\0\x08\0\0\0LPT1:\0K\0' >"$corpus/printer"
    printf 'TARN\0\0\0\0\x05\0\0\0\x08\0\0\0\x02\0\0\0\xe8\x03\0\0' >"$corpus/status"
    printf 'TARN\x01\0\0\0\0\0\0\0\x03\0\0\0abcTARN\x02\0\0\0\x03\0\0\0\x04\0\0\0\x10\xa0\0\0' \
      >"$corpus/oem_then_event"
    ;;
  job_script_fuzzer)
    for job in tools/jobs/*.job; do cp "$job" "$corpus/$(basename "$job")"; done
    printf 'record 1 9 u32:7 str:"a\\x41" wstr:"\\u" zeros:3 0a0b\nwait-event "x y" 0x10\nflush\ncut\n' \
      >"$corpus/values"
    ;;
  text_format_fuzzer)
    printf '\0Printer %%s is %%%% ready%%d\x1fKestrel %%s\x1fextra' >"$corpus/utf8"
    printf '\1\x81%%s\xfe%%\x81%%%%s\x1f\xb4\xf2\xd3\xa1\xbb\xfa' >"$corpus/double_byte"
    printf '\0\xe6\x89\x93%%s\xf0\x9f\x96\xa8\x1f\xe5\x8d\xb0' >"$corpus/utf8_multibyte"
    ;;
  ipp_response_fuzzer)
    # A printer's answer to Get-Printer-Attributes (reasons, markers, a
    # supply), a Get-Jobs answer with two jobs, and a nested collection.
    printf '\1\1\0\0\0\0\0\1\1\x47\0\x12attributes-charset\0\x05utf-8\4\x23\0\x0dprinter-state\0\4\0\0\0\4\x44\0\x15printer-state-reasons\0\x0fmedia-jam-error\x44\0\0\0\x1fmarker-waste-almost-full-warnin\x44\0\0\0\x11toner-low-warning\x42\0\x0cmarker-names\0\5Black\x42\0\0\0\4Cyan\x42\0\x0dmarker-colors\0\7#000000\x42\0\0\0\7#00FFFF\x21\0\x0dmarker-levels\0\4\0\0\0\5\x21\0\0\0\4\xff\xff\xff\xfe\x21\0\x11marker-low-levels\0\4\0\0\0\x0a\x21\0\0\0\4\0\0\0\x0a\x30\0\x0eprinter-supply\0\x37type=toner;maxcapacity=100;level=0;colorantname=yellow;\3' \
      >"$corpus/printer"
    printf '\1\1\0\0\0\0\0\2\1\x47\0\x12attributes-charset\0\x05utf-8\2\x21\0\6job-id\0\4\0\0\0\x0c\x23\0\x09job-state\0\4\0\0\0\5\x36\0\x08job-name\0\x0c\0\5fr-ca\0\3fou\2\x21\0\6job-id\0\4\0\0\0\x09\x23\0\x09job-state\0\4\0\0\0\3\3' \
      >"$corpus/jobs"
    printf '\1\1\4\x06\0\0\0\3\2\x34\0\x09media-col\0\0\x4a\0\0\0\x0amedia-size\x34\0\0\0\0\x4a\0\0\0\x0bx-dimension\x21\0\0\0\4\0\0\x52\x08\x37\0\0\0\0\x4a\0\0\0\x0bmedia-color\x44\0\0\0\4blue\x44\0\0\0\5white\x37\0\0\0\0\x7f\0\1x\0\5\x40\0\0\1z\3' \
      >"$corpus/collection"
    ;;
esac

log="$build/$target.log"
cd "$build"
set +e
"./$folder/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
  "${limits[@]}" "$@" "corpus/$target" 2>&1 | tee "$root/$log"
status=${PIPESTATUS[0]}
set -e
cd "$root"

executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
[ -n "$executions" ] || executions=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
inputs=$(find "$corpus" -type f | wc -l)
bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.1f MB", s / 1048576}')
if [ "$status" -eq 0 ]; then
  outcome="no finding"
else
  finding=$(sed -n "s/.*Test unit written to \(.*\)/\1/p" "$log" | tail -n 1)
  outcome="FINDING (exit code $status)${finding:+: $finding}"
fi
echo "$target: ${executions:-?} executions in ${elapsed:-?} s, $outcome; corpus $inputs inputs, $bytes"
exit "$status"
