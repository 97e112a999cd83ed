"""What the benchmark reads from a launcher exe without asking the packer:
where the attached data lies (signature, one zstd frame, five zero bytes and
the trailing length), the frame's window, the archive's entries (by decoding
the frame with the zstd command-line tool), the PE sections, the icon images
in the resources and the imported DLLs. Reads files, runs zstd and objdump.
"""

import mmap
import struct
import subprocess

SIGNATURE = b'QZY'
ZSTD_MAGIC = b'\x28\xb5\x2f\xfd'


def _frame_length(data, start):
    """The length of the zstd frame at start (walking its block headers),
    and its window size; None when no whole frame is there."""
    if data[start:start + 4] != ZSTD_MAGIC or start + 6 > len(data):
        return None
    descriptor = data[start + 4]
    content_size_flag = descriptor >> 6
    single_segment = (descriptor >> 5) & 1
    checksum_flag = (descriptor >> 2) & 1
    dictionary_bytes = (0, 1, 2, 4)[descriptor & 3]
    at = start + 5
    window = None
    if not single_segment:
        exponent, mantissa = data[at] >> 3, data[at] & 7
        base = 1 << (10 + exponent)
        window = base + (base >> 3) * mantissa
        at += 1
    at += dictionary_bytes
    content_size_bytes = (1 if single_segment else 0, 2, 4, 8)[content_size_flag]
    if single_segment:
        window = int.from_bytes(data[at:at + content_size_bytes], 'little') + (256 if content_size_bytes == 2 else 0)
    at += content_size_bytes
    while True:
        if at + 3 > len(data):
            return None
        header = int.from_bytes(data[at:at + 3], 'little')
        last, kind, size = header & 1, (header >> 1) & 3, header >> 3
        if kind == 3:
            return None
        at += 3 + (1 if kind == 1 else size)
        if last:
            break
    at += 4 * checksum_flag
    return (at - start, window) if at <= len(data) else None


def locate_attached_data(path):
    """(offset, length, frame length, window size) of the attached data in the exe."""
    with open(path, 'rb') as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
        at = data.find(SIGNATURE + ZSTD_MAGIC)
        while at >= 0:
            frame = _frame_length(data, at + 3)
            if frame is not None:
                frame_length, window = frame
                end = at + 3 + frame_length
                trailing = data[end:end + 13]
                if len(trailing) == 13 and trailing[:5] == bytes(5) and \
                        struct.unpack('<Q', trailing[5:])[0] == end + 5 - at:
                    return at, frame_length + 16, frame_length, window
            at = data.find(SIGNATURE + ZSTD_MAGIC, at + 1)
    raise RuntimeError('%s: no attached data found' % path)


def read_frame(path, offset, frame_length):
    with open(path, 'rb') as f:
        f.seek(offset + 3)
        return f.read(frame_length)


