"""End to end under Wine's real cmd.exe: the exit step's script deletes the program's file once the
program has ended, then itself; it pauses about a second between attempts, gives up after about a minute, and
whatever the install directory is called, it runs no other command and touches no other file. It lies in
the Windows folder's Temp, whatever TMP says: every Wine process has administrator rights."""
import os
import select
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from winesession import CHINESE, DRIVE_C, install, script_processes, settled, windows_path, wait_gone, wine  # noqa: E402

PROGRAM = sys.argv[1]
ROOT = os.path.join(DRIVE_C, 'selfdelete_e2e')
SCRIPTS = os.path.join(DRIVE_C, 'windows', 'temp')
SCRIPT = '_self_del.bat'
SESSION_MANAGER = r'HKLM\System\CurrentControlSet\Control\Session Manager'
failures = []


def check(ok, what):
    print(('ok    ' if ok else 'FAIL  ') + what, flush=True)
    if not ok:
        failures.append(what)


def tree():
    return {os.path.relpath(os.path.join(d, n), ROOT) for d, dirs, files in os.walk(ROOT) for n in dirs + files}


def scripts():
    return {n for n in os.listdir(SCRIPTS) if n.startswith('_self_del')}


def run(exe, mode, temp, env=None):
    """Runs the installed program's exit step with TMP at temp; returns (exit code, script path), the script the
    run left in the Windows folder's Temp if it is still there."""
    before = scripts()
    code = wine(windows_path(exe), mode, windows_path(temp) + '\\', env=env, cwd=ROOT)
    new = sorted(scripts() - before)
    return code, os.path.join(SCRIPTS, new[0] if new else SCRIPT)


# Names of install and temporary directories. Each line: the name, and the decoys beside it that a
# command injected through the name, a wildcard or an expanded %...% would hit. No decoy may go.
HOSTILE = [
    ('plain', []),
    ('a & mkdir pwned_amp & b', ['a', 'b']),
    ('pct%PATH%x', []),
    ('d%X%y', ['dy']),
    ('p%q', ['pq']),
    ('bang!OS!x', []),
    # Full-width quote, ampersand, percent: best fit would give " & %.
    ('fw\uff02 \uff06 mkdir pwned_fw \uff06 \uff02x', ['fw']),
    ('fp\uff05X\uff05q', ['fpq']),
    # Outside code page 1252 and 936: a default character would be the wildcard '?'.
    ('w\u0e01x', ['wax', 'w_x']),
    # Outside 1252: '??' would match any two-character name.
    ('\u5378\u8f7d', ['ab']),
    # In 1252, but read by the console in 437.
    ('caf\u00e9', ['cafe']),
]


def hostile_names(env, label):
    for name, decoys in HOSTILE:
        # The name as the install directory, then as TMP, which has no say.
        for where in ('install', 'temp'):
            shutil.rmtree(ROOT, ignore_errors=True)
            for decoy in decoys:
                install(PROGRAM, os.path.join(ROOT, decoy))
                open(os.path.join(ROOT, decoy, 'keep.txt'), 'w').close()
            exe = install(PROGRAM, os.path.join(ROOT, name if where == 'install' else 'app'))
            temp = os.path.join(ROOT, name if where == 'temp' else 'tmp')
            os.makedirs(temp, exist_ok=True)
            before = tree()
            code, script = run(exe, 'done', temp, env)
            what = f'{label} {where} {name!r}:'
            check(code == 0 and wait_gone(exe, 5) is not None and wait_gone(script, 5) is not None,
                  f'{what} exit code {code}, executable and script gone')
            expected = before - {os.path.relpath(exe, ROOT)}
            after = tree()
            check(after == expected,
                  f'{what} nothing else touched (lost {sorted(expected - after)}, new {sorted(after - expected)})')
    check(not any(os.path.exists(os.path.join(d, m)) for d in (ROOT, DRIVE_C) for m in ('pwned_amp', 'pwned_fw')),
          f'{label} no injected command ran')


