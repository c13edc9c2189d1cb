#!/usr/bin/env bash
# code_page_1251.sh ARCH WORK_DIR BRANDING_TEST.exe
# Runs the branding tests under code page 1251 (Cyrillic), whose letters the
# Russian translation uses: Wine takes its code page from the Unix locale,
# so a ru_RU.UTF-8 locale is compiled into WORK_DIR (localedef, package
# locales) and the program runs with it in a Wine prefix, display and
# wineserver of their own (WINE_RUN_DIR), made afresh and ended afterwards.
set -uo pipefail
arch=$1 work=$2 program=$3
wine_run=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/scripts/wine-run.sh
mkdir -p "$work/locale" || exit 1
if [ ! -f "$work/locale/ru_RU.UTF-8/LC_CTYPE" ]; then
  localedef -i ru_RU -f UTF-8 "$work/locale/ru_RU.UTF-8" >"$work/localedef.log" 2>&1
  [ -f "$work/locale/ru_RU.UTF-8/LC_CTYPE" ] || { cat "$work/localedef.log"; exit 1; }
fi
export LOCPATH=$work/locale LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 WINE_RUN_DIR=$work/wine
"$wine_run" "--$arch" --start --fresh || exit 1
rc=0
"$wine_run" "--$arch" "$program" --gtest_filter='BrandedSetup.*' || rc=1
"$wine_run" "--$arch" --stop
exit $rc
