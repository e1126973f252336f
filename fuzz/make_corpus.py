#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from the project's own vectors
(tests/data/*.vec, cli/tests/data/forms.vec, cli/tests/data/records.vec), each seed in the input layout
of its target. Run from anywhere; rewrites fuzz/corpus/<target>/vec-* and
leaves other seeds alone."""
import hashlib
import pathlib
import re
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
TOKEN = re.compile(r'"(?:[^"\\]|\\.)*"|\S+')
ESCAPES = {'t': '\t', 'n': '\n', 'r': '\r', '\\': '\\', '"': '"'}


def fields(path):
    """Each vector line as (section, fields); quoted fields unescaped to bytes."""
    section = ''
    for line in (ROOT / path).read_text().splitlines():
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        if line.startswith('['):
            section = line.strip('[]')
            continue
        out = []
        for tok in TOKEN.findall(line):
            if tok.startswith('"'):
                body, text, i = tok[1:-1], bytearray(), 0
                while i < len(body):
                    if body[i] != '\\':
                        text += body[i].encode('latin-1')
                        i += 1
                    elif body[i + 1] == 'x':
                        text.append(int(body[i + 2:i + 4], 16))
                        i += 4
                    else:
                        text += ESCAPES[body[i + 1]].encode()
                        i += 2
                out.append(bytes(text))
            else:
                out.append(tok)
        yield section, out


def hexbytes(tok):
    return b'' if tok == '-' else bytes.fromhex(tok)


hex_texts, asc_texts, plains, keyed = set(), set(), set(), []
for section, f in fields('tests/data/hex.vec'):
    hex_texts.add(f[0] if section == 'read' else f[1])
for section, f in fields('tests/data/armour.vec'):
    text = f[1] if section == 'both' else f[0]
    asc_texts.add(text)
    if section == 'both':
        plains.add(hexbytes(f[0]))
for _, f in fields('cli/tests/data/forms.vec'):
    (hex_texts if f[0].startswith('hex') else asc_texts).add(f[1].encode())
    plains.add(hexbytes(f[2]))
for _, f in fields('tests/data/rfc2268.vec'):
    keyed.append((bytes.fromhex(f[0]), int(f[1]), bytes.fromhex(f[2]), f[3].upper().encode(), None))
for _, f in fields('tests/data/messages.vec'):
    key, bits, plain = bytes.fromhex(f[0]), int(f[1]), hexbytes(f[2])
    cipher_hex = b'' if f[3] == '-' else f[3].encode()
    keyed.append((key, bits, plain, cipher_hex, b'' if f[4] == '-' else f[4].encode()))
for key, _, plain, cipher_hex, asc in keyed:
    hex_texts.add(cipher_hex)
    plains.add(plain)
    if asc is not None:
        asc_texts.add(asc)

seeds = {name: set() for name in ('hex_read', 'asc_decode', 'decrypt', 'differential', 'cli_stream', 'records',
                                'streams')}
seeds['hex_read'] |= hex_texts
for text in asc_texts:
    seeds['asc_decode'].add(b'\x01' + text)
for key, bits, plain, cipher_hex, asc in keyed:
    effective = b'\x0f' + struct.pack('<H', bits)  # a chosen effective length, not an edge value
    raw_key = effective + bytes([0, len(key)]) + key
    hex_key = effective + bytes([1, len(key)]) + key.hex().encode()
    seeds['decrypt'] |= {raw_key + bytes.fromhex(cipher_hex.decode()), hex_key + cipher_hex}
    if asc:
        seeds['decrypt'].add(hex_key + asc)
    seeds['differential'].add(struct.pack('<H', bits) + bytes([len(key) - 1, 0]) + key + plain)
# Chains of the stream target: 0 encrypt, 1 decrypt, 2 hex read, 3 hex write,
# 4 armour, 5 de-armour, 6 hex read + decrypt, 7 de-armour + decrypt,
# 8 encrypt + hex, 9 encrypt + armour. Three cuts: 1, 4 and 7 bytes.
cuts = bytes([3, 1, 4, 7])
for chain, texts in ((0, plains), (3, plains), (4, plains), (8, plains), (9, plains),
                     (2, hex_texts), (6, hex_texts), (5, asc_texts), (7, asc_texts),
                     (1, {bytes.fromhex(c.decode()) for _, _, _, c, _ in keyed})):
    for text in texts:
        seeds['cli_stream'].add(bytes([chain]) + cuts + text)
# Forms of the core's streams: 0 encrypt, 1 decrypt, 2 hex write, 3 hex read,
# 4 armour, 5 de-armour. Three cuts, of 1, 4 and 7 bytes, two bytes each.
cuts = bytes([3]) + struct.pack('<3H', 1, 4, 7)
for form, texts in ((0, plains), (2, plains), (4, plains), (3, hex_texts), (5, asc_texts),
                    (1, {bytes.fromhex(c.decode()) for _, _, _, c, _ in keyed})):
    for text in texts:
        seeds['streams'].add(bytes([form]) + cuts + text)
# Inputs across the library's 16 KiB pieces, cut one byte either side of them,
# with faults there: an incomplete block, a group too large, a bad tail mark.
def filler(n, alphabet):
    out, block = bytearray(), b''
    while len(out) < n:
        block = hashlib.sha256(block + b'filler').digest()
        out += bytes(alphabet[b % len(alphabet)] for b in block)
    return bytes(out[:n])
digits = b'0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV'
piece = 16 * 1024
for n, pieces in ((piece + 3, (piece - 1, 2)), (piece - 5, (8, piece - 17)), (3 * piece + 1, (piece + 1, piece))):
    cut = bytes([len(pieces)]) + struct.pack('<%dH' % len(pieces), *pieces)
    seeds['streams'] |= {bytes([0]) + cut + filler(n, bytes(range(256))),
                         bytes([1]) + cut + filler(n, bytes(range(256))),
                         bytes([1]) + cut + b' ' * n + b'x',
                         bytes([3]) + cut + filler(n, b'0123456789abcdefABCDEF \n\tz'),
                         bytes([5]) + cut + filler(n - 1, digits) + b'0',
                         bytes([5]) + cut + filler(n - 9, digits) + b'ZZZZ' + filler(4, digits) + b'J',
                         bytes([5]) + cut + filler(n - 1, digits) + b'Z'}

# Records: mode (bit 0 CSV, bits 1-2 the delimiter , ; tab |), the record limit
# (255: the tool's own; 6: short enough to fail), three cuts, the input.
for _, f in fields('cli/tests/data/records.vec'):
    csv = f[0] == 'csv'
    mode = int(csv) | {'-': 0, ',': 0, ';': 1, 'tab': 2}[f[2]] << 1
    for limit in (255, 6):
        seeds['records'].add(bytes([mode, limit]) + cuts + f[4])

for name, inputs in seeds.items():
    folder = ROOT / 'fuzz' / 'corpus' / name
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob('vec-*'):
        old.unlink()
    for data in inputs:
        (folder / ('vec-' + hashlib.sha1(data).hexdigest()[:12])).write_bytes(data)
    print(f'{name}: {len(inputs)} seeds')
