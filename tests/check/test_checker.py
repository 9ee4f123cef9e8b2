"""UninstCheck.exe under Wine against real folders, and against what Uninst.exe really leaves behind."""
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from driver import (CHECK_EXE, CHINESE, DRIVE_C, PROBE_EXE, UNINSTALL_KEY, Installation, Run, check,  # noqa: E402
                    wait_for, windows_path, wine)

# The words of the lines that report something to fix or to know; the others list and sum up.
FINDINGS = {"skip", "stop", "missing", "outside", "unknown", "stays", "left", "expected", "encoding", "key", "command",
            "warning", "refused"}
HOLDS_EXE = "holds Uninst.exe and Uninst.ini while the removal runs; "
REMOVED, NOT_EMPTY, UNLISTED_FOLDER = (HOLDS_EXE + f for f in ("removed after exit", "stays: not empty", "stays: no entry lists it"))
UNLISTED = "no entry lists it"
# How the two runs end: at the desktop without a box, silently with 0 and the entry gone.
QUIET_END = ["desktop", "ends without a box"]
SILENT_REMOVES = ["silent", "exit code 0", "the uninstall entry goes"]
STOPS_AT_3 = "never read: after key 3, where reading stops"
MARK_HIDES = "never read: the byte order mark hides the section named on the first line"
NO_KEY = ["note", "no uninstall entry under HKLM (either view) or HKCU: Apps & features lists nothing to remove", UNINSTALL_KEY]
LITERALLY = "taken literally after \\\\?\\: "
USERS_FOLDER = ("outside the installation folder, Program Files and the Windows folder, where users may be able to write: "
                "Uninst.exe does not follow a link that one of them made there")
# The checker bound by folder permissions as a user on Windows is: root's overrides dropped.
AS_USER = ["setpriv", "--bounding-set=-dac_override,-dac_read_search"] if os.geteuid() == 0 else []


def fails(section, key):
    return f"its entry {section} {key} fails"


def skipped(section, key):
    return f"its entry {section} {key} is skipped"


def literally(section, key):
    return f"its entry {section} {key} names it only without \\\\?\\"


def check_as_user(manifest):
    """UninstCheck.exe run as a user: its exit code, its lines and the folders it listed, as Wine traces them."""
    result = subprocess.run([*AS_USER, "wine", CHECK_EXE, manifest], capture_output=True, timeout=60,
                            env={**os.environ, "WINEDEBUG": "trace+file"})
    # A listing has a wildcard or is long enough for the trace to cut; Wine's GetLongPathNameW searches names too.
    searches = re.findall(r'FindFirstFileExW L"([^"]*)"(\.\.\.)?', result.stderr.decode("utf-8", "replace"))
    listed = [path for path, cut in searches if cut or path.endswith("\\\\*")]
    return result.returncode, [line.split("\t") for line in result.stdout.decode("utf-8").splitlines()], listed


def literal_entries(install):
    r"""A ".." part, "/" for a separator and a trailing dot, after \\?\, where Windows takes a path as written."""
    root = "\\\\?\\" + windows_path(install.root)
    return {"files": [root + "\\bin\\..\\Quorill.exe", root[:4] + root[4:].replace("\\", "/") + "/bin/voice.dll",
                      install.files[2]],
            "dirs": [install.dirs[0], root + "\\bin.", install.dirs[2]]}


def short_path(path):
    """The path as Windows' own 8.3 names spell it, asked of cmd."""
    script = DRIVE_C / "short.bat"
    script.write_bytes(b"@echo %~s1\r\n")
    return wine("cmd", "/c", windows_path(script), windows_path(path)).stdout.strip()


def link(path, target):
    """A link Wine shows as a reparse point, as Windows shows a junction."""
    path.symlink_to(target, target_is_directory=True)
    return path


def outside_folder(name):
    """A folder outside every installation, holding keep.txt."""
    folder = DRIVE_C / "elsewhere" / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    (folder / "keep.txt").write_bytes(b"not ours")
    return folder


def findings(lines):
    return [line for line in lines if line[0] in FINDINGS or line[0] == "note" and line != NO_KEY]


def snapshot(install):
    """Every path under the folder with its kind, attributes, time and content."""
    paths = [install.root, *install.root.rglob("*")]
    return {p: (p.stat().st_mode, p.stat().st_mtime_ns, p.is_file() and p.read_bytes()) for p in paths}


