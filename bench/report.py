"""The benchmark's output: one table of every figure beside its reference and
the ratio its target is stated in, the figures as JSON, and a chart of start
time against payload size and against file count (matplotlib, when it is
installed). Writes the JSON and the PNG only.
"""

import json
import os

MB = 1e6
MIB = 1024 * 1024
KIB = 1024

# The targets, as ratios (or sizes) the table compares with.
SECOND_TARGET = 0.90
FIRST_TARGET = 1.00
DIRECT_TARGET = 1.15
STUB_TARGET_KIB = 300
ICON_TARGET_KIB = 100
SMALL_PAYLOAD_MEMORY_MIB = 32
PACK_SIZE_TARGET = 1.01


def write_json(results, path):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, 'w') as f:
        json.dump(results, f, indent=1)
        f.write('\n')


def _s(value):
    return '%.3f s' % value


ONE_CPU = 'one_cpu'
MODE_TITLES = {'one_cpu': '1 CPU', 'all_cpus': 'all CPUs'}
# The cells of one mode's group of columns, and the column they share the
# right alignment of numbers with.
GROUP = ('launcher', 'reference', 'ratio', 'paired', 'cpu', 'new/old')
NUMERIC = ('ratio', 'paired', 'cpu', 'new/old')


def _modes(p):
    """A payload's figures by mode; figures written before there were modes
    were all taken on one CPU."""
    return p.get('modes') or {ONE_CPU: p}


def _number(value):
    return '' if value is None else '%.2f' % value


class _Table:
    """Rows of a figure, its target, and per mode its cells (launcher,
    reference, ratio, paired, cpu, new/old); a mode's cells left out are
    blank."""

    def __init__(self, modes, with_baseline):
        self.modes = modes
        self.group = GROUP if with_baseline else GROUP[:-1]
        self.rows = []

    def row(self, figure, target='', **cells_by_mode):
        """cells_by_mode: mode -> dict of the group's cells (numbers for the
        numeric ones)."""
        cells = [figure]
        for mode in self.modes:
            values = cells_by_mode.get(mode, {})
            cells += [_number(values.get(c)) if c in NUMERIC else values.get(c, '') for c in self.group]
        self.rows.append(cells + [target])

    def lines(self):
        headers = ['figure'] + list(self.group) * len(self.modes) + ['target']
        widths = [max(len(headers[i]), *(len(r[i]) for r in self.rows)) for i in range(len(headers))]
        numeric = [False] + [c in NUMERIC for c in self.group] * len(self.modes) + [False]

        def line(cells):
            return '  '.join(c.rjust(w) if n else c.ljust(w) for c, w, n in zip(cells, widths, numeric)).rstrip()

        # The group titles above their columns.
        width_of_group = sum(widths[1:1 + len(self.group)]) + 2 * (len(self.group) - 1)
        titles = ' ' * widths[0]
        for mode in self.modes:
            title = ' %s ' % MODE_TITLES[mode]
            titles += '  ' + title.center(width_of_group, '-')
        return [titles.rstrip(), line(headers), line(['-' * w for w in widths])] + [line(r) for r in self.rows]


def _seconds_cells(figures, key, reference, ratio, paired, cpu, against=None):
    """Cells of one start figure in one mode."""
    return {'launcher': _s(figures['median_s'][key]) if key in figures['median_s'] else '',
            'reference': reference, 'ratio': figures.get(ratio), 'paired': figures.get(paired),
            'cpu': figures.get(cpu), 'new/old': against}


def _start_rows(t, title, target, p, baseline, key, reference_of, ratio_key, baseline_note=''):
    """A start figure's row (this tree's launcher, each mode) and, with a
    baseline, the baseline launcher's row below it."""
    modes = _modes(p)
    cells = {}
    for mode, m in modes.items():
        against = m.get('vs_baseline', {}).get(('second' if key == 'direct' else key) + '_paired')
        launcher_key = 'second' if key == 'direct' else key
        cells[mode] = _seconds_cells(m, launcher_key, reference_of(m), ratio_key, ratio_key + '_paired',
                                     ratio_key + '_cpu', against)
    t.row(title, target, **cells)
    if baseline:
        cells = {}
        for mode, m in modes.items():
            if 'baseline' in m:
                cells[mode] = _seconds_cells(m['baseline'], 'second' if key == 'direct' else key, '', ratio_key,
                                             ratio_key + '_paired', ratio_key + '_cpu')
        t.row('    baseline %s%s' % (baseline, baseline_note), **cells)


def _rewrote(figures):
    """A second start that wrote files again: a fault in what is timed."""
    rewrote = (figures or {}).get('second_start_rewrote_files')
    return ' (REWROTE %d FILES)' % rewrote if rewrote else ''


