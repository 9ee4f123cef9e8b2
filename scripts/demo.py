"""Installs Zembrat with its sample installer in a private Wine prefix, checks the installation with
UninstCheck.exe, and removes it as a user does: through the system's list of installed programs, which under
Wine is Add/Remove Programs (`wine uninstaller`), a client of the uninstall entry that starts its
UninstallString. Prints what was there before and what is left after, and leaves screenshots of both screens.

Without a display of your own the question is answered Yes for you on a private X display; with one
(WINE_SESSION_DISPLAY=keep and DISPLAY set) the windows appear there and you answer yourself.
With UNINST_DEMO_BOXES=1 it then installs again, holds one listed file open and makes another read-only, removes
it once more and leaves a screenshot of the box that ends such a removal (answered No), on a private display only.
The round-trip test runs the same steps, without the screenshots.
"""
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from driver import DRIVE_C, PROBE_EXE, Run, check, uninstall_key_exists, wait_for, windows_path, xdotool  # noqa: E402

SETUP = Path(os.environ["UNINST_SETUP"])
FOLDER = r"C:\Program Files (x86)\Zembrat 网络电话"
KEY = "Quorill2010"
# Wine's console programs write to a pipe in the OEM code page.
CONSOLE_ENCODING = "gbk" if os.environ.get("LC_ALL", "").startswith("zh_CN") else "cp437"


def install(folder):
    """Runs the installer silently into folder, a C: path; returns the folder under drive_c."""
    # NSIS takes /D= last and unquoted. Wine joins its arguments with single spaces and quotes each
    # one that holds a space, so the folder is handed over word by word.
    subprocess.run(["wine", SETUP, "/S", *f"/D={folder}".split(" ")], check=True, timeout=120,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return DRIVE_C.joinpath(*folder.split("\\")[1:])


def installed_programs():
    """The lines of Add/Remove Programs' list: key|||display name."""
    listed = subprocess.run(["wine", "uninstaller", "--list"], capture_output=True, timeout=60).stdout
    return listed.decode(CONSOLE_ENCODING, "replace").splitlines()


def remove_as_a_user():
    """Starts the removal from the list of installed programs. Add/Remove Programs waits for the
    uninstaller it starts, so the run ends with it."""
    return Run("uninstaller", "--remove", KEY)


def uninstaller_pid():
    """The Linux process of this prefix's Uninst.exe."""
    prefix = f"WINEPREFIX={os.environ['WINEPREFIX']}\0".encode()
    for proc in Path("/proc").iterdir():
        try:
            if b"\\Uninst.exe" in (proc / "cmdline").read_bytes() and prefix in (proc / "environ").read_bytes():
                return int(proc.name)
        except (OSError, ValueError):
            continue
    return None


def in_slow_motion(pid, until, seconds):
    """Lets the process run only a millisecond at a time, stopped in between, until until() returns something,
    which it returns. The dialog of a dozen entries is gone within some 40 ms, too soon to capture at full
    speed; slowed down, the same removal keeps it on screen."""
    deadline = time.monotonic() + seconds
    result = None
    try:
        while not result and time.monotonic() < deadline:
            os.kill(pid, signal.SIGSTOP)
            result = until()
            os.kill(pid, signal.SIGCONT)
            time.sleep(0.001)
    except ProcessLookupError:  # it ended without a removal: the answer was No
        pass
    return result


def screenshot(path, window):
    subprocess.run(["import", "-window", window, str(path)], check=True)
    return path


def progress_shown(path):
    """A screenshot of the progress dialog once its bar has moved, in Windows 10's highlight colour."""
    dialog = xdotool("search", "--onlyvisible", "--name", "^卸载")
    if not dialog:
        return None
    screenshot(path, dialog[0])
    colours = subprocess.run(["convert", str(path), "-format", "%c", "histogram:info:-"],
                             capture_output=True, text=True).stdout
    return "#0078D7" in colours and path


def box_shown(path):
    """A screenshot of the box captioned Zembrat once it has the focus (until then Wine paints it inactive)."""
    box = wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "^Zembrat$"), 30)
    wait_for(lambda: xdotool("getwindowfocus") == box[:1], 5)
    time.sleep(0.3)
    return screenshot(path, box[0]), box[0]


