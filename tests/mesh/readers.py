#!/usr/bin/env python3
"""The mesh outputs read by others: Khronos' glTF validator finds no error in
any .glb, assimp loads every .obj and .glb with the faces and vertices they
should hold, and every glTF triangle faces away from its block's centre.
Usage: readers.py BLOCKMQO_CLI EXAMPLES_DIR (after npm ci in this folder)."""
import json, os, re, struct, subprocess, sys, tempfile

cli, examples = sys.argv[1], sys.argv[2]
here, work = os.path.dirname(os.path.abspath(__file__)), tempfile.mkdtemp()
failures = passed = 0
if not os.path.isdir(os.path.join(here, "node_modules", "gltf-validator")):
    sys.exit("the glTF validator is missing: run npm ci in tests/mesh")


def check(ok, what):
    global failures, passed
    passed, failures = passed + bool(ok), failures + (not ok)
    ok or print("FAIL:", what)


def box(x, y, z, texture, corner0=None):  # a unit cube, as the unit tests' Box
    xs, ys, zs = [x, x + 1, x + 1, x] * 2, [y + 1] * 4 + [y] * 4, [z, z, z + 1, z + 1] * 2
    xs[0] = x if corner0 is None else corner0
    return struct.pack("<72f6i4x", *xs, *ys, *zs, *[0, 1, 1, 0] * 6, *[0, 0, 1, 1] * 6, *[texture] * 6)


def write_map(name, blocks):
    names = b"".join(n.ljust(31, b"\0") for n in [b"wall.png", b"floor.jpg", b"brick.bmp"] + [b""] * 7)
    open(os.path.join(work, name + ".bd1"), "wb").write(names + struct.pack("<h", len(blocks)) + b"".join(blocks))
    return os.path.join(work, name + ".bd1")


def centres(path):
    """Each face's block centre, by texture group (0..9, 10 for the rest), in
    file order: the order of the primitives and their faces without options."""
    data, faces = open(path, "rb").read(), {}
    for b in range(struct.unpack_from("<h", data, 310)[0]):
        f = struct.unpack_from("<72f6i", data, 312 + 316 * b)
        if all(abs(v) < float("inf") for v in f[:72]):
            for t in f[72:]:
                faces.setdefault(t if 0 <= t <= 9 else 10, []).append((-sum(f[0:8]) / 8, sum(f[8:16]) / 8, sum(f[16:24]) / 8))
    return [faces[g] for g in sorted(faces)]


def faces_outward(doc, binary, path):
    def read(a):
        acc = doc["accessors"][a]
        fmt, width = {5126: "f", 5123: "H", 5125: "I"}[acc["componentType"]], 3
        values = struct.unpack_from(f"<{acc['count'] * (3 if acc['type'] == 'VEC3' else 1)}{fmt}", binary,
                                    doc["bufferViews"][acc["bufferView"]]["byteOffset"])
        return [values[i:i + width] for i in range(0, len(values), width)]
    for prim, centre in zip(doc["meshes"][0]["primitives"], centres(path), strict=True):
        points, triangles = read(prim["attributes"]["POSITION"]), read(prim["indices"])
        check(len(triangles) == 2 * len(centre), f"{len(triangles)} triangles for {len(centre)} faces")
        for i, (a, b, c) in enumerate([points[k] for k in t] for t in triangles):
            u, v = [q - p for p, q in zip(a, b)], [q - p for p, q in zip(a, c)]
            normal = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
            if sum(normal[j] * ((a[j] + b[j] + c[j]) / 3 - centre[i // 2][j]) for j in range(3)) <= 0:
                return False
    return True


def assimp(path):
    out = subprocess.run(["assimp", "info", path, "-r"], capture_output=True, text=True).stdout
    return [int(re.search(rf"^{k}:\s+(\d+)", out, re.M).group(1)) for k in ("Vertices", "Faces")]


# map: (faces, faces with --optimize, vertices with --optimize)
maps = {os.path.join(examples, "cube.bd1"): (6, 6, 8), os.path.join(examples, "stairs.bd1"): (72, 72, 74),
        os.path.join(examples, "courtyard.bd1"): (1158, 790, 788),
        # more glTF vertices than 16-bit indices reach
        write_map("row", [box(x, 0, 0, 0) for x in range(5000)]): (30000, 20002, 20004),
        write_map("solid", [box(i % 3, i // 3 % 3, i // 9, i % 11 - 1) for i in range(27)]): (162, 54, 56),
        write_map("nan", [box(0, 0, 0, 0), box(5, 0, 0, 1, float("nan"))]): (6, 6, 8)}
glbs = []
for path, (faces, optimized, shared) in maps.items():
    for option in ("", "--optimize"):
        name = os.path.join(work, os.path.basename(path)[:-4] + option)
        for ext in (".obj", ".glb"):
            run = subprocess.run([cli, path, name + ext] + [option] * bool(option), capture_output=True)
            check(run.returncode == 0, f"{name}{ext}: {run.stderr}")
        want = optimized if option else faces
        vertices = sum(line.startswith("v ") for line in open(name + ".obj"))
        check(vertices == (shared if option else 8 * (faces // 6)), f"{name}.obj: {vertices} vertices")
        check(assimp(name + ".obj") == [4 * want, want], f"{name}.obj: assimp reads {assimp(name + '.obj')}")
        data = open(name + ".glb", "rb").read()
        doc = json.loads(data[20:20 + struct.unpack_from("<I", data, 12)[0]])
        declared = sum(doc["accessors"][p["attributes"]["POSITION"]]["count"] for p in doc["meshes"][0]["primitives"])
        check(assimp(name + ".glb") == [declared, 2 * want], f"{name}.glb: assimp reads {assimp(name + '.glb')}")
        if not option:
            binary = data[28 + struct.unpack_from("<I", data, 12)[0]:]
            check(faces_outward(doc, binary, path), f"{name}.glb: a triangle faces into its block")
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
check(len(report.stdout.splitlines()) == len(glbs), f"the validator: {report.stderr}")
for line in report.stdout.splitlines():
    check(line.split()[0] == "0", "the validator finds errors (errors, warnings, file): " + line)
print(f"mesh readers: {passed} passed, {failures} failed")
sys.exit(failures > 0)
