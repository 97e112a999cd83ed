"""A short check of the benchmark's pieces, for the test run: packs a tiny
folder with the benchmark's child, builds the empty program against the
launcher's imports and runs one round of every figure under the test run's
Wine prefix (its server already running), so the reference programs are
seen to do the launcher's work (the same bytes, files and mappings). Times
are printed, never judged. Writes under BUILD/bench-smoke and the prefix.
Usage: smoke.py BUILD WINEPREFIX
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import exe_layout  # noqa: E402
import measure  # noqa: E402
import run  # noqa: E402
from wine import Wine  # noqa: E402


def main():
    build, prefix = (os.path.abspath(a) for a in sys.argv[1:3])
    work = os.path.join(build, 'bench-smoke')
    shutil.rmtree(work, ignore_errors=True)
    tree = os.path.join(work, 'tree')
    programs_dir = os.path.join(build, 'windows', 'bench')
    child = os.path.join(programs_dir, 'bench_child.exe')
    os.makedirs(os.path.join(tree, 'data', 'deep'))
    shutil.copyfile(child, os.path.join(tree, 'app.exe'))
    with open(os.path.join(tree, 'data', 'deep', 'text.txt'), 'wb') as f:
        f.write(b'some text that repeats, ' * 5000)
    with open(os.path.join(tree, 'data', 'random.bin'), 'wb') as f:
        f.write(os.urandom(300000))
    open(os.path.join(tree, 'empty.dat'), 'wb').close()

    exe = os.path.join(work, 'smoke.exe')
    run_pack = [os.path.join(build, 'bin', 'quorin-pack'), 'build', '--input', tree, '--child', 'app.exe',
                '--output', exe, '--spec', '{CACHE_DIR}\\quorin-bench\\smoke']
    subprocess.run(run_pack, check=True, stdout=subprocess.DEVNULL)
    offset, length, frame_length, window = exe_layout.locate_attached_data(exe)
    entries, archive_bytes = exe_layout.archive_entries(exe, offset, frame_length)
    names = sorted(name for name, _ in entries)
    expected = sorted(['app.exe', 'data\\deep\\text.txt', 'data\\random.bin', 'empty.dat'])
    if names != expected or entries[0][0] != 'app.exe':
        sys.exit('smoke: the archive lists %s' % [name for name, _ in entries])
    empty, launcher_dlls, _ = run.build_empty_program(exe, os.path.join(work, 'empty'))
    programs = measure.Programs(os.path.join(programs_dir, 'decode_alone.exe'),
                                os.path.join(programs_dir, 'crc_alone.exe'),
                                os.path.join(programs_dir, 'unpack_plain.exe'), child, empty)
    packed = {'name': 'smoke', 'exe': exe, 'offset': offset, 'length': length, 'window': window,
              'entries': entries, 'archive_bytes': archive_bytes, 'target': 'smoke'}
    # Pinned to one CPU only: the test run checks that the references do the
    # launcher's work; it does not time the launcher's threads.
    figures = measure.measure(Wine(prefix, print), packed, programs, 1, work, print, with_direct=True,
                              modes=(measure.ONE_CPU,))
    one_cpu = figures['modes'][measure.ONE_CPU]
    print('smoke: imports %s; second start %.3f s (decode %.3f + crc %.3f), first %.3f s (plain %.3f), '
          'peak private %.1f MiB' % (', '.join(launcher_dlls), one_cpu['median_s']['second'],
                                     one_cpu['median_s']['decode'], one_cpu['median_s']['crc'],
                                     one_cpu['median_s']['first'], one_cpu['median_s']['plain'],
                                     figures['peak_anon_mib']))
    shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
