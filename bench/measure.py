"""The timed part of the benchmark: for one packed payload, rounds of the
launcher's first start (empty target) and second start (nothing to write),
each paired in the same round with its references: the plain decode and
write of the same archive, the decode alone, the open + map + crc32 of the
unpacked files alone, and, for the small child, the empty program and the
child started directly. With a baseline (the same payload packed by the
packer of another commit), its launcher is timed in the same rounds, right
beside this tree's. Each round runs once pinned to one CPU and once free to
use every CPU. Starts programs under Wine; writes and removes the target
folders inside the Wine prefix.
"""

import os
import shutil
import statistics

from packing import TARGET_PARENT
from wine import windows_path

MIB = 1024 * 1024
# Where the launcher, the references and the programs they start may run:
# pinned to the wineserver's CPU, or free to use every CPU (the wineserver
# stays pinned). The launcher checks files on several threads, which only
# the second shows.
ONE_CPU, ALL_CPUS = 'one_cpu', 'all_cpus'
MODES = (ONE_CPU, ALL_CPUS)
MODE_TITLES = {ONE_CPU: '1 CPU', ALL_CPUS: 'all CPUs'}


def _clear(folder):
    shutil.rmtree(folder, ignore_errors=True)
    if os.path.exists(folder):
        raise RuntimeError('cannot remove %s' % folder)


def _check(condition, what):
    if not condition:
        raise RuntimeError('reference check failed: ' + what)


def _modification_times(folder):
    """Modification times of the non-empty files (an empty file is written
    again on every start: it cannot be mapped, so it never matches)."""
    times = {}
    for root, _, names in os.walk(folder):
        for name in names:
            status = os.stat(os.path.join(root, name))
            if status.st_size > 0:
                times[os.path.join(root, name)] = status.st_mtime_ns
    return times


def median(values):
    return statistics.median(values) if values else None


class Launcher:
    """One packed launcher the rounds start: its exe, where it unpacks, and
    the names its runs are kept under (first, second; with a suffix for the
    baseline's)."""

    def __init__(self, wine, packed, suffix=''):
        self.exe = packed['exe']
        parent = packed.get('parent', TARGET_PARENT)
        self.target = os.path.join(wine.local_app_data(), parent, packed['target'])
        self.target_windows = 'C:' + self.target[len(wine.drive_c()):].replace('/', '\\')
        self.first_entry = packed['entries'][0][0]
        self.first = 'first' + suffix
        self.second = 'second' + suffix


class Programs:
    """The Windows programs the rounds start."""

    def __init__(self, decode, crc, plain, child, empty):
        self.decode = decode
        self.crc = crc
        self.plain = plain
        self.child = child
        self.empty = empty


def _warm(paths):
    """Read once, so that no timed run is the one that reads them from disk."""
    for path in paths:
        with open(path, 'rb') as f:
            while f.read(1 << 22):
                pass


