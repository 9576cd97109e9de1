#!/usr/bin/env bash
# Runs CTest on a Windows build tree with what Wine needs around it: the
# tree's private prefix, an Xvfb of our own (stopped afterwards by pid), and a
# persistent wineserver with one warm-up process, without which every test
# takes seconds instead of milliseconds.
#
#   tools/wine-ctest.sh BUILD_DIR [CTEST ARGS...]
set -u
build=$(cd "$1" && pwd) || exit 2
shift
tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tools/setup.sh
. "$tools_dir/setup.sh"

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
"$tools_dir/wine-prefix.sh" || exit 1

own_display=0
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 1
  own_display=1
fi
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure "$@"
rc=$?
wineserver -k 2>/dev/null
[ $own_display = 1 ] && stop_xvfb
exit $rc