def _payload_rows(t, p, baseline):
    first_mode = next(iter(_modes(p)))
    t.row('%s: %d files, %.1f MB, frame %.1f MB' % (p['title'], p['files'], p['bytes'] / MB, p['frame_bytes'] / MB))
    _start_rows(t, '  second start / (decode + open/map/crc32)' + _rewrote(p), '<= %.2f' % SECOND_TARGET, p,
                baseline, 'second', lambda m: '%.3f+%.3f s' % (m['median_s']['decode'], m['median_s']['crc']),
                'second_ratio', _rewrote(p.get('baseline')))
    _start_rows(t, '  first start / plain decode + writing', '<= %.2f' % FIRST_TARGET, p, baseline, 'first',
                lambda m: _s(m['first_reference_s']), 'first_ratio')
    target = '<= 1.00'
    if p['bytes'] <= 10 * MB:
        target += ', <= %d MiB' % SMALL_PAYLOAD_MEMORY_MIB
    memory_mode = p.get('memory_mode', first_mode)
    window = p['window_bytes']
    window = '%.0f KiB' % (window / KIB) if window < MIB else '%.0f MiB' % (window / MIB)
    t.row('  peak private memory, 2nd start / (window %s + 16 MiB)' % window, target,
          **{memory_mode: {'launcher': '%.1f MiB' % p['peak_anon_mib'],
                           'reference': '%.1f MiB' % p['memory_limit_mib'], 'ratio': p['memory_ratio'],
                           'new/old': p.get('memory_vs_baseline')}})
    old = p.get('baseline')
    if baseline and old:
        t.row('    baseline %s' % baseline,
              **{memory_mode: {'launcher': '%.1f MiB' % old['peak_anon_mib'],
                               'reference': '%.1f MiB' % old['memory_limit_mib'], 'ratio': old['memory_ratio']}})
    t.row('    resident peak / the decode alone\'s private peak',
          **{memory_mode: {'launcher': '%.1f MiB' % p['peak_rss_mib'],
                           'reference': '%.1f MiB' % p['decode_peak_anon_mib']}})
    if 'direct_reference_s' in _modes(p)[first_mode]:
        def direct(m):
            return '%.3f+%.3f s' % (m['median_s']['empty'], m['median_s']['child'])
        _start_rows(t, '  second start / (empty program + child)', '<= %.2f' % DIRECT_TARGET, p, baseline, 'direct',
                    direct, 'direct_ratio')
        t.row('  first start / (empty program + child)', **{mode: {'launcher': _s(m['median_s']['first']),
                                                                   'reference': direct(m),
                                                                   'ratio': m['direct_ratio_first']}
                                                            for mode, m in _modes(p).items()})


def _stub_rows(t, mode, stub, old, baseline):
    t.row('launcher exe (the small child\'s)')
    t.row('  stub without resources', '<= %d KiB' % STUB_TARGET_KIB,
          **{mode: {'launcher': '%.1f KiB' % (stub['stub_without_resources_bytes'] / KIB),
                    'reference': 'stub %.1f, resources %.1f KiB' % (stub['stub_bytes'] / KIB,
                                                                    stub['resources_bytes'] / KIB),
                    'new/old': stub['stub_without_resources_bytes'] / old['stub_without_resources_bytes']
                    if old else None}})
    if old:
        t.row('    baseline %s' % baseline,
              **{mode: {'launcher': '%.1f KiB' % (old['stub_without_resources_bytes'] / KIB),
                        'reference': 'stub %.1f, resources %.1f KiB' % (old['stub_bytes'] / KIB,
                                                                        old['resources_bytes'] / KIB)}})
    t.row('  default icon images', '<= %d KiB' % ICON_TARGET_KIB,
          **{mode: {'launcher': '%.1f KiB' % (stub['icon_bytes'] / KIB),
                    'reference': '%d images, %d PNG' % (stub['icon_images'], stub['icon_png_images'])}})
    t.row('  attached data offset', **{mode: {'launcher': '%d' % stub['attached_offset'],
                                              'reference': '4 KiB-aligned' if stub['attached_offset_4k_aligned']
                                              else 'not 4 KiB-aligned'}})


def _packing_rows(t, mode, pk):
    threads = pk['levels'][0]['threads'] if pk['levels'] else 0
    t.row('packing vs zstd -T%d (wine PE sample: %d files, %.1f MB)' % (threads, pk['files'], pk['archive_bytes'] / MB))
    for level in pk['levels']:
        t.row('  level %d: size' % level['level'], '<= %.2f' % PACK_SIZE_TARGET,
              **{mode: {'launcher': '%.2f MB' % (level['frame_bytes'] / MB),
                        'reference': 'zstd %.2f MB' % (level['zstd_bytes'] / MB), 'ratio': level['size_ratio']}})
        packer = 'archive %.2f s, build %.2f s' % (level['archive_s'], level['build_s']) \
            if level.get('archive_s') is not None else 'build %.2f s' % level['build_s']
        t.row('  level %d: time' % level['level'], '< 1.00',
              **{mode: {'launcher': packer, 'reference': 'zstd %.2f s' % level['zstd_s'],
                        'ratio': level['time_ratio']}})


