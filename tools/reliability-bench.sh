#!/usr/bin/env bash
# The whole reliability runs of the real program under Wine (for `make
# bench`): builds the program, the simulator and e2e_bench in the windows
# preset and runs e2e_bench with what Wine needs around it (the build tree's
# prefix, an Xvfb of our own, a persistent wineserver).
#
#   tools/reliability-bench.sh [all]           the three below, in this order
#   tools/reliability-bench.sh cuts            the realistic job cut at every byte offset
#   tools/reliability-bench.sh soak [CHANGES]  one job of CHANGES status changes (10000)
#   tools/reliability-bench.sh teardown [RUNS] the end of job amid a flood (200 runs)
#
# Prints each run's figures ("259 cuts, 259 clean exits", the soak's memory and
# window counts at start and end, "200 teardowns, 200 clean exits"); exits
# non-zero when any run failed. The soak writes HKCU\Software\KRT\SM in the
# build tree's Wine prefix.
set -u
cd "$(dirname "$0")/.."
[ $# -eq 0 ] && set -- all
# shellcheck source=tools/setup.sh
. tools/setup.sh

cmake --preset windows >build/windows-configure.log 2>&1 || { cat build/windows-configure.log; exit 1; }
cmake --build --preset windows -j2 --target e2e_bench qmxMeadowMonitor port_monitor_sim || exit 1

build=$(pwd)/build/windows
begin_wine_session "$build" || exit 1
wine "$build/e2e/tests/e2e_bench.exe" "$@"
rc=$?
end_wine_session
exit $rc
