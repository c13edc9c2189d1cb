#!/usr/bin/env python3
"""Fails, naming them, when tests of a build tree have no time limit of their own.

usage: check_test_timeouts.py CTEST BUILD_DIR

A test without a TIMEOUT property runs as long as the ctest command line
allows, which is for ever unless --timeout is given: one that hangs holds
the whole run.
"""
import json
import subprocess
import sys


def main():
    ctest, build = sys.argv[1:3]
    listing = subprocess.run([ctest, "--show-only=json-v1", "--test-dir", build],
                             check=True, capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    unlimited = []
    for test in tests:
        limits = [p["value"] for p in test.get("properties", []) if p["name"] == "TIMEOUT"]
        if not limits or float(limits[0]) <= 0:
            unlimited.append(test["name"])
    for name in unlimited:
        print("no time limit:", name)
    print("%d tests, %d without a time limit" % (len(tests), len(unlimited)))
    return 1 if unlimited or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
