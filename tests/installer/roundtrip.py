"""ZembratSetup.exe installs silently, UninstCheck.exe finds the installation clean, and Add/Remove Programs
removes it through Uninst.exe: nothing is left, and no uninstall entry in either registry view. The installer
refuses, silently and without a change, a folder with the user's own files, a second installation elsewhere, and a
folder whose files wait to be deleted at the next restart."""
import os
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from demo import KEY, install, installed_programs, remove_as_a_user  # noqa: E402
from driver import DRIVE_C, PROBE_EXE, check, uninstall_key_exists, wait_for, windows_path, wine  # noqa: E402


def tree():
    return {Path(d, n) for d, dirs, files in os.walk(DRIVE_C) for n in dirs + files}


def pending():
    return wine("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v", "PendingFileRenameOperations")


def listed():
    return [line for line in installed_programs() if line.startswith(KEY + "|||")]


class RoundTrip(unittest.TestCase):
    def refused(self, folder):
        with self.assertRaises(subprocess.CalledProcessError) as refusal:
            install(folder)
        return refusal.exception.returncode

    def test_installed_checked_and_removed_from_the_list_of_programs(self):
        mine = DRIVE_C / "Apps" / "readme.txt"
        mine.parent.mkdir()
        mine.write_bytes(b"the user's own")
        before = tree()
        self.assertEqual(2, self.refused(r"C:\Apps"))
        self.assertEqual((before, b"the user's own", False), (tree(), mine.read_bytes(), uninstall_key_exists(32)))

        folder = install(r"C:\Zembrat 网络电话")
        installed = tree()
        self.assertEqual(2, self.refused(r"C:\Zembrat"))
        self.assertEqual(installed, tree())
        # Installed again where it is, it first removes what the earlier manifest lists: a file a new version dropped.
        dropped, manifest = folder / "old.dll", folder / "Uninst.ini"
        dropped.write_bytes(b"1.0")
        manifest.write_text(manifest.read_text("utf-16").replace("[Dirs]", f"9={windows_path(dropped)}\n[Dirs]"), "utf-16")
        self.assertEqual(folder, install(r"C:\Zembrat 网络电话"))
        self.assertEqual(installed, tree())

        # Clean, with a warning: outside Program Files, users may be able to write in the folder.
        code, lines = check("-q", windows_path(folder / "Uninst.ini"))
        self.assertEqual((0, ["warning", "expected", "key", "command", "command", "desktop", "silent", "summary"]),
                         (code, [line[0] for line in lines]))
        self.assertEqual([["desktop", "ends without a box"], ["silent", "exit code 0", "the uninstall entry goes"]], lines[5:7])
        self.assertTrue(lines[7][1].startswith("clean: 13 entries acted on"), lines)
        self.assertTrue(uninstall_key_exists(32))
        self.assertTrue(listed())

        run = remove_as_a_user()
        run.answer("Return")
        self.assertEqual(0, run.wait(60))
        # Uninst.exe and its folder go after it has ended, by a script in the Windows folder's Temp that then goes too.
        wait_for(lambda: tree() == before, 10)
        self.assertEqual(set(), tree() - before)
        self.assertEqual(set(), before - tree())
        self.assertEqual((False, False), (uninstall_key_exists(32), uninstall_key_exists(64)))
        self.assertEqual([], listed())

    def test_removed_by_deployment_tools_and_what_is_in_use_at_the_next_restart(self):
        before = tree()
        folder = install(r"C:\Zembrat 网络电话")
        # Its manifest lost while its entry stays: 1603 and no change, and installing again repairs it.
        (folder / "Uninst.ini").unlink()
        lost = tree()
        self.assertEqual(["exit 1603"], wine(PROBE_EXE, "winget").stdout.split("\n")[:1])
        self.assertEqual(lost, tree())
        install(r"C:\Zembrat 网络电话")
        # As winget starts QuietUninstallString: nothing asks, nothing is left, the exit code is 0.
        self.assertEqual(["exit 0"], wine(PROBE_EXE, "winget").stdout.split("\n")[:1])
        wait_for(lambda: tree() == before, 10)
        self.assertEqual((set(), set()), (tree() - before, before - tree()))
        self.assertEqual([], listed())

        # A program of the product's holds a file: it goes at the next restart, with the folders that hold it.
        folder = install(r"C:\Zembrat 网络电话")
        installed = tree()
        held = folder / "skin" / "main.skn"
        holder = subprocess.Popen(["wine", PROBE_EXE, "hold", windows_path(held)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.assertEqual(b"held", holder.stdout.readline().strip())
        self.assertEqual(["exit 3010"], wine(PROBE_EXE, "winget").stdout.split("\n")[:1])
        wait_for(lambda: tree() - before == {folder, held.parent, held}, 10)
        self.assertEqual(({folder, held.parent, held}, set()), (tree() - before, before - tree()))
        self.assertEqual([], listed())
        holder.communicate(timeout=10)
        # Emptied by hand, the folder still waits for the restart, which would delete a new installation's
        # skin\main.skn: installing there, in any letter case, is refused until then, silently and without a change.
        held.unlink() or held.parent.rmdir()
        emptied, scheduled = tree(), pending().stdout
        self.assertEqual(2, self.refused(r"C:\zembrat 网络电话"))
        # A folder whose name only begins with that one's is another folder.
        install(r"C:\Zembrat 网络")
        self.assertEqual(["exit 0"], wine(PROBE_EXE, "winget").stdout.split("\n")[:1])
        wait_for(lambda: tree() == emptied, 10)
        self.assertEqual((emptied, scheduled, False), (tree(), pending().stdout, uninstall_key_exists(32)))
        wine("wineboot", "-r")
        self.assertEqual((set(), set()), (tree() - before, before - tree()))
        self.assertNotEqual(0, pending().returncode)
        self.assertEqual(folder, install(r"C:\Zembrat 网络电话"))
        self.assertEqual(installed, tree())


if __name__ == "__main__":
    unittest.main(verbosity=2)
