#!/usr/bin/env python3
"""Every option that --help describes has an entry in the manual's OPTIONS,
and every entry there is described by --help, short and long names alike.

    check_options.py SETUPPACK MANUAL_PAGE

Differences known and not yet mended are listed in KNOWN with the reason;
the test fails on any other difference, and on a known one that is gone
(so that its entry is removed with the mend).
"""
import re
import subprocess
import sys

KNOWN = {
    # --help names it only in the synopsis of scan.
    ("manual only", "--extract"),
}
OPTION = r"--?[a-zA-Z][-a-zA-Z]*"


def help_options(setuppack):
    """Options of --help's option list: its lines that begin with an option."""
    text = subprocess.run([setuppack, "--help"], stdout=subprocess.PIPE, text=True, check=True).stdout
    names = set()
    for line in text.splitlines():
        head = re.match(r"^ {2,6}(-.*?)(?: {2,}|$)", line)  # the option part, before the description
        if head:
            names.update(re.findall(r"(?:^|[ ,])(%s)" % OPTION, head.group(1)))
    return names


def manual_options(manual):
    """Options that head an entry (.TP) of the manual's OPTIONS section."""
    text = open(manual, encoding="utf-8").read()
    section = text[text.index(".SH OPTIONS"):]
    section = section[:section.index("\n.SH", 1)]
    names = set()
    for head in re.findall(r"^\.TP\n(.*)$", section, re.M):
        names.update(re.findall(r"(?:^|[ \"])(%s)" % OPTION, head.replace("\\-", "-")))
    return names


def main(setuppack, manual):
    in_help, in_manual = help_options(setuppack), manual_options(manual)
    differences = {("help only", o) for o in in_help - in_manual} | {("manual only", o) for o in in_manual - in_help}
    failures = ["%s is in --help's option list but has no entry in the manual's OPTIONS" % o
                for where, o in sorted(differences - KNOWN) if where == "help only"]
    failures += ["%s has an entry in the manual's OPTIONS but is not in --help's option list" % o
                 for where, o in sorted(differences - KNOWN) if where == "manual only"]
    failures += ["%s (%s) is no longer a difference: remove it from KNOWN" % (o, where)
                 for where, o in sorted(KNOWN - differences)]
    if len(in_help) < 20:
        failures.append("--help lists only %d options: %s" % (len(in_help), sorted(in_help)))
    for failure in failures:
        print("FAIL:", failure)
    print("%d options in --help, %d in the manual's OPTIONS; known differences: %s" %
          (len(in_help), len(in_manual), sorted(KNOWN & differences)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