def archive_entries(path, offset, frame_length):
    """[(name, size)] in archive order, and the archive's length, decoded by
    the zstd command-line tool."""
    with open(path, 'rb') as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
        decoder = subprocess.Popen(['zstd', '-dcq'], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        import threading
        feeder = threading.Thread(target=lambda: (decoder.stdin.write(data[offset + 3:offset + 3 + frame_length]),
                                                  decoder.stdin.close()))
        feeder.start()
        out = decoder.stdout
        buffer = bytearray()
        consumed = 0

        def take(count):
            nonlocal buffer, consumed
            while len(buffer) < count:
                more = out.read(1 << 20)
                if not more:
                    raise RuntimeError('%s: the archive ends early' % path)
                buffer += more
            piece = bytes(buffer[:count])
            del buffer[:count]
            consumed += count
            return piece

        def skip(count):
            nonlocal buffer, consumed
            while count > 0:
                if not buffer:
                    buffer = bytearray(out.read(min(count, 1 << 22)))
                    if not buffer:
                        raise RuntimeError('%s: the archive ends early' % path)
                step = min(count, len(buffer))
                del buffer[:step]
                count -= step
                consumed += step

        entries = []
        while True:
            units = []
            while True:
                unit = take(2)
                if unit == b'\0\0':
                    break
                units.append(unit)
            if not units:
                break
            name = b''.join(units).decode('utf-16-le', 'surrogatepass')
            size = struct.unpack('<Q', take(8))[0]
            take(4)
            skip(size)
            entries.append((name, size))
        out.read()
        feeder.join()
        if decoder.wait() != 0:
            raise RuntimeError('%s: zstd could not decode the frame' % path)
        return entries, consumed


def _headers(path):
    with open(path, 'rb') as f:
        head = f.read(4096)
    pe = struct.unpack_from('<I', head, 0x3C)[0]
    if head[pe:pe + 4] != b'PE\0\0':
        raise RuntimeError('%s: not a PE file' % path)
    return head, pe


def sections(path):
    """[(name, file offset, raw size, virtual size, RVA)] from the PE section table."""
    head, pe = _headers(path)
    count = struct.unpack_from('<H', head, pe + 6)[0]
    optional_size = struct.unpack_from('<H', head, pe + 20)[0]
    table = pe + 24 + optional_size
    out = []
    for i in range(count):
        name, virtual_size, rva, raw_size, raw_offset = struct.unpack_from('<8sIIII', head, table + 40 * i)
        out.append((name.rstrip(b'\0').decode(errors='replace'), raw_offset, raw_size, virtual_size, rva))
    return out


def resource_directory(path):
    """(file offset, size, RVA) of the resource data, from the optional
    header's resource entry, whatever section holds it; None without one."""
    head, pe = _headers(path)
    optional = pe + 24
    magic = struct.unpack_from('<H', head, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    count = struct.unpack_from('<I', head, directories - 4)[0]
    if count < 3:
        return None
    rva, size = struct.unpack_from('<II', head, directories + 8 * 2)
    if rva == 0 or size == 0:
        return None
    for _, raw_offset, raw_size, virtual_size, section_rva in sections(path):
        if section_rva <= rva < section_rva + max(raw_size, virtual_size):
            return raw_offset + rva - section_rva, size, rva
    return None


def icon_images(path):
    """[(size in bytes, 'png' or 'bmp')] of the RT_ICON resources."""
    found = resource_directory(path)
    if found is None:
        return []
    offset, size, rva = found
    with open(path, 'rb') as f:
        f.seek(offset)
        data = f.read(size)

    def entries(directory):
        named, ids = struct.unpack_from('<HH', data, directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from('<II', data, directory + 16 + 8 * i)
            yield ident, target

    images = []
    for type_id, type_target in entries(0):
        if type_id != 3 or not type_target & 0x80000000:  # RT_ICON
            continue
        for _, name_target in entries(type_target & 0x7FFFFFFF):
            for _, language_target in entries(name_target & 0x7FFFFFFF):
                data_rva, image_size = struct.unpack_from('<II', data, language_target & 0x7FFFFFFF)
                start = data_rva - rva
                images.append((image_size, 'png' if data[start:start + 8] == b'\x89PNG\r\n\x1a\n' else 'bmp'))
    return images


def imported_dlls(path):
    """{DLL name: [imported function names]} from objdump's import table."""
    text = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', path], capture_output=True, text=True,
                          check=True).stdout
    dlls = {}
    current = None
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith('DLL Name:'):
            current = stripped.split(':', 1)[1].strip()
            dlls[current] = []
        elif current is not None and stripped and not stripped.startswith('vma:'):
            fields = stripped.split()
            if len(fields) >= 3 and all(c in '0123456789abcdef' for c in fields[0]):
                dlls[current].append(fields[2])
            elif not fields or not all(c in '0123456789abcdef' for c in fields[0]):
                current = None
    return dlls
