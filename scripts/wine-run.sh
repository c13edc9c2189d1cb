#!/usr/bin/env bash
# wine-run.sh: runs a Windows program for the project's tests under Wine.
#
#   scripts/wine-run.sh --win32|--win64 [OPTIONS] PROGRAM.exe [ARGS...]
#   scripts/wine-run.sh --win32|--win64 --start [--fresh]
#   scripts/wine-run.sh --win32|--win64 --env
#   scripts/wine-run.sh [--win32|--win64] --stop
#
# What it sets up (once, then reused by every later call of the same test run):
#   - one Xvfb display shared by both architectures (build/wine/display);
#   - a private Wine prefix per architecture, build/wine/<arch>-prefix
#     (win32 and win64 get separate prefixes and wineservers, so their named
#     events and C:\windows\ZIMRO~SE.TUP never meet);
#   - a persistent wineserver per prefix, booted with stdio on /dev/null;
#   - Wine's own fonts (package fonts-wine: Marlett, which the caption buttons
#     are drawn with, Tahoma, MS Sans Serif...) copied into the prefix's
#     C:\windows\Fonts, where Windows keeps them: Debian's Wine 8.0 looks for
#     them at "<data dir>\../fonts", a path its file lookup cannot resolve,
#     and so finds none of them by itself;
#   - a private Wine layout, build/wine/layout, as ../shared/notes/wine32-under-qemu.md
#     describes: lib/wine/ holds a real copy of wine64 (+ its preloader), the
#     32-bit preloader, a `wine` wrapper that starts the 32-bit loader under
#     qemu-i386-static with WINELOADERNOEXEC=1, and a `wineserver` wrapper for
#     the native wineserver64; lib/x86_64-linux-gnu, lib/i386-linux-gnu and
#     share link to the system's folders. --win64 runs the program under the
#     wine64 copy, --win32 under the wine wrapper (32-bit loader under QEMU).
# The prefix is created when it is missing; --start --fresh (used by CTest as a
# fixture set-up) deletes and recreates it, so each test run gets its own.
# State lives in $WINE_RUN_DIR (default: <project>/build/wine).
#
# Options of a run:
#   --desktop NAME[,WxH]  run the program inside a Wine virtual desktop
#                         (`explorer /desktop=NAME,WxH PROGRAM ARGS`), default
#                         size 1024x768, for xdotool-driven tests (XTest keys
#                         reach GetAsyncKeyState there). The exit code is then
#                         explorer's, not the program's: have the program
#                         report through a file. The desktop is hosted by
#                         the 64-bit explorer also for --win32 (the 32-bit
#                         explorer crashes under QEMU); a 32-bit program that
#                         enters a desktop by itself must likewise start
#                         C:\windows\sysnative\explorer.exe, not explorer.exe.
#   --timeout SECS        kill the program (and every process of the prefix)
#                         after SECS seconds and exit 124; default
#                         $WINE_RUN_TIMEOUT or 300.
#   --cwd DIR             run from this Unix directory (default: the current one).
#   --stdin               the program reads this script's standard input (a pipe
#                         or a file), not /dev/null; for programs that start
#                         no Wine helper, which would keep it open.
#   --drive L:=DIR        map drive letter L: of the prefix to the Unix
#                         directory DIR (a link in dosdevices/) before the run;
#                         repeatable; the mapping stays for the prefix's life.
# Other commands:
#   --start [--fresh]     only set up (display, prefix, wineserver) and exit 0.
#   --env                 set up, then print shell `export` lines for DISPLAY,
#                         WINEPREFIX, WINESERVER, WINE_LOADER (the wine binary
#                         for this arch) and WINE_RUN_DIR, so that a test
#                         script can `eval "$(scripts/wine-run.sh --win32 --env)"`
#                         and use xdotool on the same display.
#   --stop                end the wineserver(s) (and so every Wine process)
#                         and the Xvfb display. With an arch, only that
#                         prefix's wineserver is ended, and Xvfb too when the
#                         other arch's wineserver is not running.
#
# Exit code: the program's own exit code (modulo 256), 124 on a timeout,
# 125 when the set-up fails.
#
# Safe for CTest: every helper process Wine leaves running (wineserver,
# services, explorer) gets /dev/null for stdio; the program's own stdout and
# stderr go through files that are copied out after it ends, so no lingering
# Wine process holds CTest's pipes. Calls one after the other are safe; the
# set-up is serialised with flock, so parallel calls are safe too (but tests
# that share the completion event or ZIMRO~SE.TUP must still not run at once:
# give them a RESOURCE_LOCK in CTest).
set -uo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
project_dir=$(cd "$script_dir/.." && pwd)
run_dir=${WINE_RUN_DIR:-$project_dir/build/wine}
layout=$run_dir/layout
wine_fonts=/usr/share/wine/fonts
# Written into <prefix>/.complete; a prefix made by an older version of this
# script (another stamp) is made again.
prefix_stamp="2 wine-fonts"

