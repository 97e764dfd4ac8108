#!/usr/bin/env python3
"""Checks one program against its manual page.

The options the program lists in --help and the options the page describes
under OPTIONS must be the same; --version must print "PROGRAM VERSION"; and
groff must format the page without a warning.

    manual_matches_help.py PROGRAM_PATH PAGE VERSION
"""
import os
import re
import subprocess
import sys

# An option as it appears in a help line or a page's tag: --name, -x, /x, /?.
OPTION = re.compile(r"^(--?[A-Za-z][A-Za-z0-9-]*|/[A-Za-z?]+)$")


def options_in_help(text):
    """Options of the lines that begin, after indentation, with an option."""
    found = set()
    for line in text.splitlines():
        if not line.startswith(" "):
            continue
        names = re.split(r"\s{2,}", line.strip())[0]
        for piece in names.split(","):
            words = piece.split()
            if words and OPTION.match(words[0]):
                found.add(words[0])
    return found


def plain_roff(line):
    """The text of one line of a page's source, without macros and fonts."""
    line = re.sub(r"^\.[A-Z]{1,2}\s*", "", line)
    line = re.sub(r"\\f[BIRP]", "", line)
    line = line.replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")
    return line.replace('"', "")


def options_in_page(source):
    """Options of the tags (.TP) of the OPTIONS section."""
    found = set()
    section = None
    lines = source.splitlines()
    for index, line in enumerate(lines):
        if line.startswith(".SH"):
            section = line[3:].strip().strip('"')
        elif section == "OPTIONS" and line.startswith(".TP") and index + 1 < len(lines):
            for word in re.split(r"[\s,]+", plain_roff(lines[index + 1])):
                if OPTION.match(word):
                    found.add(word)
    return found


def main():
    program, page, version = sys.argv[1:4]
    name = os.path.basename(program)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    problems = []

    help_run = subprocess.run([program, "--help"], capture_output=True, text=True, env=env, timeout=60)
    if help_run.returncode != 0:
        problems.append(f"--help exited with {help_run.returncode}")
    in_help = options_in_help(help_run.stdout)
    with open(page, encoding="utf-8") as file:
        in_page = options_in_page(file.read())
    if not in_help:
        problems.append("--help lists no options")
    for option in sorted(in_help - in_page):
        problems.append(f"{option} is in --help but not in the manual page")
    for option in sorted(in_page - in_help):
        problems.append(f"{option} is in the manual page but not in --help")
    for required in ("--help", "--version"):
        if required not in in_help:
            problems.append(f"--help does not list {required}")

    version_run = subprocess.run([program, "--version"], capture_output=True, text=True, env=env, timeout=60)
    if version_run.returncode != 0 or version_run.stdout != f"{name} {version}\n":
        problems.append(f"--version printed {version_run.stdout!r} and exited with {version_run.returncode}")

    groff = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page], capture_output=True, text=True)
    if groff.returncode != 0 or groff.stderr:
        problems.append(f"groff reports on the page: {groff.stderr.strip()}")

    for problem in problems:
        print(f"{name}: {problem}", file=sys.stderr)
    if not problems:
        print(f"{name}: options {' '.join(sorted(in_help))} in --help and in the manual page")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
