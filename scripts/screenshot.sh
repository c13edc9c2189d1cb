#!/usr/bin/env bash
# screenshot.sh: photographs the please-wait dialog of the real setup.exe.
#
#   scripts/screenshot.sh [--win32|--win64] [OUTPUT.png]
#
# Runs setup.exe of build/<arch> (default win32, the product) inside a Wine
# virtual desktop under Xvfb, on a media folder holding the large installer
# of the launcher tests (build/<arch>/tests/win/launcher/data/bigstandin.EX_),
# so that the dialog stays up for a few seconds. While it is up, the script
#   1. takes a picture of the desktop (ImageMagick `import`) and crops it to
#      the dialog, writing OUTPUT.png (default docs/please-wait.png);
#   2. clicks the dialog's close box and presses Esc with xdotool (real X
#      input through XTest) and checks that the dialog is still there, in
#      the same place (the 64-bit build may finish expanding first).
# The dialog is found in the picture, not by its handle: in a virtual desktop
# Wine's windows are drawn into one X window. The desktop's background is one
# colour, so the dialog is the box of pixels that differ from it above the
# task bar. Needs: cmake --build build/<arch> (setup and launcher_test_data).
# Exit code 0 when the picture was written and the dialog survived the click
# and the key.
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
project_dir=$(cd "$script_dir/.." && pwd)
arch=win32
output=$project_dir/docs/please-wait.png
for argument in "$@"; do
  case "$argument" in
    --win32|--win64) arch=${argument#--} ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) output=$argument ;;
  esac
done

build=$project_dir/build/$arch
data=$build/tests/win/launcher/data
setup_exe=$build/launcher/setup.exe
for file in "$setup_exe" "$data/bigsample.SC_" "$data/bigstandin.EX_"; do
  [ -f "$file" ] || { echo "screenshot.sh: $file is missing; build $arch first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/please-wait.XXXXXX")
run_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null
  [ -n "$run_pid" ] && wait "$run_pid" 2>/dev/null
  "$script_dir/wine-run.sh" --"$arch" --stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

eval "$("$script_dir/wine-run.sh" --"$arch" --env)" || { echo "screenshot.sh: Wine set-up failed" >&2; exit 2; }
media=$work/media
mkdir -p "$media"
cp "$setup_exe" "$media/setup.exe"
cp "$data/bigsample.SC_" "$media/INSTALL.SC_"
cp "$data/bigstandin.EX_" "$media/INSTALL.EX_"

desktop_size=640x480
"$script_dir/wine-run.sh" --"$arch" --desktop "PleaseWait,$desktop_size" --timeout 180 \
  "$media/setup.exe" </dev/null >"$work/run.log" 2>&1 &
run_pid=$!

# The desktop's X window, then its background colour before the dialog shows.
desktop_window=""
for _ in $(seq 1 300); do
  desktop_window=$(xdotool search --name 'PleaseWait' 2>/dev/null | head -1)
  [ -n "$desktop_window" ] && break
  sleep 0.1
done
[ -n "$desktop_window" ] || { echo "screenshot.sh: no virtual desktop appeared" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$desktop_window")"  # X, Y, WIDTH, HEIGHT
desktop_x=$X desktop_y=$Y

# The box (WxH+X+Y, desktop coordinates) of what differs from the background
# in the upper 90 % of the desktop (the task bar, if any, is below).
dialog_box() {
  local shot=$1 area
  area=$(convert "$shot" -crop "${WIDTH}x$((HEIGHT * 9 / 10))+0+0" +repage \
    -bordercolor "$(convert "$shot" -format '%[pixel:p{2,2}]' info:)" -border 1 \
    -trim -format '%wx%h%O' info: 2>/dev/null)
  # -trim reports the offset with the added border; take it back off.
  local w h x y
  IFS='x+' read -r w h x y <<<"${area/+-/+}"
  [ -n "$w" ] && [ "$w" -gt 100 ] && [ "$h" -gt 60 ] && [ "$w" -lt "$WIDTH" ] || return 1
  echo "$w $h $((x - 1)) $((y - 1))"
}

shot=$work/shot.png
box=""
for _ in $(seq 1 600); do
  import -window "$desktop_window" "$shot" 2>/dev/null && box=$(dialog_box "$shot") && break
  box=""
  sleep 0.1
done
[ -n "$box" ] || { echo "screenshot.sh: the dialog did not appear" >&2; cat "$work/run.log" >&2; exit 1; }
read -r w h x y <<<"$box"
echo "dialog at $x,$y, $w x $h pixels"
mkdir -p "$(dirname "$output")"
convert "$shot" -crop "${w}x${h}+${x}+${y}" +repage "$output" || exit 1
echo "wrote $output ($(identify -format '%wx%h' "$output"))"

# The close box sits at the right end of the caption bar; Esc goes to the
# active window, the dialog.
caption=$(( 18 ))
xdotool mousemove $((desktop_x + x + w - 12)) $((desktop_y + y + caption / 2 + 3)) click 1
sleep 0.3
xdotool key Escape
sleep 0.5
import -window "$desktop_window" "$shot" 2>/dev/null
after=$(dialog_box "$shot") || after=""
if [ "$after" != "$box" ]; then
  echo "screenshot.sh: the dialog did not survive the close box and Esc (now: '${after:-gone}')" >&2
  exit 1
fi
echo "the dialog stayed after a click on its close box and Esc"
wait "$run_pid" 2>/dev/null
run_pid=""
exit 0