def table(results):
    machine = results['machine']
    s = results['settings']
    modes = s.get('modes', [ONE_CPU])
    old = results.get('baseline')
    baseline = old['commit'][:10] if old else None
    lines = ['quorin launcher benchmark, %s, commit %s%s' % (results['started'], (machine['git_commit'] or '?')[:10],
                                                            ' (with local changes)' if machine['git_dirty'] else ''),
             '%s on %d CPUs; wineserver pinned to CPU %d; 1 CPU: launcher and references pinned there too, all '
             'CPUs: free; medians of %d rounds (small child %d, series %d); load average %.2f before, %.2f after' %
             (machine['wine'], machine['cpus'], s['timed_cpu'], s['runs'], s['small_runs'], s['series_runs'],
              results['load_average_before'][0], results['load_average_after'][0])]
    if old:
        lines.append('baseline: %s = commit %s, its launcher started beside this tree\'s in every round (order '
                     'alternating), from its own packer and stub' % (old['ref'], old['commit']))
    if results.get('note'):
        lines.append('note: ' + results['note'])
    t = _Table(modes, old is not None)
    order = ['app', 'wine', 'small'] + [n for n, p in results['payloads'].items() if p['group'] in ('size', 'count')]
    for name in order:
        if name in results['payloads']:
            _payload_rows(t, results['payloads'][name], baseline)
    _stub_rows(t, modes[0], results['stub'], old['stub'] if old else None, baseline)
    if 'packing' in results:
        _packing_rows(t, modes[0], results['packing'])
    lines += [''] + t.lines()
    lines.append('ratio: of the medians; paired: median of the ratios round by round; cpu: of the medians of CPU '
                 'time (the program and the wineserver), less moved by other work on the machine')
    if old:
        lines.append('new/old: this tree\'s launcher over the baseline\'s (%s), median of the ratios round by round; '
                     'the baseline\'s rows give its own figures against the same references' % baseline)
    lines.append('took %.0f s' % results['duration_s'])
    return '\n'.join(lines)


def chart(results, path):
    try:
        import matplotlib
        matplotlib.use('Agg')
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    payloads = results['payloads']
    series = [('second', 'second start', '-', 'o'), ('second_reference_s', 'decode + open/map/crc32 alone', ':', 'o'),
              ('first', 'first start', '-', 's'), ('first_reference_s', 'decode + writing alone', ':', 's')]
    if results.get('baseline'):
        old = results['baseline']['commit'][:10]
        series += [('second_baseline', 'second start of %s' % old, '--', 'x'),
                   ('first_baseline', 'first start of %s' % old, '--', '+')]

    def value(p, key):
        # On one CPU where it was measured so, else free.
        modes = _modes(p)
        m = modes.get(ONE_CPU) or next(iter(modes.values()))
        return m['median_s'][key] if key in m['median_s'] else m[key]

    figure, (by_size, by_count) = plt.subplots(1, 2, figsize=(13, 5.5))
    for axis, group, x_of, label in ((by_size, 'size', lambda p: p['bytes'] / MB, 'payload size (MB), 300 files'),
                                     (by_count, 'count', lambda p: p['files'], 'files, 100 MB in all')):
        points = sorted((p for p in payloads.values() if p['group'] == group), key=x_of)
        for key, name, style, marker in series:
            axis.plot([x_of(p) for p in points], [value(p, key) for p in points], linestyle=style, marker=marker,
                      label=name, color='C0' if key.startswith('second') else 'C3')
        axis.set_xlabel(label)
        axis.set_ylabel('seconds (median)')
        axis.grid(True, alpha=0.3)
    if any(p['group'] == 'count' for p in payloads.values()):
        by_count.set_xscale('log')
    for name, marker in (('app', 'D'), ('wine', '^')):
        if name in payloads:
            p = payloads[name]
            for key, color, start in (('second', 'C0', 'second'), ('first', 'C3', 'first')):
                by_size.scatter([p['bytes'] / MB], [value(p, key)], marker=marker, color=color, zorder=3,
                                label='%s, %d files: %s start' % (p['title'], p['files'], start))
    for axis in (by_size, by_count):
        axis.set_ylim(bottom=0)
    by_size.legend(fontsize=8, loc='upper left')
    machine = results['machine']
    figure.suptitle('quorin launcher under %s, one CPU; commit %s, %s' %
                    (machine['wine'], (machine['git_commit'] or '?')[:10], results['started']), fontsize=10)
    figure.tight_layout()
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return True
