"""The benchmark's payloads: application folders made from a fixed seed (and,
for two of them, from the PE files of Debian's wine package), each written
once under build/bench/payloads/NAME and made again only when what made it
changes (this code, the seed, the child program, the wine files used).
Writes files under the given folder only.
"""

import hashlib
import math
import os
import random
import shutil

from content import Content

SEED = 20260923
WINE_PE_DIR = '/usr/lib/x86_64-linux-gnu/wine/x86_64-windows'
CHILD_NAME = 'app.exe'
MB = 1000 * 1000

# Extensions by share of the files, as an application folder has them; files
# above 4 MB are code, data packs, bundles or archives.
LARGE_FILE = 4 * MB
LARGE_EXTENSIONS = [('dll', 35), ('pyd', 10), ('pak', 20), ('dat', 15), ('bin', 5), ('js', 5), ('json', 5),
                    ('zip', 2)]
EXTENSIONS = [('json', 9), ('js', 8), ('txt', 5), ('xml', 4), ('po', 4), ('qml', 4), ('css', 3), ('html', 3),
              ('py', 5), ('ini', 1), ('dll', 12), ('pyd', 8), ('exe', 2), ('bin', 2), ('dat', 4), ('pak', 2),
              ('db', 1), ('png', 4), ('ogg', 1), ('zip', 1), ('woff2', 1), ('webp', 1)]
FOLDERS = ['lib', 'share', 'plugins', 'resources', 'locale', 'python', 'qml', 'data', 'translations', 'platforms',
           'imageformats', 'site-packages', 'assets', 'fonts', 'icons', 'themes', 'modules', 'encodings', 'tcl']
STEMS = ['core', 'gui', 'widgets', 'network', 'render', 'codec', 'audio', 'video', 'text', 'parser', 'loader',
         'config', 'main', 'utils', 'helpers', 'image', 'font', 'shader', 'model', 'view', 'index', 'cache', 'base',
         'engine', 'script', 'runtime', 'bridge', 'client', 'server', 'common']
# A few names outside ASCII, as localised applications carry them.
UNICODE_PARTS = ['Übersetzungen', 'données', 'ресурсы', '日本語', 'español', 'Ελληνικά']


class Payload:
    """name, what it is, and how to make its tree."""

    def __init__(self, name, title, group, make, parameters):
        self.name = name
        self.title = title
        self.group = group  # 'wine', 'app', 'small', 'size', 'count', 'pack'
        self.make = make
        self.parameters = parameters


def wine_pe_files(limit_bytes):
    """The wine package's PE files in name order, while they stay under the limit."""
    chosen, total = [], 0
    for name in sorted(os.listdir(WINE_PE_DIR)):
        path = os.path.join(WINE_PE_DIR, name)
        if not os.path.isfile(path) or os.path.islink(path):
            continue
        size = os.path.getsize(path)
        if total + size > limit_bytes:
            continue
        chosen.append((name, path, size))
        total += size
    return chosen


def random_layout(rng, count, total, first_index=0):
    """count (relative name, size) pairs whose sizes add up to total:
    log-normal sizes (many small files, a few large ones) in nested folders."""
    if count <= 0:
        return []
    weights = [math.exp(rng.gauss(0, 1.7)) for _ in range(count)]
    scale = total / sum(weights)
    sizes = [int(w * scale) for w in weights]
    sizes[max(range(count), key=lambda i: sizes[i])] += total - sum(sizes)
    layout = []
    for i, size in enumerate(sizes):
        depth = min(rng.choice([1, 1, 2, 2, 2, 3, 3, 4, 5, 6]), 6)
        parts = [rng.choice(FOLDERS)] + ['%s%d' % (rng.choice(STEMS), rng.randint(0, 3)) for _ in range(depth - 1)]
        if rng.random() < 0.004:
            parts.append(rng.choice(UNICODE_PARTS))
        table = LARGE_EXTENSIONS if size > LARGE_FILE else EXTENSIONS
        extension = rng.choices([e for e, _ in table], [w for _, w in table])[0]
        parts.append('%s_%05d.%s' % (rng.choice(STEMS), first_index + i, extension))
        layout.append(('\\'.join(parts), size))
    return layout


def write_content(tree, name, size, content):
    path = os.path.join(tree, *name.split('\\'))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        for chunk in content.chunks(name, size):
            f.write(chunk)


