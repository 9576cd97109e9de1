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
  ctest --preset "$preset" -j "$jobs" --timeout 300 2>&1 | tee "$root/build/$preset-ctest.log"
  return "${PIPESTATUS[0]}"
}

mkdir -p build
rm -f build/*-ctest.log

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
  tools/wine-ctest.sh build/windows -j "$jobs" --timeout 300 2>&1 | tee "$root/build/windows-ctest.log"
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    summary+=("windows: passed")
  else
    summary+=("windows: FAILED"); status=1
  fi
else
  cat "$root/build/windows-configure.log"
  summary+=("windows: build FAILED"); status=1
fi

# Adds up CTest's own counts of every build that ran its tests.
passed=0
failed=0
for preset in host tsan windows; do
  log="$root/build/$preset-ctest.log"
  [ -f "$log" ] || continue
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  [ -n "$line" ] || continue
  f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  t=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
  passed=$((passed + t - f))
  failed=$((failed + f))
done

echo
echo "=== summary"
printf '  %s\n' "${summary[@]}"
[ $status -ne 0 ] && [ $failed -eq 0 ] && failed=1  # a build that failed counts as a failure
echo "tests: $passed passed, $failed failed"
exit $status
