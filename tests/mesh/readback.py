#!/usr/bin/env python3
"""Reads OBJ, MTL and glb files back on its own and compares them with their
maps: every face's positions, UVs, winding, normal and material, every
material's name and image, every glb accessor and bound; Khronos' glTF
validator then finds no error or warning in any of the glb files. The files:
the committed ones beside the examples, a fuzz seed of odd texture names (and
its optimized document) and a textured map; and blockmqo-cli's for maps that
make_map writes (more glTF vertices than 16-bit indices reach, texture numbers
outside 0-9, a PNG, a JPEG and a BMP beside them). Without options a file
holds every face of its map; an optimized one a subsequence of them (in
order, grouped by texture), since hidden faces go.
Usage: readback.py SOURCE_DIR BLOCKMQO_CLI MAKE_MAP (after npm ci here)."""
import glob, json, math, os, re, shutil, struct, subprocess, sys, tempfile
from decimal import ROUND_HALF_UP, Decimal

CORNERS = [(0, 1, 2, 3), (7, 6, 5, 4), (4, 5, 1, 0), (5, 6, 2, 1), (6, 7, 3, 2), (7, 4, 0, 3)]
failures = []
# what: the message, or a function that makes it (where formatting it for every face would be slow)
check = lambda ok, what: ok or failures.append(what() if callable(what) else what) or print("FAIL:", failures[-1])
f32 = lambda x: struct.unpack("<f", struct.pack("<f", x))[0]


def read_map(path):
    """Names and, grouped by texture (file order within a group), each face:
    its four corners' (position, uv) as listed, and its block's centre."""
    data = open(path, "rb").read()
    names = [data[31 * i:31 * i + 31].split(b"\0")[0].decode("latin-1") for i in range(10)]  # bytes as they are
    groups = {}
    for b in range(struct.unpack_from("<h", data, 310)[0]):
        r = struct.unpack_from("<72f6i", data, 312 + 316 * b)
        points = [(-r[c], r[8 + c], r[16 + c]) for c in range(8)]
        centre = [sum(p[j] for p in points) / 8 for j in range(3)]
        for f in range(6):
            corners = [(points[CORNERS[f][3 - k]], (r[24 + 4 * f + k], r[48 + 4 * f + k])) for k in range(4)]
            groups.setdefault(r[72 + f] if 0 <= r[72 + f] <= 9 else 10, []).append((corners, centre))
    return names, [(g, face) for g in sorted(groups) for face in groups[g]]


def newell(points):
    x = y = z = 0.0
    for (ax, ay, az), (bx, by, bz) in zip(points, points[1:] + points[:1]):
        x, y, z = x + (ay - by) * (az + bz), y + (az - bz) * (ax + bx), z + (ax - bx) * (ay + by)
    return [x, y, z]


def outward(points, centre):  # the Newell normal along the way from the block's centre
    normal = newell(points)
    return sum(normal[j] * (sum(p[j] for p in points) / len(points) - centre[j]) for j in range(3)) > 0


def flat(normals, points, what):
    """The polygon's corners carry one normal: unit length, along the polygon's
    own (a triangle's within its face's turn: the same side)."""
    n, own = normals[0], newell(points)
    check(all(m == n for m in normals) and abs(math.hypot(*n) - 1) < 1e-6 and
          sum(a * b for a, b in zip(n, own)) > 0, lambda: f"{what}: normals {normals} of {points}")


def images(folder):  # the files a map's folder holds, by lower-case name
    return {os.path.basename(f).lower(): os.path.basename(f) for f in glob.glob(os.path.join(folder, "*.*"))}


def match(written, expected, full, what):
    """written: [(group, [(position, uv)], polygons)]; each must be the next
    expected face of its group, with the same corners, each of its polygons
    (lists of positions) turning out of the face's block."""
    at = 0
    for group, corners, polygons in written:
        while at < len(expected) and not (expected[at][0] == group and sorted(expected[at][1][0]) == sorted(corners)):
            check(not full, lambda: f"{what}: face {expected[at]} missing")
            at += 1
        check(at < len(expected), lambda: f"{what}: face {group} {corners} is not the map's next")
        for polygon in polygons if at < len(expected) else []:
            check(outward(polygon, expected[at][1][1]), lambda: f"{what}: {polygon} faces into its block")
        at += 1
    check(not full or at == len(expected), f"{what}: {len(expected) - at} faces missing at the end")


