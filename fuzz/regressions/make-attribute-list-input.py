#!/usr/bin/env python3
# Writes the volume_scan input that gives the names fixture's table an
# attribute list: record 0's $DATA keeps its first 4 clusters and names
# record 15 for the other 31, which record 15 holds as an extension record
# whose last attribute header starts 8 bytes before the record's end.
# Usage: make-attribute-list-input.py NAMES.img OUT
import struct
import sys

image = open(sys.argv[1], 'rb').read()
cluster = struct.unpack_from('<H', image, 11)[0] * image[13]
table = struct.unpack_from('<Q', image, 48)[0] * cluster
SIZE, EXTENSION = 1024, 15


def fixed(number):
    r = bytearray(image[table + number * SIZE:table + (number + 1) * SIZE])
    usa, count = struct.unpack_from('<HH', r, 4)
    for i in range(1, count):
        r[i * 512 - 2:i * 512] = r[usa + 2 * i:usa + 2 * i + 2]
    return r


def attributes(record):
    at, found = struct.unpack_from('<H', record, 20)[0], []
    while struct.unpack_from('<I', record, at)[0] != 0xFFFFFFFF:
        length = struct.unpack_from('<I', record, at + 4)[0]
        found.append(bytes(record[at:at + length]))
        at += length
    return found


def pad8(b):
    return b + b'\0' * (-len(b) % 8)


def sized(attribute):
    attribute = bytearray(pad8(attribute))
    struct.pack_into('<I', attribute, 4, len(attribute))
    return bytes(attribute)


def entry(kind, vcn, holder, ident):
    e = bytearray(32)
    struct.pack_into('<IHBB', e, 0, kind, 32, 0, 0x1A)
    struct.pack_into('<QQH', e, 8, vcn, holder, ident)
    return bytes(e)


record0 = fixed(0)
sequence0 = struct.unpack_from('<H', record0, 16)[0]
old = attributes(record0)
data = next(a for a in old if struct.unpack_from('<I', a, 0)[0] == 0x80)
piece0 = bytearray(data[:64])
struct.pack_into('<Q', piece0, 24, 3)  # last VCN
piece0 = sized(piece0 + bytes([0x11, 4, 4]))
piece1 = bytearray(data[:64])
struct.pack_into('<QQ', piece1, 16, 4, 34)  # first and last VCN
struct.pack_into('<QQQ', piece1, 40, 0, 0, 0)  # sizes: the first piece's
piece1 = sized(piece1 + bytes([0x11, 31, 8]))

listed = b''
for a in old:
    kind, ident = struct.unpack_from('<I', a, 0)[0], struct.unpack_from('<H', a, 14)[0]
    listed += entry(kind, 0, sequence0 << 48, ident)
    if kind == 0x80:
        listed += entry(0x80, 4, EXTENSION | sequence0 << 48, ident)
next_id = struct.unpack_from('<H', record0, 40)[0]
header = bytearray(24)
struct.pack_into('<IIBBHHHIH', header, 0, 0x20, 0, 0, 0, 24, 0, next_id, len(listed), 24)
attribute_list = sized(header + listed)
rebuilt = bytearray(record0[:struct.unpack_from('<H', record0, 20)[0]])
for a in old:
    if struct.unpack_from('<I', a, 0)[0] == 0x30:
        rebuilt += attribute_list
    rebuilt += piece0 if struct.unpack_from('<I', a, 0)[0] == 0x80 else a
rebuilt += b'\xff\xff\xff\xff\0\0\0\0'
struct.pack_into('<I', rebuilt, 24, len(rebuilt))
struct.pack_into('<H', rebuilt, 40, next_id + 1)
rebuilt += b'\0' * (SIZE - len(rebuilt))

extension = bytearray(fixed(EXTENSION))
first = struct.unpack_from('<H', extension, 20)[0]
filler = bytearray(24)  # resident, up to 8 bytes before the end
filler_length = SIZE - 8 - first - len(piece1)
struct.pack_into('<IIBBHHHIH', filler, 0, 0x40, filler_length, 0, 0, 0, 0, 1, 0, 24)
extension[first:] = piece1 + filler + b'\0' * (filler_length - 24)
extension += struct.pack('<II', 0x100, 0)  # a header with no room left
struct.pack_into('<HH', extension, 22, 1, 0)  # in use
struct.pack_into('<Q', extension, 32, sequence0 << 48)  # base: record 0

out = b''
for number, new in ((0, rebuilt), (EXTENSION, extension)):
    was = fixed(number)
    for at in range(0, SIZE, 16):
        if new[at:at + 16] != was[at:at + 16]:
            out += struct.pack('<BHHB', 2, number, at, 15) + bytes(new[at:at + 16])
open(sys.argv[2], 'wb').write(out)
