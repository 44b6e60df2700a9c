#!/usr/bin/env python3
"""blockmqo-cli's warnings: one map built for each kind, and a clean one.

Each map is converted twice: with warnings, where standard error must hold
exactly the expected lines, and with --quiet, where it must be empty. Both
runs exit 0 and write the same bytes. Usage: cli_warnings_test.py BLOCKMQO_CLI
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

NAMES = ["wall.bmp", "floor.bmp"] + [""] * 8
WARN = "blockmqo-cli: warning: "


def box(textures=(0, 0, 1, 1, 1, 1), **numbers):
    """A 2x1x2 box; `numbers` replaces single floats, e.g. vx=(0, inf)."""
    fields = {"vx": [0, 2, 2, 0, 0, 2, 2, 0], "vy": [1, 1, 1, 1, 0, 0, 0, 0],
              "vz": [0, 0, 2, 2, 0, 0, 2, 2], "u": [0, 1, 1, 0] * 6, "v": [0, 0, 1, 1] * 6}
    for field, (index, value) in numbers.items():
        fields[field][index] = value
    floats = sum((fields[f] for f in ("vx", "vy", "vz", "u", "v")), [])
    return struct.pack("<72f6iI", *floats, *textures, 0)


def bd1(blocks, names=NAMES):
    head = b"".join(n.encode().ljust(31, b"\0") for n in names)
    return head + struct.pack("<h", len(blocks)) + b"".join(blocks)


# name, map bytes, expected warnings (after the prefix, before ": PATH"),
# whether the document replaces the input itself.
CASES = [
    ("clean map, the extremes readers accept",
     bd1([box((0, 9, 0, 9, 0, 9), vx=(1, 3.4e38)), box()]), [], False),
    ("texture numbers outside 0-9", bd1([box((-1, 10, 9, 0, 0, 0)), box((0, 0, 0, 0, 0, -7))]),
     ["3 faces use texture numbers outside 0-9, which some readers reject"], False),
    ("non-finite numbers", bd1([box(vx=(0, math.inf), vy=(7, math.nan)), box(u=(23, -math.inf))]),
     ["3 numbers are infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject or "
      "misread"], False),
    ("names with each character readers break on",
     bd1([box()], ['q"', "r\r", "n\n", "b{", "c}", "p(", "p)", "fine.bmp", "", "empty"]),
     ["7 texture names hold a quote, line break, brace or parenthesis, which break the material "
      "lines in readers that read names"], False),
    ("every kind at once, counted from the input it replaces",
     bd1([box((12, 0, 0, 0, 0, 0), vz=(5, math.nan))], ["(x)"] + [""] * 9),
     ["1 face uses a texture number outside 0-9, which some readers reject",
      "1 number is infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject or "
      "misread",
      "1 texture name holds a quote, line break, brace or parenthesis, which breaks the material "
      "line in readers that read names"], True),
]


def convert(cli, work, data, in_place, *options):
    source = os.path.join(work, "map")
    target = source if in_place else os.path.join(work, "map.mqo")
    with open(source, "wb") as f:
        f.write(data)
    run = subprocess.run([cli, *options, source, target], capture_output=True)
    with open(target, "rb") as f:
        return run.returncode, run.stderr.decode(), f.read(), source


def main():
    cli, failures = sys.argv[1], 0
    with tempfile.TemporaryDirectory() as work:
        for name, data, warnings, in_place in CASES:
            status, err, document, source = convert(cli, work, data, in_place)
            quiet = convert(cli, work, data, in_place, "--quiet")
            expected = "".join(f"{WARN}{w}: {source}\n" for w in warnings)
            problems = [p for p, bad in [
                (f"exit status {status}", status != 0),
                (f"standard error {err!r}, expected {expected!r}", err != expected),
                (f"--quiet: status {quiet[0]}, standard error {quiet[1]!r}", quiet[:2] != (0, "")),
                ("not a document", not document.startswith(b"Metasequoia Document\r\n")),
                ("the document differs with --quiet", document != quiet[2])] if bad]
            for problem in problems:
                print(f"FAIL: {name}: {problem}")
            failures += bool(problems)
    print(f"cli warnings: {len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
