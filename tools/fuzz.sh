#!/usr/bin/env bash
# Builds the libFuzzer target of the status stream reader with clang and runs
# it: every byte sequence goes through the reader's own loop, with
# AddressSanitizer, and with a 2 MiB limit on any single allocation.
#
#   tools/fuzz.sh [SECONDS] [LIBFUZZER ARGS...]     (default 60 seconds)
#
# The build lives in build/fuzz, the corpus in build/fuzz/corpus (seeded from
# the example job scripts' records). A crash leaves its input in build/fuzz.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
build=build/fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DMONITOR_FUZZ=ON >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build" -j2 --target status_stream_fuzzer
mkdir -p "$build/corpus"
# Seeds: one record of each kind.
printf 'TARN\0\0\0\0\0\0\0\0\x08\0\0\0LPT1:\0K\0' >"$build/corpus/printer"
printf 'TARN\0\0\0\0\x05\0\0\0\x08\0\0\0\x02\0\0\0\xe8\x03\0\0' >"$build/corpus/status"
printf 'TARN\x01\0\0\0\0\0\0\0\x03\0\0\0abcTARN\x02\0\0\0\x03\0\0\0\x04\0\0\0\x10\xa0\0\0' \
  >"$build/corpus/oem_then_event"
cd "$build"
exec ./channel/status_stream_fuzzer -max_total_time="$seconds" -malloc_limit_mb=2 \
  -rss_limit_mb=2048 -max_len=1100000 "$@" corpus
