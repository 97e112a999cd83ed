"""The launcher benchmark: makes and packs its payloads (once, cached under
build/bench), times the launcher's first and second start under Wine beside
the references of each figure (and, with --baseline, beside the launcher of
another commit), pinned to one CPU and free to use every CPU, measures
memory, stub and icon sizes and the packer against zstd, then prints one
table, writes the figures as JSON and draws start time against payload size
and file count. Figures only, no pass or fail. Run it through
scripts/bench.sh, which builds first.
"""

import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import baseline as baseline_build  # noqa: E402
import exe_layout  # noqa: E402
import measure  # noqa: E402
import packing  # noqa: E402
import payloads  # noqa: E402
import report  # noqa: E402
from wine import Wine, TIMED_CPU  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


STARTED = time.monotonic()
# The baseline's launchers unpack beside this tree's, under a folder name of
# the same length, so that both write paths of the same length.
BASELINE_PARENT = 'quorin-basis'
assert len(BASELINE_PARENT) == len(packing.TARGET_PARENT)


def log(text):
    print('bench %4.0f s: %s' % (time.monotonic() - STARTED, text), file=sys.stderr, flush=True)


def build_empty_program(launcher, work):
    """The empty program, built against the DLLs the launcher imports (one
    imported function of each); returns its path and both import lists."""
    dlls = exe_layout.imported_dlls(launcher)
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, 'empty_program_imports.h'), 'w') as f:
        f.write('// Made by bench/run.py from the imports of %s; not edited by hand.\n' % os.path.basename(launcher))
        for dll, functions in sorted(dlls.items()):
            if functions:
                f.write('BENCH_IMPORT(%s)  // %s\n' % (functions[0], dll))
    exe = os.path.join(work, 'empty_program.exe')
    libraries = ['-l' + dll.lower()[:-4] for dll in sorted(dlls) if dll.lower().endswith('.dll')]
    subprocess.run(['x86_64-w64-mingw32-g++', '-O2', '-municode', '-mwindows', '-static', '-s', '-I', work,
                    os.path.join(ROOT, 'bench', 'programs', 'empty_program.cpp'), '-o', exe] + libraries, check=True)
    own = exe_layout.imported_dlls(exe)
    missing = sorted(set(d.lower() for d in dlls) - set(d.lower() for d in own))
    if missing:
        raise RuntimeError('the empty program lacks imports of %s' % ', '.join(missing))
    return exe, sorted(dlls), sorted(own)


def remove_stale(bench, names):
    """Trees and launchers of payloads this version no longer has."""
    for folder, suffixes in (('payloads', ('',)), ('packed', ('.exe', '.json'))):
        folder = os.path.join(bench, folder)
        if not os.path.isdir(folder):
            continue
        for entry in os.listdir(folder):
            if not any(entry == name + suffix for name in names for suffix in suffixes):
                path = os.path.join(folder, entry)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def stub_figures(packed):
    exe = packed['exe']
    sections = exe_layout.sections(exe)
    resources = exe_layout.resource_directory(exe)
    rsrc = resources[1] if resources else 0
    icons = exe_layout.icon_images(exe)
    stub = packed['exe_bytes'] - packed['length']
    return {'exe_bytes': packed['exe_bytes'], 'attached_bytes': packed['length'], 'stub_bytes': stub,
            'resources_bytes': rsrc, 'stub_without_resources_bytes': stub - rsrc,
            'icon_images': len(icons), 'icon_bytes': sum(size for size, _ in icons),
            'icon_png_images': sum(1 for _, kind in icons if kind == 'png'),
            'attached_offset': packed['offset'], 'attached_offset_4k_aligned': packed['offset'] % 4096 == 0,
            'sections': [{'name': n, 'file_offset': o, 'raw_bytes': r, 'virtual_bytes': v}
                         for n, o, r, v, _ in sections]}


