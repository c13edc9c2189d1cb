#!/usr/bin/env python3
"""Runs the example commands of README.md, docs/ and the manual's EXAMPLES as
they are written there, each with the exit status and the output it
promises, and fails on an example that no case below runs.

    check_examples.py SOURCE_DIR SETUPPACK SETUP_EXE WORK_DIR

A case names the document, sets up the files its commands expect (the
commands run with a setuppack "installed" beside SETUP_EXE first on PATH),
and lists its commands, each with its exit status and lines its output must
hold. To add an example to a document, add its case here.
"""
import os
import re
import shutil
import subprocess
import sys

# Files every case starts with: a script, an installer (a 32-bit Windows
# program: setup.exe and some bytes after it), a program that writes the
# script, a throwaway code-signing certificate.
FIXTURES = r"""
cp "$SETUP_EXE" INSTALL.EXE && head -c 150000 "$SETUPPACK" >>INSTALL.EXE
cat "$SOURCE_DIR/README.md" "$SOURCE_DIR/docs/format.md" >INSTALL.SCR
printf '#!/bin/sh\ncat "%s/INSTALL.SCR"\n' "$PWD" >bin/generate-script && chmod +x bin/generate-script
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -subj /CN=Example \
  -days 2 -addext extendedKeyUsage=codeSigning 2>/dev/null
"""
MEDIA = "setuppack -q media --script INSTALL.SCR --installer INSTALL.EXE -o media >/dev/null\n"
# Media copied to a disc in lower case, at ./cdrom (the examples' /mnt/cdrom),
# and a damaged copy in cdrom/SETUP: one byte of the installer's last record.
CDROM = ("mkdir -p cdrom/SETUP && for f in setup.exe INSTALL.SC_ INSTALL.EX_; do\n"
         "  cp media/$f cdrom/$(echo $f | tr A-Z a-z); cp media/$f cdrom/SETUP/$(echo $f | tr A-Z a-z); done\n"
         "printf '\\377' | dd of=cdrom/SETUP/install.ex_ bs=1 conv=notrunc 2>/dev/null \\\n"
         "  seek=$(($(stat -c %s cdrom/SETUP/install.ex_) - 100))\n")
# A disc image, a folder tree holding media, a floppy image holding a pack file.
FINDS = ("mkdir -p iso old-floppies old-copies && cp media/* iso/ && cp -r media old-floppies/\n"
         "cp -r media old-copies/ && genisoimage -quiet -o disc.iso iso\n"
         "{ head -c 4096 /dev/zero; cat media/INSTALL.SC_; head -c 4096 /dev/zero; } >floppy.img\n")
# The vendor's icon and a German message for the branded download.
BRANDING = ('python3 "$SOURCE_DIR/tests/win/branding/make_branding_data.py" . && mv vendor.ico example.ico\n'
            "printf 'language=1031\\n1=Die Datei %%s fehlt.\\n' >de.txt\n")
SAME_AS_SOURCES = "cmp INSTALL.SCR ../INSTALL.SCR && cmp INSTALL.EXE ../INSTALL.EXE"
VERIFIED = "verified: both expand to their sources"
BOTH_OK = ["INSTALL.SC_: OK", "INSTALL.EX_: OK"]
SEAL_MATCHES = "sealed, and both pack files match its seal"
SALVAGE = ("setuppack extract --salvage /mnt/cdrom/SETUP rescued", 1, ["damaged"])

