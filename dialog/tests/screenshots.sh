#!/usr/bin/env bash
# Every status dialog template in every language, on screen: runs
# dialog_gallery once per locale, saves a PNG of each dialog from the X
# display, and checks that the texts fit.
#
#   screenshots.sh GALLERY_EXE OUT_DIR
#
# Pictures: OUT_DIR/<template>_<language>.png. A translated text that does
# not fit its control where the English one fits fails the run, and so does
# one whose lines before the inline picture's placeholder wrap where the
# English ones do not (reported as control 2148: the picture would sit a line
# too high); English texts that do not fit are listed. Needs ImageMagick's import and, without a
# DISPLAY, starts an Xvfb of its own.
set -u
gallery=$1
out=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools="$here/../../tools"
# shellcheck source=tools/setup.sh
. "$tools/setup.sh"

if ! command -v import >/dev/null; then
  echo "ImageMagick's import is missing (tools/setup.sh installs imagemagick)" >&2
  exit 1
fi
own_display=0
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 1
  own_display=1
fi
trap '[ $own_display = 1 ] && stop_xvfb' EXIT

mkdir -p "$out"
status=0
for locale in en_US de_DE fr_FR es_ES zh_CN; do
  language=${locale%%_*}
  work="$out/$language"
  rm -rf "$work"
  mkdir -p "$work"
  windows_work="Z:$(echo "$work" | tr / '\\')"
  LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 "$tools/wine-run.sh" "$gallery" "$windows_work" \
    >"$work/gallery.log" 2>&1 &
  gallery_pid=$!
  for template in 115 501 504 505; do
    deadline=$((SECONDS + 60))
    while [ ! -f "$work/$template.rect" ] && kill -0 $gallery_pid 2>/dev/null &&
          [ $SECONDS -lt $deadline ]; do
      sleep 0.1
    done
    if [ ! -f "$work/$template.rect" ]; then
      echo "$locale: template $template was not shown" >&2
      status=1
      break
    fi
    read -r x y w h <"$work/$template.rect"
    sleep 0.5  # the X server shows what Wine drew a moment later
    picture="$out/${template}_${language}.png"
    if ! import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$picture"; then
      echo "$locale: no screenshot of template $template" >&2
      status=1
    fi
    touch "$work/$template.taken"
  done
  if ! wait $gallery_pid; then
    echo "$locale: dialog_gallery failed:" >&2
    cat "$work/gallery.log" >&2
    status=1
  fi
done

# Fit: template, control, text id -> fits, per language.
awk -F'\t' '
  FNR == 1 { language = FILENAME; sub(/\/fit\.tsv$/, "", language); sub(/.*\//, "", language) }
  {
    key = $1 " " $2 " " $3
    fits[language, key] = $4
    need[language, key] = $5 "x" $6 " in " $7 "x" $8
    text[language, key] = $9
    keys[key] = 1
  }
  END {
    split("de fr es zh", others, " ")
    failed = 0
    for (key in keys) {
      if ((("en", key) in fits) && fits["en", key] == 0) {
        printf "English does not fit (template control text): %s: %s: %s\n", key, need["en", key], text["en", key]
      }
      for (i = 1; i <= 4; ++i) {
        language = others[i]
        if (!((language, key) in fits)) { printf "%s: missing %s\n", language, key; failed = 1; continue }
        if (fits[language, key] == 0 && (!(("en", key) in fits) || fits["en", key] == 1)) {
          printf "%s does not fit where English does: %s: %s: %s\n", language, key, need[language, key], text[language, key]
          failed = 1
        }
      }
    }
    exit failed
  }' "$out"/en/fit.tsv "$out"/de/fit.tsv "$out"/fr/fit.tsv "$out"/es/fit.tsv "$out"/zh/fit.tsv ||
  status=1

ls "$out"/*.png
exit $status
