#!/usr/bin/env python3
"""Reads the committed OBJ, MTL and glb files beside the examples back on its
own and compares them with their maps: every face's positions, UVs, winding
and material, every glb accessor and bound. Without options the files hold
every face of the map; the optimized ones a subsequence of them (in order,
grouped by texture), since hidden faces go. Usage: readback.py EXAMPLES"""
import json, os, struct, sys

examples = sys.argv[1]
CORNERS = [(0, 1, 2, 3), (7, 6, 5, 4), (4, 5, 1, 0), (5, 6, 2, 1), (6, 7, 3, 2), (7, 4, 0, 3)]
failures = 0


def check(ok, what):
    global failures
    if not ok:
        failures += 1
        print("FAIL:", what)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def read_map(path):
    """Names and, grouped by texture (file order within a group), each face:
    its four corners' (position, uv) as listed, and its block's centre."""
    data = open(path, "rb").read()
    names = [data[31 * i:31 * i + 31].split(b"\0")[0].decode("latin-1") for i in range(10)]
    groups = {}
    for b in range(struct.unpack_from("<h", data, 310)[0]):
        r = struct.unpack_from("<72f6i", data, 312 + 316 * b)
        points = [(-r[c], r[8 + c], r[16 + c]) for c in range(8)]
        centre = [sum(p[j] for p in points) / 8 for j in range(3)]
        for f in range(6):
            corners = [(points[CORNERS[f][3 - k]], (r[24 + 4 * f + k], r[48 + 4 * f + k])) for k in range(4)]
            groups.setdefault(r[72 + f] if 0 <= r[72 + f] <= 9 else 10, []).append((corners, centre))
    return names, [(g, face) for g in sorted(groups) for face in groups[g]]


def outward(points, centre):
    normal = [0.0, 0.0, 0.0]
    for a, b in zip(points, points[1:] + points[:1]):
        for j in range(3):
            k, l = (j + 1) % 3, (j + 2) % 3
            normal[j] += (a[k] - b[k]) * (a[l] + b[l])
    middle = [sum(p[j] for p in points) / len(points) for j in range(3)]
    return sum(normal[j] * (middle[j] - centre[j]) for j in range(3)) > 0


def obj_name(names, g):
    if g == 10:
        return "texture_number_outside_0-9"
    return "".join("_" if ord(ch) <= 32 or ord(ch) == 127 else ch for ch in names[g]) or "empty"


def match(written, expected, full, what):
    """written: [(group, [(position, uv)], polygons)]; each must be the next
    expected face of its group, with the same corners, each of its polygons
    (lists of positions) turning out of the face's block."""
    at = 0
    for group, corners, polygons in written:
        while at < len(expected) and not (expected[at][0] == group and sorted(expected[at][1][0]) == sorted(corners)):
            check(not full, f"{what}: face {expected[at]} missing")
            at += 1
        check(at < len(expected), f"{what}: face {group} {corners} is not the map's next")
        if at < len(expected):
            for polygon in polygons:
                check(outward(polygon, expected[at][1][1]), f"{what}: {polygon} faces into its block")
        at += 1
    check(not full or at == len(expected), f"{what}: {len(expected) - at} faces missing at the end")


def read_obj(base, names):
    lines = open(base + ".obj").read().split("\n")
    check(lines[:3] == ["# blockmqo", f"mtllib {os.path.basename(base)}.mtl", "o map"], f"{base}.obj: head {lines[:3]}")
    v, vt, faces, group = [], [], [], None
    by_name = {obj_name(names, g): g for g in range(11)}
    for line in lines[3:]:
        word, *rest = line.split(" ") if line else [""]
        if word == "v":
            v.append(tuple(f32(float(x)) for x in rest))
        elif word == "vt":
            vt.append((f32(float(rest[0])), f32(1 - f32(float(rest[1])))))
        elif word == "usemtl":
            group = by_name[rest[0]]
        elif word == "f":
            corners = [(v[int(c.split("/")[0]) - 1], vt[int(c.split("/")[1]) - 1]) for c in rest]
            faces.append((group, corners, [[p for p, _ in corners]]))
    mtl = open(base + ".mtl").read()
    for g in sorted({face[0] for face in faces}):
        texture = f"map_Kd {names[g]}\n" if g < 10 and names[g] else ""
        check(f"\nnewmtl {obj_name(names, g)}\nKd 1 1 1\n{texture}" in mtl, f"{base}.mtl: material {g}")
    return faces


def read_glb(base, names):
    data = open(base + ".glb", "rb").read()
    magic, version, total, json_length, json_type = struct.unpack_from("<4sIIII", data)
    check((magic, version, total, json_type) == (b"glTF", 2, len(data), 0x4E4F534A), f"{base}.glb: header")
    doc = json.loads(data[20:20 + json_length])
    binary = data[28 + json_length:]
    check(struct.unpack_from("<I", data, 20 + json_length)[0] == len(binary) == doc["buffers"][0]["byteLength"],
          f"{base}.glb: BIN length")

    def accessor(i):
        a = doc["accessors"][i]
        view = doc["bufferViews"][a["bufferView"]]
        size = {"VEC3": 3, "VEC2": 2, "SCALAR": 1}[a["type"]]
        code = {5126: "f", 5123: "H", 5125: "I"}[a["componentType"]]
        values = struct.unpack_from(f"<{a['count'] * size}{code}", binary, view["byteOffset"])
        check(view["byteLength"] == a["count"] * size * struct.calcsize(code), f"{base}.glb: accessor {i} length")
        return a, [values[k:k + size] for k in range(0, len(values), size)]

    faces = []
    for prim in doc["meshes"][0]["primitives"]:
        material = doc["materials"][prim["material"]]
        group = 10 if material["name"] == "texture number outside 0-9" else \
            next(g for g in range(10) if (names[g] or "empty") == material["name"])
        a, positions = accessor(prim["attributes"]["POSITION"])
        check(a["min"] == [min(p[j] for p in positions) for j in range(3)] and
              a["max"] == [max(p[j] for p in positions) for j in range(3)], f"{base}.glb: bounds of {group}")
        uvs = accessor(prim["attributes"]["TEXCOORD_0"])[1]
        indices = [i[0] for i in accessor(prim["indices"])[1]]
        corners = [(positions[i], uvs[i]) for i in indices]
        # Two triangles a face, (0 1 2) and (0 2 3) of its corners, each outward.
        for t in range(0, len(corners), 6):
            first, second = corners[t:t + 3], corners[t + 3:t + 6]
            quad = first + [c for c in second if c not in first]
            faces.append((group, quad, [[p for p, _ in first], [p for p, _ in second]]))
            check(len(quad) == 4 and first[0] == second[0], f"{base}.glb: triangles {first} {second}")
    return faces


for name in ("cube", "stairs", "courtyard", "courtyard-optimized"):
    base = os.path.join(examples, name)
    names, expected = read_map(os.path.join(examples, name.split("-")[0] + ".bd1"))
    full = not name.endswith("optimized")
    match(read_obj(base, names), expected, full, base + ".obj")
    glb = read_glb(base, names)
    match(glb, expected, full, base + ".glb")
    check(len(glb) == len(read_obj(base, names)), f"{base}: the OBJ and glb hold different faces")
print(f"mesh readback: {'0 passed, 1 failed' if failures else '1 passed, 0 failed'}")
sys.exit(failures > 0)
