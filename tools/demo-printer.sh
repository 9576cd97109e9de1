#!/usr/bin/env bash
# The monitor on a real IPP printer, for a newcomer: builds the monitor and
# the IPP status bridge, starts an IPP printer application (ippeveprinter, on
# this machine only) and prints one job on it through the bridge under Wine.
# While the job prints, the printer jams, its cover opens and its black ink
# runs low; the bridge sees each change at its next poll and the monitor
# shows and dismisses its alerts; the end of the job ends both.
#
#   tools/demo-printer.sh               (what `make demo-printer` runs)
#
# Same rules as tools/demo.sh: with a DISPLAY the windows appear there and
# each step waits a few seconds; without one the demo runs in an Xvfb of its
# own inside a Wine virtual desktop and saves a PNG of each step into
# build/demo-printer/.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build/demo-printer"
bin="$root/build/windows"

if [ "${1:-}" = --play ]; then
  # The job itself, run by printer_peer.py with both printers up.
  probe() { wine "$bin/tools/monitor_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
  shot=0
  show() {
    if [ "$DEMO_LIVE" = 1 ]; then
      sleep 3
    else
      sleep 0.7
      shot=$((shot + 1))
      local file
      file=$(printf '%s/%02d-%s.png' "$out" "$shot" "$1")
      import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage "$file" 2>/dev/null &&
        echo "    picture: ${file#"$root"/}"
    fi
  }
  step() { echo "--- $*"; }
  failed=0
  fail() { echo "demo-printer: $*"; failed=1; }
  go() { curl -s -o /dev/null "$BRIDGE_PEER_URL/go?token=$token"; }

  echo "=== the printer: $BRIDGE_PRINTER_URI"
  wine "$bin/bridge/ipp_status_bridge.exe" --interval 500 --log "$out/bridge.log" \
    "$BRIDGE_PRINTER_URI" -- "$bin/app/qmxMeadowMonitor.exe" </dev/null >/dev/null 2>&1 &
  bridge=$!
  step "a job is sent to the printer (ipptool); the bridge starts the monitor for it"
  job=$(curl -s --data-binary "$(printf '%s\n' wait 'state +media-jam-error' wait \
    'state -media-jam-error' wait 'state +cover-open-error' wait 'state -cover-open-error' \
    wait 'supplies supply0=10&supply1=8' wait)" "$BRIDGE_PEER_URL/submit")
  token=${job#* }
  echo "    job ${job% *}"
  step "the paper jams"
  go
  if probe wait 501; then show paper-jam; else fail "no jam alert"; fi
  step "the jam is cleared: the alert goes"
  go
  probe wait none || fail "the jam alert stayed"
  show jam-cleared
  step "the printer's cover is opened"
  go
  if probe wait 501; then show cover-open; else fail "no cover alert"; fi
  step "the cover is closed: the alert goes"
  go
  probe wait none || fail "the cover alert stayed"
  step "black ink runs low"
  go
  if probe wait 501; then show low-ink; else fail "no low-ink alert"; fi
  step "the job ends: the alert goes and the monitor exits (so does Wine's desktop: no picture)"
  go
  wait "$bridge"
  rc=$?
  echo "=== the bridge's log (build/demo-printer/bridge.log)"
  tr -d '\r' <"$out/bridge.log"
  [ $failed = 0 ] || exit 1
  exit "$rc"
fi

# shellcheck source=tools/setup.sh
. tools/setup.sh
ensure_packages || exit 1
ensure_locales || exit 1
export LANG=${LANG:-en_US.UTF-8} LC_ALL=${LANG:-en_US.UTF-8}

echo "=== building the monitor and the bridge"
mkdir -p build
if ! { cmake --preset windows >build/windows-configure.log 2>&1 &&
       cmake --build --preset windows -j "$(nproc)" \
         --target qmxMeadowMonitor ipp_status_bridge monitor_probe \
         >build/demo-printer-build.log 2>&1; }; then
  cat build/windows-configure.log build/demo-printer-build.log 2>/dev/null | tail -n 40
  echo "demo-printer: the build failed"
  exit 1
fi

mkdir -p "$out"
rm -f "$out"/*.png
export WINEPREFIX="$out/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
tools/wine-prefix.sh || exit 1

prepare_demo_wine || exit 1

python3 bridge/tests/printer_peer.py -- "$0" --play
rc=$?
wineserver -k 2>/dev/null
stop_xvfb

if [ "$DEMO_LIVE" = 0 ]; then
  echo "=== pictures of each step: build/demo-printer/"
  ls "$out"/*.png | sed "s|^$root/|  |"
fi
if [ "$rc" -ne 0 ]; then
  echo "demo-printer: FAILED (exit code $rc)"
  exit 1
fi
echo "demo-printer: the bridge and the monitor ended with exit code 0"
