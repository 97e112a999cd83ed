"""Packing for the benchmark: each payload packed once into a launcher and
kept under build/bench/packed, made again only when the payload, the packer,
the launcher library or the options change; and the packer's levels 3, 9 and
19 against the zstd command-line tool with the same number of threads, on
the same archive. Runs quorin-pack and zstd; writes under build/bench.
"""

import hashlib
import json
import os
import subprocess
import time

import exe_layout

LEVEL = 9
# The folder under the local application data that launchers unpack into.
TARGET_PARENT = 'quorin-bench'


def _hash_tree(h, folder, skip_prefix=None):
    for root, dirs, names in os.walk(folder):
        dirs.sort()
        for name in sorted(names):
            if skip_prefix and name.startswith(skip_prefix):
                continue
            path = os.path.join(root, name)
            h.update(os.path.relpath(path, folder).encode() + b'\0')
            with open(path, 'rb') as f:
                for block in iter(lambda: f.read(1 << 20), b''):
                    h.update(block)


def packer_key(build):
    """What the packer makes a launcher from: itself and the launcher library
    folder (the test library's files left out)."""
    h = hashlib.sha256()
    with open(os.path.join(build, 'bin', 'quorin-pack'), 'rb') as f:
        h.update(f.read())
    _hash_tree(h, os.path.join(build, 'lib'), skip_prefix='libgtest')
    return h.hexdigest()[:16]


def pack_command(build, tree, output, spec, level=None, command='build'):
    args = [os.path.join(build, 'bin', 'quorin-pack'), command, '--input', tree, '--child', 'app.exe', '--output',
            output]
    if command == 'build':
        args += ['--spec', spec]
    if level is not None:
        args += ['--level', str(level)]
    return args


def ensure_packed(build, payload, tree, payload_key, root, log, parent=TARGET_PARENT):
    """The payload's launcher and what the benchmark needs to know of it;
    build is the build folder whose packer packs it, and the launcher
    unpacks into {CACHE_DIR}\\<parent>\\<payload name>."""
    spec = '{CACHE_DIR}\\' + parent + '\\' + payload.name
    key = hashlib.sha256(('%s %s %s %d' % (payload_key, packer_key(build), spec, LEVEL)).encode()).hexdigest()[:16]
    os.makedirs(root, exist_ok=True)
    exe = os.path.join(root, payload.name + '.exe')
    info_path = os.path.join(root, payload.name + '.json')
    if os.path.isfile(exe) and os.path.isfile(info_path):
        with open(info_path) as f:
            info = json.load(f)
        if info.get('key') == key:
            return info
    log('packing %s' % payload.name)
    start = time.perf_counter()
    subprocess.run(pack_command(build, tree, exe, spec, LEVEL), check=True, stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    offset, length, frame_length, window = exe_layout.locate_attached_data(exe)
    entries, archive_bytes = exe_layout.archive_entries(exe, offset, frame_length)
    info = {'key': key, 'name': payload.name, 'exe': exe, 'exe_bytes': os.path.getsize(exe), 'offset': offset,
            'length': length, 'frame_bytes': frame_length, 'window': window, 'entries': entries,
            'archive_bytes': archive_bytes, 'pack_seconds': seconds, 'level': LEVEL, 'target': payload.name,
            'parent': parent}
    with open(info_path, 'w') as f:
        json.dump(info, f)
    return info


def _timed(args, **kwargs):
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def compare_levels(build, tree, packed, work, log, levels=(3, 9, 19), rounds=None, archive_levels=(3, 9)):
    """Size and time of the packer against zstd at each level. The packer
    uses one thread per core by default; zstd gets -T with the same count."""
    threads = os.cpu_count() or 1
    rounds = rounds or {3: 3, 9: 3, 19: 1}
    os.makedirs(work, exist_ok=True)
    raw = os.path.join(work, 'pack-archive.bin')
    with open(raw, 'wb') as out:
        frame = exe_layout.read_frame(packed['exe'], packed['offset'], packed['frame_bytes'])
        subprocess.run(['zstd', '-dcq'], input=frame, stdout=out, check=True)
    # Read once, so that no timed run is the one that reads them from disk.
    subprocess.run(['cat', raw] + [os.path.join(r, n) for r, _, ns in os.walk(tree) for n in ns],
                   stdout=subprocess.DEVNULL, check=True)
    results = []
    for level in levels:
        log('  packing at level %d' % level)
        attached = os.path.join(work, 'pack-level.bin')
        exe = os.path.join(work, 'pack-level.exe')
        zst = os.path.join(work, 'pack-level.zst')
        times = {'build_s': [], 'archive_s': [], 'zstd_s': []}
        for _ in range(rounds.get(level, 1)):
            times['build_s'].append(_timed(pack_command(build, tree, exe, '{CACHE_DIR}\\quorin-bench\\pack', level)))
            # The attached data alone, without making an exe, where the
            # packer has that command; left out where it is slow.
            if level in archive_levels:
                try:
                    times['archive_s'].append(_timed(pack_command(build, tree, attached, None, level, 'archive'),
                                                     stderr=subprocess.DEVNULL))
                except subprocess.CalledProcessError:
                    pass
            # Content checksum off: the packer writes none either.
            times['zstd_s'].append(_timed(['zstd', '-q', '-f', '-%d' % level, '-T%d' % threads, '--no-check', raw,
                                           '-o', zst]))
        frame_bytes = exe_layout.locate_attached_data(exe)[2]
        zstd_bytes = os.path.getsize(zst)
        medians = {key: (sorted(values)[len(values) // 2] if values else None) for key, values in times.items()}
        compress_s = medians['archive_s'] if medians['archive_s'] is not None else medians['build_s']
        results.append(dict(medians, level=level, threads=threads, archive_bytes=packed['archive_bytes'],
                            frame_bytes=frame_bytes, zstd_bytes=zstd_bytes, size_ratio=frame_bytes / zstd_bytes,
                            time_ratio=compress_s / medians['zstd_s'],
                            build_time_ratio=medians['build_s'] / medians['zstd_s'], runs=times))
        for path in (attached, exe, zst):
            if os.path.exists(path):
                os.remove(path)
    os.remove(raw)
    return results
