#!/usr/bin/env bash
# code_page.sh ARCH WORK_DIR LOCALE BRANDING_TEST.exe
# Runs the setup.exe cases of the branding tests under the code page of
# LOCALE (ru_RU: 1251, whose letters the Russian translation uses; ja_JP:
# 932, the Japanese one's): Wine takes its code page from the Unix locale,
# so LOCALE.UTF-8 is compiled into WORK_DIR (localedef, package locales) and
# the program runs with it in a Wine prefix, display and wineserver of their
# own (WINE_RUN_DIR), made afresh and ended afterwards.
set -uo pipefail
arch=$1 work=$2 locale=$3 program=$4
wine_run=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/scripts/wine-run.sh
mkdir -p "$work/locale" || exit 1
if [ ! -f "$work/locale/$locale.UTF-8/LC_CTYPE" ]; then
  localedef -i "$locale" -f UTF-8 "$work/locale/$locale.UTF-8" >"$work/localedef.log" 2>&1
  [ -f "$work/locale/$locale.UTF-8/LC_CTYPE" ] || { cat "$work/localedef.log"; exit 1; }
fi
export LOCPATH=$work/locale LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 WINE_RUN_DIR=$work/wine
"$wine_run" "--$arch" --start --fresh || exit 1
rc=0
"$wine_run" "--$arch" "$program" --gtest_filter='BrandedSetup.*' || rc=1
"$wine_run" "--$arch" --stop
exit $rc