class _Rounds:
    """The runs of one payload, kept per mode and per figure, and how one
    round goes: every first start, the plain unpack, every second start,
    then the decode and the check alone (and the direct start of the small
    child), so that each pair in a round sees the same machine."""

    def __init__(self, wine, packed, programs, launchers, work, with_direct, memory_mode):
        self.wine = wine
        self.packed = packed
        self.programs = programs
        self.launchers = launchers
        self.with_direct = with_direct
        self.memory_mode = memory_mode
        self.plain = wine.drive_c('quorin-bench-plain', packed['target'])
        self.plain_windows = 'C:\\quorin-bench-plain\\' + packed['target']
        self.attached = [windows_path(packed['exe']), str(packed['offset']), str(packed['length'])]
        self.files = len(packed['entries'])
        self.file_bytes = sum(size for _, size in packed['entries'])
        self.mapped_files = sum(1 for _, size in packed['entries'] if size > 0)
        # The check alone reads the files this tree's launcher unpacked.
        self.listing = os.path.join(work, packed['target'] + '.list')
        with open(self.listing, 'w', encoding='utf-8') as f:
            for name, _ in packed['entries']:
                f.write(launchers[0].target_windows + '\\' + name + '\n')
        keys = ['plain', 'decode', 'crc'] + [k for l in launchers for k in (l.first, l.second)]
        if with_direct:
            keys += ['empty', 'child']
        self.runs = {}
        self.cpu = {}
        self.internal = {}
        self.memory = {key: {'anon_kib': [], 'rss_kib': [], 'samples': []}
                       for key in ['decode'] + [l.second for l in launchers]}
        self.rewritten = {}
        for mode in MODES:
            self.runs[mode] = {key: [] for key in keys}
            self.cpu[mode] = {key: [] for key in keys}
            self.internal[mode] = {key: [] for key in ('decode', 'crc', 'plain')}

    def _record(self, mode, key, run):
        self.runs[mode][key].append(run.seconds)
        self.cpu[mode][key].append(run.cpu_seconds)
        return run

    def _record_memory(self, key, run):
        for field, value in (('anon_kib', run.peak_anon_kib), ('rss_kib', run.peak_rss_kib),
                             ('samples', run.samples)):
            self.memory[key][field].append(value)

    def one(self, mode, order, first_round):
        """One round in one mode, the launchers started in the given order.
        Memory is sampled in one mode only: the sampler runs on a CPU of its
        own, which a launcher free to use every CPU would share."""
        pinned = mode == ONE_CPU
        sample = mode == self.memory_mode

        def run_program(program, args=(), memory=False):
            return self.wine.run(program, args, sample_memory=memory and sample, pinned=pinned)
        # Unpacked trees are removed soon after they are written, before the
        # kernel writes them back: no round waits for the disk, and none is
        # timed while the disk is busy with an earlier one.
        for launcher in order:
            _clear(launcher.target)
        _clear(self.plain)
        for launcher in order:
            self._record(mode, launcher.first, run_program(launcher.exe))
            _check(os.path.isfile(os.path.join(launcher.target, launcher.first_entry)),
                   'the first start of %s unpacked nothing' % launcher.exe)
        run = run_program(self.programs.plain, self.attached + [self.plain_windows])
        _clear(self.plain)
        fields = run.fields()
        _check(int(fields['files']) == self.files and int(fields['bytes']) == self.file_bytes,
               'the plain unpack wrote %s files and %s bytes, not %d and %d' %
               (fields['files'], fields['bytes'], self.files, self.file_bytes))
        self._record(mode, 'plain', run)
        self.internal[mode]['plain'].append(float(fields['ms']))

        for launcher in order:
            before = _modification_times(launcher.target) if first_round else None
            run = self._record(mode, launcher.second, run_program(launcher.exe, memory=True))
            if before is not None:
                after = _modification_times(launcher.target)
                self.rewritten[launcher.second] = sum(1 for path, stamp in before.items()
                                                      if after.get(path) != stamp)
            if sample:
                self._record_memory(launcher.second, run)

        run = run_program(self.programs.decode, self.attached, memory=True)
        fields = run.fields()
        _check(int(fields['bytes']) == self.packed['archive_bytes'], 'the decode gave %s bytes, not %d' %
               (fields['bytes'], self.packed['archive_bytes']))
        self._record(mode, 'decode', run)
        self.internal[mode]['decode'].append(float(fields['ms']))
        if sample:
            self._record_memory('decode', run)

        run = run_program(self.programs.crc, [windows_path(self.listing)])
        fields = run.fields()
        _check(int(fields['files']) == self.files and int(fields['mapped']) == self.mapped_files,
               'the check mapped %s of %s files, not %d of %d' % (fields['mapped'], fields['files'],
                                                                 self.mapped_files, self.files))
        self._record(mode, 'crc', run)
        self.internal[mode]['crc'].append(float(fields['ms']))

        if self.with_direct:
            self._record(mode, 'empty', run_program(self.programs.empty))
            self._record(mode, 'child', run_program(self.programs.child))

    def clear(self):
        for launcher in self.launchers:
            _clear(launcher.target)
        _clear(self.plain)


def _ratios(runs, medians, cpu_medians, second, first, with_direct):
    """One launcher's start figures against their references: of the
    medians, and round by round (paired: the pairs see the same load)."""
    result = {
        'second_ratio': medians[second] / (medians['decode'] + medians['crc']),
        'first_ratio': medians[first] / medians['plain'],
        'second_ratio_paired': median([s / (d + c) for s, d, c in zip(runs[second], runs['decode'], runs['crc'])]),
        'first_ratio_paired': median([f / p for f, p in zip(runs[first], runs['plain'])]),
    }
    if with_direct:
        direct = medians['empty'] + medians['child']
        result['direct_ratio'] = medians[second] / direct
        result['direct_ratio_first'] = medians[first] / direct
        result['direct_ratio_paired'] = median([s / (e + c) for s, e, c in zip(runs[second], runs['empty'],
                                                                               runs['child'])])
    # Not for the small child against the direct start: the launcher's own
    # child is not in the launcher's CPU time.
    if cpu_medians is not None:
        result['second_ratio_cpu'] = cpu_medians[second] / (cpu_medians['decode'] + cpu_medians['crc'])
        result['first_ratio_cpu'] = cpu_medians[first] / cpu_medians['plain']
    return result


