#!/usr/bin/env python3
"""Checks that the code the README and the pages of docs/ (the reference's main page, the guide)
quote from the examples is the examples' code as it stands.

A quoted block is a fenced block whose first line is a comment naming the file:
`/* examples/c/read_inputs.c, ... */`. Its other lines, cut into runs by lines holding only
`...`, must each stand in that file as one contiguous run of lines.

Usage: check_quotes.py SOURCE_DIR
"""
import pathlib
import re
import sys

DOCUMENTS = ["README.md", "docs/*.md"]
NAMING = re.compile(r"^/\* (examples/\S+?),? .*\*/$")


def quoted_blocks(text):
    """Yields (line number, named file, lines) for every fenced block that names a file."""
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        if lines[i].startswith("```"):
            start = i
            i += 1
            body = []
            while i < len(lines) and not lines[i].startswith("```"):
                body.append(lines[i])
                i += 1
            named = NAMING.match(body[0]) if body else None
            if named:
                yield start + 1, named.group(1), body[1:]
        i += 1


def runs(lines):
    run = []
    for line in lines:
        if line.strip() == "...":
            if run:
                yield run
            run = []
        else:
            run.append(line)
    if run:
        yield run


def contains(haystack, needle):
    n = len(needle)
    return any(haystack[i:i + n] == needle for i in range(len(haystack) - n + 1))


def main():
    root = pathlib.Path(sys.argv[1])
    failures = checked = 0
    documents = [path for pattern in DOCUMENTS for path in sorted(root.glob(pattern))]
    for path in documents:
        document = path.relative_to(root)
        for line, name, body in quoted_blocks(path.read_text()):
            source = root / name
            if not source.exists():
                print(f"FAILED: {document}:{line} quotes {name}, which does not exist")
                failures += 1
                continue
            lines = source.read_text().splitlines()
            for run in runs(body):
                checked += 1
                if not contains(lines, run):
                    missing = [l for l in run if l not in lines]
                    print(f"FAILED: {document}:{line}: the quote of {name} differs from it:")
                    print("\n".join("    " + l for l in missing) if missing else
                          "    its lines are there, but not in this order")
                    failures += 1
    if checked == 0:
        print("FAILED: no quoted block found")
        return 1
    print(f"{checked - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
