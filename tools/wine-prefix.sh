#!/usr/bin/env bash
# Creates the Wine prefix named by WINEPREFIX if it does not exist yet:
# wineboot, Wine's own fonts copied in (Debian's Wine does not load them from
# where they are installed), and the replacement of SimSun by WenQuanYi Micro
# Hei so that simplified Chinese texts draw. Safe to call from several
# processes at once: the first one creates the prefix, the others wait.
set -u
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
export WINEARCH=win64

ready="$WINEPREFIX/.monitor-prefix-ready"
[ -f "$ready" ] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$ready" ] && exit 0

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
