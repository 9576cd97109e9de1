#!/usr/bin/env bash
# The monitor's main job, for a newcomer: builds the program and the
# port-monitor simulator, then plays a print job (tools/jobs/demo.job) through
# the simulator under Wine and acts as the user: an out-of-paper alert, ready
# again, instructions with a picture of the printer, a low-ink alert and its
# details ("more..."), an error that stays after the end of the job, the user
# closing it, the monitor exiting. Every step is checked: the first one that
# fails (a wait that times out, a click on a dialog that is not there) ends
# the demo with a non-zero exit status and names the step.
#
#   tools/demo.sh                       (what `make demo` runs)
#   LANG=de_DE.UTF-8 tools/demo.sh      in German (also fr_FR, es_ES, zh_CN, en_US)
#
# With a DISPLAY the windows appear there and each step waits a few seconds
# for you to look. Without one the demo runs in an Xvfb of its own, inside a
# Wine virtual desktop (so the dialogs have their captions), and saves a PNG
# of the screen at each step into build/demo/.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=tools/setup.sh
. tools/setup.sh
MONITOR_PACKAGES+=(imagemagick)
ensure_packages || exit 1
ensure_locales || exit 1

language=${LANG:-en_US.UTF-8}
case "$language" in
  en_US*|de_DE*|fr_FR*|es_ES*|zh_CN*|it_IT*) ;;
  *) echo "demo: LANG=$language is not one of en_US, de_DE, fr_FR, es_ES, zh_CN (.UTF-8); using en_US"
     language=en_US.UTF-8 ;;
esac
export LANG=$language LC_ALL=$language

echo "=== building the monitor and the simulator"
mkdir -p build
if ! { cmake --preset windows >build/windows-configure.log 2>&1 &&
       cmake --build --preset windows -j "$(nproc)" \
         --target qmxMeadowMonitor port_monitor_sim monitor_probe >build/demo-build.log 2>&1; }; then
  cat build/windows-configure.log build/demo-build.log 2>/dev/null | tail -n 40
  echo "demo: the build failed"
  exit 1
fi

out="$root/build/demo"
mkdir -p "$out"
rm -f "$out"/*.png
bin="$root/build/windows"
export WINEPREFIX="$out/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
tools/wine-prefix.sh || exit 1

prepare_demo_wine || exit 1
live=$DEMO_LIVE

# The probe's own exit status, not that of the filter behind it.
probe() {
  wine "$bin/tools/monitor_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
shot=0
# Photographs the screen (headless) or gives the watcher time to read it.
show() {
  local name=$1
  if [ $live = 1 ]; then
    sleep 3
  else
    sleep 0.7
    shot=$((shot + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$out" "$shot" "$name")
    # The virtual desktop fills the top-left 1024x768 of the screen.
    import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage "$file" 2>/dev/null &&
      echo "    picture: ${file#"$root"/}"
  fi
}
current=""
step() { current=$*; echo "--- $*"; }
# Ends the demo at the first step that went wrong, naming it.
fail() {
  echo "demo: FAILED at the step \"$current\": $*"
  wineserver -k 2>/dev/null
  stop_xvfb
  echo "=== the simulator's log so far (build/demo/simulator.log)"
  tr -d '\r' <"$out/simulator.log" 2>/dev/null
  exit 1
}
# Runs one probe command; a failure (a wait that timed out) fails the step.
check() {
  local what=$1
  shift
  probe "$@" >/dev/null || fail "$what (monitor_probe $*)"
}

echo "=== playing tools/jobs/demo.job in $language"
began=$(date +%s)
wine "$bin/tools/port_monitor_sim.exe" --name "demo-$$" --timeout 300000 \
  --log "$out/simulator.log" tools/jobs/demo.job -- "$bin/app/qmxMeadowMonitor.exe" \
  </dev/null >/dev/null 2>&1 &
simulator=$!

step "the printer runs out of paper"
check "no out-of-paper alert" wait 501
show paper-out
check "the job did not go on" signal demo-paper-out
step "paper loaded: the printer is ready again and the alert goes"
check "the alert stayed" wait none
show ready
check "the job did not go on" signal demo-ready
step "the page must go through the manual feed tray: instructions with a picture"
check "no instructions" wait 504
show manual-feed
check "the job did not go on" signal demo-manual-feed
step "printing again: the instructions go"
check "the instructions stayed" wait none
check "the job did not go on" signal demo-printing
step "black ink runs low"
check "no low-ink alert" wait 501
show low-ink
step "the user asks for more..."
check "no \"more...\" link" click 501 1037
check "no details" wait 115
show more
step "the user closes both"
check "no details to close" close 115
check "no alert to close" close 501
check "the alerts stayed" wait none
check "the job did not go on" signal demo-low-ink
step "the waste ink container is full"
check "no error alert" wait 501
show error
check "the job did not go on" signal demo-error
step "the job ends; the error stays until the user closes it"
# The end of the job closes what closes with it at once; the error must
# still be there a moment later.
sleep 2
check "the error went with the job" wait 501
show after-the-job
check "no error to close" close 501

wait "$simulator"
rc=$?
probe signal demo-closed >/dev/null 2>&1
took=$(($(date +%s) - began))
wineserver -k 2>/dev/null
stop_xvfb

echo "=== the simulator's log (build/demo/simulator.log)"
tr -d '\r' <"$out/simulator.log"
echo
if [ $live = 0 ]; then
  echo "=== pictures of each step: build/demo/"
  ls "$out"/*.png | sed "s|^$root/|  |"
fi
if [ "$rc" -ne 0 ]; then
  echo "demo: FAILED: the monitor (or the simulator) ended with exit code $rc"
  exit 1
fi
echo "demo: the job played in $took s; the monitor ended with exit code 0"
