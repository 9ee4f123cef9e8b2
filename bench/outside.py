"""Watches bench/desktop's runs from outside Wine, so that its figures can be checked against another
measurement of the same runs: the staged entries' removal as the Linux kernel reports it (inotify),
and each program's end and peak resident set as the kernel reports them to the process that reaps
it (wait4). Wine starts a Windows process by forking twice, so that nobody is its parent; this
script adopts them (PR_SET_CHILD_SUBREAPER). Nothing polls: the script sleeps until the kernel wakes
it. It also counts the CPU time that the program, the wineserver and the rest of the session (Wine's
other processes and the X server) and the bench itself spent from the question to the end of each run.

Usage: python3 bench/outside.py WINDOWS_TEMP_AS_UNIX_PATH -- COMMAND...
The command (desktop_bench.exe --observed) prints "ready <file>" while the staged program waits for
the answer, and waits for a line on its input; and after each run a line of its own figures, on the
clock of QueryPerformanceCounter, which is CLOCK_MONOTONIC_RAW under Wine."""
import ctypes
import os
import re
import select
import statistics
import struct
import subprocess
import sys
import threading
import time

IN_DELETE, IN_ONLYDIR, IN_NONBLOCK = 0x200, 0x01000000, 0x800
libc = ctypes.CDLL(None, use_errno=True)


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


def ours(pid, prefix):
    """Whether the process runs in this Wine prefix."""
    try:
        with open(f'/proc/{pid}/environ', 'rb') as f:
            return f'WINEPREFIX={prefix}'.encode() in f.read().split(b'\0')
    except OSError:
        return False


def cpu_ms(pid):
    """The time that the threads of the process have spent on a CPU, from the scheduler's own count."""
    total = 0.0
    try:
        for task in os.listdir(f'/proc/{pid}/task'):
            with open(f'/proc/{pid}/task/{task}/schedstat') as f:
                total += int(f.read().split()[0]) / 1e6
    except OSError:
        pass
    return total


def session(prefix, xserver, skip):
    """CPU by part of the session: the wineserver, and everything else of the prefix and the X server."""
    server = other = 0.0
    for pid in filter(str.isdigit, os.listdir('/proc')):
        if int(pid) in skip:
            continue
        if pid == xserver:
            other += cpu_ms(pid)
        elif ours(pid, prefix):
            try:
                comm = open(f'/proc/{pid}/comm').read().strip()
            except OSError:
                continue
            if comm.startswith('wineserver'):
                server += cpu_ms(pid)
            else:
                other += cpu_ms(pid)
    return server, other


def find_program(ending, prefix):
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                line = f.read()
        except OSError:
            continue
        if line.split(b'\0')[0].lower().endswith(ending.lower().encode()) and ours(pid, prefix):
            return int(pid)
    sys.exit(f'outside.py: no process of {ending} found')


class Reaper(threading.Thread):
    """Reaps every adopted process, noting when each ended, its CPU time and its peak resident set."""

    def __init__(self, child):
        super().__init__(daemon=True)
        self.child, self.ended, self.lock = child, {}, threading.Condition()

    def run(self):
        while True:
            try:
                pid, _, usage = os.wait4(-1, 0)
            except ChildProcessError:
                return
            with self.lock:
                self.ended[pid] = (now(), (usage.ru_utime + usage.ru_stime) * 1000, usage.ru_maxrss / 1024)
                self.lock.notify_all()
            if pid == self.child:
                return

    def wait(self, pid, seconds=30):
        with self.lock:
            self.lock.wait_for(lambda: pid in self.ended, seconds)
            return self.ended.get(pid)


