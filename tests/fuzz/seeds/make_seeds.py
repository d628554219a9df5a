#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets.

seeds/table/      raw structure tables, malformed in the ways real firmware
                  and broken dumps are: lengths below 4, string sets without
                  their double NUL, counts reaching past the structure,
                  duplicate handles, end-of-table markers in the middle, the
                  OEM extension marker, and one structure of every decoded
                  type taken from the real tables.
seeds/tablefile/  table files: dmidecode --dump-bin files with 2.x and 3.x
                  entry points and RawSMBIOSData blocks around a real table,
                  and the same with headers that point outside the file.

The outputs are checked in; run this again only to change them:
    python3 tests/fuzz/seeds/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
REAL = os.path.join(HERE, "..", "..", "data", "real")


def structure(stype, handle, body=b"", strings=(), length=None):
    """Header, formatted area and string set; Length is 4 + len(body) unless given."""
    if length is None:
        length = 4 + len(body)
    head = bytes([stype, length & 0xFF]) + struct.pack("<H", handle)
    if strings:
        tail = b"".join(s.encode("latin-1") + b"\0" for s in strings) + b"\0"
    else:
        tail = b"\0\0"
    return head + body + tail


def end_of_table(handle=0xFEFF):
    return structure(127, handle)


def walk(table):
    """(offset, length) of the whole structures of a raw table, in order."""
    out = []
    p = 0
    while len(table) - p >= 4:
        i = p + table[p + 1]
        while i + 1 < len(table) and not (table[i] == 0 and table[i + 1] == 0):
            i += 1
        if i + 1 >= len(table):
            break
        out.append((p, i + 2 - p))
        p = i + 2
    return out


