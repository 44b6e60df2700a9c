"""The Blender add-on as a user meets it, in Blender itself:
blender -b --factory-startup --python-exit-code 1 --python import_test.py -- ADDON.zip CLI_DIR TEXTURED_DIR
Installed from its zip, it imports maps as Blender imports their committed
glb files; shows the converter's warnings and failures, where it looked for
a missing converter; and leaves no temporary file."""
import os, sys, tempfile

import bpy

addon_zip, cli_dir, textured = sys.argv[sys.argv.index("--") + 1:]
examples, work = os.path.join(textured, "..", "..", "..", "examples"), os.path.dirname(os.path.abspath(addon_zip))
temp, checked, failures = set(os.listdir(tempfile.gettempdir())), [], []


def check(title, got, expected):
    checked.append(title)
    if got != expected:
        failures.append(title)
        print(f"FAIL: {title}\n  got:      {got!r}\n  expected: {expected!r}")


def load(path, **options):
    """Into an empty scene, Blender's import of a glb or the add-on's of a map:
    its result or error, the scene's objects, polygons, materials, images and
    sizes, and the warnings (Blender prints them on its standard output)."""
    for kind in (bpy.data.objects, bpy.data.meshes, bpy.data.materials, bpy.data.images):
        [kind.remove(item) for item in list(kind) if kind == bpy.data.objects or not item.users]
    sys.stdout.flush()
    saved, log = os.dup(1), os.open(os.path.join(work, "said.txt"), os.O_RDWR | os.O_CREAT | os.O_TRUNC)
    os.dup2(log, 1)
    try:
        result = bpy.ops.import_scene.gltf(filepath=path, import_shading="FLAT") if path.endswith(".glb") else \
            bpy.ops.import_scene.bd1(filepath=path, **options)
    except RuntimeError as error:
        result = str(error).strip()
    os.dup2(saved, 1), os.close(saved), os.close(log)
    said = [line for line in open(os.path.join(work, "said.txt")) if line.startswith("Warning: ")]
    meshes = [o for o in bpy.data.objects if o.type == "MESH"]
    return result, (len(bpy.data.objects), sum(len(o.data.polygons) for o in meshes),
                    sorted(m.name for o in meshes for m in o.data.materials),
                    sorted((i.name, tuple(i.size), tuple(round(p, 3) for p in i.pixels)) for i in bpy.data.images
                           if i.source == "FILE"), [tuple(round(d, 4) for d in o.dimensions) for o in meshes]), said


bpy.ops.preferences.addon_install(filepath=addon_zip)
bpy.ops.preferences.addon_enable(module="blockmqo_import")
beside = os.path.join(os.path.dirname(sys.modules["blockmqo_import"].__file__), "blockmqo-cli")
steps, cut = os.path.join(textured, "steps.bd1"), os.path.join(work, "cut.bd1")
open(cut, "wb").write(open(steps, "rb").read()[:700])
done, glb = {"FINISHED"}, load(os.path.join(textured, "steps.glb"))[1]
unoptimized = {"remove_hidden_faces": False, "share_vertices": False}
lost = "textures have no image in the glb (not found, unreadable, or over 8192 pixels a side); their names stay on"
for title, path, options, where, chosen, result, scene, said in [
        ("as the glb, without the options", steps, unoptimized, cli_dir, "", done, glb, []),
        ("the options on by default", os.path.join(examples, "courtyard.bd1"), {}, cli_dir, "", done,
         load(os.path.join(examples, "courtyard-optimized.glb"))[1], []),
        ("without its images, the converter's warning", steps, {**unoptimized, "texture_folders": work}, cli_dir, "",
         done, glb[:3] + ([],) + glb[4:],
         [f"Warning: warning: 3 {lost} their materials: C:\\maps\\Stone.BMP, moss.png, tex/wood.tga: {steps}\n"]),
        ("a cut map, the converter's message", cut, {}, cli_dir, "",
         f"Error: Failed: read file (bd): {cut}: shorter than its block count says", (0, 0, [], [], []), []),
        ("no converter, where it looked", steps, {}, work, "", f"Error: blockmqo-cli was not found; looked at: {beside}; PATH",
         (0, 0, [], [], []), []),
        ("the converter in the preferences", steps, unoptimized, work, f"{cli_dir}/blockmqo-cli", done, glb, [])]:
    os.environ["PATH"] = where
    bpy.context.preferences.addons["blockmqo_import"].preferences.converter = chosen
    check(title, load(path, **options), (result, scene, said))
obj = bpy.data.objects[0]
check("in File > Import; named after the map, selected, active, at its scale, flat, its three images kept in Blender",
      (sys.modules["blockmqo_import"].menu_import in bpy.types.TOPBAR_MT_file_import._dyn_ui_initialize(), obj.name,
       obj.data.name, obj.select_get(), bpy.context.view_layer.objects.active == obj, tuple(obj.scale),
       any(p.use_smooth for p in obj.data.polygons), [bool(i.packed_file) for i in bpy.data.images if i.source == "FILE"]),
      (True, "steps", "steps", True, True, (1.0, 1.0, 1.0), False, [True] * 3))
check("no temporary file left", sorted(set(os.listdir(tempfile.gettempdir())) - temp), [])
print(f"blender add-on: {len(checked) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
