"""UninstCheck.exe under Wine against real folders, and against what Uninst.exe really leaves behind."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from driver import CHECK_EXE, CHINESE, PROBE_EXE, Installation, Run, check, wait_for, windows_path, wine  # noqa: E402

# The words of the lines that report something to fix or to know; the others list and sum up.
FINDINGS = {"skip", "stop", "missing", "outside", "stays", "left", "encoding"}
HOLDS_EXE = "holds Uninst.exe while the removal runs; stays"


def findings(lines):
    return [line for line in lines if line[0] in FINDINGS]


def snapshot(install):
    """Every path under the folder with its kind, attributes, time and content."""
    paths = [install.root, *install.root.rglob("*")]
    return {p: (p.stat().st_mode, p.stat().st_mtime_ns, p.is_file() and p.read_bytes()) for p in paths}


class CheckerTest(unittest.TestCase):
    def installation(self, name=None):
        """Three files, two directories deepest first, and the folder itself, which stays."""
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
                         [["expected", HOLDS_EXE, windows_path(install.root)],
                          ["summary", "clean: 8 entries acted on, 0 skipped, 0 missing, 0 outside, 0 failing, "
                                      "0 left behind"]], lines)
        # Quiet, and with the folder named: the same check without the entries.
        self.assertEqual((0, lines[-2:]), check("-q", manifest, windows_path(install.root) + "\\"))
        self.assertEqual(before, snapshot(install))

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
            listed = list(install.files)
            listed += [install.add_file(f"f{n}.dll") for n in range(197)]
            return {"files": listed + [install.add_file("extra.dll"), "C:\\x"]}

        cases = [
            ("a relative path", lambda i: after(files=i.files + ["voice.dll"]), 1,
             lambda i: [["skip", "Files", "3", "not fully qualified", "voice.dll"]]),
            ("a path too long", lambda i: after(files=i.files + ["C:\\" + "x" * 300]), 1,
             lambda i: [["skip", "Files", "3", "too long", "C:\\" + "x" * 300]]),
            ("a missing key", lambda i: gap(i), 1,
             lambda i: [["skip", "Files", "4", "after key 3, where reading stops", path(i, "extra.dll")],
                        ["stop", "Files", "3", "key 3 is missing: 1 key from there on is never read"],
                        ["left", "file", path(i, "extra.dll")]]),
            ("an empty key", lambda i: gap(i, **{"3": ""}), 1,
             lambda i: [["skip", "Files", "4", "after key 3, where reading stops", path(i, "extra.dll")],
                        ["stop", "Files", "3", "key 3 is empty: 1 key from there on is never read"],
                        ["left", "file", path(i, "extra.dll")]]),
            ("keys past 199", past_199, 1,
             lambda i: [["skip", "Files", "200", "past key 199", path(i, "extra.dll")],
                        ["skip", "Files", "201", "past key 199", "C:\\x"],
                        ["stop", "Files", "200",
                         "key 200 is past the limit of 200 keys: 2 keys from there on are never read"],
                        ["left", "file", path(i, "extra.dll")]]),
            ("keys not written as numbers", lambda i: after(files=dict(enumerate(i.files), **{"03": "a", "x": "b"})), 1,
             lambda i: [["skip", "Files", "03", "not a numbered key", "a"],
                        ["skip", "Files", "x", "not a numbered key", "b"]]),
            ("a key written twice", lambda i: after(files=dict(enumerate(i.files), **{"1 ": "C:\\b"})), 1,
             lambda i: [["skip", "Files", "1", "key written twice", "C:\\b"]]),
            ("something unlisted", lambda i: after(i.add_decoy("data/user.cfg")), 1,
             lambda i: [["left", "dir", path(i, "data")], ["left", "file", path(i, "data/user.cfg")]]),
            ("something unlisted in a listed directory", lambda i: after(i.add_decoy("bin/readme.txt")), 1,
             lambda i: [["stays", "Dirs", "1", "not empty: something inside it stays", path(i, "bin")],
                        ["left", "dir", path(i, "bin")], ["left", "file", path(i, "bin/readme.txt")]]),
            ("a directory listed before one inside it", lambda i: after(dirs=[i.dirs[1], i.dirs[0]]), 1,
             lambda i: [["stays", "Dirs", "0", "not empty at its turn: listed before key 1, a directory inside it",
                         path(i, "bin")], ["left", "dir", path(i, "bin")]]),
            ("a read-only file", lambda i: after(i.files[0].chmod(0o444)), 1,
             lambda i: [["stays", "Files", "0", "read-only", path(i, "Quorill.exe")],
                        ["left", "file", path(i, "Quorill.exe")]]),
            ("a directory listed as a file", lambda i: after((i.root / "d").mkdir(), files=i.files + [i.root / "d"]), 1,
             lambda i: [["stays", "Files", "3", "a directory, not a file", path(i, "d")],
                        ["left", "dir", path(i, "d")]]),
            ("UTF-8 with a byte order mark", lambda i: after(encoding="utf-8-sig"), 1,
             lambda i: [["encoding", "UTF-8 with a byte order mark: Windows reads it as ANSI text, and misses a "
                                     "section named on the first line"]]),
            ("an entry that is not there", lambda i: after(files=i.files + [i.root / "gone.dll"]), 0,
             lambda i: [["missing", "Files", "3", path(i, "gone.dll")]]),
            ("an entry outside the folder", lambda i: after(dirs=i.dirs + ["C:\\windows"]), 0,
             lambda i: [["outside", "Dirs", "3", "C:\\windows"]]),
        ]
        for what, change, status, expected in cases:
            with self.subTest(what):
                install = self.installation("problem")
                install.write_manifest(**change(install))
                code, lines = check(windows_path(install.manifest))
                self.assertEqual(expected(install), findings(lines))
                self.assertEqual(status, code)
                self.assertEqual("summary", lines[-1][0])

    def test_when_the_check_cannot_be_made(self):
        install = self.installation()
        install.write_manifest()
        manifest = windows_path(install.manifest)
        for args in [[windows_path(install.root / "none.ini")], [windows_path(install.root)],
                     [manifest, windows_path(install.root / "nowhere")], [manifest, manifest],
                     ["-x", manifest], [], [manifest, manifest, manifest]]:
            with self.subTest(args=args):
                self.assertEqual((2, []), check(*args))

    def test_chinese_paths_come_out_exactly(self):
        note = ["note", "ANSI text with non-ASCII characters: read in the ANSI code page of the machine, here 936; "
                        "UTF-16 with a byte order mark reads the same everywhere"]
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
                                  ["left", "dir", windows_path(decoy.parent)], ["left", "file", windows_path(decoy)],
                                  ["expected", HOLDS_EXE, windows_path(install.root)]], lines[:-1])
        # On a console whose code page has no Chinese the same lines show, their tabs expanded.
        console = wine(PROBE_EXE, "console", "Z:" + CHECK_EXE.replace("/", "\\"), windows_path(install.manifest))
        self.assertEqual((1, [" ".join(line) for line in lines]),
                         (console.returncode, [" ".join(line.split()) for line in console.stdout.splitlines()]))
        # The same ANSI manifest read in code page 1252 names other paths, as it would for Uninst.exe.
        install.write_manifest(encoding="gbk")
        code, lines = check(windows_path(install.manifest))
        self.assertEqual((1, ["outside", "outside"]), (code, [line[0] for line in findings(lines)][:2]))

    def test_agrees_with_what_uninst_exe_leaves_behind(self):
        install = self.installation()
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
        dirs = [bin_, codec, bin2, install.root / "data", chinese, root]
        install.write_manifest(files, dirs, encoding="utf-16")

        code, lines = check(windows_path(install.manifest))
        self.assertEqual(1, code)
        forecast = {line[-1] for line in lines if line[0] in ("left", "expected")}

        run = Run(install.exe)
        run.answer("Return")
        self.assertEqual(0, run.wait())
        self.assertTrue(wait_for(lambda: not install.exe.exists(), 5), "Uninst.exe stays")
        self.assertEqual(sorted(forecast), sorted(install.tree()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