def write(folder, name, data):
    path = os.path.join(HERE, folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def table_seeds():
    seeds = {}

    # Length 0 to 3: the header overlaps the formatted area and the strings.
    seeds["length-below-4.bin"] = (
        structure(0, 0x0000, strings=("Vendor",))
        + bytes([1, 0, 0x01, 0x00]) + b"\0\0"  # Length 0
        + bytes([2, 1, 0x02, 0x00]) + b"A\0\0"
        + bytes([3, 2, 0x03, 0x00]) + b"\0\0"
        + bytes([4, 3, 0x04, 0x00]) + b"X\0Y\0\0"
        + bytes([0, 0, 0, 0, 0, 0])
        + end_of_table()
    )

    # The last string set never closes: the walk must stop at the buffer end.
    seeds["no-double-nul.bin"] = (
        structure(1, 0x0100, bytes([1, 2, 3, 4]) + bytes(17), strings=("Maker", "Product", "1.0", "SN"))
        + bytes([2, 15, 0x00, 0x02]) + bytes([1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0]) + b"Board\0Rev A"
    )

    # Counts and lengths that reach past the structure copy.
    seeds["counts-past-structure.bin"] = (
        # Baseboard: 200 contained handles announced, two present.
        structure(2, 0x0200, bytes([1, 2, 3, 4, 5, 0, 6]) + struct.pack("<H", 0x0300) + bytes([10, 200])
                  + struct.pack("<HH", 0x0400, 0x0401), strings=("M", "P", "V", "S", "A", "L"))
        # Enclosure: 255 elements of 255 bytes announced.
        + structure(3, 0x0300, bytes([1, 0x17, 0, 0, 0, 3, 3, 3, 3]) + bytes(4) + bytes([1, 2, 255, 255])
                    + bytes([0x83, 1, 2]), strings=("Chassis",))
        # Enclosure: record length 0 with many records.
        + structure(3, 0x0301, bytes([0, 3, 0, 0, 0, 3, 3, 3, 3]) + bytes(4) + bytes([1, 2, 100, 0]))
        # Obsolete memory controller: 120 slots announced, Length says 2.
        + structure(5, 0x0500, bytes([3, 2, 1, 1, 8]) + struct.pack("<HH", 1, 2) + bytes([2, 120])
                    + struct.pack("<HH", 0x0600, 0x0601))
        # OEM strings: 255 announced, three present.
        + structure(11, 0x0B00, bytes([255]), strings=("one", "two", "three"))
        # Configuration strings: count 9 with an empty string set.
        + structure(12, 0x0C00, bytes([9]))
        # System with Length 26: SKU at 0x19 but Family only in the strings.
        + structure(1, 0x0100, bytes([1, 2, 3, 4]) + bytes(range(16)) + bytes([6, 5]),
                    strings=("a", "b", "c", "d", "e"), length=26)
        # String numbers past the set, and an empty set with non-zero numbers.
        + structure(4, 0x0400, bytes([9, 3, 2, 7]) + bytes(8) + bytes([8]) + bytes(11), strings=("CPU",))
        + structure(17, 0x1100, struct.pack("<HHHHH", 0x1000, 0xFFFE, 64, 64, 0x4000) + bytes([9, 0, 1, 2, 0x1A])
                    + struct.pack("<HH", 0x80, 2400) + bytes([3, 4, 5, 6]))
        + end_of_table()
        # BIOS with a Length that reaches past its strings and the table end.
        + structure(0, 0x0000, bytes([1, 2, 0, 0xF0, 3, 0x3F]) + bytes(8), strings=("V", "1.0", "01/01/2000"),
                    length=255)
    )

    # Several structures per handle, including an end-of-table marker's.
    seeds["duplicate-handles.bin"] = (
        structure(4, 0x0400, bytes(0x1E), strings=("first",))
        + structure(4, 0x0400, bytes(0x1E), strings=("second",))
        + structure(7, 0x0400, bytes(0x0F))
        + structure(127, 0x0700)
        + structure(7, 0x0700, bytes(0x0F))
        + structure(17, 0xFFFF, bytes(0x11))
        + structure(17, 0x0000, bytes(0x11))
        + end_of_table()
    )

    # Markers in the middle: everything behind them still counts.
    seeds["end-marker-in-middle.bin"] = (
        structure(0, 0x0000, bytes([1, 2, 0, 0xE0, 3, 0x0F]) + bytes(8), strings=("V", "1"))
        + end_of_table(0x0001)
        + structure(1, 0x0002, bytes([1, 0, 0, 0]))
        + end_of_table(0x0003)
        + end_of_table(0x0003)
        + structure(11, 0x0004, bytes([2]), strings=("x", "y"))
    )

    # The OEM extension marker, the types it enables, and the signed decoders
    # with and without their signatures.
    marker = structure(188, 0xBC00, b"881$")
    seeds["oem-marker.bin"] = (
        marker
        + structure(188, 0xBC01, b"881$" + bytes(1))
        + structure(176, 0xB000, struct.pack("<HIHHH", 1, 0x12345678, 2, 3, 4))
        + structure(176, 0xB001, struct.pack("<HIH", 1, 2, 3))
        + structure(186, 0xBA00, struct.pack("<HHIBBB", 0x4C2D, 0x0A5B, 7, 12, 19, 0xE0))
        + structure(186, 0xBA01, bytes(4))
        + structure(128, 0x8000, bytes([1, 1, 2, 0]), strings=("ASF", "SYS"))
        + structure(129, 0x8100, bytes([1, 1, 2, 0, 3, 4, 5, 6]), strings=("ASF", "SYS"))
        + structure(129, 0x8101, bytes([3, 2, 9, 0]))
        + structure(130, 0x8200, b"$AMT" + bytes([1, 1, 0, 1, 1, 0xA5, 1, 2, 3, 4, 0, 0]))
        + structure(130, 0x8201, b"$AMX" + bytes(12))
        + end_of_table()
    )
    # The marker only in the second type-188 structure: 176 and 186 stay off.
    seeds["oem-marker-second.bin"] = (
        structure(188, 0xBC00, b"881#")
        + marker
        + structure(176, 0xB000, struct.pack("<HIHHH", 1, 2, 3, 4, 5))
        + structure(186, 0xBA00, struct.pack("<HHIBBB", 1, 2, 3, 4, 5, 6))
        + end_of_table()
    )

    # A table that ends in a header cut short.
    seeds["short-tail.bin"] = structure(0, 0, bytes(14), strings=("V",)) + bytes([1, 0x1B, 0])

    # One structure of every decoded type, the first each real table holds.
    decoded = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17, 39, 128, 129, 130, 188]
    found = {}
    for name in sorted(os.listdir(REAL)):
        if not name.endswith(".bin"):
            continue
        with open(os.path.join(REAL, name), "rb") as f:
            table = f.read()
        for offset, length in walk(table):
            t = table[offset]
            if t in decoded and t not in found:
                found[t] = table[offset:offset + length]
    seeds["all-decoded-types.bin"] = (
        b"".join(found[t] for t in decoded if t in found)
        + marker
        + structure(176, 0xB000, struct.pack("<HIHHH", 1, 0x12345678, 2, 3, 4))
        + structure(186, 0xBA00, struct.pack("<HHIBBB", 0x4C2D, 0x0A5B, 7, 12, 19, 0xE0))
        + end_of_table()
    )
    return seeds


