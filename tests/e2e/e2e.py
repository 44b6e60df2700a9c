#!/usr/bin/env python3
"""Drives the desktop programs through their real dialogs, as a user would.

Runs an X server (Xvfb) with a window manager (openbox) and types into the
dialogs with xdotool. Every wait is bounded; a failed case leaves a
screenshot in the output folder. Usage:

  e2e.py --out DIR --cli BLOCKMQO_CLI --examples DIR
         [--gtk PROGRAM] [--windows PROGRAM.exe --wine WINE_RUN --probe PROBE.exe]

What a dialog says (its filter, a message's text, its buttons, an icon) is
read from the running program: window_probe.exe asks the Windows program's
windows under Wine, atspi_probe.py asks the GTK program over the
accessibility bus of a session bus started here.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OPEN, SAVE, ERROR = "Open block data file", "Save MQO file", "Error"


class Failure(Exception):
    pass


class Display:
    def __init__(self):
        for number in range(91, 120):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                break
        self.name = f":{number}"
        self.env = dict(os.environ, DISPLAY=self.name, GSETTINGS_BACKEND="memory")
        self.env.pop("NO_AT_BRIDGE", None)
        self.bus = None
        if shutil.which("dbus-daemon"):
            # A session bus of our own, for the GTK programs' accessibility bridge.
            self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.stdout.readline().strip()
        self.xvfb = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while subprocess.run(["xdotool", "getmouselocation"], env=self.env, capture_output=True).returncode:
            if time.time() > deadline:
                raise Failure("the X server did not start")
            time.sleep(0.1)
        self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=20).stdout

    def windows(self, title):
        """Visible windows whose title is exactly `title`."""
        return [w for w in self.xdotool("search", "--onlyvisible", "--name", f"^{title}$").split() if w]

    def all_windows(self):
        # Untitled windows too (GTK's overwrite confirmation has no title).
        return set(self.xdotool("search", "--onlyvisible", "--name", ".").split()) | \
            set(self.xdotool("search", "--onlyvisible", "--classname", ".").split())

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=30)

    def close(self):
        for p in (self.wm, self.xvfb, self.bus):
            if p is None:
                continue
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()


class Program:
    """One run of a desktop program, killed at the end whatever happens."""

    def __init__(self, display, kind, command, user=None):
        self.d, self.kind = display, kind
        # Whatever runs as the program's user: the program and its probe.
        self.prefix = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] if user else []
        self.env = dict(display.env)
        self.bus = None
        if user:
            self.env["HOME"] = tempfile.mkdtemp(prefix="e2e-home-")
            os.chown(self.env["HOME"], user, user)
            if display.bus:
                # A session bus admits only its own user: another user gets its own.
                self.bus = subprocess.Popen([*self.prefix, "dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                            text=True, start_new_session=True)
                self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.stdout.readline().strip()
        self.proc = subprocess.Popen([*self.prefix, *command], env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.seen = set()

    def wait_window(self, title, timeout=60, exclude=()):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = [w for w in self.d.windows(title) if w not in exclude]
            if found:
                self.seen.add(title)
                time.sleep(0.7)  # let it take focus and finish drawing
                return found[0]
            if self.proc.poll() is not None:
                raise Failure(f"the program ended (status {self.proc.returncode}) before '{title}' appeared")
            time.sleep(0.2)
        raise Failure(f"no window '{title}' within {timeout} s")

    def wait_new_window(self, before, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            new = self.d.all_windows() - before
            if new:
                time.sleep(0.7)
                return new.pop()
            time.sleep(0.2)
        raise Failure("no confirmation window appeared")

    def focus(self, window):
        self.d.xdotool("windowactivate", "--sync", window)
        self.d.xdotool("windowfocus", "--sync", window)

    def key(self, *keys):
        self.d.xdotool("key", "--delay", "60", *keys)

    def type_path(self, window, path, dialog):
        self.focus(window)
        if self.kind == "windows":
            path = "Z:" + path.replace("/", "\\")
        elif dialog == OPEN:
            self.key("ctrl+l")  # the location entry
        else:
            self.key("ctrl+a")
        time.sleep(0.3)
        self.d.xdotool("type", "--delay", "15", path)
        time.sleep(0.3)
        self.key("Return")

    def wait_gone(self, title, timeout=20):
        deadline = time.time() + timeout
        while self.d.windows(title) and self.proc.poll() is None:
            if time.time() > deadline:
                raise Failure(f"'{title}' did not close")
            time.sleep(0.1)

    def wait_exit(self, timeout=60, watch=(), known=None):
        """Waits for the end; fails if a watched window shows up meanwhile,
        or, given the windows `known` before, any window not among them."""
        for title in watch:
            self.wait_gone(title, 10)  # the dialog just answered may still be closing
        deadline = time.time() + timeout
        while time.time() < deadline:
            for title in watch:
                if self.d.windows(title):
                    raise Failure(f"unexpected window '{title}'")
            if known is not None:
                new = self.d.all_windows() - known
                if new and self.proc.poll() is None:
                    names = [self.d.xdotool("getwindowname", w).strip() for w in new]
                    raise Failure(f"a window appeared after the save dialog: {names}")
            if self.proc.poll() is not None:
                return self.proc.returncode
            time.sleep(0.2)
        raise Failure(f"the program did not end within {timeout} s")

    def kill(self):
        for proc in (self.proc, self.bus):
            if proc is not None and proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait(10)


def snapshot(folder):
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


class Suite:
    def __init__(self, args, display, kind, command):
        self.args, self.d, self.kind, self.command = args, display, kind, command
        self.passed = self.failed = 0

    def expected(self, bd1):
        out = os.path.join(tempfile.mkdtemp(prefix="e2e-cli-"), "expected.mqo")
        subprocess.run([self.args.cli, "--quiet", bd1, out], check=True)
        return open(out, "rb").read()

    def run(self, name, case, user=None):
        work = tempfile.mkdtemp(prefix=f"e2e-{self.kind}-")
        os.chmod(work, 0o755)
        shutil.copy(os.path.join(self.args.examples, "courtyard.bd1"), os.path.join(work, "map.bd1"))
        started = time.time()
        program = None
        try:
            program = Program(self.d, self.kind, self.command, user=user)
            case(self, program, work)
            self.passed += 1
            print(f"ok   {self.kind}: {name} ({time.time() - started:.1f} s)", flush=True)
        except (Failure, AssertionError, subprocess.TimeoutExpired) as e:
            self.failed += 1
            shot = os.path.join(self.args.out, f"failed-{self.kind}-{name}.png")
            self.d.screenshot(shot)
            print(f"FAIL {self.kind}: {name}: {e} (screenshot {shot})", flush=True)
        finally:
            if program:
                program.kill()
            shutil.rmtree(work, ignore_errors=True)

    def describe(self, p, title, timeout=15):
        """The probe's lines for the showing windows titled `title`."""
        if self.kind == "windows":
            command = [*p.prefix, self.args.wine, self.args.probe, title]
        else:
            # Debian's interpreter: it is the one with the GObject bindings.
            command = [*p.prefix, "/usr/bin/python3", "-W", "ignore", os.path.join(HERE, "atspi_probe.py"), title]
        deadline = time.time() + timeout
        while True:
            r = subprocess.run(command, env=p.env, capture_output=True, text=True, timeout=60)
            lines = [line.strip() for line in r.stdout.splitlines()]
            # The accessibility tree fills in a moment after the window maps.
            if r.returncode == 0 and any(line.startswith("control ") for line in lines):
                return lines
            if time.time() > deadline:
                raise Failure(f"could not read the window '{title}': {r.stderr.strip()[-300:]}")
            time.sleep(0.3)

    def check_filter(self, p, title, name):
        """The dialog offers exactly one file type, `name`."""
        lists = [line.split(" items=", 1)[1] for line in self.describe(p, title) if " items=" in line]
        check(name in lists, f"'{title}' does not offer the single filter '{name}': {lists}")

    def check_message(self, p, text):
        """An "Error" box: this text, a single OK button, no icon."""
        lines = self.describe(p, ERROR)
        texts = [line.split(" text=", 1)[1] for line in lines if " text=" in line]
        buttons = [line.split(" text=", 1)[1] for line in lines
                   if line.startswith(("control Button ", "control push button "))]
        check(text in texts, f"the message does not say '{text}': {texts}")
        check([b.replace("&", "").replace("_", "") for b in buttons] == ["OK"],
              f"the message's buttons are {buttons}, not a single OK")
        icons = [line for line in lines if "icon=yes" in line or line.startswith(("control icon ", "control image "))]
        check(not icons, f"the message shows an icon: {icons}")

    def shot(self, name):
        if self.args.shots and name:
            self.d.screenshot(os.path.join(self.args.shots, f"{self.kind}-{name}.png"))


