"""The timed part of the benchmark: for one packed payload, rounds of the
launcher's first start (empty target) and second start (nothing to write),
each paired in the same round with its references: the plain decode and
write of the same archive, the decode alone, the open + map + crc32 of the
unpacked files alone, and, for the small child, the empty program and the
child started directly. Starts programs under Wine; writes and removes the
target folders inside the Wine prefix.
"""

import os
import shutil
import statistics

from wine import windows_path

MIB = 1024 * 1024


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


class Programs:
    """The Windows programs the rounds start."""

    def __init__(self, decode, crc, plain, child, empty):
        self.decode = decode
        self.crc = crc
        self.plain = plain
        self.child = child
        self.empty = empty


def measure(wine, packed, programs, rounds, work, log, with_direct=False):
    """Times rounds of every figure for one packed payload; returns the runs
    and their medians. packed: dict with exe, offset, length, entries,
    archive_bytes, target (the name of the target folder under the
    local application data)."""
    target = os.path.join(wine.local_app_data(), 'quorin-bench', packed['target'])
    plain = wine.drive_c('quorin-bench-plain', packed['target'])
    plain_windows = 'C:\\quorin-bench-plain\\' + packed['target']
    target_windows = 'C:' + target[len(wine.drive_c()):].replace('/', '\\')
    exe = packed['exe']
    attached = [windows_path(exe), str(packed['offset']), str(packed['length'])]
    files = len(packed['entries'])
    file_bytes = sum(size for _, size in packed['entries'])
    mapped_files = sum(1 for _, size in packed['entries'] if size > 0)
    listing = os.path.join(work, packed['target'] + '.list')
    with open(listing, 'w', encoding='utf-8') as f:
        for name, _ in packed['entries']:
            f.write(target_windows + '\\' + name + '\n')
    # Read once, so that no timed run is the one that reads them from disk.
    for path in [exe, programs.decode, programs.crc, programs.plain, programs.child, programs.empty]:
        with open(path, 'rb') as f:
            while f.read(1 << 22):
                pass

    rewritten = None
    runs = {key: [] for key in ('first', 'second', 'decode', 'crc', 'plain', 'empty', 'child')}
    cpu = {key: [] for key in runs}

    def record(key, run):
        runs[key].append(run.seconds)
        cpu[key].append(run.cpu_seconds)
        return run
    internal = {key: [] for key in ('decode', 'crc', 'plain')}
    memory = {key: {'anon_kib': [], 'rss_kib': [], 'samples': []} for key in ('second', 'decode')}
    for round_number in range(rounds):
        log('  %s: round %d of %d' % (packed['name'], round_number + 1, rounds))
        # Unpacked trees are removed soon after they are written, before the
        # kernel writes them back: no round waits for the disk, and none is
        # timed while the disk is busy with an earlier one.
        _clear(target)
        _clear(plain)
        record('first', wine.run(exe))
        _check(os.path.isfile(os.path.join(target, packed['entries'][0][0])), 'the first start unpacked nothing')
        run = wine.run(programs.plain, attached + [plain_windows])
        _clear(plain)
        fields = run.fields()
        _check(int(fields['files']) == files and int(fields['bytes']) == file_bytes, 'the plain unpack wrote '
               '%s files and %s bytes, not %d and %d' % (fields['files'], fields['bytes'], files, file_bytes))
        record('plain', run)
        internal['plain'].append(float(fields['ms']))

        before = _modification_times(target) if round_number == 0 else None
        run = wine.run(exe, sample_memory=True)
        record('second', run)
        if before is not None:
            after = _modification_times(target)
            rewritten = sum(1 for path, stamp in before.items() if after.get(path) != stamp)
        for key, value in (('anon_kib', run.peak_anon_kib), ('rss_kib', run.peak_rss_kib), ('samples', run.samples)):
            memory['second'][key].append(value)

        run = wine.run(programs.decode, attached, sample_memory=True)
        fields = run.fields()
        _check(int(fields['bytes']) == packed['archive_bytes'], 'the decode gave %s bytes, not %d' %
               (fields['bytes'], packed['archive_bytes']))
        record('decode', run)
        internal['decode'].append(float(fields['ms']))
        for key, value in (('anon_kib', run.peak_anon_kib), ('rss_kib', run.peak_rss_kib), ('samples', run.samples)):
            memory['decode'][key].append(value)

        run = wine.run(programs.crc, [windows_path(listing)])
        fields = run.fields()
        _check(int(fields['files']) == files and int(fields['mapped']) == mapped_files,
               'the check mapped %s of %s files, not %d of %d' % (fields['mapped'], fields['files'], mapped_files,
                                                                 files))
        record('crc', run)
        internal['crc'].append(float(fields['ms']))

        if with_direct:
            record('empty', wine.run(programs.empty))
            record('child', wine.run(programs.child))

    _clear(target)
    _clear(plain)
    medians = {key: median(values) for key, values in runs.items() if values}
    result = {
        'runs_s': {key: values for key, values in runs.items() if values},
        'internal_ms': internal,
        'memory': memory,
        'median_s': medians,
        'median_internal_ms': {key: median(values) for key, values in internal.items()},
        'second_start_rewrote_files': rewritten,
        'peak_anon_mib': median(memory['second']['anon_kib']) / 1024,
        'peak_rss_mib': median(memory['second']['rss_kib']) / 1024,
        'decode_peak_anon_mib': median(memory['decode']['anon_kib']) / 1024,
        'decode_peak_rss_mib': median(memory['decode']['rss_kib']) / 1024,
    }
    second_reference = medians['decode'] + medians['crc']
    result['second_reference_s'] = second_reference
    result['second_ratio'] = medians['second'] / second_reference
    result['first_reference_s'] = medians['plain']
    result['first_ratio'] = medians['first'] / medians['plain']
    # The same ratios round by round: the pairs see the same machine load.
    result['second_ratio_paired'] = median([s / (d + c) for s, d, c in zip(runs['second'], runs['decode'],
                                                                            runs['crc'])])
    result['first_ratio_paired'] = median([f / p for f, p in zip(runs['first'], runs['plain'])])
    if with_direct:
        direct = medians['empty'] + medians['child']
        result['direct_reference_s'] = direct
        result['direct_ratio'] = medians['second'] / direct
        result['direct_ratio_first'] = medians['first'] / direct
        result['direct_ratio_paired'] = median([s / (e + c) for s, e, c in zip(runs['second'], runs['empty'],
                                                                               runs['child'])])
    # The same ratios on CPU time (the program's and the wineserver's), where
    # it was measured. Not for the small child against the direct start: the
    # launcher's own child is not in the launcher's CPU time.
    if all(value is not None for values in cpu.values() for value in values):
        cpu_medians = {key: median(values) for key, values in cpu.items() if values}
        result['runs_cpu_s'] = {key: values for key, values in cpu.items() if values}
        result['median_cpu_s'] = cpu_medians
        result['second_ratio_cpu'] = cpu_medians['second'] / (cpu_medians['decode'] + cpu_medians['crc'])
        result['first_ratio_cpu'] = cpu_medians['first'] / cpu_medians['plain']
    result['memory_limit_mib'] = packed['window'] / MIB + 16
    result['memory_ratio'] = result['peak_anon_mib'] / result['memory_limit_mib']
    return result
