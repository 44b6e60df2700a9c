#!/usr/bin/env python3
"""Drives the desktop programs through their real dialogs, as a user would:
xdotool types into them on a display of xvfb-run's, under openbox. What a
dialog says is read from the running program, not from pixels:
window_probe.exe asks the Windows program's windows under Wine, and
atspi_probe.py asks the GTK program over the accessibility bus of the
session bus that dbus-run-session starts. Usage:

  e2e.py --examples DIR --out DIR [--gtk PROGRAM]
         [--windows PROGRAM.exe --wine WINE_RUN --probe PROBE.exe] [--shots DIR]

A failed case leaves a screenshot in --out; --shots keeps one of each dialog.
"""
import argparse, os, shutil, subprocess, sys, tempfile, time

OPEN, SAVE, ERROR = "Open block data file", "Save MQO file", "Error"
FILTERS = {OPEN: "Block Data version1", SAVE: "Metasequoia Document"}
TOOLS = ["xvfb-run", "dbus-run-session", "xdotool", "openbox", "import", "/usr/bin/python3"]


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def xdotool(*args):
    """xdotool's words. Debian's xdotool dies of a BadWindow error when some
    other window closes while it searches; the search is then asked again."""
    for _ in range(5):
        r = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=60)
        if "BadWindow" not in r.stderr:
            return r.stdout.split()
    raise AssertionError(f"xdotool {' '.join(args)}: {r.stderr}")