def material_names(names, used):
    """The mesh formats' material names: blanks and control bytes as _, and
    while an earlier group in use has the name, _ and the group's number."""
    given = {}
    for g in sorted(used):
        name = "texture_number_outside_0-9" if g == 10 else \
            "".join("_" if ord(ch) <= 32 or ord(ch) == 127 else ch for ch in names[g]) or "empty"
        while name in given.values():
            name += f"_{g}"
        given[g] = name
    return given


def read_obj(base, names, used):
    obj_name = material_names(names, used).get
    lines = open(base + ".obj", encoding="latin-1").read().split("\n")
    check(lines[:4] == ["# blockmqo", f"mtllib {os.path.basename(base)}.mtl", "o map", "s off"], f"{base}.obj: head {lines[:4]}")
    v, vt, faces, group = [], [], [], None
    for word, *rest in (line.split(" ") for line in lines[4:] if line):
        if word == "v":
            v.append(tuple(f32(float(x)) for x in rest))
        elif word == "vt":
            vt.append((f32(float(rest[0])), f32(1 - f32(float(rest[1])))))
        elif word == "usemtl":
            group = next(g for g in range(11) if obj_name(g) == rest[0])
        elif word == "f":
            corners = [(v[int(c.split("/")[0]) - 1], vt[int(c.split("/")[1]) - 1]) for c in rest]
            faces.append((group, corners, [[p for p, _ in corners]]))
        else:
            check(False, f"{base}.obj: line {word} {rest}")
    mtl, found = open(base + ".mtl", encoding="latin-1").read(), images(os.path.dirname(base))
    for g in {face[0] for face in faces}:
        # The file found beside the map, else the name as the map has it.
        file = g < 10 and found.get(names[g].replace("\\", "/").split("/")[-1].lower())
        texture = f"map_Kd {file or names[g].replace(chr(13), '_').replace(chr(10), '_')}\n" if g < 10 and names[g] else ""
        check(f"\nnewmtl {obj_name(g)}\nKd 1 1 1\n{texture}" in mtl, f"{base}.mtl: material {g}")
    return faces