# docs: where the commands are shown; steps: (command as shown, exit status,
# lines of its output); verify: steps run after them that no document shows.
CASES = [
    {"docs": ["README.md", "pack/setuppack.1"], "setup": "", "steps": [
        ("setuppack media --script INSTALL.SCR --installer INSTALL.EXE -o media", 0,
         [VERIFIED, "(installed with setuppack), sealed for the two pack files"])],
     "verify": [("setuppack test media", 0, BOTH_OK + [SEAL_MATCHES])]},
    {"docs": ["pack/setuppack.1"], "setup": "", "steps": [
        ("setuppack media --script INSTALL.SCR --installer INSTALL.EXE --single-file -o product-setup.exe", 0,
         [VERIFIED]),
        ("osslsigncode sign -certs cert.pem -key key.pem -n Product -in product-setup.exe -out signed.exe", 0,
         ["Succeeded"]),
        ("setuppack test signed.exe", 0, ["(INSTALL.SC_): OK", "(INSTALL.EX_): OK", "match its seal"])]},
    {"docs": ["README.md"], "setup": BRANDING, "steps": [
        ("setuppack media --script INSTALL.SCR --installer INSTALL.EXE --single-file -o example-setup.exe "
         '--product-name "Example" --product-version 2.1 --company "Example Ltd" '
         '--copyright "© 2026 Example Ltd" --icon example.ico --strings de.txt', 0, [VERIFIED])],
     "verify": [("setuppack test example-setup.exe", 0,
                 ["ProductName: Example", "CompanyName: Example Ltd", "product version 2.1.0.0"])]},
    {"docs": ["pack/setuppack.1"], "setup": MEDIA + CDROM, "steps": [
        ("setuppack test media/INSTALL.SC_ media/INSTALL.EX_", 0, BOTH_OK),
        ("setuppack extract /mnt/cdrom rescued", 0, ["rescued/INSTALL.SCR", "rescued/INSTALL.EXE"])],
     "verify": [("cd rescued && " + SAME_AS_SOURCES, 0, [])]},
    {"docs": ["pack/setuppack.1"], "setup": MEDIA + FINDS + CDROM, "steps": [
        ("setuppack scan --extract rescued disc.iso old-floppies/", 0,
         ["disc.iso:/ (ISO 9660): media", "old-floppies//media: media", "-> rescued/disc.iso/INSTALL.EXE"]),
        SALVAGE]},
    {"docs": ["docs/setuppack.md"], "setup": MEDIA + FINDS + CDROM, "steps": [
        ("setuppack scan --extract rescued disc.iso floppy.img old-copies/", 0,
         ["disc.iso:/ (ISO 9660): media", "floppy.img at offset 4096: pack file", "old-copies//media: media"]),
        SALVAGE]},
    {"docs": ["pack/setuppack.1"], "setup": MEDIA + "mkdir unpacked && cp media/INSTALL.S* media/INSTALL.E* unpacked/"
                                              " && cd unpacked\n", "steps": [
        ("setuppack unpack INSTALL.SC_ INSTALL.SCR INSTALL.EX_ INSTALL.EXE", 0, [])],
     "verify": [(SAME_AS_SOURCES, 0, [])]},
    {"docs": ["pack/setuppack.1"], "setup": "", "steps": [
        ("generate-script | setuppack pack - INSTALL.SC_ INSTALL.EXE INSTALL.EX_", 0, [])],
     "verify": [("setuppack test INSTALL.SC_ INSTALL.EX_", 0, BOTH_OK)]},
    # Changing one file of media: the script changes, both pack files are
    # made again, and the seal matches them.
    {"docs": ["pack/setuppack.1"], "setup": MEDIA + "echo changed >>INSTALL.SCR\n", "steps": [
        ("setuppack media -f --script INSTALL.SCR --installer INSTALL.EXE -o media", 0, [VERIFIED])],
     "verify": [("setuppack test media", 0, [SEAL_MATCHES])]},
    {"docs": ["pack/setuppack.1"], "setup": MEDIA + "echo changed >>INSTALL.SCR\n", "steps": [
        ("setuppack pack -f INSTALL.SCR media/INSTALL.SC_ INSTALL.EXE media/INSTALL.EX_", 0, []),
        ("setuppack seal media", 0, ["media/setup.exe: sealed for"])],
     "verify": [("setuppack test media", 0, [SEAL_MATCHES]),
                ("setuppack unpack media/INSTALL.SC_ - | cmp - INSTALL.SCR", 0, [])]},
    # --json: one document of what test, list and scan found.
    {"docs": ["docs/json.md"], "setup": MEDIA + FINDS + "setuppack -q media --script INSTALL.SCR --installer "
                                                        "INSTALL.EXE --single-file -o product-setup.exe\n",
     "steps": [
         ("setuppack --json test media", 0, ['"version": 1', '"verdict": "match"']),
         ("setuppack --json test media/INSTALL.SC_ media/INSTALL.EX_", 0, ['"check_record": "match"']),
         ("setuppack --json list product-setup.exe", 0, ['"container": "product-setup.exe"', '"type": "check"']),
         ("setuppack --json scan disc.iso", 0, ['"kind": "media"', '"image": "disc.iso"'])]},
    # Media for deployment tools: setup.exe's settings, printed by test.
    {"docs": ["docs/setup-exe.md"], "setup": "", "steps": [
        ("setuppack media --script INSTALL.SCR --installer INSTALL.EXE --exit-code --silent-switch /S "
         "--silent-switch /VERYSILENT --single-file -o product-2.1-setup.exe", 0, [VERIFIED])],
     "verify": [("setuppack test product-2.1-setup.exe", 0,
                 ["exit code: the installer's, or 2, 1603, 1618", "silent switches: /S /VERYSILENT"])]},
]
# The examples' paths that stand for places outside the case's folder.
PLACES = {"/mnt/cdrom": "cdrom"}


def unroff(text):
    return text.replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")