arch=""
mode=run
fresh=0
desktop=""
timeout_s=${WINE_RUN_TIMEOUT:-300}
cwd=""
stdin_from=/dev/null
drives=()

die() { echo "wine-run.sh: $*" >&2; exit 125; }

while [ $# -gt 0 ]; do
  case "$1" in
    --win32) arch=win32; shift ;;
    --win64) arch=win64; shift ;;
    --start) mode=start; shift ;;
    --env) mode=env; shift ;;
    --stop) mode=stop; shift ;;
    --fresh) fresh=1; shift ;;
    --desktop) desktop=$2; shift 2 ;;
    --desktop=*) desktop=${1#--desktop=}; shift ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --cwd) cwd=$2; shift 2 ;;
    --stdin) stdin_from=/dev/stdin; shift ;;
    --drive) drives+=("$2"); shift 2 ;;
    --) shift; break ;;
    -*) die "unknown option $1" ;;
    *) break ;;
  esac
done

mkdir -p "$run_dir" || die "cannot create $run_dir"

# ---------------------------------------------------------------- helpers

quiet() { "$@" </dev/null >/dev/null 2>&1; }

prefix_of() { echo "$run_dir/$1-prefix"; }

stop_server() {
  local prefix
  prefix=$(prefix_of "$1")
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix quiet timeout 30 /usr/lib/wine/wineserver64 -k || true
  # Give the server a moment to go, so that a following start finds no socket.
  local i
  for i in $(seq 1 50); do
    WINEPREFIX=$prefix quiet /usr/lib/wine/wineserver64 -k0 2>/dev/null || break
    sleep 0.1
  done
}

stop_display() {
  if [ -f "$run_dir/xvfb.pid" ]; then
    local pid
    pid=$(cat "$run_dir/xvfb.pid")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && grep -q Xvfb "/proc/$pid/cmdline" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
    fi
    rm -f "$run_dir/xvfb.pid" "$run_dir/display"
  fi
}

display_alive() {
  [ -f "$run_dir/display" ] && [ -f "$run_dir/xvfb.pid" ] || return 1
  local pid
  pid=$(cat "$run_dir/xvfb.pid")
  kill -0 "$pid" 2>/dev/null || return 1
  DISPLAY=$(cat "$run_dir/display") quiet timeout 10 xdpyinfo
}

start_display() {
  display_alive && return 0
  stop_display
  command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/install-deps.sh)"
  local fifo=$run_dir/displayfd
  rm -f "$fifo"
  # -displayfd picks a free display number and writes it to the fd once ready.
  exec {fd}>"$run_dir/display.tmp"
  setsid Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp -ac \
    </dev/null >/dev/null 2>"$run_dir/xvfb.log" &
  local pid=$!
  exec {fd}>&-
  local i
  for i in $(seq 1 100); do
    if [ -s "$run_dir/display.tmp" ]; then break; fi
    kill -0 "$pid" 2>/dev/null || die "Xvfb failed: $(tail -3 "$run_dir/xvfb.log")"
    sleep 0.1
  done
  [ -s "$run_dir/display.tmp" ] || die "Xvfb did not start"
  echo "$pid" >"$run_dir/xvfb.pid"
  echo ":$(tr -d '[:space:]' <"$run_dir/display.tmp")" >"$run_dir/display"
  rm -f "$run_dir/display.tmp"
}

