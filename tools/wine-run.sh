#!/usr/bin/env bash
# Runs one Windows program under Wine and passes its exit code through.
#
#   tools/wine-run.sh PROGRAM.exe [ARGS...]
#
# The Wine prefix is private to the build tree the program belongs to (the
# nearest folder above it that holds CMakeCache.txt, as "<build>/wineprefix"),
# unless WINEPREFIX is already set. It is created on first use, with Wine's own
# fonts and the CJK font replacement. Without a DISPLAY an Xvfb of our own is
# started for this one run and stopped afterwards.
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
program=$1
shift

find_build_root() {
  local dir
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ]; do
    if [ -f "$dir/CMakeCache.txt" ]; then
      echo "$dir"
      return 0
    fi
    dir=$(dirname "$dir")
  done
  return 1
}

if [ -z "${WINEPREFIX:-}" ]; then
  if root=$(find_build_root "$program"); then
    WINEPREFIX="$root/wineprefix"
  else
    WINEPREFIX="${TMPDIR:-/tmp}/monitor-wineprefix"
  fi
fi
export WINEPREFIX
export WINEDEBUG=-all
# winedbg disabled: an unhandled crash must end with a non-zero exit code.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
export WINEARCH=win64

tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$tools_dir/wine-prefix.sh" || exit 125

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      break
    fi
  done
fi

wine "$program" "$@"
rc=$?

if [ -n "$xvfb_pid" ]; then
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
fi
exit $rc
