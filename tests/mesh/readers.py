#!/usr/bin/env python3
"""The mesh outputs read by others: Khronos' glTF validator finds no error in
any .glb, assimp loads every .obj and .glb with the faces and vertices they
should hold, and every glTF triangle faces away from its block's centre.
Usage: readers.py BLOCKMQO_CLI EXAMPLES_DIR (after npm ci in this folder)."""
import json, os, re, struct, subprocess, sys, tempfile

cli, examples = sys.argv[1], sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))
work = tempfile.mkdtemp()
failures = passed = 0


def check(ok, what):
    global failures, passed
    passed += ok
    failures += not ok
    if not ok:
        print("FAIL:", what)


def box(x, y, z, texture, nan=False):  # a unit cube, as the test maps' Box
    xs, zs = [x, x + 1, x + 1, x, x, x + 1, x + 1, x], [z, z, z + 1, z + 1] * 2
    ys = [y + 1] * 4 + [y] * 4
    if nan:
        xs[0] = float("nan")
    return struct.pack("<72f6i4x", *xs, *ys, *zs, *[0, 1, 1, 0] * 6, *[0, 0, 1, 1] * 6, *[texture] * 6)


def write_map(name, blocks):
    names = b"".join(n.ljust(31, b"\0") for n in [b"wall.png", b"floor.jpg", b"brick.bmp"] + [b""] * 7)
    path = os.path.join(work, name + ".bd1")
    open(path, "wb").write(names + struct.pack("<h", len(blocks)) + b"".join(blocks))
    return path


def read_map(path):  # [(centre, [texture of each face])], finite blocks only
    data = open(path, "rb").read()
    blocks = []
    for b in range(struct.unpack_from("<h", data, 310)[0]):
        f = struct.unpack_from("<72f6i", data, 312 + 316 * b)
        if all(v == v and abs(v) != float("inf") for v in f[:72]):
            blocks.append(((-sum(f[0:8]) / 8, sum(f[8:16]) / 8, sum(f[16:24]) / 8), f[72:78]))
    return blocks


def assimp(path):
    out = subprocess.run(["assimp", "info", path, "-r"], capture_output=True, text=True).stdout
    return [int(re.search(rf"^{k}:\s+(\d+)", out, re.M).group(1)) for k in ("Vertices", "Faces")]


def glb(path):
    data = open(path, "rb").read()
    n = struct.unpack_from("<I", data, 12)[0]
    return json.loads(data[20:20 + n]), data[28 + n:]


def faces_outward(doc, binary, blocks):
    """Primitives come in texture order, faces within them in file order."""
    group = lambda t: t if 0 <= t <= 9 else 10
    faces = {}
    for centre, textures in blocks:
        for t in textures:
            faces.setdefault(group(t), []).append(centre)
    def read(a, width):
        acc, view = doc["accessors"][a], doc["bufferViews"][doc["accessors"][a]["bufferView"]]
        fmt = {5126: "f", 5123: "H", 5125: "I"}[acc["componentType"]]
        size = acc["count"] * (3 if acc["type"] == "VEC3" else 1)
        values = struct.unpack_from(f"<{size}{fmt}", binary, view["byteOffset"])
        return [values[i:i + width] for i in range(0, len(values), width)]
    for prim, g in zip(doc["meshes"][0]["primitives"], sorted(faces)):
        points, indices = read(prim["attributes"]["POSITION"], 3), read(prim["indices"], 3)
        check(len(indices) == 2 * len(faces[g]), f"{len(indices)} triangles for {len(faces[g])} faces")
        for i, (a, b, c) in enumerate(map(lambda t: [points[k] for k in t], indices)):
            u, v = [q - p for p, q in zip(a, b)], [q - p for p, q in zip(a, c)]
            normal = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
            out = [(a[j] + b[j] + c[j]) / 3 - faces[g][i // 2][j] for j in range(3)]
            if sum(n * o for n, o in zip(normal, out)) <= 0:
                return False
    return True


if not os.path.isdir(os.path.join(here, "node_modules", "gltf-validator")):
    sys.exit("the glTF validator is missing: run npm ci in tests/mesh")
# map: (faces, faces with --optimize, vertices with --optimize)
maps = {os.path.join(examples, "cube.bd1"): (6, 6, 8), os.path.join(examples, "stairs.bd1"): (72, 72, 74),
        os.path.join(examples, "courtyard.bd1"): (1158, 790, 788),
        # 5000 cubes in a row: more glTF vertices than 16-bit indices reach
        write_map("row", [box(x, 0, 0, 0) for x in range(5000)]): (30000, 20002, 20004),
        write_map("solid", [box(i % 3, i // 3 % 3, i // 9, i % 11 - 1) for i in range(27)]): (162, 54, 56),
        write_map("nan", [box(0, 0, 0, 0), box(5, 0, 0, 1, nan=True)]): (6, 6, 8)}
glbs = []
for path, (faces, optimized, shared) in maps.items():
    for option in ("", "--optimize"):
        name = os.path.join(work, os.path.basename(path)[:-4] + option)
        for ext in (".obj", ".glb"):
            run = subprocess.run([cli, path, name + ext] + ([option] if option else []), capture_output=True)
            check(run.returncode == 0, f"{name}{ext}: {run.stderr}")
        want = optimized if option else faces
        vertices = sum(line.startswith("v ") for line in open(name + ".obj"))
        check(vertices == (shared if option else 8 * (faces // 6)), f"{name}.obj: {vertices} vertices")
        check(assimp(name + ".obj") == [4 * want, want], f"{name}.obj: assimp reads {assimp(name + '.obj')}")
        doc, binary = glb(name + ".glb")
        declared = sum(doc["accessors"][p["attributes"]["POSITION"]]["count"] for p in doc["meshes"][0]["primitives"])
        check(assimp(name + ".glb") == [declared, 2 * want], f"{name}.glb: assimp reads {assimp(name + '.glb')}")
        if not option:
            check(faces_outward(doc, binary, read_map(path)), f"{name}.glb: a triangle faces into its block")
        glbs.append(name + ".glb")

# The images the test maps name, beside their .glb files, which load them.
for image in ("wall.png", "floor.jpg"):
    subprocess.run(["convert", "-size", "2x2", "xc:gray", image], cwd=work, check=True)
script = """const v = require('gltf-validator'), fs = require('fs'), path = require('path');
(async () => { for (const f of process.argv.slice(1)) {
  const load = (uri) => fs.promises.readFile(path.join(path.dirname(f), decodeURIComponent(uri)));
  const r = await v.validateBytes(new Uint8Array(fs.readFileSync(f)), { externalResourceFunction: load });
  console.log(r.issues.numErrors, r.issues.numWarnings, f); } })();"""
report = subprocess.run(["node", "-e", script] + glbs, cwd=here, capture_output=True, text=True)
lines = report.stdout.splitlines()
check(len(lines) == len(glbs), f"the validator: {report.stderr}")
for line in lines:
    check(line.split()[0] == "0", "the validator finds errors (errors, warnings, file): " + line)
print(f"mesh readers: {passed} passed, {failures} failed")
sys.exit(failures > 0)
