"""File contents for the benchmark's payloads, all drawn from one seeded
generator: the same seed gives the same bytes on every machine.

Four kinds, mixed the way application folders mix them (the share that zstd
level 9 keeps, measured on 32 MiB of each):
  text     phrases of a Zipf-weighted vocabulary (source, JSON, locale
           files): about 24 %
  binary   code: short runs of skewed bytes, most of them repeated from a
           pool, some zero padding and strings: about 37 %
  records  rows of a table or an asset store, few distinct ones: about 11 %
  media    random bytes (images, audio, archives): all of it
A file larger than 1 MiB mixes kinds piece by piece, most of it its own.
Pure Python; writes nothing.
"""

import itertools
import random

KIND_BY_EXTENSION = {
    'txt': 'text', 'json': 'text', 'xml': 'text', 'js': 'text', 'css': 'text', 'html': 'text', 'po': 'text',
    'ini': 'text', 'py': 'text', 'qml': 'text',
    'dll': 'binary', 'exe': 'binary', 'pyd': 'binary', 'bin': 'binary', 'sys': 'binary',
    'db': 'records', 'pak': 'records', 'dat': 'records', 'idx': 'records',
    'png': 'media', 'jpg': 'media', 'ogg': 'media', 'zip': 'media', 'woff2': 'media', 'webp': 'media',
}

PIECE = 1 << 20
# The kinds mixed into large files, by share of the bytes.
MIX_KINDS = ['binary', 'text', 'records', 'media']
MIX_WEIGHTS = [30, 33, 32, 5]


class Content:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        rng = self.rng
        letters = 'etaoinshrdlcumwfgypbvkjxqz'
        letter_weights = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.4, 2.2, 2.0, 2.0,
                          1.9, 1.5, 1.0, 0.8, 0.2, 0.2, 0.1, 0.1]
        words = [''.join(rng.choices(letters, letter_weights, k=rng.randint(1, 11))).encode() for _ in range(20000)]
        word_weights = list(itertools.accumulate(1.0 / (rank + 8) for rank in range(len(words))))
        # Text repeats in phrases of one to three words, never in whole lines.
        self.phrases = [b' '.join(rng.choices(words, cum_weights=word_weights, k=rng.randint(1, 3))) +
                        (b'\n' if rng.random() < 0.15 else b'') for _ in range(1 << 15)]
        # Machine code and tables: a few byte values are far more common.
        table = bytearray()
        for value in range(256):
            table += bytes([value]) * (13 if value in (0x00, 0xFF, 0x48, 0x89, 0x8B, 0x24, 0xE8, 0x0F, 0x01) else 1)
        self.skew = bytes(table[i * len(table) // 256] for i in range(256))
        self.pieces = ([rng.randbytes(rng.randint(4, 40)).translate(self.skew) for _ in range(1 << 15)] +
                       [bytes(rng.choice((8, 16, 64, 256))) for _ in range(1 << 11)] +
                       self.phrases[:1 << 12])
        self.rows = [b'|'.join(rng.choices(self.phrases, k=rng.randint(2, 6))) + self.pieces[i] for i in range(1 << 12)]

    def _fresh_code(self, size):
        return self.rng.randbytes(size).translate(self.skew)

    def _join(self, size, make):
        out = []
        have = 0
        while have < size:
            block = make(size - have)
            out.append(block)
            have += len(block)
        return b''.join(out)[:size]

    def text(self, size):
        # About 12 bytes a phrase with its blank.
        return self._join(size, lambda left: b' '.join(self.rng.choices(self.phrases, k=min(8192, left // 12 + 1))))

    def binary(self, size):
        rng = self.rng
        return self._join(size, lambda left: self._fresh_code(rng.randint(64, 1024)) +
                          b''.join(rng.choices(self.pieces, k=64)))

    def records(self, size):
        rng = self.rng
        return self._join(size, lambda left: self._fresh_code(rng.randint(64, 512)) +
                          b''.join(rng.choices(self.rows, k=64)))

    def media(self, size):
        return self.rng.randbytes(size)

    def chunks(self, name, size):
        """The content of a file of this name, in pieces of at most 1 MiB:
        a file of more than one piece mixes kinds (an installer's data file
        holds code, text and images), most of it of its own kind."""
        extension = name.rsplit('.', 1)[-1].lower()
        kind = KIND_BY_EXTENSION.get(extension, 'binary')
        for start in range(0, size, PIECE):
            piece_kind = kind if size <= PIECE or self.rng.random() < 0.6 else \
                self.rng.choices(MIX_KINDS, MIX_WEIGHTS)[0]
            yield getattr(self, piece_kind)(min(PIECE, size - start))
