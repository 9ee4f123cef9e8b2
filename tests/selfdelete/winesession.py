"""Runs the exit-step program in the private Wine prefix and watches what its script does."""
import os
import shutil
import subprocess
import time

PREFIX = os.environ.get('WINEPREFIX') or exit('run through scripts/test.sh, which sets up the Wine prefix')
DRIVE_C = os.path.join(PREFIX, 'drive_c')
CHINESE = {'LOCPATH': os.path.join(os.path.dirname(PREFIX), 'locale'), 'LC_ALL': 'zh_CN.UTF-8'}
TICK = os.sysconf('SC_CLK_TCK')
# Wine passes a program's environment on to every process it starts, and they to theirs: what this run's
# programs started, and nothing that another run or test left in the prefix, carries this mark.
MARK = {'SELFDELETE_E2E_RUN': str(os.getpid())}


def windows_path(unix_path):
    """C:\\... for a path under the prefix's drive_c."""
    return 'C:\\' + os.path.relpath(unix_path, DRIVE_C).replace('/', '\\')


def wine(*args, env=None, cwd=None, wait=True, stdout=subprocess.DEVNULL):
    command = ['wine', *args]
    options = dict(env={**os.environ, **MARK, **(env or {})}, cwd=cwd, stdin=subprocess.DEVNULL,
                   stdout=stdout, stderr=subprocess.DEVNULL)
    return subprocess.run(command, **options).returncode if wait else subprocess.Popen(command, **options)


def install(program, directory):
    """Copies the program into directory as Uninst.exe; returns its path."""
    os.makedirs(directory, exist_ok=True)
    exe = os.path.join(directory, 'Uninst.exe')
    shutil.copy(program, exe)
    return exe


def wait_gone(path, timeout):
    """Seconds until path is gone, or None when it is still there after timeout."""
    start = time.monotonic()
    while os.path.lexists(path):
        if time.monotonic() - start > timeout:
            return None
        time.sleep(0.005)
    return time.monotonic() - start


def _prefix_processes(marked=False):
    """{(pid, start time): (command line, CPU seconds)} for the processes of this prefix, or this run's."""
    found = {}
    for pid in filter(str.isdigit, os.listdir('/proc')):
        if int(pid) == os.getpid():
            continue
        try:
            with open(f'/proc/{pid}/environ', 'rb') as f:
                environ = f.read()
            if f'WINEPREFIX={PREFIX}\0'.encode() not in environ or marked and not all(
                    f'{k}={v}\0'.encode() in environ for k, v in MARK.items()):
                continue
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                cmdline = f.read().replace(b'\0', b' ').decode(errors='replace')
            with open(f'/proc/{pid}/stat') as f:
                fields = f.read().rsplit(')', 1)[1].split()
        except OSError:
            continue
        found[(pid, fields[19])] = (cmdline, (int(fields[11]) + int(fields[12])) / TICK)
    return found


class CpuWatch:
    """CPU seconds that the prefix's processes spend from now on, sampled often enough to count
    the short-lived ping.exe processes too; `script` is the share of new cmd.exe and ping.exe."""

    def __init__(self):
        self.base = {k: cpu for k, (_, cpu) in _prefix_processes().items()}
        self.last = {}

    def sample_for(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.last.update(_prefix_processes())
            time.sleep(0.05)

    def _spent(self, match):
        return sum(cpu - self.base.get(k, 0.0) for k, (cmdline, cpu) in self.last.items() if match(cmdline))

    @property
    def script(self):
        return self._spent(lambda c: 'cmd.exe' in c or 'ping.exe' in c)

    @property
    def everything(self):
        return self._spent(lambda c: True)


def script_processes():
    """{(pid, start time): command line} of this run's cmd.exe and ping.exe: what runs a self-deleting script."""
    return {k: c for k, (c, _) in _prefix_processes(marked=True).items() if 'cmd.exe' in c or 'ping.exe' in c}


def settled(timeout):
    """Whether no script that this run's programs started runs any more, waiting at most timeout seconds."""
    start = time.monotonic()
    while script_processes():
        if time.monotonic() - start > timeout:
            return False
        time.sleep(0.05)
    return True
