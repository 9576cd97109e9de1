#!/usr/bin/env bash
# Creates the Wine prefix named by WINEPREFIX if it does not exist yet:
# wineboot, Wine's own fonts copied in (Debian's Wine does not load them from
# where they are installed), the replacement of SimSun by WenQuanYi Micro
# Hei so that simplified Chinese texts draw, and windows that Wine manages
# itself (no window manager runs on Xvfb). Safe to call from several
# processes at once: the first one creates the prefix, the others wait.
set -u
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
export WINEARCH=win64

ready="$WINEPREFIX/.monitor-prefix-ready"
# Set once in prefixes made before the setting was added, too.
unmanaged="$WINEPREFIX/.monitor-prefix-unmanaged"
[ -f "$ready" ] && [ -f "$unmanaged" ] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9

# Xvfb runs no window manager, so Wine draws every window itself rather than
# leaving its frame to a manager that never comes: captions are drawn, and
# hiding a window does not wait two seconds for the manager to confirm it.
set_unmanaged() {
  [ -f "$unmanaged" ] && return 0
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1 </dev/null || return 1
  # Let the server started for this write end before anything else runs on
  # the prefix (wine-ctest.sh calls this script before it starts its own).
  wineserver -w
  touch "$unmanaged"
}

if [ -f "$ready" ]; then
  set_unmanaged || exit 1
  exit 0
fi

echo "wine-prefix: creating $WINEPREFIX" >&2
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ \
  /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'NSimSun' /t REG_SZ \
  /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
wineserver -w
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-prefix: wineboot failed to create $WINEPREFIX" >&2
  exit 1
fi
touch "$ready"
set_unmanaged
