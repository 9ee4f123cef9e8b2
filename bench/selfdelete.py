"""Measures the self-deleting script under Wine; bench/selfdelete sets up the prefix and runs this.
For each script: the median time from the program's exit to its file's disappearance, and the CPU
that the script's cmd.exe and ping.exe use while the file is held open for 10 s."""
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'tests', 'selfdelete'))
from winesession import DRIVE_C, CpuWatch, install, windows_path, wait_gone, wine  # noqa: E402

PROGRAM = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
HOLD = 10
ROOT = os.path.join(DRIVE_C, 'selfdelete_bench')
TEMP = os.path.join(ROOT, 'tmp')


def fresh():
    shutil.rmtree(ROOT, ignore_errors=True)
    os.makedirs(TEMP)
    return install(PROGRAM, os.path.join(ROOT, 'app'))


def exit_to_gone(mode):
    times = []
    for _ in range(RUNS):
        exe = fresh()
        wine(windows_path(exe), mode, windows_path(TEMP) + '\\', cwd=ROOT)
        gone = wait_gone(exe, 10)
        if gone is None:
            sys.exit(f'{mode}: the executable was still there 10 s after the exit')
        times.append(gone)
        wait_gone(os.path.join(DRIVE_C, 'windows', 'temp', '_self_del.bat'), 5)
        wait_gone(os.path.join(TEMP, '_endless_del.bat'), 5)
    return statistics.median(times), min(times), max(times)


def cpu_while_held(mode):
    exe = fresh()
    holder = wine(windows_path(exe), 'hold', windows_path(exe), str((HOLD + 2) * 1000), wait=False)
    time.sleep(1)
    wine(windows_path(exe), mode, windows_path(TEMP) + '\\', cwd=ROOT)
    watch = CpuWatch()
    watch.sample_for(HOLD)
    holder.wait()
    if wait_gone(exe, 5) is None:
        sys.exit(f'{mode}: the executable was still there 5 s after its release')
    return watch.script, watch.everything


print(f'Wine {os.popen("wine --version").read().strip()}, {RUNS} runs each, file held for {HOLD} s')
print(f'{"script":<40} {"exit to gone: median (min-max)":>32} {"CPU while held: script":>24} {"all of Wine":>12}')
for mode, label in (('done', 'bounded, paused (ours)'), ('endless', 'unbounded loop (first design, no NUL)')):
    median, low, high = exit_to_gone(mode)
    script, everything = cpu_while_held(mode)
    print(f'{label:<40} {median:>11.3f} s ({low:.3f}-{high:.3f} s)'
          f' {script:>9.2f} s = {100 * script / HOLD:5.1f} % {100 * everything / HOLD:>10.1f} %', flush=True)
idle = CpuWatch()
idle.sample_for(HOLD)
print(f'{"(nothing running, for comparison)":<40} {"":>32} {"":>24} {100 * idle.everything / HOLD:>10.1f} %')
shutil.rmtree(ROOT, ignore_errors=True)
