#!/usr/bin/env bash
# Runs failure_report_program (COMMAND...: wine-run.sh, its arch and the
# program) and checks that the report is whole: every failure, the summary
# with the list of failed tests, and exit code 1.
set -uo pipefail
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
bad=0
for line in "first of three" "second of three" "third of three" "Google Test trace:" ": traced" \
  "[  PASSED  ] 2 tests." "[  FAILED  ] 3 tests, listed below:" \
  "[  FAILED  ] FailureReport.FailsAnExpectation" "[  FAILED  ] FailureReport.FailsUnderATraceAfterAThreadEnded" \
  "[  FAILED  ] FailureReport.FailsInAnotherThread" " 3 FAILED TESTS"; do
  if ! grep -qF -- "$line" <<<"$out"; then
    echo "check_failure_report: missing: $line" >&2
    bad=1
  fi
done
if [ $rc -ne 1 ]; then
  echo "check_failure_report: exit code $rc, not 1" >&2
  bad=1
fi
[ $bad -eq 0 ] && echo "check_failure_report: the report is whole"
exit $bad