# The private layout of the note: Wine 8.0 finds its 32-bit loader next to
# realpath(/proc/self/exe), so wine64 must be a real copy inside the layout.
make_layout() {
  local w=$layout/lib/wine
  # A layout made before the 32-bit parts were installed is made again.
  if [ -f "$layout/.complete" ] && { [ "${1:-}" != win32 ] || [ -x "$w/wine" ]; }; then
    return 0
  fi
  [ -x /usr/lib/wine/wine64 ] || die "wine64 is missing (scripts/install-deps.sh)"
  rm -rf "$layout"
  mkdir -p "$w" || die "cannot create $w"
  cp /usr/lib/wine/wine64 "$w/wine64"
  if [ -e /usr/lib/wine/wine64-preloader.static ]; then
    cp /usr/lib/wine/wine64-preloader.static "$w/wine64-preloader"
  fi
  if [ "${1:-}" = win32 ] || [ -e /usr/lib/wine/wine-preloader.static ]; then
    [ -e /usr/lib/wine/wine-preloader.static ] ||
      die "the 32-bit preloader is missing (package wine32-preloader:i386)"
    [ -x /usr/bin/qemu-i386-static ] || die "qemu-i386-static is missing (package qemu-user-static)"
    [ -e /usr/lib/wine/wine ] || die "the 32-bit wine loader is missing (package wine32:i386)"
    # Not named wine-preloader: wine64 would exec a preloader of that name
    # natively with the wrapper script as its loader; without it, wine64
    # falls back to running the `wine` wrapper itself.
    cp /usr/lib/wine/wine-preloader.static "$w/wine32-preloader-qemu"
    cat >"$w/wine" <<'EOF'
#!/bin/sh
# 32-bit Wine loader under QEMU user-mode emulation (see wine32-under-qemu.md).
WINELOADERNOEXEC=1
export WINELOADERNOEXEC
here=$(dirname "$0")
exec /usr/bin/qemu-i386-static "$here/wine32-preloader-qemu" /usr/lib/wine/wine "$@"
EOF
    chmod +x "$w/wine"
  fi
  cat >"$w/wineserver" <<'EOF'
#!/bin/sh
exec /usr/lib/wine/wineserver64 "$@"
EOF
  chmod +x "$w/wineserver"
  ln -s /usr/lib/x86_64-linux-gnu "$layout/lib/x86_64-linux-gnu"
  ln -s /usr/lib/i386-linux-gnu "$layout/lib/i386-linux-gnu"
  ln -s /usr/share "$layout/share"
  touch "$layout/.complete"
}

