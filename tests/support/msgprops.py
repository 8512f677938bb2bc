# SPDX-License-Identifier: MIT
# Reads the MAPI properties of Outlook message files with olefile (python3-olefile), independently of the
# writer: the property stream's entries and the value streams they name. Prints one JSON object per file on
# one line: "props" of the message by tag ("1035001F"), "recipients" and "attachments" (each its props), and
# "named": the named properties of PS_PUBLIC_STRINGS by name, mapped through __nameid_version1.0.
# Strings are text, PT_LONG and PT_BOOLEAN numbers, binaries hex, multi-valued strings lists.
#
#   python3 msgprops.py FILE.msg...
import json
import struct
import sys

import olefile


def read_props(ole, storage, header_size):
    path = storage + ["__properties_version1.0"]
    data = ole.openstream(path).read()
    props = {}
    for offset in range(header_size, len(data) - 15, 16):
        tag, _flags, low, high = struct.unpack_from("<IIII", data, offset)
        ptype = tag & 0xFFFF
        name = f"{tag:08X}"
        stream = storage + [f"__substg1.0_{name}"]
        if ptype == 0x0003:
            props[name] = struct.unpack("<i", struct.pack("<I", low))[0]
        elif ptype == 0x000B:
            props[name] = low & 0xFF
        elif ptype == 0x0040:
            props[name] = (high << 32) | low
        elif ptype == 0x001F:
            props[name] = ole.openstream(stream).read().decode("utf-16-le").rstrip("\0")
        elif ptype == 0x0102:
            props[name] = ole.openstream(stream).read().hex().upper()
        elif ptype == 0x101F:
            lengths = ole.openstream(stream).read()
            values = []
            for i in range(len(lengths) // 4):
                value = ole.openstream(storage + [f"__substg1.0_{name}-{i:08X}"]).read()
                values.append(value.decode("utf-16-le").rstrip("\0"))
            props[name] = values
    return props


def named_ids(ole):
    entries = ole.openstream(["__nameid_version1.0", "__substg1.0_00030102"]).read()
    strings = ole.openstream(["__nameid_version1.0", "__substg1.0_00040102"]).read()
    names = {}
    for offset in range(0, len(entries) - 7, 8):
        name_or_offset, index_kind, prop_index = struct.unpack_from("<IHH", entries, offset)
        if index_kind & 1 and index_kind >> 1 == 2:  # a string name of PS_PUBLIC_STRINGS
            (length,) = struct.unpack_from("<I", strings, name_or_offset)
            text = strings[name_or_offset + 4 : name_or_offset + 4 + length].decode("utf-16-le")
            names[0x8000 + prop_index] = text
    return names


def children(ole, storage, prefix):
    found = sorted({entry[len(storage)] for entry in ole.listdir(storages=True) if len(entry) > len(storage)
                    and entry[: len(storage)] == storage and entry[len(storage)].startswith(prefix)})
    return [storage + [name] for name in found]


def read(path):
    ole = olefile.OleFileIO(path)
    props = read_props(ole, [], 32)
    ids = named_ids(ole)
    named = {ids[int(tag[:4], 16)]: value for tag, value in props.items() if int(tag[:4], 16) in ids}
    return {
        "props": props,
        "named": named,
        "recipients": [read_props(ole, s, 8) for s in children(ole, [], "__recip_version1.0_")],
        "attachments": [read_props(ole, s, 8) for s in children(ole, [], "__attach_version1.0_")],
    }


for file in sys.argv[1:]:
    print(json.dumps(read(file)))
