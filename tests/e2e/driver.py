"""Stages installations in the Wine prefix and runs the real Uninst.exe there, for the checker's tests
and the demo; the end-to-end tests themselves are the native e2e_tests.exe.

The Wine prefix, wineserver and X display come from the environment (scripts/wine-session.sh).
The message box is found by its exact caption and answered with real key presses (xdotool);
a small Windows helper, e2e_probe.exe, shows a program's output on a console of its own.
"""
import os
import shutil
import subprocess
import time
from pathlib import Path

UNINST_EXE = Path(os.environ["UNINST_EXE"])
PROBE_EXE = Path(os.environ["UNINST_PROBE"])
CHECK_EXE = os.environ.get("UNINST_CHECK")
DRIVE_C = Path(os.environ["WINEPREFIX"]) / "drive_c"
# Wine under the Chinese locale: ANSI and OEM code page 936 (scripts/wine-session.sh makes the locale).
CHINESE = {"LOCPATH": str(Path(os.environ["WINEPREFIX"]).parent / "locale"), "LC_ALL": "zh_CN.UTF-8"}
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorill2010"


def wine(*args, **kwargs):
    return subprocess.run(["wine", *map(str, args)], capture_output=True, encoding="utf-8", errors="replace",
                          timeout=60, **kwargs)


def windows_path(path):
    """The C: path of a file under the prefix's drive_c."""
    return "C:\\" + "\\".join(Path(path).relative_to(DRIVE_C).parts)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10).stdout.split()


def wait_for(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(step)
    return condition()


def uninstall_key_exists(view=32):
    return wine("reg", "query", UNINSTALL_KEY, f"/reg:{view}").returncode == 0


class Installation:
    """A staged installation of the product: the uninstaller, what its manifest lists, and decoys."""

    def __init__(self, name):
        self.root = DRIVE_C / "Program Files" / "Zembrat" / name
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        self.exe = self.root / "Uninst.exe"
        shutil.copy(UNINST_EXE, self.exe)
        self.manifest = self.root / "Uninst.ini"
        self.files = []
        self.dirs = []

    def add_file(self, relative, content=b"Zembrat"):
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        self.files.append(path)
        return path

    def add_dir(self, relative):
        path = self.root / relative
        path.mkdir(parents=True, exist_ok=True)
        self.dirs.append(path)
        return path

    def add_decoy(self, relative, content=b"not listed"):
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def write_manifest(self, files=None, dirs=None, encoding="gbk"):
        """Lists of paths are keyed 0, 1, ...; a dict gives the keys. Values other than paths are written as
        they stand. Encodings: "gbk", "utf-16" (little-endian with a byte order mark), "utf-8-sig"."""
        def section(name, entries):
            keyed = entries.items() if isinstance(entries, dict) else enumerate(entries)
            return [f"[{name}]"] + [f"{k}={windows_path(v) if isinstance(v, Path) else v}" for k, v in keyed]

        text = "\r\n".join(section("Files", self.files if files is None else files) +
                            section("Dirs", self.dirs if dirs is None else dirs)) + "\r\n"
        bom = b"\xff\xfe" if encoding == "utf-16" else b""
        self.manifest.write_bytes(bom + text.encode("utf-16-le" if encoding == "utf-16" else encoding))

    def tree(self):
        """The C: path of the folder, if it is there, and of everything in it."""
        return {windows_path(p) for p in [self.root, *self.root.rglob("*")] if p.exists() or p.is_symlink()}


def check(*args, env=None):
    """Runs UninstCheck.exe; returns its exit code and its output lines, each split at the tabs."""
    result = subprocess.run(["wine", CHECK_EXE, *map(str, args)], capture_output=True, timeout=60,
                            env={**os.environ, **(env or {})})
    return result.returncode, [line.split("\t") for line in result.stdout.decode("utf-8").splitlines()]


class Run:
    """One start of the uninstaller, or of a program that starts it, from a working directory that holds no
    manifest of ours."""

    def __init__(self, *command, cwd=DRIVE_C / "windows" / "system32"):
        self.process = subprocess.Popen(["wine", *map(str, command)], cwd=cwd,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def answer(self, key):
        """Presses a key on the box captioned exactly "Zembrat"."""
        windows = wait_for(lambda: xdotool("search", "--name", "^Zembrat$"), 10)
        assert windows, "no message box"
        for _ in range(2):
            xdotool("windowfocus", windows[0])
            xdotool("key", "--clearmodifiers", key)
            if wait_for(lambda: not xdotool("search", "--name", "^Zembrat$"), 3):
                return
        raise AssertionError("the message box did not take the key " + key)

    def close_boxes(self, seconds=30):
        """Presses Return on each box captioned "Zembrat" that comes until the process ends: the boxes of
        what stayed and of a restart (No is their default). Whether it ended."""
        deadline = time.monotonic() + seconds
        while self.process.poll() is None and time.monotonic() < deadline:
            for window in xdotool("search", "--name", "^Zembrat$"):
                xdotool("windowfocus", window)
                xdotool("key", "--clearmodifiers", "Return")
            time.sleep(0.1)
        return self.process.poll() is not None

    def wait(self, seconds=30):
        return self.process.wait(timeout=seconds)
