# SPDX-License-Identifier: MIT
# Reads compound files with olefile (python3-olefile) and prints what it finds as one JSON object, by file:
# "entries", every storage ("storage " and its class id in hex, as stored) and stream ("stream " and the
# SHA-256 of its bytes) by its path, the root as ""; and "problems": what olefile reports, and what breaks
# the rules of the directory's trees, which olefile does not check but readers that search by name rely
# on: each storage's entries in order (shorter names first, then the upper-cased UTF-16 units), and the
# red-black colours (a black top, no red entry below a red one, as many black entries on every path).
#
#   python3 readcfb.py FILE...
import hashlib
import json
import sys
import uuid

import olefile

RED = 0


def sort_key(name):
    upper = "".join(c.upper() if len(c.upper()) == 1 else c for c in name)
    return (len(name.encode("utf-16-le")), upper.encode("utf-16-be"))


def walk_tree(ole, sid, above_red, names, problems):
    """Adds the names of the tree below `sid` in order; returns its number of black entries per path."""
    if sid == olefile.NOSTREAM:
        return 0
    entry = ole.direntries[sid]
    red = entry.color == RED
    if red and above_red:
        problems.append(f"{entry.name}: a red entry below a red one")
    left = walk_tree(ole, entry.sid_left, red, names, problems)
    names.append(entry.name)
    right = walk_tree(ole, entry.sid_right, red, names, problems)
    if left != right:
        problems.append(f"{entry.name}: {left} black entries on the left, {right} on the right")
    return left + (0 if red else 1)


def read(path):
    try:
        ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_POTENTIAL)
    except Exception as error:
        return {"entries": {}, "problems": [f"olefile: {error}"]}
    problems = [f"olefile: {message}" for _, message in ole.parsing_issues]
    entries = {}

    def visit(entry, names):
        where = "/".join(names)
        if entry.entry_type == olefile.STGTY_STREAM:
            entries[where] = "stream " + hashlib.sha256(ole.openstream(names).read()).hexdigest()
            return
        entries[where] = "storage " + (uuid.UUID(entry.clsid).bytes_le.hex() if entry.clsid else "00" * 16)
        if entry.sid_child != olefile.NOSTREAM and ole.direntries[entry.sid_child].color == RED:
            problems.append(f"{where}: the top of the tree is red")
        order = []
        walk_tree(ole, entry.sid_child, False, order, problems)
        keys = [sort_key(name) for name in order]
        if any(a >= b for a, b in zip(keys, keys[1:])):
            problems.append(f"{where}: entries out of order: {order}")
        for kid in entry.kids:
            visit(kid, names + [kid.name])

    visit(ole.root, [])
    return {"entries": entries, "problems": problems}


json.dump({path: read(path) for path in sys.argv[1:]}, sys.stdout)
