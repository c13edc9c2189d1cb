#!/usr/bin/env bash
# code_page_932.sh ARCH WORK_DIR UNIT_TEST.exe E2E_TEST.exe
# Runs the CodePage932 tests of both programs under code page 932: Wine takes
# its code page from the Unix locale, so a ja_JP.UTF-8 locale is compiled
# into WORK_DIR (localedef, package locales) and the programs run with it in a
# Wine prefix, display and wineserver of their own (WINE_RUN_DIR), made
# afresh and ended afterwards.
set -uo pipefail
arch=$1 work=$2 unit=$3 e2e=$4
wine_run=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)/scripts/wine-run.sh
mkdir -p "$work/locale" || exit 1
if [ ! -f "$work/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
  localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" >"$work/localedef.log" 2>&1
  [ -f "$work/locale/ja_JP.UTF-8/LC_CTYPE" ] || { cat "$work/localedef.log"; exit 1; }
fi
export LOCPATH=$work/locale LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINE_RUN_DIR=$work/wine
"$wine_run" "--$arch" --start --fresh || exit 1
rc=0
"$wine_run" "--$arch" "$unit" --gtest_filter='CodePage932.*' || rc=1
"$wine_run" "--$arch" "$e2e" --gtest_filter='CodePage932.*' || rc=1
"$wine_run" "--$arch" --stop
exit $rc
