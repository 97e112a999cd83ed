"""Running Windows programs for the benchmark: a Wine prefix of its own, one
wineserver kept running and pinned to CPU 0, each program either pinned
there with it or free to use every CPU, wall times, and the memory of the
Linux process that runs the exe, sampled from /proc while it runs. Starts
and stops processes; writes the prefix.
"""

import os
import subprocess
import tempfile
import threading
import time

TIMED_CPU = 0
WINE64 = '/usr/lib/wine/wine64'


def windows_path(path):
    """The Wine path of a Linux path (drive Z: is the Linux root)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def _pin():
    os.sched_setaffinity(0, {TIMED_CPU})


def _free():
    """Every CPU: the benchmark itself keeps off the timed CPU, and a child
    would inherit that."""
    os.sched_setaffinity(0, set(range(os.cpu_count() or 1)))


def _cpu_ns(pid):
    """Time the process has run on a CPU so far (the scheduler's own count)."""
    try:
        with open('/proc/%d/schedstat' % pid) as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None


class Run:
    def __init__(self, seconds, stdout, cpu_seconds=None, peak_anon_kib=None, peak_rss_kib=None, samples=0):
        self.seconds = seconds
        # CPU time of the program and of the wineserver on its behalf: less
        # moved than the wall time by other work on a shared machine. The
        # program's own children are not in it (Wine starts them detached).
        self.cpu_seconds = cpu_seconds
        self.stdout = stdout
        self.peak_anon_kib = peak_anon_kib
        self.peak_rss_kib = peak_rss_kib
        self.samples = samples

    def fields(self):
        """The 'key=value' words a reference program prints."""
        return dict(word.split('=', 1) for word in self.stdout.split() if '=' in word)


class MemorySampler(threading.Thread):
    """Reads RssAnon and VmHWM of one process every interval until it ends.
    VmHWM is the kernel's own peak of the resident set; the peak of RssAnon
    is the largest value sampled. Both restart when the process execs, so
    the shell and loader stages before the exe do not count."""

    def __init__(self, pid, interval):
        super().__init__(daemon=True)
        self.path = '/proc/%d/status' % pid
        self.interval = interval
        self.stop = threading.Event()
        self.peak_anon = 0
        self.peak_rss = 0
        self.samples = 0

    def run(self):
        while not self.stop.is_set():
            try:
                with open(self.path) as f:
                    text = f.read()
            except OSError:
                return
            anon = hwm = None
            for line in text.splitlines():
                if line.startswith('RssAnon:'):
                    anon = int(line.split()[1])
                elif line.startswith('VmHWM:'):
                    hwm = int(line.split()[1])
            if anon is not None and hwm is not None:
                self.samples += 1
                self.peak_anon = max(self.peak_anon, anon)
                self.peak_rss = max(self.peak_rss, hwm)
            time.sleep(self.interval)


class Wine:
    def __init__(self, prefix, log):
        self.prefix = prefix
        self.log = log
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
        # The loader itself rather than Debian's 'wine' shell script, so no
        # start pays for a shell; the script sets WINELOADER the same way.
        if os.access(WINE64, os.X_OK):
            self.loader = [WINE64]
            self.env['WINELOADER'] = WINE64
        else:
            self.loader = ['wine']
        self.server = None

    def drive_c(self, *parts):
        return os.path.join(self.prefix, 'drive_c', *parts)

    def local_app_data(self):
        users = self.drive_c('users')
        for user in sorted(os.listdir(users)):
            folder = os.path.join(users, user, 'AppData', 'Local')
            if user != 'Public' and os.path.isdir(folder):
                return folder
        raise RuntimeError('no user folder in the Wine prefix %s' % self.prefix)

    def start(self):
        # A server left running on this prefix by an interrupted run.
        subprocess.run(['wineserver', '-k'], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not os.path.isfile(os.path.join(self.prefix, 'system.reg')):
            self.log('making the Wine prefix %s' % self.prefix)
            os.makedirs(self.prefix, exist_ok=True)
            subprocess.run(['wineboot', '-i'], env=self.env, preexec_fn=_pin, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(['wineserver', '-w'], env=self.env)
        # A server of our own, pinned with the programs; -p keeps it running
        # between programs until stop().
        self.server = subprocess.Popen(['taskset', '-c', str(TIMED_CPU), 'wineserver', '-f', '-p'], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        time.sleep(0.5)
        if self.server.poll() is not None or _cpu_ns(self.server.pid) is None:
            raise RuntimeError('the wineserver of %s did not stay up' % self.prefix)
        # The first program waits until the server answers.
        subprocess.run(self.loader + ['cmd', '/c', 'exit', '0'], env=self.env, preexec_fn=_pin,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(['wineserver', '-k'], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.server is not None:
            try:
                self.server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None

    def run(self, program, args=(), sample_memory=False, interval=0.001, extra_env=None, pinned=True):
        """Runs program under Wine on CPU 0 (on every CPU when not pinned)
        and returns its wall time (and memory when sampled); a non-zero exit
        code is an error."""
        env = dict(self.env, **(extra_env or {}))
        # Output to files, not pipes: a process that outlives the program
        # (a Wine service started on the way) must not hold the run open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            server_before = _cpu_ns(self.server.pid) if self.server is not None else None
            start = time.perf_counter()
            process = subprocess.Popen(self.loader + [program] + list(args), env=env,
                                       preexec_fn=_pin if pinned else _free, stdout=out,
                                       stderr=err, stdin=subprocess.DEVNULL)
            sampler = None
            if sample_memory:
                sampler = MemorySampler(process.pid, interval)
                sampler.start()
            _, status, usage = os.wait4(process.pid, 0)
            seconds = time.perf_counter() - start
            returncode = process.returncode = os.waitstatus_to_exitcode(status)
            server_after = _cpu_ns(self.server.pid) if self.server is not None else None
            cpu_seconds = None
            if server_before is not None and server_after is not None:
                cpu_seconds = usage.ru_utime + usage.ru_stime + (server_after - server_before) / 1e9
            if sampler is not None:
                sampler.stop.set()
                sampler.join()
            out.seek(0)
            err.seek(0)
            stdout = out.read().decode(errors='replace')
            stderr = err.read().decode(errors='replace')
        if returncode != 0:
            raise RuntimeError('%s %s: exit code %d\n%s%s' % (program, ' '.join(args), returncode, stdout, stderr))
        if sampler is None:
            return Run(seconds, stdout, cpu_seconds)
        return Run(seconds, stdout, cpu_seconds, sampler.peak_anon, sampler.peak_rss, sampler.samples)