def pending():
    """What the prefix deletes at its next restart, as reg prints it."""
    return subprocess.run(['wine', 'reg', 'query', SESSION_MANAGER, '/v', 'PendingFileRenameOperations'],
                          capture_output=True, text=True, errors='replace').stdout


def no_script():
    """A run that removed nothing starts no script and schedules nothing. A script name taken, even by a
    directory, only makes the program use a name of its own."""
    shutil.rmtree(ROOT, ignore_errors=True)
    exe = install(PROGRAM, os.path.join(ROOT, 'app'))
    before = pending().count(windows_path(exe))
    code = wine(windows_path(exe), 'none', windows_path(os.path.join(ROOT, 'tmp')) + '\\', cwd=ROOT)
    check(code == 0 and settled(30) and os.path.exists(exe), f'no removal: exit code {code}, executable stays, no script')
    check(pending().count(windows_path(exe)) == before, 'no removal: nothing scheduled at the next restart')
    taken = os.path.join(SCRIPTS, SCRIPT)
    settled(30)
    os.makedirs(os.path.join(taken, 'inside'))
    try:
        code, script = run(exe, 'done', os.path.join(ROOT, 'tmp'))
        check(code == 0 and wait_gone(exe, 10) is not None, 'script name taken by a directory: exit code 0, executable gone')
        check(os.path.isdir(os.path.join(taken, 'inside')), 'the directory in the way stays')
    finally:
        shutil.rmtree(taken)


def install_held(folder, milliseconds):
    """A fresh installation whose executable another process holds open for a while, once it holds it."""
    shutil.rmtree(ROOT, ignore_errors=True)
    exe = install(PROGRAM, os.path.join(ROOT, folder))
    os.makedirs(os.path.join(ROOT, 'tmp'))
    holder = wine(windows_path(exe), 'hold', windows_path(exe), str(milliseconds), wait=False, stdout=subprocess.PIPE)
    held = select.select([holder.stdout], [], [], 60)[0] and holder.stdout.readline().strip() == b'held'
    check(held, f'{folder}: the executable is held open')
    return exe, holder


def held_open():
    """Each attempt runs a ping.exe that pauses about a second, on a busy machine longer: the script takes
    one attempt a second at most, and pauses before the next."""
    exe, holder = install_held('held', 10000)
    start = time.monotonic()
    code, script = run(exe, 'done', os.path.join(ROOT, 'tmp'))
    pings, waited = set(), True
    while True:
        there = os.path.exists(exe)
        if holder.poll() is not None:
            break
        waited = waited and there
        pings |= {k for k, c in script_processes().items() if 'ping.exe' in c}
        time.sleep(0.05)
    held = time.monotonic() - start
    check(code == 0 and waited, 'held open: the executable waits')
    check(1 <= len(pings) <= held + 2,
          f'held open: the script waited between its attempts, {len(pings)} pings in {held:.1f} s')
    released = time.monotonic()
    gone = wait_gone(exe, 15)
    check(gone is not None, f'held open: gone {time.monotonic() - released:.2f} s after the release')
    check(wait_gone(script, 5) is not None, 'held open: the script deleted itself')


def undeletable():
    """Held for good: the script gives up after its 60 attempts, which take a minute, on a busy machine more."""
    exe, holder = install_held('stuck', 600000)
    started = time.monotonic()
    code, script = run(exe, 'done', os.path.join(ROOT, 'tmp'))
    ended = wait_gone(script, 300)
    check(ended is not None and holder.poll() is None and os.path.exists(exe),
          f'undeletable: the script gave up by itself after {time.monotonic() - started:.0f} s, the executable stays')
    check(settled(30), 'undeletable: no cmd.exe runs the script any more')
    holder.kill()
    holder.wait()


hostile_names({}, 'locale 1252:')
hostile_names(CHINESE, 'locale 936:')
no_script()
held_open()
undeletable()
shutil.rmtree(ROOT, ignore_errors=True)
print(f'{len(failures)} failed')
sys.exit(1 if failures else 0)
