#!/usr/bin/env python3
"""Runs the shell examples of README.md and docs/*.md, so that what they show
stays true. An example is a ```sh block right after a line `<!-- exit N -->`,
N its expected exit status. Each runs under `bash -e -o pipefail` in a scratch
folder of its own holding a copy of examples/; a comment line in it that starts
`# blockmqo-cli:` must be a line of its standard error. Every relative link
and picture of those files must name a file that exists.
Usage: run_examples.py SOURCE_DIR   (with blockmqo-cli on PATH)"""
import glob, os, re, shutil, subprocess, sys, tempfile

root = sys.argv[1]
EXAMPLE = re.compile(r"^<!-- exit (\d+) -->\n```sh\n(.*?)^```$", re.M | re.S)
LINK = re.compile(r"\]\(([^):#]+)[)#]")  # no scheme: a file of this tree
passed = failed = 0
for doc in [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md"))):
    text = open(doc, encoding="utf-8").read()
    for target in LINK.findall(text):
        if not os.path.exists(os.path.join(os.path.dirname(doc), target)):
            failed += 1
            print(f"{os.path.relpath(doc, root)}: the link {target} names no file")
    for example in EXAMPLE.finditer(text):
        status, script = int(example[1]), example[2]
        with tempfile.TemporaryDirectory() as scratch:
            shutil.copytree(os.path.join(root, "examples"), os.path.join(scratch, "examples"))
            run = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", script], cwd=scratch,
                                 capture_output=True, text=True)
        said = [line[2:] for line in script.splitlines() if line.startswith("# blockmqo-cli:")]
        unsaid = [line for line in said if line not in run.stderr.splitlines()]
        if run.returncode == status and not unsaid:
            passed += 1
            continue
        failed += 1
        where = f"{os.path.relpath(doc, root)}:{text.count(chr(10), 0, example.start()) + 1}"
        print(f"{where}: exit {run.returncode} (expected {status}); not on standard error: {unsaid}")
        print(script + run.stdout[-2000:] + run.stderr[-2000:])
print(f"docs examples: {passed} passed, {failed} failed")
# No example found means the marks were lost: that is a failure too.
sys.exit(0 if passed and not failed else 1)