def machine_facts():
    def output(args):
        try:
            return subprocess.run(args, capture_output=True, text=True, cwd=ROOT).stdout.strip()
        except OSError:
            return None
    return {'cpus': os.cpu_count(), 'wine': output(['wine', '--version']),
            'zstd': output(['zstd', '--version']), 'git_commit': output(['git', 'rev-parse', 'HEAD']),
            'git_dirty': bool(output(['git', 'status', '--porcelain', '--untracked-files=no'])),
            'kernel': os.uname().release}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', default=os.path.join(ROOT, 'build'), help='the build folder (default: build)')
    parser.add_argument('--runs', type=int, default=5, help='rounds for the wine and app payloads (default: 5)')
    parser.add_argument('--small-runs', type=int, default=11, help='rounds for the small child (default: 11)')
    parser.add_argument('--series-runs', type=int, default=3, help='rounds for each series payload (default: 3)')
    parser.add_argument('--json', help='where to write the figures (default: BUILD/bench/results.json)')
    parser.add_argument('--chart', help='where to draw the chart (default: BUILD/bench/start-times.png)')
    parser.add_argument('--note', default='', help='a note kept with the figures (the machine\'s state, say)')
    parser.add_argument('--no-packing', action='store_true', help='leave out the packer against zstd')
    parser.add_argument('--only', help='time only these payloads, comma-separated (the small child always): '
                        'wine, app, small, size-10MB ... size-700MB, files-10 ... files-10000')
    parser.add_argument('--baseline', metavar='REF',
                        help='also time the launcher of commit REF (a commit, branch or tag): its packer is built in '
                        'a worktree under BUILD/bench/baseline/<commit>, packs every payload into '
                        'BUILD/bench/packed-baseline/<commit>, and its launcher runs beside this tree\'s in every '
                        'round; the table gives new/old per figure (median of the ratios round by round)')
    parser.add_argument('--cpus', choices=('one', 'all', 'both'), default='both',
                        help='time each start pinned to one CPU with the wineserver, free to use every CPU, or both '
                        '(default: both, which doubles the rounds\' time)')
    parser.add_argument('--report', metavar='JSON', help='print the table and draw the chart of earlier figures')
    args = parser.parse_args()
    if args.report:
        with open(args.report) as f:
            results = json.load(f)
        print(report.table(results))
        chart_path = args.chart or os.path.splitext(args.report)[0] + '.png'
        print('chart:   %s' % (chart_path if report.chart(results, chart_path) else 'not drawn (no matplotlib)'))
        return

    build = os.path.abspath(args.build)
    bench = os.path.join(build, 'bench')
    programs_dir = os.path.join(build, 'windows', 'bench')
    json_path = args.json or os.path.join(bench, 'results.json')
    chart_path = args.chart or os.path.join(bench, 'start-times.png')
    child = os.path.join(programs_dir, 'bench_child.exe')
    for needed in [os.path.join(build, 'bin', 'quorin-pack'), child] + \
            [os.path.join(programs_dir, n + '.exe') for n in ('decode_alone', 'crc_alone', 'unpack_plain')]:
        if not os.path.isfile(needed):
            sys.exit('bench: %s is missing; build first (bash scripts/bench.sh builds)' % needed)
    if (os.cpu_count() or 1) > 1:
        # The benchmark's own work (sampling memory) stays off the timed CPU.
        os.sched_setaffinity(0, set(range(os.cpu_count())) - {TIMED_CPU})

    started = time.time()
    modes = {'one': (measure.ONE_CPU,), 'all': (measure.ALL_CPUS,), 'both': measure.MODES}[args.cpus]
    results = {'schema': 2, 'started': datetime.datetime.now().astimezone().isoformat(timespec='seconds'),
               'note': args.note, 'machine': machine_facts(), 'load_average_before': list(os.getloadavg()),
               'settings': {'runs': args.runs, 'small_runs': args.small_runs, 'series_runs': args.series_runs,
                            'timed_cpu': TIMED_CPU, 'memory_sample_interval_ms': 1, 'pack_level': packing.LEVEL,
                            'modes': list(modes)},
               'payloads': {}}
    baseline = None
    if args.baseline:
        commit, build_of_baseline = baseline_build.ensure_built(ROOT, bench, args.baseline, log)
        baseline = {'ref': args.baseline, 'commit': commit, 'build': build_of_baseline,
                    'packed': os.path.join(bench, 'packed-baseline', commit)}

    all_payloads = payloads.all_payloads()
    remove_stale(bench, [p.name for p in all_payloads])
    timed = [p.name for p in all_payloads if p.group != 'pack']
    if args.only:
        timed = ['small'] + [n for n in args.only.split(',') if n != 'small']
        unknown = set(timed) - set(p.name for p in all_payloads)
        if unknown:
            sys.exit('bench: no payload named %s' % ', '.join(sorted(unknown)))
    wanted = set(timed) | (set() if args.no_packing else {'pack'})
    all_payloads = [p for p in all_payloads if p.name in wanted]
    packed = {}
    for payload in all_payloads:
        tree, key = payloads.ensure_payload(payload, child, os.path.join(bench, 'payloads'), log)
        packed[payload.name] = packing.ensure_packed(build, payload, tree, key, os.path.join(bench, 'packed'), log)
        packed[payload.name]['tree'] = tree
        if baseline and payload.name in timed:
            baseline[payload.name] = packing.ensure_packed(baseline['build'], payload, tree, key, baseline['packed'],
                                                           log, BASELINE_PARENT)

    empty, launcher_dlls, empty_dlls = build_empty_program(packed['small']['exe'], os.path.join(bench, 'empty'))
    results['imports'] = {'launcher': launcher_dlls, 'empty_program': empty_dlls}
    programs = measure.Programs(os.path.join(programs_dir, 'decode_alone.exe'),
                                os.path.join(programs_dir, 'crc_alone.exe'),
                                os.path.join(programs_dir, 'unpack_plain.exe'), child, empty)

    wine = Wine(os.path.join(bench, 'wineprefix'), log)
    work = os.path.join(bench, 'work')
    os.makedirs(work, exist_ok=True)
    try:
        wine.start()
        for _ in range(3):
            wine.run(child)
        rounds_of = {'small': args.small_runs, 'app': args.runs, 'wine': args.runs}
        order = [n for n in ('small', 'app', 'wine') if n in timed] + [n for n in timed if n not in rounds_of]
        for name in order:
            rounds, with_direct = rounds_of.get(name, args.series_runs), name == 'small'
            log('timing %s' % name)
            figures = measure.measure(wine, dict(packed[name], name=name), programs, rounds, work, log, with_direct,
                                      baseline[name] if baseline else None, modes)
            info = packed[name]
            payload = next(p for p in all_payloads if p.name == name)
            figures.update({'title': payload.title, 'group': payload.group, 'files': len(info['entries']),
                            'bytes': sum(size for _, size in info['entries']), 'frame_bytes': info['frame_bytes'],
                            'window_bytes': info['window'], 'exe_bytes': info['exe_bytes'],
                            'attached_offset': info['offset'], 'pack_seconds': info['pack_seconds']})
            results['payloads'][name] = figures
    finally:
        wine.stop()
        shutil.rmtree(work, ignore_errors=True)

    results['stub'] = stub_figures(packed['small'])
    if baseline:
        results['baseline'] = {'ref': args.baseline, 'commit': baseline['commit'],
                               'stub': stub_figures(baseline['small'])}
    if not args.no_packing:
        log('packing at levels 3, 9 and 19 against zstd')
        results['packing'] = {'payload': 'pack', 'files': len(packed['pack']['entries']),
                              'archive_bytes': packed['pack']['archive_bytes'],
                              'levels': packing.compare_levels(build, packed['pack']['tree'], packed['pack'],
                                                               os.path.join(bench, 'packing'), log)}
    results['load_average_after'] = list(os.getloadavg())
    results['duration_s'] = time.time() - started

    report.write_json(results, json_path)
    print(report.table(results))
    drawn = report.chart(results, chart_path)
    print('figures: %s' % json_path)
    print('chart:   %s' % (chart_path if drawn else 'not drawn (python3-matplotlib is missing)'))


if __name__ == '__main__':
    main()