def joined(lines):
    """Lines with their continuations (a trailing backslash) joined, blanks collapsed."""
    out, part = [], ""
    for line in lines:
        part += " " + line.strip()
        if part.endswith("\\"):
            part = part[:-1]
            continue
        out.append(" ".join(part.split()))
        part = ""
    return [line for line in out if line]


def is_example(line):
    """A command line that runs setuppack, not a synopsis (brackets, dots,
    alternatives, placeholders such as MEDIA_DIR)."""
    command = re.match(r"^(?:[\w-]+ \| )?(setuppack .*)", line)
    return command is not None and not re.search(r"\[|\.\.\.| \| |(?<![\w./-])[A-Z][A-Z_]{2,}(?![\w.])",
                                                 command.group(1))


def examples(source_dir):
    """(document, command) of every example command in the documents."""
    found = []
    manual = open(os.path.join(source_dir, "pack/setuppack.1"), encoding="utf-8").read()
    section = manual[manual.index(".SH EXAMPLES"):]
    section = section[:section.index("\n.SH", 1)]
    for block in re.findall(r"\n\.nf\n(.*?)\n\.fi", section, re.S):
        found += [("pack/setuppack.1", line) for line in joined(unroff(block).splitlines())]
    for doc in ["README.md"] + ["docs/" + n for n in sorted(os.listdir(os.path.join(source_dir, "docs")))]:
        if not doc.endswith(".md"):
            continue
        text = open(os.path.join(source_dir, doc), encoding="utf-8").read()
        # Fences paired as Markdown pairs them (a ```c block's end opens nothing).
        for language, block in re.findall(r"^```(\w*)\n(.*?)^```", text, re.S | re.M):
            if language not in ("", "sh"):
                    continue
            lines = [line for line in block.splitlines() if not re.search(r"\S {2,}\S", line)]  # no tables
            found += [(doc, line) for line in joined(lines) if is_example(line)]
    return found


def run_case(case, number, env, work):
    folder = os.path.join(work, "case-%d" % number)
    os.makedirs(os.path.join(folder, "bin"))
    env = dict(env, PATH=os.path.join(folder, "bin") + os.pathsep + env["PATH"])  # generate-script
    where = "/".join(case["docs"])
    prepared = subprocess.run(["bash", "-c", "set -e\n" + FIXTURES + case["setup"] + "pwd"], cwd=folder, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    if prepared.returncode != 0:
        return ["%s: the case's files could not be made: %s" % (where, prepared.stdout)]
    cwd = prepared.stdout.strip().splitlines()[-1]  # where the setup left off
    failures = []
    for command, status, lines in case["steps"] + case.get("verify", []):
        runnable = command
        for place, here in PLACES.items():
            runnable = runnable.replace(place, os.path.relpath(os.path.join(folder, here), cwd))
        result = subprocess.run(["bash", "-c", runnable], cwd=cwd, env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace")
        missing = [line for line in lines if line not in result.stdout]
        if result.returncode != status or missing:
            failures.append("%s: '%s' exited with %d (it should with %d)%s:\n%s" %
                            (where, command, result.returncode, status,
                             ", its output lacks %s" % missing if missing else "", result.stdout))
            break  # the steps after it build on it
        print("ok: %s: %s" % (where, command))
    return failures


def main(source_dir, setuppack, setup_exe, work):
    shutil.rmtree(work, ignore_errors=True)
    # setuppack as installed: the program in bin/, its setup.exe in
    # share/setuppack/, found from the program's own place.
    prefix = os.path.join(work, "prefix")
    os.makedirs(os.path.join(prefix, "bin"))
    os.makedirs(os.path.join(prefix, "share", "setuppack"))
    shutil.copy(setuppack, os.path.join(prefix, "bin", "setuppack"))
    shutil.copy(setup_exe, os.path.join(prefix, "share", "setuppack", "setup.exe"))
    env = dict(os.environ, SOURCE_DIR=os.path.abspath(source_dir), SETUP_EXE=os.path.abspath(setup_exe),
               SETUPPACK=os.path.abspath(setuppack), LC_ALL="C")
    env["PATH"] = os.pathsep.join([os.path.join(prefix, "bin"), env["PATH"]])

    failures = []
    written = examples(source_dir)
    run = set()
    for number, case in enumerate(CASES):
        for doc in case["docs"]:
            for command, _, _ in case["steps"]:
                run.add((doc, command))
                if (doc, command) not in written:
                    failures.append("%s no longer shows '%s' (its case is out of date)" % (doc, command))
        failures += run_case(case, number, env, work)
    for doc, command in written:
        if (doc, command) not in run:
            failures.append("%s shows '%s', which no case of check_examples.py runs" % (doc, command))
    for failure in failures:
        print("FAIL:", failure)
    print("%d example commands in the documents, %d failures" % (len(written), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
