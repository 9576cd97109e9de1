#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the portable core
# natively with sanitizers and the Windows program with mingw-w64, and runs
# every test of both builds (the Windows ones under Wine and Xvfb).
#
#   tools/test.sh            (what `make test` runs)
#
# Exits non-zero when anything fails to build or any test fails.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=tools/setup.sh
. tools/setup.sh
ensure_packages || exit 1
ensure_locales || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
status=0
summary=()

run_preset() {
  local preset=$1
  echo "=== [$preset] configure and build"
  if ! cmake --preset "$preset" >"$root/build/$preset-configure.log" 2>&1; then
    cat "$root/build/$preset-configure.log"
    echo "=== [$preset] configure FAILED"
    return 1
  fi
  if ! cmake --build --preset "$preset" -j "$jobs"; then
    echo "=== [$preset] build FAILED"
    return 1
  fi
  echo "=== [$preset] tests"
  ctest --preset "$preset" -j "$jobs" --timeout 300
}

mkdir -p build

if run_preset host; then summary+=("host: passed"); else summary+=("host: FAILED"); status=1; fi

if [ "${MONITOR_SKIP_TSAN:-0}" != 1 ]; then
  if run_preset tsan; then summary+=("tsan: passed"); else summary+=("tsan: FAILED"); status=1; fi
fi

# The Windows tests run under Wine: one prefix, one Xvfb and one wineserver
# for the whole run (tools/wine-ctest.sh).
echo "=== [windows] configure and build"
if cmake --preset windows >"$root/build/windows-configure.log" 2>&1 &&
   cmake --build --preset windows -j "$jobs"; then
  echo "=== [windows] tests"
  if tools/wine-ctest.sh build/windows -j "$jobs" --timeout 300; then
    summary+=("windows: passed")
  else
    summary+=("windows: FAILED"); status=1
  fi
else
  cat "$root/build/windows-configure.log"
  summary+=("windows: build FAILED"); status=1
fi

echo
echo "=== summary"
printf '  %s\n' "${summary[@]}"
exit $status
