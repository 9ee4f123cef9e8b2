"""The uninstaller end to end: the real Uninst.exe under Wine, answered by real key presses."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from driver import (CONFIRM_TEXT, DRIVE_C, RUNNING_TEXT, Installation, Run, StandIn, add_uninstall_key,  # noqa: E402
                    delete_uninstall_key, dialog_state, uninstall_key_exists, wait_for, xdotool)


class UninstallerTest(unittest.TestCase):
    def setUp(self):
        add_uninstall_key()
        self.install = Installation(self.id().rsplit(".", 1)[-1])
        self.install.add_file("Quorill.exe")
        self.install.add_file("bin/voice.dll")
        self.install.add_file("bin/codec/g729.dll")
        self.install.add_dir("bin/codec")
        self.install.add_dir("bin")
        self.install.add_decoy("readme.txt")
        self.install.add_decoy("data/user.cfg")
        self.install.add_decoy("bin2/voice.dll")

    def tearDown(self):
        delete_uninstall_key()

    def assertUntouched(self, install):
        time.sleep(1)  # long enough for a self-deleting script, had one been started, to act
        self.assertTrue(install.manifest.exists(), "manifest")
        for path in install.files + install.dirs:
            self.assertTrue(path.exists(), path)
        self.assertTrue(install.intact_decoys())
        self.assertTrue(install.exe.exists())
        self.assertTrue(uninstall_key_exists())

    def test_refuses_while_the_product_runs(self):
        self.install.write_manifest()
        for name in ["Quorill.exe", "QUORILL.EXE"]:
            with self.subTest(name=name):
                product = StandIn(self.install.root / "running", name)
                try:
                    run = Run(self.install.exe)
                    self.assertEqual(("ok", RUNNING_TEXT), run.box())
                    state = dialog_state()
                    self.assertTrue(state.startswith("hidden") or state.startswith("visible 0x0 "), state)
                    run.answer("Return")
                    self.assertEqual(0, run.wait())
                finally:
                    product.stop()
                self.assertUntouched(self.install)

    def test_no_changes_nothing(self):
        self.install.write_manifest()
        run = Run(self.install.exe)
        self.assertEqual(("yesno", CONFIRM_TEXT), run.box())
        state = dialog_state()
        self.assertTrue(state.startswith("hidden"), state)
        run.answer("n")
        self.assertEqual(0, run.wait())
        self.assertUntouched(self.install)

    def test_yes_without_a_manifest_ends_silently(self):
        run = Run(self.install.exe)
        self.assertEqual(("yesno", CONFIRM_TEXT), run.box())
        run.answer("Return")
        # Another box would keep the process waiting for an answer.
        self.assertEqual(0, run.wait(15))
        self.install.write_manifest()
        self.assertUntouched(self.install)

    def test_yes_removes_what_the_manifest_lists(self):
        self.install.write_manifest()
        run = Run(self.install.exe)
        self.assertEqual(("yesno", CONFIRM_TEXT), run.box())
        run.answer("Return")
        self.assertEqual(0, run.wait())

        self.assertFalse(self.install.manifest.exists())
        for path in self.install.files + self.install.dirs:
            self.assertFalse(path.exists(), path)
        self.assertTrue(self.install.intact_decoys())
        self.assertFalse(uninstall_key_exists())
        # After the process has ended its script removes the executable, then itself.
        self.assertTrue(wait_for(lambda: not self.install.exe.exists(), 5), "Uninst.exe stays")
        temp = list(DRIVE_C.glob("users/*/Temp"))
        self.assertTrue(temp)
        self.assertTrue(wait_for(lambda: not any((t / "_self_del.bat").exists() for t in temp), 5))

    def test_yes_with_an_empty_manifest_still_completes(self):
        self.install.write_manifest(files=[], dirs=[])
        run = Run(self.install.exe)
        run.answer("Return")
        self.assertEqual(0, run.wait())
        self.assertFalse(self.install.manifest.exists())
        self.assertFalse(uninstall_key_exists())
        for path in self.install.files + self.install.dirs:
            self.assertTrue(path.exists(), path)
        # A completed removal, though nothing was listed: the executable goes too.
        self.assertTrue(wait_for(lambda: not self.install.exe.exists(), 5), "Uninst.exe stays")

    def test_enter_and_escape_do_not_close_the_dialog_during_removal(self):
        # Names that do not exist, in a very large directory: Wine looks for each one without regard
        # to case by reading the whole directory, which keeps the removal going for a few seconds.
        crowd = self.install.root / "crowd"
        crowd.mkdir()
        for i in range(80000):
            (crowd / f"f{i}").touch()
        missing = [crowd / f"MISSING{i}.dll" for i in range(200)]
        self.install.write_manifest(files=missing, dirs=[])

        run = Run(self.install.exe)
        run.answer("Return")
        dialog = wait_for(lambda: xdotool("search", "--name", "^卸载"), 10)
        self.assertTrue(dialog)
        started = time.monotonic()
        for key in ["Return", "Escape"]:
            xdotool("windowfocus", dialog[0])
            xdotool("key", "--clearmodifiers", key)
        time.sleep(0.3)
        state = dialog_state()
        elapsed = time.monotonic() - started
        self.assertEqual(0, run.wait(120))
        print(f"dialog {elapsed:.1f} s after Enter and Escape: {state}; "
              f"removal ended {time.monotonic() - started:.1f} s after them", file=sys.stderr)
        # Shown, above other windows, centred on the 1024x768 test display.
        shown, size, _, place, *flags = state.split()
        self.assertEqual("visible", shown)
        self.assertEqual(["topmost"], flags)
        width, height = map(int, size.split("x"))
        x, y = map(int, place.split(","))
        self.assertLessEqual(abs(2 * x + width - 1024), 1, state)
        self.assertLessEqual(abs(2 * y + height - 768), 1, state)


if __name__ == "__main__":
    unittest.main(verbosity=2)