def main():
    temp, command = sys.argv[1], sys.argv[sys.argv.index('--') + 1:]
    prefix, xserver = os.environ['WINEPREFIX'], os.environ.get('WINE_SESSION_XVFB', '')
    libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    notify = libc.inotify_init1(IN_NONBLOCK)
    bench = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    reaper = Reaper(bench.pid)
    reaper.start()
    watches, run, rows, pending, own = {}, None, [], b'', None
    while True:
        readable, _, _ = select.select([notify, bench.stdout], [], [])
        moment = now()
        if notify in readable:
            try:
                events = os.read(notify, 65536)
            except BlockingIOError:
                events = b''
            at = 0
            while at < len(events):
                wd, mask, _, length = struct.unpack_from('iIII', events, at)
                name = events[at + 16:at + 16 + length].rstrip(b'\0').decode()
                at += 16 + length
                if run and mask & IN_DELETE and watches.get(wd) == 'first' and name == 'file.dat':
                    run['first'] = run['first'] or moment
                if run and mask & IN_DELETE and watches.get(wd) == 'root' and re.fullmatch(r'd\d+', name):
                    run['last'] = moment
        if bench.stdout not in readable:
            continue
        chunk = os.read(bench.stdout.fileno(), 65536)
        if not chunk:
            break
        pending += chunk
        while b'\n' in pending:
            line, pending = pending.split(b'\n', 1)
            words = line.decode(errors='replace').rstrip('\r').split()
            if words[:1] == ['ready']:
                pid = find_program('\\' + words[2] + '\\' + words[1], prefix)
                own = own or find_program('_bench.exe', prefix)
                root = os.path.join(temp, *words[2].split('\\'))
                watches = {libc.inotify_add_watch(notify, root.encode(), IN_DELETE | IN_ONLYDIR): 'root',
                           libc.inotify_add_watch(notify, os.path.join(root, 'd0', 's0').encode(),
                                                  IN_DELETE | IN_ONLYDIR): 'first'}
                run = {'pid': pid, 'first': None, 'last': None, 'bench': cpu_ms(own),
                       'cpu': session(prefix, xserver, {pid, own})}
                bench.stdin.write(b'go\n')
            elif words[:1] in (['run'], ['warm-up']) and run:
                ended = reaper.wait(run['pid'])
                server, other = session(prefix, xserver, {run['pid'], own})
                yes, first, last, exit_, peak = map(float, words[3:8])
                rows.append({'counted': words[0] == 'run', 'program': words[1], 'entries': int(words[2]),
                             'bench': (first and first - yes, last and last - yes, exit_ - yes, peak),
                             'outside': (run['first'] - yes, run['last'] - yes, ended[0] - yes, ended[2]),
                             'cpu': (ended[1], server - run['cpu'][0], other - run['cpu'][1],
                                     cpu_ms(own) - run['bench'])})
                run = None
            else:
                print(line.decode(errors='replace').rstrip('\r'), flush=True)
    bench.wait()
    report(rows)
    return bench.returncode


def report(rows):
    counted = [r for r in rows if r['counted']]
    if not counted:
        return
    print(f'\nThe same runs seen from outside Wine (bench/outside.py), medians of {len(counted)} runs: the bench\'s')
    print('own figures beside the kernel\'s, from the same moment (the key press of Yes, or the start of a silent run),')
    print('in ms; the peak working set, in MB; the CPU time, in ms, of the program, the wineserver, the bench, and the')
    print('rest of the session (Wine\'s other processes and the X server) from that moment to the run\'s end.')
    print(f'{"":27}{"first gone":>16}{"last gone":>16}{"exit":>16}{"peak WS":>16}{"CPU: program":>14}{"wineserver":>11}'
          f'{"bench":>7}{"rest":>7}')
    print(f'{"":27}' + f'{"bench outside":>16}' * 4)
    for entries in sorted({r['entries'] for r in counted}, reverse=True):
        for program in sorted({r['program'] for r in counted}, key=lambda p: (p != 'floor', p)):
            mine = [r for r in counted if r['program'] == program and r['entries'] == entries]
            if not mine:
                continue
            cells = ''
            for i, unit in enumerate(('.0f', '.0f', '.0f', '.1f')):
                bench = [r['bench'][i] for r in mine if r['bench'][i] > 0]
                outside = statistics.median(r['outside'][i] for r in mine)
                cells += (f'{statistics.median(bench):8{unit}}' if bench else f'{"-":>8}') + f'{outside:8{unit}}'
            cpu = [statistics.median(r['cpu'][i] for r in mine) for i in range(4)]
            print(f'{entries:4} entries, {program:<11.11}{cells}{cpu[0]:14.0f}{cpu[1]:11.0f}{cpu[3]:7.0f}{cpu[2]:7.0f}')
    late = [r for r in counted if any(r['bench'][i] > 0 and abs(r['bench'][i] - r['outside'][i]) > 5 for i in range(2))]
    if late:
        print(f'In {len(late)} of these runs the bench saw an entry go more than 5 ms after the kernel did: Wine was slow')
        print('to deliver the notification on a busy machine.')


if __name__ == '__main__':
    sys.exit(main())
