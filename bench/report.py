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


def _row(rows, figure, launcher='', reference='', ratio=None, target='', paired=None, cpu=None):
    def text(value):
        return '' if value is None else '%.2f' % value
    rows.append((figure, launcher, reference, text(ratio), text(paired), text(cpu), target))


def _payload_rows(rows, name, p):
    m = p['median_s']
    _row(rows, '%s: %d files, %.1f MB, frame %.1f MB' % (p['title'], p['files'], p['bytes'] / MB,
                                                        p['frame_bytes'] / MB))
    rewrote = p.get('second_start_rewrote_files')
    _row(rows, '  second start' + (' (REWROTE %d FILES)' % rewrote if rewrote else ''), _s(m['second']),
         '%s = decode %.3f + open/map/crc32 %.3f' % (_s(p['second_reference_s']), m['decode'], m['crc']),
         p['second_ratio'], '<= %.2f' % SECOND_TARGET, p['second_ratio_paired'], p.get('second_ratio_cpu'))
    _row(rows, '  first start', _s(m['first']), '%s decode + writing' % _s(p['first_reference_s']),
         p['first_ratio'], '<= %.2f' % FIRST_TARGET, p['first_ratio_paired'], p.get('first_ratio_cpu'))
    target = '<= 1.00'
    if p['bytes'] <= 10 * MB:
        target += ', <= %d MiB' % SMALL_PAYLOAD_MEMORY_MIB
    _row(rows, '  peak private memory (2nd start)', '%.1f MiB' % p['peak_anon_mib'],
         '%.1f MiB = window %.0f + 16; resident %.1f; decode alone %.1f' %
         (p['memory_limit_mib'], p['window_bytes'] / MIB, p['peak_rss_mib'], p['decode_peak_anon_mib']),
         p['memory_ratio'], target)
    if 'direct_reference_s' in p:
        _row(rows, '  second start vs direct', _s(m['second']),
             '%s = empty program %.3f + child %.3f' % (_s(p['direct_reference_s']), m['empty'], m['child']),
             p['direct_ratio'], '<= %.2f' % DIRECT_TARGET, p['direct_ratio_paired'])
        _row(rows, '  first start vs direct', _s(m['first']), _s(p['direct_reference_s']), p['direct_ratio_first'])


def table(results):
    machine = results['machine']
    s = results['settings']
    lines = ['quorin launcher benchmark, %s, commit %s%s' % (results['started'], (machine['git_commit'] or '?')[:10],
                                                            ' (with local changes)' if machine['git_dirty'] else ''),
             '%s on %d CPUs; launcher, references and wineserver pinned to CPU %d; medians of %d rounds '
             '(small child %d, series %d); load average %.2f before, %.2f after' %
             (machine['wine'], machine['cpus'], s['timed_cpu'], s['runs'], s['small_runs'], s['series_runs'],
              results['load_average_before'][0], results['load_average_after'][0])]
    if results.get('note'):
        lines.append('note: ' + results['note'])
    rows = []
    order = ['app', 'wine', 'small'] + [n for n, p in results['payloads'].items() if p['group'] in ('size', 'count')]
    for name in order:
        if name in results['payloads']:
            _payload_rows(rows, name, results['payloads'][name])
    stub = results['stub']
    _row(rows, 'launcher exe (the small child\'s)')
    _row(rows, '  stub without resources', '%.1f KiB' % (stub['stub_without_resources_bytes'] / KIB),
         'stub %.1f KiB, resources %.1f KiB' % (stub['stub_bytes'] / KIB, stub['resources_bytes'] / KIB),
         None, '<= %d KiB' % STUB_TARGET_KIB)
    _row(rows, '  default icon images', '%.1f KiB' % (stub['icon_bytes'] / KIB),
         '%d images, %d of them PNG' % (stub['icon_images'], stub['icon_png_images']), None,
         '<= %d KiB' % ICON_TARGET_KIB)
    _row(rows, '  attached data offset', '%d' % stub['attached_offset'],
         '4 KiB-aligned' if stub['attached_offset_4k_aligned'] else 'not 4 KiB-aligned')
    if 'packing' in results:
        pk = results['packing']
        threads = pk['levels'][0]['threads'] if pk['levels'] else 0
        _row(rows, 'packing vs zstd -T%d (wine PE sample: %d files, %.1f MB)' % (threads, pk['files'],
                                                                              pk['archive_bytes'] / MB))
        for level in pk['levels']:
            _row(rows, '  level %d: size' % level['level'], '%.2f MB' % (level['frame_bytes'] / MB),
                 'zstd %.2f MB' % (level['zstd_bytes'] / MB), level['size_ratio'], '<= %.2f' % PACK_SIZE_TARGET)
            packer = 'archive %.2f s, build %.2f s' % (level['archive_s'], level['build_s']) \
                if level.get('archive_s') is not None else 'build %.2f s' % level['build_s']
            _row(rows, '  level %d: time' % level['level'], packer, 'zstd %.2f s' % level['zstd_s'],
                 level['time_ratio'], '< 1.00')
    headers = ('figure', 'launcher', 'reference', 'ratio', 'paired', 'cpu', 'target')
    widths = [max(len(headers[i]), *(len(r[i]) for r in rows)) for i in range(len(headers))]

    def line(cells):
        return '  '.join(c.rjust(w) if 3 <= i <= 5 else c.ljust(w)
                         for i, (c, w) in enumerate(zip(cells, widths))).rstrip()

    lines += ['', line(headers), line(['-' * w for w in widths])] + [line(r) for r in rows]
    lines.append('ratio: of the medians; paired: median of the ratios round by round; cpu: of the medians of CPU '
                 'time (the program and the wineserver), less moved by other work on the machine')
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

    def value(p, key):
        return p['median_s'][key] if key in p['median_s'] else p[key]

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
                by_size.scatter([p['bytes'] / MB], [p['median_s'][key]], marker=marker, color=color, zorder=3,
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