def write_tree(tree, child, layout, content, copies=()):
    os.makedirs(tree)
    shutil.copyfile(child, os.path.join(tree, CHILD_NAME))
    for name, source in copies:
        path = os.path.join(tree, *name.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(source, path)
    for name, size in layout:
        write_content(tree, name, size, content)


def make_generated(tree, child, rng, content, files, total_bytes):
    child_size = os.path.getsize(child)
    write_tree(tree, child, random_layout(rng, files - 1, total_bytes - child_size), content)


def make_app_shape(tree, child, rng, content, files, total_bytes, big_bytes):
    """The shape of the Brindlex Pocket Variant application: the child, then one large
    file, the rest in many smaller ones; one name of 113 units and one of
    11 components."""
    child_size = os.path.getsize(child)
    layout = random_layout(rng, files - 2, total_bytes - child_size - big_bytes)
    deep = 'lib\\python\\site-packages\\vendor\\pkg\\sub\\impl\\detail\\gen\\v1\\'
    name, size = layout[0]
    layout[0] = (deep + 'deep_module.py', size)
    long_stem = 'resources\\translations\\application_interface_strings_'
    name, size = layout[1]
    layout[1] = (long_stem + 'x' * (113 - len(long_stem) - len('.json')) + '.json', size)
    os.makedirs(tree)
    shutil.copyfile(child, os.path.join(tree, CHILD_NAME))
    # The large file right after the child.
    write_content(tree, 'app_data.pak', big_bytes, content)
    for name, size in layout:
        write_content(tree, name, size, content)


def make_wine(tree, child, rng, content, files, pe_limit_bytes, total_limit_bytes):
    """The wine package's PE files, topped up with generated small files to
    the file count, staying under the total."""
    pe = wine_pe_files(pe_limit_bytes)
    copies = [('lib\\wine\\x86_64-windows\\' + name, path) for name, path, _ in pe]
    used = os.path.getsize(child) + sum(size for _, _, size in pe)
    extra = max(0, files - 1 - len(pe))
    room = max(0, total_limit_bytes - used)
    write_tree(tree, child, random_layout(rng, extra, min(room, extra * 40_000)), content, copies)


def make_wine_sample(tree, child, rng, content, pe_limit_bytes):
    pe = wine_pe_files(pe_limit_bytes)
    write_tree(tree, child, [], content, [('bin\\' + name, path) for name, path, _ in pe])


def all_payloads():
    p = [
        Payload('wine', 'wine PE files', 'wine', make_wine,
                {'files': 1500, 'pe_limit_bytes': 650 * MB, 'total_limit_bytes': 700 * MB}),
        Payload('app', 'app shape', 'app', make_app_shape,
                {'files': 1556, 'total_bytes': 466_120_538, 'big_bytes': 171_404_800}),
        Payload('small', 'one small child', 'small', make_generated, {'files': 1, 'total_bytes': 0}),
    ]
    for mb in (10, 50, 150, 350, 700):
        p.append(Payload('size-%dMB' % mb, '%d MB, 300 files' % mb, 'size', make_generated,
                         {'files': 300, 'total_bytes': mb * MB}))
    for files in (10, 100, 1000, 10000):
        p.append(Payload('files-%d' % files, '%d files, 100 MB' % files, 'count', make_generated,
                         {'files': files, 'total_bytes': 100 * MB}))
    p.append(Payload('pack', 'wine PE sample for packing', 'pack', make_wine_sample, {'pe_limit_bytes': 64 * MB}))
    return p


def _hash_file(h, path):
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)


def payload_key(payload, child):
    h = hashlib.sha256()
    here = os.path.dirname(os.path.abspath(__file__))
    for source in ('content.py', 'payloads.py'):
        _hash_file(h, os.path.join(here, source))
    h.update(repr((SEED, payload.name, sorted(payload.parameters.items()))).encode())
    _hash_file(h, child)
    if payload.group in ('wine', 'pack'):
        for name, path, size in wine_pe_files(payload.parameters['pe_limit_bytes']):
            h.update(('%s %d %d\n' % (name, size, int(os.path.getmtime(path)))).encode())
    return h.hexdigest()[:16]


def ensure_payload(payload, child, root, log):
    """The payload's tree, made when missing or out of date. Returns (tree, key)."""
    folder = os.path.join(root, payload.name)
    tree = os.path.join(folder, 'tree')
    key = payload_key(payload, child)
    key_file = os.path.join(folder, 'key')
    if os.path.isfile(key_file) and open(key_file).read().strip() == key and os.path.isdir(tree):
        return tree, key
    log('making payload %s (%s)' % (payload.name, payload.title))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    # One generator per payload, seeded from the payload's name: each tree is
    # the same whichever others are made.
    seed = SEED ^ int.from_bytes(hashlib.sha256(payload.name.encode()).digest()[:8], 'little')
    rng = random.Random(seed)
    payload.make(tree, child, rng, Content(seed), **payload.parameters)
    with open(key_file, 'w') as f:
        f.write(key + '\n')
    return tree, key


def tree_stats(tree):
    files = total = 0
    for folder, _, names in os.walk(tree):
        for name in names:
            files += 1
            total += os.path.getsize(os.path.join(folder, name))
    return files, total