def read_glb(base, names, used):
    data = open(base + ".glb", "rb").read()
    magic, version, total, json_length, json_type = struct.unpack_from("<4sIIII", data)
    check((magic, version, total, json_type) == (b"glTF", 2, len(data), 0x4E4F534A), f"{base}.glb: header")
    doc, binary = json.loads(data[20:20 + json_length]), data[28 + json_length:]
    if "meshes" not in doc:  # nothing to draw: no BIN chunk
        check(not used and len(data) == 20 + json_length, f"{base}.glb: no mesh")
        return []
    check(struct.unpack_from("<I", data, 20 + json_length)[0] == len(binary) == doc["buffers"][0]["byteLength"],
          f"{base}.glb: BIN length")

    def accessor(i):
        a = doc["accessors"][i]
        view, size = doc["bufferViews"][a["bufferView"]], {"VEC3": 3, "VEC2": 2, "SCALAR": 1}[a["type"]]
        code = {5126: "f", 5123: "H", 5125: "I"}[a["componentType"]]
        values = struct.unpack_from(f"<{a['count'] * size}{code}", binary, view["byteOffset"])
        check(view["byteLength"] == a["count"] * size * struct.calcsize(code), f"{base}.glb: accessor {i} length")
        return a, [values[k:k + size] for k in range(0, len(values), size)]

    def utf8(name):  # JSON strings are UTF-8: a name that is not is taken as Latin-1
        try:
            return name.encode("latin-1").decode("utf-8")
        except UnicodeDecodeError:
            return name

    faces, found = [], images(os.path.dirname(base))
    for group, prim in zip(sorted(used), doc["meshes"][0]["primitives"], strict=True):  # one a group in use
        material = doc["materials"][prim["material"]]
        check(material["name"] == utf8(material_names(names, used)[group]),
              f"{base}.glb: material {group} {material['name']}")
        # An image of each texture found beside the map, inside the file (the
        # image test checks that every kind becomes a PNG of the same pixels).
        texture = material["pbrMetallicRoughness"].get("baseColorTexture")
        image = texture and doc["images"][doc["textures"][texture["index"]]["source"]]
        view = image and doc["bufferViews"][image["bufferView"]]
        file = group < 10 and names[group].replace("\\", "/").split("/")[-1].lower()
        jpeg = bool(file) and file.endswith(".jpg")  # a JPEG goes in as it is, any other image as a PNG
        check(bool(image) == (file in found) and (not image or (
            image["name"] == names[group] and image["mimeType"] == ("image/jpeg" if jpeg else "image/png") and
            binary[view["byteOffset"]:view["byteOffset"] + 8].startswith(b"\xff\xd8\xff" if jpeg else b"\x89PNG\r\n\x1a\n"))),
              f"{base}.glb: image of {group}: {image}")
        a, positions = accessor(prim["attributes"]["POSITION"])
        check(a["min"] == [min(p[j] for p in positions) for j in range(3)] and
              a["max"] == [max(p[j] for p in positions) for j in range(3)], f"{base}.glb: bounds of {group}")
        uvs, normals = accessor(prim["attributes"]["TEXCOORD_0"])[1], accessor(prim["attributes"]["NORMAL"])[1]
        indices = [i[0] for i in accessor(prim["indices"])[1]]
        for t in range(0, len(indices), 3):
            flat([normals[i] for i in indices[t:t + 3]], [positions[i] for i in indices[t:t + 3]], f"{base}.glb")
        corners = [(positions[i], uvs[i]) for i in indices]
        # Two triangles a face, (0 1 2) and (0 2 3) of its corners, each outward.
        for first, second in ((corners[t:t + 3], corners[t + 3:t + 6]) for t in range(0, len(corners), 6)):
            quad = first + [c for c in second if c not in first]
            faces.append((group, quad, [[p for p, _ in first], [p for p, _ in second]]))
            check(len(quad) == 4 and first[0] == second[0], lambda: f"{base}.glb: triangles {first} {second}")
    return faces


def read_mqo(base):
    """The mesh in a document: each face's material, its corners (position
    at 4 decimals, uv at 5) and no polygons (the document winds its own way);
    and the count of materials."""
    text = open(base + ".mqo", encoding="latin-1", newline="").read()
    part = lambda word: text.split(f"\t{word} ")[1].split("{\r\n", 1)[1].split("\t}\r\n")[0].split("\r\n")[:-1]
    v = [tuple(float(x) for x in line.split()) for line in part("vertex")]
    faces = []
    for line in part("face"):
        m = re.fullmatch(r"\t\t4 V\(([\d ]+)\) M\((-?\d+)\) UV\(([-\d. ]+)\)", line)
        uv = [float(x) for x in m[3].split()]
        faces.append((int(m[2]), [(v[int(i)], (uv[2 * k], uv[2 * k + 1])) for k, i in enumerate(m[1].split())], []))
    return faces, int(text.split("Material ")[1].split(" ")[0])


# The document's number text: half away from zero at the cut.
fixed = lambda x, d: float(Decimal(x).quantize(Decimal(10) ** -d, ROUND_HALF_UP))

source, cli, make_map = map(os.path.abspath, sys.argv[1:4])
work, glbs = tempfile.mkdtemp(), []
# Maps of the CLI's, with the images they name beside them: a row of 2800
# cubes, a 3x3x3 solid whose texture numbers run from -1 to 9, none, and two
# cubes side by side;
# their faces, and those left with --optimize.
for image, name in (("tests/mesh/textured/moss.png", "wall.png"), ("fuzz/image-seeds/baseline.jpg", "floor.jpg"),
                    ("tests/mesh/textured/stone.bmp", "brick.bmp")):
    shutil.copy(os.path.join(source, image), os.path.join(work, name))
