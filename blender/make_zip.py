"""Packs the Blender add-on into the zip a user installs (Preferences >
Add-ons > Install, or as an extension from disk): one folder,
blockmqo_import/, holding the add-on, its manifest and its licence, and where
given the converter to run beside it with the notices of the code inside it.
The same sources and SOURCE_DATE_EPOCH give the same bytes.
Usage: make_zip.py OUT.zip LICENSE [FILE...]   (FILE: blockmqo-cli.exe, notices)"""
import os, sys, time, zipfile

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "blockmqo_import")


def main(out, license_file, *extra):
    stamp = time.gmtime(max(int(os.environ.get("SOURCE_DATE_EPOCH", 315532800)), 315532800))[:6]
    files = [(os.path.join(HERE, n), n) for n in ("__init__.py", "blender_manifest.toml")]
    files += [(license_file, "LICENSE")] + [(path, os.path.basename(path)) for path in extra]
    with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for path, name in sorted(files, key=lambda f: f[1]):
            entry = zipfile.ZipInfo("blockmqo_import/" + name, stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read())
    os.replace(out + ".part", out)
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