def check(condition, message):
    if not condition:
        raise Failure(message)


def cancel(s, p, work, dialog):
    """Escape in either dialog: exit status 1, nothing written, no save dialog after the open one."""
    before = snapshot(work)
    if dialog == SAVE:
        p.type_path(p.wait_window(OPEN), f"{work}/map.bd1", OPEN)
    w = p.wait_window(dialog)
    s.shot("open-dialog" if dialog == OPEN else "save-dialog")
    s.check_filter(p, dialog, "Block Data version1" if dialog == OPEN else "Metasequoia Document")
    p.focus(w)
    p.key("Escape")
    check(p.wait_exit(watch=[SAVE] if dialog == OPEN else []) == 1, "exit status is not 1")
    check(dialog == SAVE or SAVE not in p.seen, "the save dialog appeared")
    check(snapshot(work) == before, "files changed")


def convert(s, p, work, open_as, save_as, existing, message):
    """Chooses the two files, confirms replacing an existing target, and then
    either sees `message` in the one message box, with every file left as it
    was, or sees the program end without another window, with the document
    at the target and nothing else written."""
    target, expected = f"{work}/{save_as}", s.expected(f"{work}/map.bd1")
    if existing is not None and save_as != "map.bd1":
        with open(target, "wb") as f:
            f.write(existing)
    if message and existing is not None:  # a read-only target
        os.chmod(target, 0o444)
        if s.kind == "windows":
            subprocess.run([s.args.wine, "cmd", "/c", "attrib", "+r", "Z:" + target.replace("/", "\\")],
                           capture_output=True, timeout=60)
    before = snapshot(work)
    # GTK's chooser only returns existing files: a missing input goes away
    # between the two dialogs instead.
    gone = open_as == "missing.bd1" and s.kind == "gtk"
    p.type_path(p.wait_window(OPEN), f"{work}/{'map.bd1' if gone else open_as}", OPEN)
    w = p.wait_window(SAVE)
    if gone:
        os.remove(f"{work}/map.bd1")
        del before["map.bd1"]
    known = p.d.all_windows()
    p.type_path(w, target, SAVE)
    if existing is not None:
        confirm = p.wait_new_window(known)
        known.add(confirm)
        s.shot("overwrite-confirmation" if save_as == "old.mqo" else None)
        p.focus(confirm)
        p.key("alt+y" if s.kind == "windows" else "alt+r")
    if message:
        w = p.wait_window(ERROR)
        s.shot("error-message" if open_as == "missing.bd1" else None)
        s.check_message(p, message)
        p.focus(w)
        p.key("Return")
        check(p.wait_exit(watch=[ERROR]) == 1, "exit status is not 1")
        check(snapshot(work) == before, "files changed")
    else:
        check(p.wait_exit(watch=[ERROR, SAVE, OPEN], known=known) == 1, "exit status is not 1")
        check(open(target, "rb").read() == expected, "the document differs from the command-line companion's")
        check(sorted(os.listdir(work)) == sorted(set(before) | {save_as}), f"files: {sorted(os.listdir(work))}")