made = {"row": ([f"box={x},0,0,{x + 1},1,1,0" for x in range(2800)], 16800, 11202),
        "solid": ([f"box={i % 3},{i // 3 % 3},{i // 9},{i % 3 + 1},{i // 3 % 3 + 1},{i // 9 + 1},{i % 11 - 1}"
                   for i in range(27)], 162, 54),
        "empty": ([], 0, 0),
        # two mirrored cubes (drawn on their front sides) with every texture
        # coordinate 0: faces in one plane share glTF vertices on their common
        # edge, so some faces' corners are partly first uses
        "flat": (["box=1,0,0,0,1,1,0", "box=2,0,0,1,1,1,0"] +
                 [f"{b}.{uv}{f}.{k}=0" for b in (0, 1) for uv in "uv" for f in range(6) for k in range(4)], 12, 10)}
files = [(os.path.join(source, name), os.path.join(source, name.replace("-optimized", "")), None, None)
         for name in ("examples/cube", "examples/stairs", "examples/courtyard", "examples/courtyard-optimized",
                      "fuzz/seeds/names-edge", "tests/mesh/textured/steps")]
for name, (boxes, faces, optimized) in made.items():
    subprocess.run([make_map, os.path.join(work, name + ".bd1"), "0=wall.png", "1=floor.jpg", "2=brick.bmp", "3=a\\r\\nb",
                    "5=x", "6=x_9", "7=", "9=x", *boxes], check=True)
    for option, count in (("", faces), ("--optimize", optimized)):
        base = os.path.join(work, name + "-optimized" * bool(option))
        for ext in (".obj", ".glb") + (".mqo",) * bool(option):
            run = subprocess.run([cli, os.path.join(work, name + ".bd1"), base + ext] + [option] * bool(option), capture_output=True)
            check(run.returncode == 0, f"{base}{ext}: {run.stderr}")
        files.append((base, os.path.join(work, name), count, optimized))
for base, map_base, count, kept in files:
    names, expected = read_map(map_base + ".bd1")
    used = {g for g, _ in expected}
    obj, glb = read_obj(base, names, used), read_glb(base, names, used)
    for faces, ext in ((obj, ".obj"), (glb, ".glb")):
        match(faces, expected, not base.endswith("optimized"), base + ext)
        check(count is None or len(faces) == count, f"{base}{ext}: {len(faces)} faces, not {count}")
    check(len(glb) == len(obj), f"{base}: the OBJ and glb hold different faces")
    glbs.append(base + ".glb")
    if os.path.exists(base + "-optimized.mqo"):
        # The options leave the faces that meet none (every face of a map
        # whose faces meet none), each on its corners' shared vertices, and a
        # number outside 0-9 has the eleventh material.
        mqo, materials = read_mqo(base + "-optimized")
        at_cut = [(g, ([(tuple(fixed(x, 4) for x in p), tuple(fixed(t, 5) for t in uv)) for p, uv in face[0]], face[1]))
                  for g, face in expected]
        match(sorted(mqo, key=lambda face: face[0]), at_cut, kept is None, base + "-optimized.mqo")
        check(kept is None or len(mqo) == kept, f"{base}-optimized.mqo: {len(mqo)} faces, not {kept}")
        check(materials == 10 + (10 in used), f"{base}-optimized.mqo: {materials} materials")
# The CLI finds the textured map's images as the fixtures' writer does.
steps = os.path.join(source, "tests", "mesh", "textured", "steps")
subprocess.run([cli, steps + ".bd1", os.path.join(work, "steps.glb")], capture_output=True)
check(open(os.path.join(work, "steps.glb"), "rb").read() == open(steps + ".glb", "rb").read(), "the CLI's textured glb")
here = os.path.dirname(os.path.abspath(__file__))
check(os.path.isdir(os.path.join(here, "node_modules", "gltf-validator")), "the glTF validator: run npm ci in tests/mesh")
script = """const v = require('gltf-validator'), fs = require('fs');
(async () => { for (const f of process.argv.slice(1)) {
  const r = await v.validateBytes(new Uint8Array(fs.readFileSync(f)));
  console.log(r.issues.numErrors + r.issues.numWarnings, f); } })();"""
report = subprocess.run(["node", "-e", script] + glbs, cwd=here, capture_output=True, text=True).stdout.splitlines()
check(len(report) == len(glbs) and all(line.split()[0] == "0" for line in report),
      f"the validator finds errors or warnings (count, file): {report}")
shutil.rmtree(work)
print(f"mesh readback: {'0 passed, 1 failed' if failures else '1 passed, 0 failed'}")
sys.exit(bool(failures))
