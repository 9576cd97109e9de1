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

begin_wine_session "$build" || exit 1
ctest --test-dir "$build" --output-on-failure "$@"
rc=$?
end_wine_session
exit $rc