# name, file typed in the open dialog, in the save dialog, bytes already at
# the target (confirmed), the message expected
CASES = [
    ("full run", "map.bd1", "map.mqo", None, None),
    ("name without extension", "map.bd1", "plain", None, None),  # used as typed
    ("missing input", "missing.bd1", "out.mqo", None, "Failed: open file (bd)"),
    ("read-only target", "map.bd1", "locked.mqo", b"keep me", "Failed: open file (mqo)"),
    ("missing directory", "map.bd1", "nodir/out.mqo", None, "Failed: open file (mqo)"),
    ("existing output is confirmed and replaced", "map.bd1", "old.mqo", b"old document", None),
    ("same file in both dialogs", "map.bd1", "map.bd1", b"", None),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--examples", required=True)
    ap.add_argument("--gtk")
    ap.add_argument("--windows")
    ap.add_argument("--wine")
    ap.add_argument("--probe", help="window_probe.exe, which reads the Windows dialogs")
    ap.add_argument("--shots", help="folder for screenshots of each dialog")
    ap.add_argument("--only", help="run only cases whose name contains this")
    args = ap.parse_args()
    for folder in (args.out, args.shots):
        os.makedirs(folder or args.out, exist_ok=True)
    if args.windows and not (args.wine and args.probe):
        ap.error("--windows needs --wine and --probe")
    builds = [(kind, command) for kind, command, given in
              [("gtk", [args.gtk], args.gtk), ("windows", [args.wine, args.windows], args.windows)] if given]
    cases = [(f"cancel in the {d.split()[0].lower()} dialog", lambda s, p, w, d=d: cancel(s, p, w, d)) for d in (OPEN, SAVE)]
    cases += [(c[0], lambda s, p, w, c=c: convert(s, p, w, *c[1:])) for c in CASES]

    display = Display()
    total_passed = total_failed = 0
    started = time.time()
    try:
        for kind, command in builds:
            if kind == "windows":
                # Warm the prefix once, on this display, before the timed cases:
                # Wine's desktop process starts here, not inside a case.
                # (Not captured: the services Wine starts would hold the pipes.)
                subprocess.run([args.wine, args.probe, OPEN], env=display.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=300)
            suite = Suite(args, display, kind, command)
            for name, case in cases:
                if args.only and args.only not in name:
                    continue
                if kind == "gtk" and name == "missing directory":
                    print(f"skip {kind}: {name} (the dialog refuses missing folders)")
                    continue
                # Root writes anything: GTK's read-only case runs as nobody.
                suite.run(name, case, user=65534 if kind == "gtk" and name == "read-only target" else None)
            total_passed += suite.passed
            total_failed += suite.failed
    finally:
        display.close()
    print(f"e2e: {total_passed} passed, {total_failed} failed ({time.time() - started:.0f} s)")
    return 0 if total_failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
