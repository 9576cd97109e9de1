# Shared by the test and run commands: installs the Debian packages and the
# locales the build and the Wine runs need, and starts an Xvfb of our own.
# Sourced, not run.

MONITOR_PACKAGES=(cmake make g++ googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb locales fonts-wqy-microhei python3 imagemagick
  cups-ipp-utils dbus curl)
MONITOR_LOCALES=(en_US de_DE fr_FR es_ES it_IT zh_CN)

ensure_packages() {
  local missing=() p
  for p in "${MONITOR_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local line="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. As root, run:"
    echo "  apt-get update && $line"
    return 1
  fi
  echo "=== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

ensure_locales() {
  local have missing=() l
  have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')
  for l in "${MONITOR_LOCALES[@]}"; do
    echo "$have" | grep -qx "$(echo "$l" | tr 'A-Z' 'a-z').utf8" || missing+=("$l")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing locales ${missing[*]}: as root, add them to /etc/locale.gen and run locale-gen."
    return 1
  fi
  for l in "${missing[@]}"; do
    grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" >>/etc/locale.gen
  done
  locale-gen >/dev/null
}

MONITOR_XVFB_PID=""
start_xvfb() {
  local n
  for n in $(seq 60 99); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      MONITOR_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      return 0
    fi
  done
  echo "no free X display number" >&2
  return 1
}

stop_xvfb() {
  if [ -n "$MONITOR_XVFB_PID" ]; then
    kill "$MONITOR_XVFB_PID" 2>/dev/null
    wait "$MONITOR_XVFB_PID" 2>/dev/null
    MONITOR_XVFB_PID=""
  fi
}

# A Wine session for the Windows programs of a build tree: the tree's own
# prefix, an Xvfb of our own when there is no display, and a persistent
# wineserver with one warm-up program, without which every program started
# afterwards takes seconds instead of milliseconds. End it with
# end_wine_session.
MONITOR_OWN_DISPLAY=0
begin_wine_session() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" || return 1
  MONITOR_OWN_DISPLAY=0
  if [ -z "${DISPLAY:-}" ]; then
    start_xvfb || return 1
    MONITOR_OWN_DISPLAY=1
  fi
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

end_wine_session() {
  wineserver -k 2>/dev/null
  [ "$MONITOR_OWN_DISPLAY" = 1 ] && stop_xvfb
  MONITOR_OWN_DISPLAY=0
}

# Readies the prefix in WINEPREFIX for a demo, after tools/wine-prefix.sh:
# without a DISPLAY an Xvfb of our own with a Wine virtual desktop (plain Xvfb
# has no window manager to draw the dialogs' frames and captions); no snooze
# left from an earlier run to hide the low-ink alert; a fresh persistent
# wineserver, since the desktop settings count from the next server on.
# Exports DEMO_LIVE: 1 when the windows appear on the user's own display.
prepare_demo_wine() {
  export DEMO_LIVE=1
  if [ -z "${DISPLAY:-}" ]; then
    DEMO_LIVE=0
    start_xvfb || return 1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
  fi
  wine reg delete 'HKCU\Software\KRT\SM' /f >/dev/null 2>&1
  wineserver -k 2>/dev/null
  wineserver -w
  wineserver -p
}
