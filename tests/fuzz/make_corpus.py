#!/usr/bin/env python3
"""Writes the seed forks of the resource-fork fuzz target into corpus/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def build_fork(types):
    """types: [(code bytes, [(id, data bytes, name bytes or b"")])]"""
    data = b""
    offsets = []
    for _, resources in types:
        offsets.append([])
        for _, blob, _ in resources:
            offsets[-1].append(len(data))
            data += struct.pack(">I", len(blob)) + blob
    type_list = struct.pack(">H", len(types) - 1 if types else 0xFFFF)
    type_list_size = 2 + 8 * len(types)
    refs = b""
    names = b""
    for (code, resources), offs in zip(types, offsets):
        type_list += code + struct.pack(">HH", len(resources) - 1 if resources else 0xFFFF,
                                        type_list_size + len(refs))
        for (rid, _, name), off in zip(resources, offs):
            name_offset = 0xFFFF
            if name:
                name_offset = len(names)
                names += bytes([len(name)]) + name
            refs += struct.pack(">hHII", rid, name_offset, off, 0)
    data_offset = 256
    map_offset = data_offset + len(data)
    map_length = 28 + len(type_list) + len(refs) + len(names)
    header = struct.pack(">IIII", data_offset, map_offset, len(data), map_length)
    fork_map = header + bytes(8) + struct.pack(">HH", 28, 28 + len(type_list) + len(refs))
    fork_map += type_list + refs + names
    return header + bytes(data_offset - 16) + data + fork_map


def placeholder():
    fork = struct.pack(">IIII", 256, 256, 0, 30)
    fork += b"This resource fork intentionally left blank   "
    fork = fork.ljust(256, b"\0")
    fork += struct.pack(">IIII", 256, 256, 0, 30) + bytes(8) + struct.pack(">HHH", 28, 30, 0xFFFF)
    return fork


SEEDS = {
    "three-types": build_fork([
        (b"ICN#", [(128, b"first icon", b""), (-4064, b"\0\x01\xff", b"sys")]),
        (b"STR ", []),
        (b"\xa9ver", [(1, b"one", b""), (2, b"", b""), (3, b"three", b"name"),
                      (1000, b"x", b""), (-1, b"\xab" * 300, b"")]),
    ]),
    "no-types": build_fork([]),
    "placeholder": placeholder(),
    "one-text": build_fork([(b"TEXT", [(128, b"hello", b"greeting")])]),
}

os.makedirs(os.path.join(HERE, "corpus"), exist_ok=True)
for name, fork in SEEDS.items():
    with open(os.path.join(HERE, "corpus", name), "wb") as out:
        out.write(fork)
