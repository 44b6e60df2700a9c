#!/usr/bin/env python3
"""The mesh outputs read by others: Khronos' glTF validator finds no error or
warning in any .glb (their images inside), assimp loads every .obj and .glb
with the faces they should hold (readback.py checks what the files say, face
by face), and blockmqo-cli writes the committed textured files.
Usage: readers.py BLOCKMQO_CLI EXAMPLES_DIR (after npm ci in this folder)."""
import os, re, struct, subprocess, sys, tempfile

cli, examples = sys.argv[1], sys.argv[2]
here, work = os.path.dirname(os.path.abspath(__file__)), tempfile.mkdtemp()
failures = passed = 0
if not os.path.isdir(os.path.join(here, "node_modules", "gltf-validator")):
    sys.exit("the glTF validator is missing: run npm ci in tests/mesh")


def check(ok, what):
    global failures, passed
    passed, failures = passed + bool(ok), failures + (not ok)
    ok or print("FAIL:", what)


def box(x, y, z, texture):  # a unit cube, as the unit tests' Box
    xs, ys, zs = [x, x + 1, x + 1, x] * 2, [y + 1] * 4 + [y] * 4, [z, z, z + 1, z + 1] * 2
    return struct.pack("<72f6i4x", *xs, *ys, *zs, *[0, 1, 1, 0] * 6, *[0, 0, 1, 1] * 6, *[texture] * 6)


def write_map(name, blocks):
    names = b"".join(n.ljust(31, b"\0") for n in [b"wall.png", b"floor.jpg", b"brick.bmp"] + [b""] * 7)
    open(os.path.join(work, name + ".bd1"), "wb").write(names + struct.pack("<h", len(blocks)) + b"".join(blocks))
    return os.path.join(work, name + ".bd1")


def assimp(path):
    out = subprocess.run(["assimp", "info", path, "-r"], capture_output=True, text=True).stdout
    return [int(re.search(rf"^{k}:\s+(\d+)", out, re.M).group(1)) for k in ("Vertices", "Faces")]


# map: (faces, faces with --optimize); the row has more glTF vertices than
# 16-bit indices reach, the solid texture numbers outside 0-9. (Blocks left
# out as non-finite are the unit tests'.)
maps = {os.path.join(examples, "cube.bd1"): (6, 6), os.path.join(examples, "courtyard.bd1"): (1158, 790),
        write_map("row", [box(x, 0, 0, 0) for x in range(5000)]): (30000, 20002),
        write_map("solid", [box(i % 3, i // 3 % 3, i // 9, i % 11 - 1) for i in range(27)]): (162, 54)}
# The images the test maps name, beside them (the examples' are not found).
for image in ("wall.png", "floor.jpg", "brick.bmp"):
    subprocess.run(["convert", "-size", "2x2", "xc:gray", image], cwd=work, check=True)
glbs = []
for path, counts in maps.items():
    for option, faces in zip(("", "--optimize"), counts):
        name = os.path.join(work, os.path.basename(path)[:-4] + option)
        for ext in (".obj", ".glb"):
            run = subprocess.run([cli, path, name + ext] + [option] * bool(option), capture_output=True)
            check(run.returncode == 0, f"{name}{ext}: {run.stderr}")
        check(assimp(name + ".obj")[1] == faces, f"{name}.obj: assimp reads {assimp(name + '.obj')}")
        check(assimp(name + ".glb")[1] == 2 * faces, f"{name}.glb: assimp reads {assimp(name + '.glb')}")
        glbs.append(name + ".glb")

textured = os.path.abspath(os.path.join(examples, "..", "tests", "mesh", "textured", "steps"))
subprocess.run([cli, textured + ".bd1", os.path.join(work, "steps.glb")])
check(open(os.path.join(work, "steps.glb"), "rb").read() == open(textured + ".glb", "rb").read(), "the textured glb")
glbs.append(textured + ".glb")
script = """const v = require('gltf-validator'), fs = require('fs');
(async () => { for (const f of process.argv.slice(1)) {
  const r = await v.validateBytes(new Uint8Array(fs.readFileSync(f)));
  console.log(r.issues.numErrors + r.issues.numWarnings, f); } })();"""
report = subprocess.run(["node", "-e", script] + glbs, cwd=here, capture_output=True, text=True)
check(len(report.stdout.splitlines()) == len(glbs), f"the validator: {report.stderr}")
for line in report.stdout.splitlines():
    check(line.split()[0] == "0", "the validator finds errors or warnings (count, file): " + line)
print(f"mesh readers: {passed} passed, {failures} failed")
sys.exit(failures > 0)