wine_env() {
  export WINEPREFIX
  WINEPREFIX=$(prefix_of "$arch")
  export WINESERVER=$layout/lib/wine/wineserver
  export WINEDEBUG=${WINE_RUN_DEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  export WINEARCH=win64
  export DISPLAY
  DISPLAY=$(cat "$run_dir/display")
  unset WINELOADER
}

server_alive() {
  WINEPREFIX=$(prefix_of "$arch") quiet /usr/lib/wine/wineserver64 -k0
}

start_server() {
  # `wineserver -k0` only probes: it succeeds when a server of that prefix runs.
  local prefix
  prefix=$(prefix_of "$arch")
  if ! WINEPREFIX=$prefix quiet /usr/lib/wine/wineserver64 -k0; then
    WINEPREFIX=$prefix setsid /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
    local i
    for i in $(seq 1 100); do
      WINEPREFIX=$prefix quiet /usr/lib/wine/wineserver64 -k0 && break
      sleep 0.1
    done
  fi
}

make_prefix() {
  local prefix
  prefix=$(prefix_of "$arch")
  if [ "$fresh" = 1 ]; then
    stop_server "$arch"
    rm -rf "$prefix"
  fi
  if [ -f "$prefix/.complete" ] && [ "$(cat "$prefix/.complete")" = "$prefix_stamp" ]; then
    start_server
    return 0
  fi
  [ -f "$wine_fonts/marlett.ttf" ] || die "Wine's fonts are missing from $wine_fonts (package fonts-wine)"
  stop_server "$arch"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wine_env
  start_server
  # Created with the private layout in place, so that syswow64 is filled and
  # 32-bit programs find kernel32.dll.
  setsid timeout 300 "$layout/lib/wine/wine64" wineboot -i </dev/null >"$run_dir/$arch-wineboot.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || die "wineboot failed ($rc), see $run_dir/$arch-wineboot.log"
  # No crash dialog (it would wait for a click that never comes).
  setsid "$layout/lib/wine/wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
  # Wine's fonts where Windows has its own (see the top): the TrueType faces
  # load from there, and the registry's bitmap fonts (sserife.fon for MS Sans
  # Serif, vgasys.fon...) are looked for there by name.
  cp "$wine_fonts"/* "$prefix/drive_c/windows/Fonts/" || die "cannot copy $wine_fonts into the prefix"
  echo "$prefix_stamp" >"$prefix/.complete"
}

setup() {
  exec {lockfd}>"$run_dir/lock"
  flock -w 600 "$lockfd" || die "cannot lock $run_dir/lock"
  start_display
  make_layout "$arch"
  make_prefix
  wine_env
  flock -u "$lockfd"
  exec {lockfd}>&-
}

# ---------------------------------------------------------------- commands

if [ "$mode" = stop ]; then
  exec {lockfd}>"$run_dir/lock"
  flock -w 600 "$lockfd"
  if [ -n "$arch" ]; then
    stop_server "$arch"
    other=win32
    [ "$arch" = win32 ] && other=win64
    # The display goes with the last wineserver.
    if ! WINEPREFIX=$(prefix_of $other) quiet /usr/lib/wine/wineserver64 -k0; then
      stop_display
    fi
  else
    stop_server win32
    stop_server win64
    stop_display
  fi
  exit 0
fi

[ -n "$arch" ] || die "say --win32 or --win64"

setup

if [ "$arch" = win32 ]; then
  loader=$layout/lib/wine/wine
else
  loader=$layout/lib/wine/wine64
fi

case "$mode" in
  start) exit 0 ;;
  env)
    printf 'export DISPLAY=%q\n' "$DISPLAY"
    printf 'export WINEPREFIX=%q\n' "$WINEPREFIX"
    printf 'export WINESERVER=%q\n' "$WINESERVER"
    printf 'export WINEDEBUG=%q\n' "$WINEDEBUG"
    printf 'export WINEDLLOVERRIDES=%q\n' "$WINEDLLOVERRIDES"
    printf 'export WINE_LOADER=%q\n' "$loader"
    printf 'export WINE_RUN_DIR=%q\n' "$run_dir"
    exit 0
    ;;
esac

for mapping in "${drives[@]+"${drives[@]}"}"; do
  letter=${mapping%%=*}
  target=${mapping#*=}
  case "$letter" in [A-Ya-y]:) ;; *) die "bad drive mapping $mapping" ;; esac
  [ -d "$target" ] || die "no directory $target for $letter"
  target=$(cd "$target" && pwd)
  ln -sfn "$target" "$WINEPREFIX/dosdevices/$(echo "$letter" | tr 'A-Z' 'a-z')"
done

[ $# -ge 1 ] || die "no program given"
[ -z "$cwd" ] || cd "$cwd" || die "cannot enter $cwd"

out=$(mktemp "$run_dir/out.XXXXXX")
err=$(mktemp "$run_dir/err.XXXXXX")
if [ -n "$desktop" ]; then
  case "$desktop" in *,*) ;; *) desktop="$desktop,1024x768" ;; esac
  set -- explorer "/desktop=$desktop" "$@"
  # The 64-bit explorer hosts the desktop; it starts a 32-bit program through
  # the `wine` wrapper like any other 32-bit child (the 32-bit explorer
  # crashes under QEMU).
  loader=$layout/lib/wine/wine64
fi
# The program's stdio goes to files: any Wine helper it starts keeps those,
# not our caller's pipes. timeout ends a program that hangs.
timeout --kill-after=10 "$timeout_s" "$loader" "$@" <"$stdin_from" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "wine-run.sh: $1 timed out after ${timeout_s}s; ending every process of the prefix" >&2
  stop_server "$arch"
  exit 124
fi
exit $rc
