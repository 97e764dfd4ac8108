#!/usr/bin/env python3
"""Checks one program against its manual page.

The options the program lists in --help and the options the page describes
under OPTIONS must be the same; an option whose help lists its values, one
"value: what it gives" line each, must list the same values with the same
words in the page (a nested list of tags under the option); --version must
print "PROGRAM VERSION"; and groff must format the page without a warning.

    manual_matches_help.py PROGRAM_PATH PAGE VERSION
"""
import os
import re
import shlex
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


# A line of an option's help that names one of its values: "value: text".
VALUE_LINE = re.compile(r"^([a-z][a-z0-9-]*): (.*)$")
# Font macros whose arguments alternate between two fonts, joined without blanks.
ALTERNATING = re.compile(r"^\.(BR|RB|BI|IB|IR|RI)\s")


def words(text):
    """Text compared word by word: blanks and quotes do not count."""
    return " ".join(text.replace('"', "").split())


# A line of --help that begins an option's entry: indentation, the names,
# two blanks or more, the description.
OPTION_LINE = re.compile(r"^ {1,7}(\S.*?)\s{2,}(\S.*)$")


def values_in_help(text):
    """For each option, the values its description lists, with their texts."""
    found = {}
    option = value = None
    column = 0
    for line in text.splitlines():
        entry = OPTION_LINE.match(line)
        names = entry.group(1).split(",")[-1].split() if entry else []
        if names and OPTION.match(names[0]):
            option, value, column = names[0], None, entry.start(2)
            continue
        if option is None or len(line) <= column or line[:column].strip():
            option = None
            continue
        match = VALUE_LINE.match(line[column:])
        if match:
            value = match.group(1)
            found.setdefault(option, {})[value] = match.group(2)
        elif value is not None:
            found[option][value] += " " + line[column:]
    return {name: {v: words(t) for v, t in values.items()} for name, values in found.items()}


def roff_text(line):
    """The text a line of a page's source prints, without macros and fonts."""
    if ALTERNATING.match(line):
        line = "".join(shlex.split(line[3:].replace("\\", "\\\\")))
    return plain_roff(line)


def values_in_page(source):
    """For each option of OPTIONS, the values of a nested list (.RS, .TP
    tags, .RE) under it, with their texts."""
    found = {}
    section = option = value = None
    nested = False
    lines = source.splitlines()
    for index, line in enumerate(lines):
        if line.startswith(".SH"):
            section = line[3:].strip().strip('"')
            continue
        if section != "OPTIONS":
            continue
        if line.startswith(".RS"):
            nested, value = True, None
        elif line.startswith(".RE"):
            nested, value = False, None
        elif line.startswith(".TP") and index + 1 < len(lines):
            tag = roff_text(lines[index + 1]).split()
            if nested and tag:
                value = tag[0]
                found.setdefault(option, {})[value] = ""
            elif tag and OPTION.match(tag[0].rstrip(",")):
                option, value = tag[0].rstrip(","), None
        elif nested and value is not None and not (index > 0 and lines[index - 1].startswith(".TP")):
            found[option][value] += " " + roff_text(line)
    return {name: {v: words(t) for v, t in values.items()} for name, values in found.items()}


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
    listed_in_help = values_in_help(help_run.stdout)
    with open(page, encoding="utf-8") as file:
        listed_in_page = values_in_page(file.read())
    for option in sorted(set(listed_in_help) | set(listed_in_page)):
        in_help_values = listed_in_help.get(option, {})
        in_page_values = listed_in_page.get(option, {})
        for value in sorted(set(in_help_values) | set(in_page_values)):
            said_in_help = in_help_values.get(value)
            said_in_page = in_page_values.get(value)
            if said_in_help != said_in_page:
                problems.append(f"{option} {value}: --help says {said_in_help!r}, the manual page {said_in_page!r}")
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
