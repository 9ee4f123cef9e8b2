"""Stages a sample installation of Zembrat in a private Wine prefix, runs the uninstaller on it,
and leaves screenshots of each screen it passed and a listing of what went.

Without a display of your own the question is answered Yes for you on a private X display; with
one (WINE_SESSION_DISPLAY=keep and DISPLAY set) the windows appear there and you answer yourself.
"""
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from driver import (Installation, Run, add_uninstall_key, uninstall_key_exists, wait_for,  # noqa: E402
                    windows_path, xdotool)

SHOTS = Path(os.environ["UNINST_DEMO_SHOTS"])
HEADLESS = os.environ.get("WINE_SESSION_HEADLESS") == "1"


def screenshot(name, window):
    path = SHOTS / name
    subprocess.run(["import", "-window", window, str(path)], check=True)
    return path


def listing(install):
    lines = []
    for path in sorted(install.root.rglob("*")):
        if path.parent.name == "cache" and path.name.startswith("m"):
            continue
        lines.append(("  " + windows_path(path) + ("\\" if path.is_dir() else "")))
    cache = install.root / "cache"
    if cache.exists():
        lines.append(f"  {windows_path(cache)}\\ (and {sum(1 for _ in cache.iterdir())} cached messages)")
    lines.append("  uninstall entry Quorill2010: " + ("present" if uninstall_key_exists() else "gone"))
    return "\n".join(lines)


def main():
    SHOTS.mkdir(parents=True, exist_ok=True)
    for old in SHOTS.glob("*.png"):
        old.unlink()

    install = Installation("Demo")
    for name in ["Quorill.exe", "QuorillCore.dll", "voice.dll", "codec/g711.dll", "codec/g729.dll",
                 "skin/main.skn", "skin/icons.bmp", "lang/zh-CN.lng", "readme.txt"]:
        install.add_file(name)
    install.add_dir("codec")
    install.add_dir("skin")
    install.add_dir("lang")
    install.add_decoy("user/contacts.db", b"the user's own contacts: not listed, so kept")
    # The product keeps cached voice messages in a large folder that the manifest does not list.
    # The installer also recorded 200 message files that were never written; Wine looks for each of
    # them by reading the whole folder, which keeps the removal on screen long enough to be seen.
    cache = install.root / "cache"
    cache.mkdir()
    for i in range(40000):
        (cache / f"m{i:05}.amr").touch()
    never_written = [cache / f"VM{i:03}.AMR" for i in range(200)]
    install.write_manifest(files=install.files + never_written, dirs=install.dirs)
    add_uninstall_key()

    before = set(install.root.rglob("*"))
    print("Before:\n" + listing(install))
    run = Run(install.exe)
    box = wait_for(lambda: xdotool("search", "--name", "^Zembrat$"), 20)
    # The box takes the focus a moment after it appears; until then Wine paints it inactive.
    wait_for(lambda: xdotool("getwindowfocus") == box[:1], 5)
    time.sleep(0.3)
    shots = [screenshot("1-confirm.png", box[0])]
    if HEADLESS:
        run.answer("Return")
    else:
        print("Answer the question in the window titled Zembrat.")
    dialog = wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "^卸载"), 120)
    if dialog:
        time.sleep(0.5)
        shots.append(screenshot("2-progress.png", dialog[0]))
    code = run.wait(300)

    time.sleep(2)  # the uninstaller's own file goes a moment after the process has ended
    print("\nAfter (exit code %d):\n" % code + listing(install))
    removed = sorted(p for p in before - set(install.root.rglob("*")) if p.parent.name != "cache")
    print("\nRemoved:\n" + "\n".join("  " + windows_path(p) for p in removed))
    print("\nScreenshots:\n" + "\n".join(f"  {p}" for p in shots))


if __name__ == "__main__":
    main()