def _against_baseline(runs, medians, cpu_medians):
    """This tree's launcher over the baseline's, figure by figure: of the
    medians, round by round (the two ran side by side), and of CPU time."""
    result = {}
    for figure in ('second', 'first'):
        old = figure + '_baseline'
        rounds = [n / o for n, o in zip(runs[figure], runs[old])]
        result[figure] = medians[figure] / medians[old]
        result[figure + '_rounds'] = rounds
        result[figure + '_paired'] = median(rounds)
        if cpu_medians is not None:
            result[figure + '_cpu'] = cpu_medians[figure] / cpu_medians[old]
    return result


def _mode_figures(runs, cpu, internal, with_direct, with_baseline):
    """The figures of one mode: runs, medians and every ratio."""
    runs = {key: values for key, values in runs.items() if values}
    medians = {key: median(values) for key, values in runs.items()}
    result = {'runs_s': runs, 'internal_ms': internal, 'median_s': medians,
              'median_internal_ms': {key: median(values) for key, values in internal.items()},
              'second_reference_s': medians['decode'] + medians['crc'], 'first_reference_s': medians['plain']}
    if with_direct:
        result['direct_reference_s'] = medians['empty'] + medians['child']
    # CPU time (the program's and the wineserver's), where it was measured.
    cpu_medians = None
    if all(value is not None for values in cpu.values() for value in values):
        cpu = {key: values for key, values in cpu.items() if values}
        cpu_medians = {key: median(values) for key, values in cpu.items()}
        result['runs_cpu_s'] = cpu
        result['median_cpu_s'] = cpu_medians
    result.update(_ratios(runs, medians, cpu_medians, 'second', 'first', with_direct))
    if with_baseline:
        result['baseline'] = _ratios(runs, medians, cpu_medians, 'second_baseline', 'first_baseline', with_direct)
        result['baseline']['median_s'] = {'second': medians['second_baseline'], 'first': medians['first_baseline']}
        result['vs_baseline'] = _against_baseline(runs, medians, cpu_medians)
    return result


def _memory_figures(memory, key, window):
    """Peak private and resident memory of one launcher's second start."""
    anon = median(memory[key]['anon_kib']) / 1024
    limit = window / MIB + 16
    return {'peak_anon_mib': anon, 'peak_rss_mib': median(memory[key]['rss_kib']) / 1024,
            'memory_limit_mib': limit, 'memory_ratio': anon / limit}


def measure(wine, packed, programs, rounds, work, log, with_direct=False, baseline=None, modes=MODES):
    """Times rounds of every figure for one packed payload, in each mode;
    returns the runs and their medians. packed (and baseline, the same
    payload packed by another commit's packer, or None): dict with exe,
    offset, length, entries, archive_bytes, window, target (the name of the
    target folder) and parent (the folder above it, under the local
    application data)."""
    launchers = [Launcher(wine, packed)] + ([Launcher(wine, baseline, '_baseline')] if baseline else [])
    _warm([l.exe for l in launchers] + [programs.decode, programs.crc, programs.plain, programs.child,
                                        programs.empty])
    state = _Rounds(wine, packed, programs, launchers, work, with_direct, modes[0])
    for round_number in range(rounds):
        # Alternate which launcher starts first, so that neither is always
        # the one that runs on a cache the other warmed.
        order = launchers if round_number % 2 == 0 else launchers[::-1]
        for mode in modes:
            log('  %s: round %d of %d, %s' % (packed['name'], round_number + 1, rounds, MODE_TITLES[mode]))
            state.one(mode, order, round_number == 0 and mode == modes[0])
    state.clear()

    result = {'modes': {mode: _mode_figures(state.runs[mode], state.cpu[mode], state.internal[mode], with_direct,
                                            baseline is not None) for mode in modes},
              'memory': state.memory, 'memory_mode': modes[0],
              'second_start_rewrote_files': state.rewritten.get('second'),
              'decode_peak_anon_mib': median(state.memory['decode']['anon_kib']) / 1024,
              'decode_peak_rss_mib': median(state.memory['decode']['rss_kib']) / 1024}
    result.update(_memory_figures(state.memory, 'second', packed['window']))
    if baseline:
        old = _memory_figures(state.memory, 'second_baseline', baseline['window'])
        old['second_start_rewrote_files'] = state.rewritten.get('second_baseline')
        old['exe_bytes'] = baseline['exe_bytes']
        result['baseline'] = old
        result['memory_vs_baseline'] = result['peak_anon_mib'] / old['peak_anon_mib']
    return result
