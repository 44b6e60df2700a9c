"""File > Import > Block data (.bd1): converts the map with blockmqo-cli into a
glb in a temporary folder, and imports that with Blender's own glTF importer.
The conversion is the converter's alone; this add-on only finds it, passes
the options on and shows what it says."""
import os
import shutil
import subprocess
import tempfile

import bpy
from bpy.props import BoolProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

bl_info = {
    "name": "Block data importer (blockmqo)",
    "author": "the blockmqo developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > Block data (.bd1)",
    "description": "Imports block data maps (.bd1) as meshes with their textures, through blockmqo-cli",
    "category": "Import-Export",
}

CONVERTER = "blockmqo-cli.exe" if os.name == "nt" else "blockmqo-cli"


class BlockmqoPreferences(bpy.types.AddonPreferences):
    # As an extension the module is bl_ext.REPOSITORY.blockmqo_import.
    bl_idname = __package__

    converter: StringProperty(
        name="blockmqo-cli", subtype="FILE_PATH",
        description="The converter to run; when empty, the one beside this add-on, then the one on PATH")

    def draw(self, context):
        self.layout.prop(self, "converter")


def find_converter(context):
    """The converter to run, and every place looked at (for the message when
    there is none)."""
    prefs = context.preferences.addons.get(__package__)
    chosen = bpy.path.abspath(prefs.preferences.converter) if prefs and prefs.preferences.converter else ""
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), CONVERTER)
    looked = ([chosen + " (the add-on's preferences)"] if chosen else []) + [beside, "PATH"]
    for path in filter(None, [chosen, beside]):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path, looked
    return shutil.which(CONVERTER), looked


def converter_lines(stderr):
    """What the converter said, one line each, without its name before it."""
    prefix = "blockmqo-cli: "
    return [line[len(prefix):] if line.startswith(prefix) else line
            for line in stderr.splitlines() if line.strip()]


class ImportBlockData(bpy.types.Operator, ImportHelper):
    """Import a block data map (.bd1) as a mesh with its textures"""
    bl_idname = "import_scene.bd1"
    bl_label = "Import Block Data"
    bl_options = {"REGISTER", "UNDO", "PRESET"}

    filename_ext = ".bd1"
    filter_glob: StringProperty(default="*.bd1", options={"HIDDEN"})
    remove_hidden_faces: BoolProperty(
        name="Remove hidden faces", default=True,
        description="Leave out each pair of faces of two blocks that lie on the same four points facing each other")
    share_vertices: BoolProperty(
        name="Share vertices", default=True, description="Make corners at the same position one vertex")
    texture_folders: StringProperty(
        name="Texture folders",
        description=f"Folders to look for the map's images in, separated by '{os.pathsep}'; "
                    "the first holding a file wins. When empty, the map's own folder")

    def execute(self, context):
        converter, looked = find_converter(context)
        if not converter:
            self.report({"ERROR"}, "blockmqo-cli was not found; looked at: " + "; ".join(looked))
            return {"CANCELLED"}
        # An absolute path never starts with '-', so it is never taken for an option.
        source = os.path.abspath(bpy.path.abspath(self.filepath))
        name = os.path.splitext(os.path.basename(source))[0]
        args = [converter, "-f", "glb"]
        args += ["--remove-hidden-faces"] if self.remove_hidden_faces else []
        args += ["--share-vertices"] if self.share_vertices else []
        for folder in filter(None, (f.strip() for f in self.texture_folders.split(os.pathsep))):
            args += ["--textures", os.path.abspath(bpy.path.abspath(folder))]
        # A file Windows still holds must not turn an import into a traceback.
        with tempfile.TemporaryDirectory(prefix="blockmqo-", ignore_cleanup_errors=True) as folder:
            glb = os.path.join(folder, "map.glb")
            try:
                # No console window flashes up on Windows; the converter
                # speaks UTF-8 there too (its manifest's code page).
                run = subprocess.run(args + [source, "-o", glb], stdin=subprocess.DEVNULL, capture_output=True,
                                     encoding="utf-8", errors="replace",
                                     creationflags=getattr(subprocess, "CREATE_NO_WINDOW", 0))
            except OSError as error:
                self.report({"ERROR"}, f"Could not run {converter}: {error.strerror or error}")
                return {"CANCELLED"}
            said = converter_lines(run.stderr)
            if run.returncode != 0:
                self.report({"ERROR"}, "\n".join(said) or f"blockmqo-cli stopped with status {run.returncode}")
                return {"CANCELLED"}
            before = set(bpy.data.objects)
            try:
                # Flat, as the blocks' faces are; Blender 3.4's smooth shading also fails on newer NumPy.
                result = bpy.ops.import_scene.gltf(filepath=glb, import_shading="FLAT")
            except RuntimeError as error:
                self.report({"ERROR"}, f"The glTF importer failed on the converted map: {error}")
                return {"CANCELLED"}
            # The importer packs the glb's images into the .blend, so they
            # outlive the folder about to go.
            if result != {"FINISHED"}:
                self.report({"ERROR"}, "The glTF importer did not import the converted map")
                return {"CANCELLED"}
        self.name_objects(context, [o for o in bpy.data.objects if o not in before], name)
        for line in said:
            self.report({"WARNING"}, line)
        return {"FINISHED"}

    @staticmethod
    def name_objects(context, objects, name):
        """The map's objects take its file's name, and are what is selected."""
        for obj in context.view_layer.objects:
            obj.select_set(False)
        for obj in objects:
            obj.name = name
            if obj.data is not None:
                obj.data.name = name
            obj.select_set(True)
        if objects:
            context.view_layer.objects.active = objects[0]

    def draw(self, context):
        for prop in ("remove_hidden_faces", "share_vertices", "texture_folders"):
            self.layout.prop(self, prop)


def menu_import(self, context):
    self.layout.operator(ImportBlockData.bl_idname, text="Block data (.bd1)")


CLASSES = (BlockmqoPreferences, ImportBlockData)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)


def unregister():
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