class CheckerTest(unittest.TestCase):
    def installation(self, name=None):
        """Three files, two directories deepest first, and the folder itself, last."""
        install = Installation(name or self.id().rsplit(".", 1)[-1])
        install.add_file("Quorill.exe")
        install.add_file("bin/voice.dll")
        install.add_file("bin/codec/g729.dll")
        install.add_dir("bin/codec")
        install.add_dir("bin")
        install.add_dir(".")
        return install

    def test_a_clean_manifest_passes_and_the_check_changes_nothing(self):
        install = self.installation()
        # Listing the uninstaller's own two files does no harm: both go, though not by these entries.
        files = install.files + [install.exe, install.manifest]
        install.write_manifest(files)
        before = snapshot(install)
        manifest = windows_path(install.manifest)
        code, lines = check(manifest)
        self.assertEqual(0, code, lines)
        self.assertEqual([["entry", "Files", str(i), windows_path(p)] for i, p in enumerate(files)] +
                         [["entry", "Dirs", str(i), windows_path(p)] for i, p in enumerate(install.dirs)] +
                         [["expected", REMOVED, windows_path(install.root)],
                          NO_KEY, QUIET_END, SILENT_REMOVES,
                          ["summary", "clean: 8 entries acted on, 0 skipped, 0 missing, 0 outside, 0 unknown, 0 failing, "
                                      "0 left behind, 0 encoding problems, 0 uninstall key problems"]], lines)
        # Quiet, and with the folder named: the same check without the entries.
        self.assertEqual((0, lines[-5:]), check("-q", manifest, windows_path(install.root) + "\\"))
        self.assertEqual(before, snapshot(install))
        # Installed where users may write, it is warned about, and still clean.
        elsewhere = outside_folder("installed")
        shutil.copy(install.exe, elsewhere / "Uninst.exe")
        (elsewhere / "Uninst.ini").write_bytes(f"[Files]\r\n0={windows_path(elsewhere / 'keep.txt')}\r\n[Dirs]\r\n"
                                               f"0={windows_path(elsewhere)}\r\n".encode())
        code, lines = check(windows_path(elsewhere / "Uninst.ini"))
        self.assertEqual(0, code, lines)
        self.assertIn(["warning", "installed outside Program Files and the Windows folder: users may be able to write "
                                  "there, and put in a DLL that Uninst.exe, run as an administrator, loads",
                       windows_path(elsewhere)], lines)

    def test_each_problem_is_reported_once_with_the_exit_status(self):
        def path(install, relative):
            return windows_path(install.root / relative)

        def after(*changes, **manifest):
            return manifest

        def gap(install, **three):
            keys = dict(enumerate(install.files), **three)
            keys[4] = install.add_file("extra.dll")
            return {"files": keys}

        def past_199(install):
            # Long paths, so that the section is well over the 32,767 characters that Windows documents
            # as the most its reader lists of a section at once: nothing near the end may go unreported.
            long = "x" * 150
            listed = list(install.files) + [install.add_file(f"{long}{n}.dll") for n in range(197)]
            extra = [install.add_file(f"{long}extra{n}.dll") for n in range(60)]
            return {"files": listed + extra}

        def past_199_found(install):
            extra = [install.root / f"{'x' * 150}extra{n}.dll" for n in range(60)]
            return ([["skip", "Files", str(200 + n), "never read: past key 199", path(install, p)]
                     for n, p in enumerate(extra)] +
                    [["stop", "Files", "200", "key 200 is past the limit of 200 keys: 60 keys from there on are never "
                      "read; Uninst.exe cannot remove more than 200 paths of a section, so it cannot remove this "
                      "installation completely"]] +
                    sorted([["left", "file", skipped("Files", 200 + n), path(install, p)] for n, p in enumerate(extra)],
                           key=lambda line: line[-1].upper()) + [root(install)])

        def never_read_faults(install):
            keys = dict(enumerate(install.files))
            keys[4] = "voice.dll"
            keys[5] = install.add_file("locked.dll")
            keys[5].chmod(0o444)
            keys[6] = "C:\\windows"
            return {"files": keys, "dirs": [install.dirs[1], install.dirs[0]]}

        def aliases(install):
            quorill, voice, g729 = install.files
            codec, bin_, root = install.dirs
            volume = wine(PROBE_EXE, "volume", "C:\\").stdout.strip()
            return {"files": [short_path(quorill), "\\\\?\\" + path(install, voice), "\\\\.\\" + path(install, g729)],
                    "dirs": [volume + path(install, codec)[3:], short_path(bin_), root]}

        def through_a_link(install):
            link(install.root / "link", outside_folder("through"))
            return {"files": install.files + [short_path(install.root) + "\\link\\keep.txt"]}

        def link_listed(install):
            shared = link(install.root / "shared", outside_folder("listed"))
            return {"dirs": [install.dirs[0], install.dirs[1], shared, install.dirs[2]]}

        def utf8_bom(install):
            quorill, voice, g729 = (path(install, p) for p in install.files)
            return ([["encoding", "UTF-8 with a byte order mark: Windows reads it as ANSI text, and misses a "
                                  "section named on the first line"]] +
                     [["skip", "Files", str(n), MARK_HIDES, p] for n, p in enumerate([quorill, voice, g729])] +
                     [["stays", "Dirs", "0", "not empty: something inside it stays", path(install, "bin/codec")],
                      ["stays", "Dirs", "1", "not empty: something inside it stays", path(install, "bin")],
                      ["left", "dir", fails("Dirs", 1), path(install, "bin")],
                      ["left", "dir", fails("Dirs", 0), path(install, "bin/codec")],
                      ["left", "file", skipped("Files", 2), g729], ["left", "file", skipped("Files", 1), voice],
                      ["left", "file", skipped("Files", 0), quorill], root(install)])

        def literal_found(install):
            entries = literal_entries(install)
            return [["missing", "Files", "0", LITERALLY + '".", ".." and empty names are not resolved', entries["files"][0]],
                    ["missing", "Files", "1", LITERALLY + '"/" is not a separator', entries["files"][1]],
                    ["missing", "Dirs", "1", LITERALLY + "a name keeps its trailing dots and spaces", entries["dirs"][1]],
                    ["left", "dir", literally("Dirs", 1), path(install, "bin")],
                    ["left", "file", literally("Files", 1), path(install, "bin/voice.dll")],
                    ["left", "file", literally("Files", 0), path(install, "Quorill.exe")], root(install)]

        def unreadable(install):
            locked = install.add_decoy("locked/x.dll").parent
            locked.chmod(0)
            return {"files": install.files + [locked / "x.dll"], "dirs": install.dirs[:2] + [locked, install.dirs[2]]}

        def registered(view=32, hive="HKLM", subkey=False, **values):
            """The uninstall key in one place, complete unless values say otherwise (None leaves one out, "{exe}"
            stands for Uninst.exe, a pair gives the type); removed again after its row."""
            def change(install):
                given = {"DisplayName": "Zembrat", "UninstallString": '"{exe}"', "QuietUninstallString": '"{exe}" /S',
                         **values}
                for name, value in given.items():
                    kind, data = value if isinstance(value, tuple) else ("REG_DWORD" if isinstance(value, int) else "REG_SZ", value)
                    if value is not None:
                        wine("reg", "add", UNINSTALL_KEY.replace("HKLM", hive), "/v", name, "/t", kind,
                             "/d", str(data).format(exe=windows_path(install.exe)), "/f", f"/reg:{view}")
                if subkey:
                    wine("reg", "add", UNINSTALL_KEY + "\\Sub", "/f", f"/reg:{view}")
                return {}
            change.undo = lambda: [wine("reg", "delete", UNINSTALL_KEY.replace("HKLM", hive), "/f", f"/reg:{view}")
                                   for hive, view in [("HKLM", 32), ("HKLM", 64), ("HKCU", 64)]]
            return change

        def key_lines(where="32-bit view", key="deleted by Uninst.exe", hive="HKLM", command="starts the Uninst.exe checked",
                      value='"{exe}"', quiet="QuietUninstallString: starts the Uninst.exe checked with /S",
                      quiet_value='"{exe}" /S', more=()):
            name = UNINSTALL_KEY.replace("HKLM", hive)
            quiet_line = ["command", where, quiet, quiet_value] if quiet else \
                ["note", f"no QuietUninstallString ({where}): deployment tools would start the interactive run", name]
            lines = [["key", where, key, name], *[["key", where, k, name] for k in more],
                     ["command", where, command, value], quiet_line]
            return lambda i: [root(i, REMOVED)] + [[f.format(exe=windows_path(i.exe)) for f in line] for line in lines]

        def root(install, fate=NOT_EMPTY):
            return ["expected", fate, windows_path(install.root)]

        def in_use(install):
            holder = subprocess.Popen(["wine", PROBE_EXE, "hold", windows_path(install.files[0])],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.assertEqual(b"held\n", holder.stdout.readline())
            in_use.undo = lambda: holder.communicate(timeout=30)
            return {}

        def nested(install):
            return {"dirs": install.dirs + [install.root.parent]}
        nested.name = "nested/Zembrat"

        deep = "deep/" + "/".join(["d" * 100] * 3)
        too_long = "its path is longer than 259 characters, the most an entry may hold"
        device = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x.dll"
        chinese = "\u8bed\u97f3.wav"
        gone = "C:\\elsewhere\\gone.dll"

        def lost(install):
            return path(install, chinese).encode("cp1252", "replace").decode()
        cases = [
            ("a relative path", lambda i: after(files=[i.files[0], "bin\\voice.dll", i.files[2]]), 1,
             lambda i: [["skip", "Files", "1", "not fully qualified", "bin\\voice.dll"],
                        ["stays", "Dirs", "1", "not empty: something inside it stays", path(i, "bin")],
                        ["left", "dir", fails("Dirs", 1), path(i, "bin")],
                        ["left", "file", skipped("Files", 1), path(i, "bin/voice.dll")], root(i)]),
            ("a path too long", lambda i: after(files=i.files + ["C:\\" + "x" * 300]), 1,
             lambda i: [["skip", "Files", "3", "too long", "C:\\" + "x" * 300], root(i, REMOVED)]),
            ("a missing key", lambda i: gap(i), 1,
             lambda i: [["skip", "Files", "4", STOPS_AT_3, path(i, "extra.dll")],
                        ["stop", "Files", "3", "key 3 is missing: 1 key from there on is never read"],
                        ["left", "file", skipped("Files", 4), path(i, "extra.dll")], root(i)]),
            ("an empty key", lambda i: gap(i, **{"3": ""}), 1,
             lambda i: [["skip", "Files", "4", STOPS_AT_3, path(i, "extra.dll")],
                        ["stop", "Files", "3", "key 3 is empty: 1 key from there on is never read"],
                        ["left", "file", skipped("Files", 4), path(i, "extra.dll")], root(i)]),
            ("keys past 199 in a section too large to list at once", past_199, 1, past_199_found),
            ("keys never read, with faults of their own", never_read_faults, 1,
             lambda i: [["skip", "Files", "4", STOPS_AT_3 + "; if read: not fully qualified", "voice.dll"],
                        ["skip", "Files", "5", STOPS_AT_3 + "; if read: stays, read-only", path(i, "locked.dll")],
                        ["skip", "Files", "6", STOPS_AT_3 + "; if read: outside; stays, a directory, not a file",
                         "C:\\windows"],
                        ["stop", "Files", "3", "key 3 is missing: 3 keys from there on are never read"],
                        ["left", "file", skipped("Files", 5), path(i, "locked.dll")], root(i, UNLISTED_FOLDER)]),
            ("keys not written as numbers", lambda i: after(files=dict(enumerate(i.files), **{"03": "a", "x": "b"})), 1,
             lambda i: [["skip", "Files", "03", "not a numbered key", "a"],
                        ["skip", "Files", "x", "not a numbered key", "b"], root(i, REMOVED)]),
            ("a key written twice", lambda i: after(files=dict(enumerate(i.files), **{"1 ": "C:\\b"})), 1,
             lambda i: [["skip", "Files", "1", "key written twice", "C:\\b"], root(i, REMOVED)]),
            ("something unlisted", lambda i: after(i.add_decoy("data/user.cfg")), 1,
             lambda i: [["left", "dir", UNLISTED, path(i, "data")], ["left", "file", UNLISTED, path(i, "data/user.cfg")],
                        root(i)]),
            ("something unlisted in a listed directory", lambda i: after(i.add_decoy("bin/readme.txt")), 1,
             lambda i: [["stays", "Dirs", "1", "not empty: something inside it stays", path(i, "bin")],
                        ["left", "dir", fails("Dirs", 1), path(i, "bin")],
                        ["left", "file", UNLISTED, path(i, "bin/readme.txt")], root(i)]),
            # Tried again once what was listed after it has gone, as the commonest slip of an author's.
            ("a directory listed before one inside it", lambda i: after(dirs=[i.dirs[1], i.dirs[0], i.dirs[2]]), 0,
             lambda i: [root(i, REMOVED)]),
            ("a read-only file", lambda i: after(i.files[0].chmod(0o444)), 1,
             lambda i: [["stays", "Files", "0", "read-only", path(i, "Quorill.exe")],
                        ["left", "file", fails("Files", 0), path(i, "Quorill.exe")], root(i)]),
            ("a read-only Uninst.exe and Uninst.ini", lambda i: after(i.write_manifest(), i.manifest.chmod(0o444),
                                                                     i.exe.chmod(0o444)), 0,
             lambda i: [root(i, REMOVED)]),
            # Windows refuses to remove a directory with the read-only attribute; Wine removes it.
            ("a read-only directory", lambda i: after((i.root / "bin/codec").chmod(0o555)), 1,
             lambda i: [["stays", "Dirs", "0", "read-only directory: Windows does not remove it", path(i, "bin/codec")],
                        ["stays", "Dirs", "1", "not empty: something inside it stays", path(i, "bin")],
                        ["left", "dir", fails("Dirs", 1), path(i, "bin")],
                        ["left", "dir", fails("Dirs", 0), path(i, "bin/codec")], root(i)]),
            ("a directory listed as a file", lambda i: after((i.root / "d").mkdir(), files=i.files + [i.root / "d"]), 1,
             lambda i: [["stays", "Files", "3", "a directory, not a file", path(i, "d")],
                        ["left", "dir", fails("Files", 3), path(i, "d")], root(i)]),
            ("aliases of paths inside the folder", aliases, 0, lambda i: [root(i, REMOVED)]),
            # Uninst.exe does not follow a link that a user could have made; every link under Wine is the user's.
            ("an entry through a link to elsewhere", through_a_link, 1,
             lambda i: [["stays", "Files", "3", "not followed: a link in its path at " + short_path(i.root) + "\\link",
                         short_path(i.root) + "\\link\\keep.txt"],
                        ["warning", "Files", "3", USERS_FOLDER, short_path(i.root) + "\\link\\keep.txt"],
                        ["left", "dir", UNLISTED, path(i, "link")], root(i)]),
            # Windows removes a junction as itself, whatever its target holds; Wine does not.
            ("a link listed as a directory", link_listed, 0, lambda i: [root(i, REMOVED)]),
            ("a link to its own folder", lambda i: after(link(i.root / "loop", i.root)), 1,
             lambda i: [["left", "dir", UNLISTED, path(i, "loop")], root(i)]),
            # Windows reads the mark as part of the first line, as ANSI text; Wine reads the file as UTF-8.
            ("UTF-8 with a byte order mark", lambda i: after(encoding="utf-8-sig"), 1, utf8_bom),
            ("UTF-8 without one", lambda i: after(files=i.files + [i.add_decoy(chinese)], encoding="utf-8"), 1,
             lambda i: [["encoding", "UTF-8: Windows reads it as ANSI text, here in code page 1252, so its non-ASCII "
                                     "paths name other files; save it as UTF-16 with a byte order mark"],
                        ["missing", "Files", "3", path(i, chinese.encode().decode("cp1252"))],
                        ["left", "file", UNLISTED, path(i, chinese)], root(i)]),
            ("an entry that is not there", lambda i: after(files=i.files + [i.root / "gone.dll"]), 0,
             lambda i: [["missing", "Files", "3", path(i, "gone.dll")], root(i, REMOVED)]),
            # Played like those inside: a missing one is missing, a listed parent with more in it stays.
            ("entries outside the folder", lambda i: after(files=i.files + [gone], dirs=i.dirs + [i.root.parent]), 1,
             lambda i: [["outside", "Files", "3", gone], ["missing", "Files", "3", gone],
                        ["outside", "Dirs", "3", windows_path(i.root.parent)],
                        ["stays", "Dirs", "3", "not empty: something inside it stays", windows_path(i.root.parent)],
                        ["warning", "Files", "3", USERS_FOLDER, gone],
                        root(i, REMOVED)]),
            ("a folder and its parent, both listed", nested, 0,
             lambda i: [["outside", "Dirs", "3", windows_path(i.root.parent)], root(i, REMOVED),
                        ["expected", "holds the folder of Uninst.exe; removed after exit", windows_path(i.root.parent)]]),
            # Not Uninst.exe's failure, but left knowingly: an empty installation folder stays.
            ("a folder not listed", lambda i: after(dirs=i.dirs[:2]), 1, lambda i: [root(i, UNLISTED_FOLDER)]),
            ("a folder listed twice", lambda i: after(dirs=[i.dirs[0], i.dirs[0], *i.dirs[1:]]), 0,
             lambda i: [["note", "Dirs 1 names the same as Dirs 0", path(i, "bin/codec")], root(i, REMOVED)]),
            ("a file in use", in_use, 1,
             lambda i: [["stays", "Files", "0", "in use now: removed at the next restart, unless it is closed first",
                         path(i, "Quorill.exe")], root(i, HOLDS_EXE + "removed at the next restart")]),
            # NSIS's WriteINIStr writes ANSI text: on code page 1252 each Chinese character is a "?".
            ("names that a code page could not spell", lambda i: after(i.add_decoy(chinese), files=i.files + [lost(i)]), 1,
             lambda i: [["encoding", "Files", "3", "holds ? or *, which no Windows name holds: the manifest was written in "
                                                   "a code page that cannot spell the name; save it as UTF-16 with a byte "
                                                   "order mark", lost(i)],
                        ["left", "file", UNLISTED, path(i, chinese)], root(i)]),
            ("paths taken literally after \\\\?\\", literal_entries, 1, literal_found),
            ("a device path that the checker cannot place", lambda i: after(files=i.files + [device]), 1,
             lambda i: [["unknown", "Files", "3", "cannot tell where it leads: not a drive, a share or a mounted volume",
                         device], root(i, REMOVED)]),
            ("a tree deeper than MAX_PATH", lambda i: after(i.add_decoy(deep + "/x.txt")), 1,
             lambda i: [["left", "dir", UNLISTED, path(i, "deep")], ["left", "dir", UNLISTED, path(i, deep[:105])],
                        ["left", "dir", UNLISTED, path(i, deep[:206])], ["left", "dir", too_long, path(i, deep)],
                        ["left", "file", too_long, path(i, deep + "/x.txt")], root(i)]),
            ("a key that Uninst.exe deletes", registered(), 0, key_lines()),
            ("a key in the 64-bit view only", registered(view=64), 1,
             key_lines("64-bit view", "stays: Uninst.exe, a 32-bit program, deletes the key only in the 32-bit view")),
            ("a key with a subkey", registered(subkey=True), 1,
             key_lines(key="stays: it holds subkeys (Sub), and Uninst.exe deletes only a key without any")),
            ("a key of the current user", registered(hive="HKCU", UninstallString=r'"C:\Program Files\Zembrat\Uninst.exe"'), 1,
             key_lines("current user", "stays: Uninst.exe deletes it only under HKLM: Apps & features still lists it for this user", "HKCU",
                       "names another program than {exe}: C:\\Program Files\\Zembrat\\Uninst.exe",
                       r'"C:\Program Files\Zembrat\Uninst.exe"')),
            ("values that hide the key or start something else",
             registered(DisplayName=None, SystemComponent=1, NoRemove=1, WindowsInstaller=1, ParentKeyName="Quorill"), 1,
             lambda i: key_lines(command="WindowsInstaller is 1: Apps & features takes Quorill2010 for a Windows Installer "
                                         "product and starts msiexec /x for it, not UninstallString",
                                 more=["no DisplayName: Apps & features does not list it",
                                       "SystemComponent is 1: Apps & features does not list it",
                                       "NoRemove is 1: Apps & features offers no Uninstall for it"])(i) +
             [["note", "ParentKeyName is Quorill: Apps & features lists it as an update of Quorill", UNINSTALL_KEY]]),
            ("an unquoted command with a space", registered(UninstallString="{exe}"), 1,
             key_lines(command="unquoted, with a space: Windows tries C:\\Program.exe first, then the path up to each "
                               "further space, and starts the first program there is; put the path in quotes",
                       value="{exe}")),
            # Apps & features, a 64-bit program, has the 64-bit Program Files in %ProgramFiles%.
            ("a command to expand", registered(UninstallString=("REG_EXPAND_SZ", r'"%ProgramFiles%\Zembrat\problem\Uninst.exe"')),
             0, key_lines()),
            ("no QuietUninstallString", registered(QuietUninstallString=None), 0, key_lines(quiet=None)),
            *[(f"a QuietUninstallString with {word}", registered(QuietUninstallString='"{exe}" ' + args), 0,
               key_lines(quiet="QuietUninstallString: starts the Uninst.exe checked with " + word, quiet_value='"{exe}" ' + args))
              for word, args in [("/VERYSILENT", "/VERYSILENT"), ("-s", '/NORESTART "-s"'), ("/qn", "/qn")]],
            ("a QuietUninstallString without a silent word", registered(QuietUninstallString='"{exe}" --silent /NORESTART'), 1,
             key_lines(quiet="QuietUninstallString: starts the Uninst.exe checked without a silent word such as /S: deployment "
                             "tools would start the interactive run, which waits for an answer",
                       quiet_value='"{exe}" --silent /NORESTART')),
            ("a folder that cannot be read", unreadable, 1,
             lambda i: [["unknown", "Files", "3", "inside a folder that cannot be read", path(i, "locked/x.dll")],
                        ["stays", "Dirs", "2", "cannot be read: whether it is empty cannot be told", path(i, "locked")],
                        ["left", "dir", "cannot be read: nothing can be said about what it holds", path(i, "locked")],
                        root(i)]),
        ]
        for what, change, status, expected in cases:
            with self.subTest(what):
                install = self.installation(getattr(change, "name", "problem"))
                install.write_manifest(**change(install))
                code, lines, listed = check_as_user(windows_path(install.manifest))
                getattr(change, "undo", lambda: None)()
                self.assertEqual(expected(install), findings(lines))
                self.assertEqual(status, code)
                self.assertEqual("summary", lines[-1][0])
                # Windows lists a folder deeper than MAX_PATH only by its \\?\ path; Wine by either.
                walked = [p for p in listed if windows_path(install.root).replace("\\", "\\\\") in p]
                self.assertTrue(walked and all(p.startswith(r"\\\\?\\") for p in walked), walked)

    def test_when_the_check_cannot_be_made(self):
        install = self.installation()
        install.write_manifest()
        manifest = windows_path(install.manifest)
        # A manifest from elsewhere, for a folder with no Uninst.exe or with two: which one runs is not known.
        elsewhere = windows_path(shutil.copy(install.manifest, DRIVE_C / "A.ini"))
        (install.root / "bin" / "Uninst.exe").write_bytes(b"MZ")
        for args in [[windows_path(install.root / "none.ini")], [windows_path(install.root)],
                     [manifest, windows_path(install.root / "nowhere")], [manifest, manifest],
                     ["-x", manifest], [], [manifest, manifest, manifest],
                     [elsewhere, windows_path(install.root / "bin" / "codec")], [elsewhere, windows_path(install.root)]]:
            with self.subTest(args=args):
                self.assertEqual((2, []), check(*args))

    def test_chinese_paths_come_out_exactly(self):
        note = ["encoding", "ANSI text with non-ASCII characters: read in the ANSI code page of the machine, here 936, "
                            "so a machine with another reads other paths; save it as UTF-16 with a byte order mark"]
        runs = [("gbk", CHINESE, note), ("utf-16", {}, None)]
        for encoding, env, note in runs:
            with self.subTest(encoding):
                install = Installation("网络电话")
                install.add_file("语音/提示音.wav")
                install.add_dir("语音")
                decoy = install.add_decoy("用户/设置.cfg")
                install.write_manifest(encoding=encoding)
                code, lines = check(windows_path(install.manifest), env=env)
                self.assertEqual(1, code)
                self.assertEqual(([note] if note else []) +
                                 [["entry", "Files", "0", windows_path(install.files[0])],
                                  ["entry", "Dirs", "0", windows_path(install.dirs[0])],
                                  ["left", "dir", UNLISTED, windows_path(decoy.parent)],
                                  ["left", "file", UNLISTED, windows_path(decoy)],
                                  ["expected", UNLISTED_FOLDER, windows_path(install.root)], NO_KEY, QUIET_END,
                                  SILENT_REMOVES], lines[:-1])
        # On a console whose code page has no Chinese the same lines show, their tabs expanded.
        console = wine(PROBE_EXE, "console", "Z:" + CHECK_EXE.replace("/", "\\"), windows_path(install.manifest))
        self.assertEqual((1, [" ".join(line) for line in lines]),
                         (console.returncode, [" ".join(line.split()) for line in console.stdout.splitlines()]))
        # The same ANSI manifest read in code page 1252 names other paths, beside the user's own files: Uninst.exe
        # refuses it, removes nothing and keeps the entry, and so says the checker.
        install.write_manifest(encoding="gbk")
        code, lines = check(windows_path(install.manifest))
        self.assertEqual((1, ["encoding", "refused", "left"]), (code, [line[0] for line in findings(lines)][:3]))
        self.assertIn(["silent", "exit code 1603", "nothing changes"], lines)

    def test_agrees_with_what_uninst_exe_leaves_behind(self):
        def messy(install):
            install.add_file("bin2/x.dll")
            install.add_dir("bin2")
            install.add_file("语音/提示音.wav")
            install.add_dir("语音")
            install.add_file("locked.dll").chmod(0o444)
            install.add_decoy("readme.txt")
            install.add_decoy("data/user.cfg")
            files = install.files + ["relative.dll", install.root / "gone.dll"]
            files = dict(enumerate(files), **{str(len(files) + 1): install.add_file("late.dll")})
            codec, bin_, root, bin2, chinese = install.dirs
            install.write_manifest(files, [bin_, codec, bin2, install.root / "data", chinese, root], encoding="utf-16")
            return [windows_path(install.manifest)]

        def aliases(install):
            quorill, voice, g729 = install.files
            codec, bin_, root = install.dirs
            install.write_manifest([short_path(quorill), "\\\\?\\" + windows_path(voice), "\\\\.\\" + windows_path(g729)],
                                   ["\\\\?\\" + windows_path(codec), short_path(bin_), root])
            return [short_path(install.manifest), "\\\\?\\" + windows_path(install.root)]

        def through_a_link(install):
            elsewhere = outside_folder("agree")
            link(install.root / "link", elsewhere)
            install.write_manifest(install.files + [install.root / "link" / "keep.txt"])
            return [windows_path(install.manifest)]

        def from_elsewhere(install):
            install.add_decoy("Uninst.ini", b"[Files]\r\n0=C:\\x\r\n")
            manifest = DRIVE_C / "manifests" / "A.ini"
            manifest.parent.mkdir(exist_ok=True)
            install.write_manifest()
            shutil.move(install.manifest, manifest)
            install.add_decoy("Uninst.ini", b"[Files]\r\n0=C:\\x\r\n")
            return [windows_path(manifest), windows_path(install.root)]

        rows = [("a messy installation", messy, 1), ("aliases of its paths", aliases, 0),
                ("an entry through a link to elsewhere", through_a_link, 1),
                ("a manifest checked from elsewhere", from_elsewhere, 0),
                ("paths taken literally after \\\\?\\",
                 lambda install: install.write_manifest(**literal_entries(install)) or [windows_path(install.manifest)], 1),
                ("a read-only Uninst.exe and Uninst.ini", lambda install: install.write_manifest() or
                 install.manifest.chmod(0o444) or install.exe.chmod(0o444) or [windows_path(install.manifest)], 0)]
        for n, (what, stage, status) in enumerate(rows):
            with self.subTest(what):
                install = self.installation(f"agree{n}")
                args = stage(install)
                code, lines = check(*args)
                self.assertEqual(status, code, lines)
                forecast = {line[-1] for line in lines if line[0] == "left" or line[0] == "expected" and "stays" in line[1]}
                if stage is from_elsewhere:
                    # Placed where the installer puts it, as the check said it would be.
                    self.assertEqual(["note", "checked as placed beside Uninst.exe, as", windows_path(install.manifest)],
                                     lines[0])
                    shutil.copy(DRIVE_C / "manifests" / "A.ini", install.manifest)

                run = Run(install.exe)
                run.answer("Return")
                self.assertTrue(run.close_boxes())
                self.assertEqual(0, run.wait())
                self.assertTrue(wait_for(lambda: not install.exe.exists(), 5), "Uninst.exe stays")
                wait_for(lambda: sorted(forecast) == sorted(install.tree()), 5)  # its folder goes a moment later
                self.assertEqual(sorted(forecast), sorted(install.tree()))

if __name__ == "__main__":
    unittest.main(verbosity=2)