def the_last_box(shots):
    """A removal that leaves a file in use for the next restart and a read-only one for good: the box that names
    what stayed and offers the restart."""
    folder = install(FOLDER)
    held, read_only = folder / "skin" / "main.skn", folder / "lang" / "zh-CN.lng"
    read_only.chmod(0o444)
    holder = subprocess.Popen(["wine", PROBE_EXE, "hold", windows_path(held)], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    holder.stdout.readline()
    run = remove_as_a_user()
    run.answer("Return")
    path, box = box_shown(shots / "3-end.png")
    xdotool("windowfocus", box)
    xdotool("key", "--clearmodifiers", "n")
    run.wait(60)
    holder.communicate(timeout=10)
    # The restart that was declined, carried out now: the held file and its folder go.
    read_only.chmod(0o644)
    subprocess.run(["wine", "wineboot", "-r"], check=True, timeout=120)
    shutil.rmtree(folder, ignore_errors=True)
    return [path]


def everything(folder):
    return {folder, *folder.rglob("*")} if folder.exists() else set()


def listing(folder):
    lines = ["  " + windows_path(p) + ("\\" if p.is_dir() else "") for p in sorted(everything(folder))]
    lines.append(f"  uninstall entry {KEY}: " + ("present" if uninstall_key_exists() else "gone"))
    return "\n".join(lines)


def main():
    shots = Path(os.environ["UNINST_DEMO_SHOTS"])
    headless = os.environ.get("WINE_SESSION_HEADLESS") == "1"
    shots.mkdir(parents=True, exist_ok=True)
    for old in shots.glob("*.png"):
        old.unlink()
    shutil.rmtree(DRIVE_C.joinpath(*FOLDER.split("\\")[1:]), ignore_errors=True)

    print(f"Installing: {SETUP.name} /S /D={FOLDER}")
    folder = install(FOLDER)
    before = everything(folder)
    print("\nBefore:\n" + listing(folder))
    code, lines = check(windows_path(folder / "Uninst.ini"), "-q")
    print(f"\nUninstCheck.exe (exit code {code}):\n" + "\n".join("  " + "  ".join(line) for line in lines))
    print("\nApps & features lists (wine uninstaller --list):\n" + "\n".join("  " + p for p in installed_programs()))

    print(f"\nRemoving it from there: wine uninstaller --remove {KEY}")
    run = remove_as_a_user()
    box = wait_for(lambda: xdotool("search", "--name", "^Zembrat$"), 20)
    # The box takes the focus a moment after it appears; until then Wine paints it inactive.
    wait_for(lambda: xdotool("getwindowfocus") == box[:1], 5)
    time.sleep(0.3)
    taken = [screenshot(shots / "1-confirm.png", box[0])]
    if headless:
        xdotool("windowfocus", box[0])
        xdotool("key", "--clearmodifiers", "Return")
    else:
        print("Answer the question in the window titled Zembrat.")
    progress = in_slow_motion(uninstaller_pid(), lambda: progress_shown(shots / "2-progress.png"), 300)
    taken += [progress] if progress else []
    run.wait(300)
    # The uninstaller's own file, and then its folder, go a moment after the process has ended.
    wait_for(lambda: not folder.exists(), 10)

    print("\nAfter:\n" + listing(folder))
    left = [p for p in installed_programs() if p.startswith(KEY + "|")]
    print("\nApps & features still lists:\n" + ("\n".join("  " + p for p in left) or f"  no {KEY}"))
    removed = sorted(before - everything(folder))
    print("\nRemoved:\n" + "\n".join("  " + windows_path(p) for p in removed))
    if headless and os.environ.get("UNINST_DEMO_BOXES") == "1":
        taken += the_last_box(shots)
    print("\nScreenshots:\n" + "\n".join(f"  {p}" for p in taken))


if __name__ == "__main__":
    main()