def le_checksum(data):
    return (0x100 - sum(data) % 0x100) % 0x100


def dump2(table, address=0x20, length=None):
    ep = bytearray(0x20)
    ep[0:4] = b"_SM_"
    ep[5] = 0x1F
    ep[6], ep[7] = 2, 8
    ep[0x10:0x15] = b"_DMI_"
    struct.pack_into("<HI", ep, 0x16, len(table) if length is None else length, address)
    ep[0x1E] = 0x28
    ep[0x15] = le_checksum(ep[0x10:0x1F])
    ep[4] = le_checksum(ep[0:0x1F])
    return bytes(ep) + table


def dump3(table, max_size=None, address=0x20, padding=0):
    ep = bytearray(0x20)
    ep[0:5] = b"_SM3_"
    ep[6], ep[7], ep[8], ep[0xA] = 0x18, 3, 2, 1
    struct.pack_into("<IQ", ep, 0x0C, len(table) if max_size is None else max_size, address)
    ep[5] = le_checksum(ep[0:0x18])
    return bytes(ep) + table + bytes(padding)


def raw_smbios_data(table, length=None):
    return bytes([0, 3, 2, 0]) + struct.pack("<I", len(table) if length is None else length) + table


def tablefile_seeds():
    with open(os.path.join(REAL, "surface-laptop3-amd-3.2.bin"), "rb") as f:
        table = f.read()
    small = structure(0, 0, bytes([1, 2, 0, 0xF0, 3, 0x0F]) + bytes(8), strings=("V", "1")) + end_of_table()
    return {
        "sm-dump.bin": dump2(table),
        "sm3-dump.bin": dump3(table, padding=64),
        "sm3-dump-max-size-large.bin": dump3(small, max_size=0x100000, padding=16),
        "sm3-dump-max-size-small.bin": dump3(table, max_size=40),
        "rawsmbiosdata.bin": raw_smbios_data(table),
        "rawsmbiosdata-length-past-end.bin": raw_smbios_data(small, length=0x10000),
        "rawsmbiosdata-length-zero.bin": raw_smbios_data(small, length=0),
        "sm-dump-address-past-end.bin": dump2(small, address=0x7FFFFFF0),
        "sm-dump-length-past-end.bin": dump2(small, length=0xFFFF),
        "sm-dump-truncated.bin": dump2(small)[:0x18],
        "sm3-dump-address-huge.bin": dump3(small, address=0xFFFFFFFFFFFFFFF0),
        "sm3-dump-truncated.bin": dump3(small)[:0x12],
        "sm-dump-no-dmi-anchor.bin": dump2(small)[:0x10] + b"_XMI_" + dump2(small)[0x15:],
    }


def main():
    for name, data in table_seeds().items():
        write("table", name, data)
    for name, data in tablefile_seeds().items():
        write("tablefile", name, data)


if __name__ == "__main__":
    main()