class Run:
    """One run of a program, in a folder of its own holding cube.bd1."""

    def __init__(self, args, kind):
        self.args, self.kind, self.work = args, kind, tempfile.mkdtemp(prefix=f"e2e-{kind}-")
        shutil.copy(os.path.join(args.examples, "cube.bd1"), self.work)
        self.proc = subprocess.Popen([args.gtk] if kind == "gtk" else [args.wine, args.windows],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def files(self):
        return {name: open(os.path.join(self.work, name), "rb").read() for name in os.listdir(self.work)}

    def focus(self, title, *then):
        """Gives the window `title` the keyboard, once it shows; `then` are
        xdotool's next commands, such as key Escape."""
        found = xdotool("search", "--sync", "--onlyvisible", "--name", f"^{title}$")
        check(found, f"no window '{title}'")
        xdotool("windowactivate", "--sync", found[0], *then)

    def choose(self, title, name):
        """Types a file's name into the dialog `title` and accepts it."""
        self.focus(title)
        path = os.path.join(self.work, name)
        if self.kind == "windows":
            path = "Z:" + path.replace("/", "\\")
        if title == OPEN and self.kind == "gtk":
            xdotool("key", "ctrl+l")  # the location entry, which takes a moment to show
            time.sleep(0.5)
        xdotool("key", "ctrl+a")
        # The pause lets GTK's completion of the typed name settle first.
        xdotool("type", "--delay", "20", path)
        time.sleep(0.5)
        xdotool("key", "Return")

    def read(self, title, ready):
        """The probe's lines for the windows titled `title`, once `ready` holds
        for them (an accessibility tree fills in after its window maps)."""
        command = [self.args.wine, self.args.probe, title] if self.kind == "windows" else \
            ["/usr/bin/python3", "-W", "ignore", os.path.join(os.path.dirname(__file__), "atspi_probe.py"), title]
        deadline = time.time() + 30
        while True:
            r = subprocess.run(command, capture_output=True, text=True, timeout=120)
            lines = r.stdout.splitlines()
            if ready(lines):
                return lines
            check(time.time() < deadline, f"'{title}' did not show as expected: {lines} {r.stderr[-300:]}")
            time.sleep(0.5)

    def ends(self, before):
        """The program ends by itself (no window left open), with status 1,
        the folder as `before`."""
        check(self.proc.wait(60) == 1, f"exit status {self.proc.returncode}, not 1")
        check(self.files() == before, f"the folder holds {sorted(self.files())}, not {sorted(before)}")

    def shot(self, name, folder=None):
        if folder or self.args.shots:
            subprocess.run(["import", "-window", "root", os.path.join(folder or self.args.shots, name + ".png")],
                           capture_output=True, timeout=60)


def cancel(r, title):
    """Escape in either dialog ends the run; after the open dialog no save dialog blocks it."""
    before = r.files()
    if title == SAVE:
        r.choose(OPEN, "cube.bd1")
    lines = r.read(title, lambda lines: any(" items=" in line for line in lines))
    # One of the lists (the types', beside the folders' and the names') holds the lone filter.
    filters = [line.split(" items=")[1] for line in lines if " items=" in line]
    check(FILTERS[title] in filters, f"'{title}' offers {filters}, not the single '{FILTERS[title]}'")
    r.shot(f"{r.kind}-{'open' if title == OPEN else 'save'}-dialog")
    r.focus(title, "key", "Escape")
    r.ends(before)


def replace(r):
    """An existing target, named without an extension, is confirmed and then
    replaced by the document, under the name as typed; nothing else shows."""
    with open(os.path.join(r.work, "cube"), "wb") as f:
        f.write(b"old document")
    after = dict(r.files(), cube=open(os.path.join(r.args.examples, "cube.mqo"), "rb").read())
    r.choose(OPEN, "cube.bd1")
    r.choose(SAVE, "cube")
    yes = "control Button text=&Yes" if r.kind == "windows" else "control push button text=Replace"
    r.read(SAVE if r.kind == "windows" else "Question", lambda lines: yes in lines)
    r.shot(f"{r.kind}-overwrite-confirmation")
    xdotool("key", "alt+y" if r.kind == "windows" else "alt+r")
    r.ends(after)


def error(r):
    """A missing input: the one "Error" box, its text, a lone OK and no icon;
    nothing written. (GTK's chooser returns only existing files: the input
    goes away between the two dialogs instead.)"""
    r.choose(OPEN, "cube.bd1" if r.kind == "gtk" else "missing.bd1")
    r.focus(SAVE)
    os.remove(os.path.join(r.work, "cube.bd1"))
    r.choose(SAVE, "out.mqo")
    lines = r.read(ERROR, lambda lines: any(line.startswith("control") for line in lines))
    r.shot(f"{r.kind}-error-message")
    check(any(line.endswith(" text=Failed: open file (bd)") for line in lines), f"the message says {lines}")
    buttons = [line.split(" text=")[1] for line in lines if line.startswith(("control Button", "control push button"))]
    check([b.strip("&_") for b in buttons] == ["OK"], f"the message's buttons are {buttons}, not a lone OK")
    icons = [line for line in lines if "icon=yes" in line or line.startswith(("control icon", "control image"))]
    check(not icons, f"the message shows an icon: {icons}")
    r.focus(ERROR, "key", "Return")
    r.ends({})


CASES = [("cancel in the open dialog", lambda r: cancel(r, OPEN)),
         ("cancel in the save dialog", lambda r: cancel(r, SAVE)),
         ("an existing target confirmed and replaced", replace),
         ("a missing input", error)]


def main():
    ap = argparse.ArgumentParser()
    for option in ("--examples", "--out", "--gtk", "--windows", "--wine", "--probe", "--shots"):
        ap.add_argument(option, required=option in ("--examples", "--out"))
    args = ap.parse_args()
    if args.windows and not (args.wine and args.probe):
        ap.error("--windows needs --wine and --probe")
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"e2e: missing {missing} (scripts/install-deps)\n0 passed, 1 failed")
        return 1
    if "BLOCKMQO_E2E_SESSION" not in os.environ:  # into a display and a session bus of our own
        # A home of its own: GTK's chooser records recent files there.
        os.environ.update(BLOCKMQO_E2E_SESSION="1", GSETTINGS_BACKEND="memory", HOME=tempfile.mkdtemp())
        os.environ.pop("NO_AT_BRIDGE", None)
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24", "dbus-run-session", "--",
                               sys.executable, *sys.argv])
    for folder in (args.out, args.shots):
        os.makedirs(folder or args.out, exist_ok=True)
    subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    passed = failed = 0
    for kind in [k for k, given in (("gtk", args.gtk), ("windows", args.windows)) if given]:
        if kind == "windows":  # Wine's desktop process starts on this display, not inside a case
            subprocess.run([args.wine, args.probe, OPEN], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300)
        for name, case in CASES:
            started, r = time.time(), Run(args, kind)
            try:
                case(r)
                passed += 1
                print(f"ok   {kind}: {name} ({time.time() - started:.1f} s)", flush=True)
            except (AssertionError, subprocess.TimeoutExpired) as e:
                failed += 1
                r.shot(f"failed-{kind}-{name.replace(' ', '-')}", args.out)
                print(f"FAIL {kind}: {name}: {e} (screenshot in {args.out})", flush=True)
            finally:
                if r.proc.poll() is None:
                    os.killpg(r.proc.pid, 9)
                r.proc.wait()
                shutil.rmtree(r.work)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
