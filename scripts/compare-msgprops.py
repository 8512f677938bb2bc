#!/usr/bin/env python3
# Compares, in each STORE directory that scripts/readpst-compare.sh fills, the .msg files readpst wrote
# (STORE/readpst/**.msg) with ours (STORE/ours/**.msg), mail by mail: a mail is found by its subject and its
# submit time in whole seconds (then by order). Property tags are read with olefile from the names of the "__substg1.0_"
# streams and from the entries of "__properties_version1.0", of the message, its recipients and its
# attachments; a property counts as the same whatever its string type (readpst writes 8-bit strings). Prints
# each property readpst writes that some of our files lack, the count of mails that lack it, and whether it is
# data the store gives us (the table KNOWN below, kept by hand, names those that are not, and why).
#   compare-msgprops.py [-v] STORE...
import collections
import struct
import sys
from pathlib import Path

import olefile

# Properties readpst writes that are no data of the store: values it makes up or fills in itself. What each
# is, and why our files do without it.
KNOWN = {
    0x003B: "PR_SENT_REPRESENTING_SEARCH_KEY: a search key readpst makes up from the address",
    0x0051: "PR_RECEIVED_BY_SEARCH_KEY: made up by readpst",
    0x0052: "PR_RCVD_REPRESENTING_SEARCH_KEY: made up by readpst",
    0x0C1D: "PR_SENDER_SEARCH_KEY: made up by readpst",
    0x300B: "PR_SEARCH_KEY of a recipient: made up by readpst",
    0x5FF6: "PR_RECIPIENT_DISPLAY_NAME: readpst repeats the display name (0x3001), which we write",
    0x1046: "readpst puts the sender's address here (its return path); the store has no such property",
    0x0FF4: "PR_ACCESS of an attachment: readpst writes 2 for every one",
    0x0FF7: "PR_ACCESS_LEVEL of an attachment: readpst writes 0 for every one",
    0x0FFE: "PR_OBJECT_TYPE of an attachment: readpst writes 7 for every one",
    0x3710: "PR_ATTACH_MIME_SEQUENCE: readpst numbers the attachments backwards",
    0x0FF9: "PR_RECORD_KEY of an attachment: the store's own bookkeeping, not read",
}
# readpst writes a mail's RTF body as an attachment of its own; ours is PR_RTF_COMPRESSED (0x1009).
RTF_BODY = "rtf-body.rtf"


def tags_of(ole, storage):
    """The property ids of one storage: stream names, then the property stream's entries."""
    ids = set()
    prefix = len(storage)
    for entry in ole.listdir(streams=True, storages=False):
        if len(entry) == prefix + 1 and entry[:prefix] == storage and entry[-1].startswith("__substg1.0_"):
            ids.add(int(entry[-1][12:16], 16))
    header = 32 if not storage else 8
    if ole.exists("/".join(storage + ["__properties_version1.0"])):
        data = ole.openstream(storage + ["__properties_version1.0"]).read()
        for offset in range(header, len(data) - 15, 16):
            (tag,) = struct.unpack_from("<I", data, offset)
            ids.add(tag >> 16)
    return ids


def children(ole, prefix):
    return sorted({e[0] for e in ole.listdir(streams=True, storages=True) if e[0].startswith(prefix)})


def text(ole, tag_id, storage=()):
    for kind, encoding in (("001F", "utf-16-le"), ("001E", "cp1252")):
        name = list(storage) + [f"__substg1.0_{tag_id:04X}{kind}"]
        if ole.exists("/".join(name)):
            return ole.openstream(name).read().decode(encoding, "replace").rstrip("\0")
    return ""


def submit_time(ole):
    data = ole.openstream("__properties_version1.0").read()
    for offset in range(32, len(data) - 15, 16):
        tag, _flags, low, high = struct.unpack_from("<IIII", data, offset)
        if tag == 0x00390040:
            return ((high << 32) | low) // 10_000_000  # whole seconds: readpst drops the rest
    return None


def read(path):
    ole = olefile.OleFileIO(str(path))
    levels = {"message": tags_of(ole, [])}
    for level, prefix in (("recipient", "__recip_version1.0_"), ("attachment", "__attach_version1.0_")):
        levels[level] = set()
        for storage in children(ole, prefix):
            if level == "attachment" and text(ole, 0x3707, [storage]) == RTF_BODY:
                levels["message"].add(0x1009)
                continue
            levels[level] |= tags_of(ole, [storage])
    key = (" ".join(text(ole, 0x0037).split()), submit_time(ole))
    ole.close()
    return key, levels


def mails(directory):
    found = collections.defaultdict(list)
    for path in sorted(directory.rglob("*.msg")):
        key, levels = read(path)
        found[key].append((path, levels))
    return found


def main(args):
    verbose = "-v" in args
    stores = [Path(a) for a in args if a != "-v"]
    missing = collections.defaultdict(list)  # (level, id) -> mails
    compared = unmatched = 0
    for store in stores:
        theirs, ours = mails(store / "readpst"), mails(store / "ours")
        for key, entries in theirs.items():
            for i, (path, levels) in enumerate(entries):
                if i >= len(ours.get(key, [])):
                    unmatched += 1
                    if verbose:
                        print(f"no mail of ours for {store.name}: {path.relative_to(store)}")
                    continue
                compared += 1
                our_levels = ours[key][i][1]
                for level, ids in levels.items():
                    for tag_id in ids - our_levels[level]:
                        missing[(level, tag_id)].append(f"{store.name}: {key[0]!r}")
    print(f"{compared} mails compared, {unmatched} of readpst's without a mail of ours")
    mend = sum(1 for (_, tag_id) in missing if tag_id not in KNOWN)
    print(f"{len(missing)} properties readpst writes are missing in some of ours; {mend} of them from data we have")
    for (level, tag_id), where in sorted(missing.items()):
        note = KNOWN.get(tag_id, "the store has it: to be mended")
        print(f"{level} 0x{tag_id:04X}: missing in {len(where)} mails; {note}")
        if verbose:
            for mail in where:
                print(f"    {mail}")
    return 0


sys.exit(main(sys.argv[1:]))
