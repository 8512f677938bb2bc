#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the bundled sample store "Sample Mailbox", a Maildir tree of about sixty
invented messages that exercise the reader: nested and Maildir++ folders, encoded
headers in several charsets, attachments with awkward names, items that are no mail,
dates at the edges of a day and of the summer-time switch.

Usage: make-sample-mailbox.py [--force] [OUTDIR]
OUTDIR defaults to "Sample Mailbox" beside this script; an existing, non-empty OUTDIR
is replaced only with --force. The output is the same, byte for byte, on every run.
samples/README.md lists the folders and what each special message is for.
"""

import argparse
import base64
import hashlib
import os
import quopri
import shutil
import struct
import sys
import zlib
from datetime import datetime, timedelta, timezone
from email.utils import format_datetime
from zoneinfo import ZoneInfo

BERLIN = ZoneInfo("Europe/Berlin")
HOST = "mail.example.org"  # the host that delivered into this Maildir
LAPTOP = "laptop.example.org"  # the host the owner's client wrote Sent and Drafts on

OWNER = ("Robin Hale", "robin.hale@example.org")
DANA = ("Dana Whitfield", "dana.whitfield@example.org")
SAM = ("Sam Okafor", "sam.okafor@example.org")
PRIYA = ("Priya Natarajan", "priya.natarajan@example.com")
CHIARA = ("Chiara Rossi", "chiara.rossi@example.com")
JUERGEN = ("Jürgen Böhm", "juergen.boehm@example.net")
FRANCOIS = ("François Lefèvre", "francois.lefevre@example.net")
TAKESHI = ("森 健志", "takeshi.mori@example.net")
OLGA = ("Ольга Смирнова", "olga.smirnova@example.com")
CLUB = ("Hollyhock Garden Club", "club@example.net")
BILLING = ("Example Shop Billing", "billing@example.com")
NEWS = ("Seedling Newsletter", "news@example.com")


# ---------------------------------------------------------------------------
# Encodings


def mutf7(name):
    """IMAP modified UTF-7 (RFC 3501 5.1.3), as Maildir++ folder names use it."""
    out, run = [], ""

    def flush():
        if run:
            data = run.encode("utf-16-be")
            out.append("&" + base64.b64encode(data).decode().rstrip("=").replace("/", ",") + "-")

    for ch in name:
        if 0x20 <= ord(ch) <= 0x7E:
            flush()
            run = ""
            out.append("&-" if ch == "&" else ch)
        else:
            run += ch
    flush()
    return "".join(out)


def _q(data):
    out = []
    for b in data:
        c = chr(b)
        if b == 0x20:
            out.append("_")
        elif c.isascii() and (c.isalnum() or c in "!*+-/"):
            out.append(c)
        else:
            out.append("=%02X" % b)
    return "".join(out)


def _b(data):
    return base64.b64encode(data).decode()


def encoded_words(text, charset, method="B", limit=66):
    """RFC 2047 encoded words of at most `limit` characters, split between characters
    (each chunk is encoded on its own, so ISO-2022-JP chunks end in ASCII), folded."""
    code = _b if method == "B" else _q
    prefix = "=?%s?%s?" % (charset, method)
    chunks, chunk = [], ""
    for ch in text:
        if chunk and len(prefix) + len(code((chunk + ch).encode(charset))) + 2 > limit:
            chunks.append(chunk)
            chunk = ch
        else:
            chunk += ch
    chunks.append(chunk)
    return "\n ".join(prefix + code(c.encode(charset)) + "?=" for c in chunks)


def address(person):
    name, addr = person
    if not name:
        return addr
    if not name.isascii():
        name = encoded_words(name, "UTF-8", "Q")
    elif any(c in name for c in ',.;:"()<>@'):
        name = '"%s"' % name.replace('"', '\\"')
    return "%s <%s>" % (name, addr)


def date(dt):
    return format_datetime(dt)


def berlin(y, mo, d, h=0, mi=0, s=0):
    return datetime(y, mo, d, h, mi, s, tzinfo=BERLIN)


def zone(hours, minutes=0):
    return timezone(timedelta(hours=hours, minutes=minutes))


# ---------------------------------------------------------------------------
# MIME parts: (list of (name, value) headers, body bytes)


class Boundaries:
    """Deterministic multipart boundaries, numbered per message."""

    def __init__(self):
        self.message = 0
        self.count = 0

    def next_message(self):
        self.message += 1
        self.count = 0

    def next(self):
        self.count += 1
        return "=_sample_%03d_%d" % (self.message, self.count)


BOUNDARIES = Boundaries()


def text(body, subtype="plain", charset="utf-8", cte=None):
    data = body.encode(charset)
    if cte is None:
        cte = "7bit" if data.isascii() else "quoted-printable"
    if cte == "quoted-printable":
        data = quopri.encodestring(data)
    elif cte == "base64":
        data = base64.encodebytes(data)
    return [("Content-Type", "text/%s; charset=%s" % (subtype, charset)), ("Content-Transfer-Encoding", cte)], data


def attachment(ctype, data, filename=None, disposition="attachment", params=None, extra=()):
    """A base64 attachment; `params` replaces the file-name parameters when given."""
    if params is None:
        params = '; filename="%s"' % filename if filename is not None else ""
        ctype += '; name="%s"' % filename if filename is not None else ""
    headers = [("Content-Type", ctype), ("Content-Disposition", disposition + params)]
    headers += list(extra)
    headers.append(("Content-Transfer-Encoding", "base64"))
    return headers, base64.encodebytes(data)


def multipart(subtype, parts, params=""):
    boundary = BOUNDARIES.next()
    body = b"This is a multi-part message in MIME format.\n"
    for headers, data in parts:
        body += b"\n--" + boundary.encode() + b"\n" + serialize(headers, data)
    body += b"\n--" + boundary.encode() + b"--\n"
    return [("Content-Type", 'multipart/%s;%s\n boundary="%s"' % (subtype, params, boundary))], body


def serialize(headers, body):
    head = "".join("%s: %s\n" % (name, value) if value else "%s:\n" % name for name, value in headers)
    if not body.endswith(b"\n"):
        body += b"\n"
    return head.encode("utf-8") + b"\n" + body


# ---------------------------------------------------------------------------
# Small binary files for attachments, written byte by byte so that no library
# version changes them.


def png(r, g, b):
    """A 1x1 RGB PNG with a stored (uncompressed) deflate block."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = bytes([0, r, g, b])
    deflate = b"\x78\x01\x01" + struct.pack("<HH", len(raw), len(raw) ^ 0xFFFF) + raw + struct.pack(">I", zlib.adler32(raw))
    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", deflate) + chunk(b"IEND", b"")


def pdf(line):
    """A one-page PDF that shows one line of text."""
    stream = "BT /F1 14 Tf 24 60 Td (%s) Tj ET" % line
    objects = [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 120] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = "%PDF-1.4\n"
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += "%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += "".join("%010d 00000 n \n" % o for o in offsets)
    out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return out.encode("ascii")


# ---------------------------------------------------------------------------
# The store


class Store:
    def __init__(self):
        self.folders = {}  # key -> directory relative to the root ("" for the root)
        self.files = []  # (directory, name, bytes, mtime)

    def folder(self, key, path, dotted=False):
        """Declares a folder: nested directories, or one Maildir++ directory when `dotted`."""
        self.folders[key] = "." + ".".join(mutf7(n) for n in path) if dotted else "/".join(path)

    def add(self, key, delivered, data, flags="S", sub="cur", host=HOST, crlf=False):
        """Stores one message; `delivered` is the delivery time the file name starts with."""
        n = len(self.files) + 1
        unique = "M%06dP%dQ%d" % (n * 271829 % 1000000, 4000 + n * 37, n)
        seconds = int(delivered.timestamp())
        name = "%d.%s.%s" % (seconds, unique, host)
        if sub == "cur":
            name += ":2," + flags
        if crlf:
            data = data.replace(b"\n", b"\r\n")
        self.files.append((os.path.join(self.folders[key], sub), name, data, seconds))

    def write(self, root):
        for directory in sorted(set(self.folders.values())):
            for sub in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(root, directory, sub), exist_ok=True)
            # Git keeps no empty directory; tmp/ is never read, so the marker is harmless.
            with open(os.path.join(root, directory, "tmp", ".keep"), "wb"):
                pass
        for directory, name, data, seconds in self.files:
            path = os.path.join(root, directory, name)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (seconds, seconds))


def message_id(seed, host):
    return "<%s@%s>" % (hashlib.sha1(seed.encode()).hexdigest()[:20], host)


# The relay that hands each sender's mail to this Maildir's host.
RELAYS = {
    "example.org": ("mail.example.org", "192.0.2.2"),
    "example.com": ("smtp.example.com", "203.0.113.25"),
    "example.net": ("mx.example.net", "192.0.2.17"),
}


def received_chain(sent, sender, recipient, hops):
    """Two Received headers, the topmost being the final delivery, and the delivery time."""
    relay_host, relay_ip = RELAYS[".".join(sender.split("@")[1].split(".")[-2:])]
    relay = sent + timedelta(seconds=hops[0])
    final = relay + timedelta(seconds=hops[1])
    queue = hashlib.sha1((recipient + sent.isoformat()).encode()).hexdigest()[:10].upper()
    client = "198.51.100.%d" % (int(queue[:2], 16) % 200 + 10)
    top = "from %s (%s [%s])\n\tby %s (Postfix) with ESMTPS id %s\n\tfor <%s>; %s" % (
        relay_host,
        relay_host,
        relay_ip,
        HOST,
        queue,
        recipient,
        date(final.astimezone(BERLIN)),
    )
    second = "from [%s] (unknown [%s])\n\tby %s (Postfix) with ESMTPSA id %s\n\tfor <%s>; %s" % (
        client,
        client,
        relay_host,
        queue[::-1],
        recipient,
        date(relay),
    )
    return [("Received", top), ("Received", second)], final


def mail(sent, frm, to, subject, content, cc=(), extra=(), received=True, date_header=None, hops=(4, 2), more_from=()):
    """One message: headers in the usual order, then the content part; `content` is a part
    or a function that makes one (so that its boundaries are numbered after this message's).
    `to` None leaves out the To header, [] writes an empty group. `date_header` "" leaves out
    the Date header, a text replaces it. Returns the bytes and the delivery time."""
    BOUNDARIES.next_message()
    headers = []
    delivered = sent
    if received:
        headers.append(("Return-Path", "<%s>" % ("" if frm[1].startswith("MAILER-DAEMON") else frm[1])))
        chain, delivered = received_chain(sent, frm[1], to[0][1] if to else OWNER[1], hops)
        headers += chain
    if date_header is None:
        headers.append(("Date", date(sent)))
    elif date_header:
        headers.append(("Date", date_header))
    headers.append(("From", ",\n ".join(address(p) for p in (frm, *more_from))))
    if more_from:
        headers.append(("Sender", address(frm)))
    if to is not None:
        headers.append(("To", ",\n ".join(address(p) for p in to) if to else "undisclosed-recipients:;"))
    if cc:
        headers.append(("Cc", ",\n ".join(address(p) for p in cc)))
    headers.append(("Subject", subject))
    headers.append(("Message-ID", message_id(subject + frm[1] + sent.isoformat(), frm[1].split("@")[1])))
    headers += list(extra)
    headers.append(("MIME-Version", "1.0"))
    part_headers, body = content() if callable(content) else content
    return serialize(headers + part_headers, body), delivered


# ---------------------------------------------------------------------------
# The messages


def build():
    s = Store()
    s.folder("Inbox", [])  # the root's own cur/ and new/: the folder "Inbox"
    s.folder("Projects", ["Projects"])
    s.folder("Quillbox", ["Projects", "Quillbox"])
    s.folder("2019", ["Projects", "Quillbox", "2019"])
    s.folder("Garden", ["Projects", "Garden Club"])
    s.folder("Sent", ["Sent"], dotted=True)
    s.folder("Drafts", ["Drafts"], dotted=True)
    s.folder("Archive", ["Archive"], dotted=True)
    s.folder("Archive2012", ["Archive", "2012"], dotted=True)
    s.folder("Archive2020", ["Archive", "2020"], dotted=True)
    s.folder("Entwuerfe", ["Entwürfe"], dotted=True)
    s.folder("RD", ["R&D"], dotted=True)
    assert s.folders["Entwuerfe"] == ".Entw&APw-rfe" and s.folders["RD"] == ".R&-D"

    me = [OWNER]

    def add(key, built, **kw):
        data, delivered = built
        s.add(key, kw.pop("delivered", delivered), data, **kw)

    # --- Inbox -----------------------------------------------------------------
    add(
        "Inbox",
        mail(
            berlin(2024, 3, 4, 8, 30),
            DANA,
            me,
            "Welcome to the sample mailbox",
            text(
                "Hello Robin,\n\nthis mailbox is made up for trying Quillbox out. Every person and address in it\n"
                "is invented; the domains are the ones reserved for examples.\n\nDana\n"
            ),
        ),
        sub="new",
    )
    add(
        "Inbox",
        mail(
            berlin(2024, 4, 2, 11, 47, 10),
            SAM,
            me,
            "Lunch today?",
            text("Noodle bar at half past twelve? I booked a table for four.\n\nSam\n"),
        ),
        sub="new",
    )
    add(
        "Inbox",
        mail(
            berlin(2024, 2, 14, 7, 0),
            NEWS,
            me,
            "Spring catalogue: 20% off all seeds",
            text(
                "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Spring catalogue</title></head>\n"
                "<body style=\"font-family: sans-serif\">\n<h1>Spring is coming</h1>\n"
                "<p>Until 31 March every packet of seeds is <b>20&nbsp;% off</b> &ndash; tomatoes, "
                "beans, sweet peas and our new <i>Bl&uuml;tenzauber</i> mix.</p>\n"
                "<p><a href=\"https://shop.example.com/spring\">Open the catalogue</a></p>\n"
                "<p style=\"font-size: small\">You get this because you subscribed at shop.example.com. "
                "<a href=\"https://shop.example.com/unsubscribe\">Unsubscribe</a>.</p>\n</body></html>\n",
                "html",
            ),
            extra=[("List-Unsubscribe", "<https://shop.example.com/unsubscribe>")],
        ),
    )
    add(
        "Inbox",
        mail(
            berlin(2023, 11, 20, 18, 42, 5),
            CHIARA,
            me,
            "Dinner on Friday?",
            lambda: multipart(
                "alternative",
                [
                    text("Ciao Robin,\n\nshall we try the new place on Via Verdi? 19:30 would suit me.\n\nChiara\n"),
                    text(
                        "<html><body><p>Ciao Robin,</p><p>shall we try the new place on <b>Via Verdi</b>? "
                        "19:30 would suit me.</p><p>Chiara</p></body></html>\n",
                        "html",
                    ),
                ],
            ),
        ),
        flags="RS",
    )
    add(
        "Inbox",
        mail(
            berlin(2022, 7, 9, 21, 10, 33),
            JUERGEN,
            me,
            encoded_words("Grüße aus München – Fotos", "UTF-8", "B"),
            lambda: multipart(
                "mixed",
                [
                    text("Hallo Robin,\n\nzwei Bilder vom Viktualienmarkt, beide heißen leider gleich.\n\nJürgen\n"),
                    attachment("image/png", png(200, 40, 40), "photo.png"),
                    attachment("image/png", png(40, 40, 200), "photo.png"),
                ],
            ),
        ),
    )
    add(
        "Inbox",
        mail(
            berlin(2023, 5, 2, 10, 5),
            FRANCOIS,
            me,
            encoded_words("Café ☕ demain ? 🥐", "UTF-8", "Q"),
            text("Salut Robin,\n\nun café demain à 10 h devant la gare ?\n\nFrançois\n"),
        ),
        flags="RS",
    )
    add(
        "Inbox",
        mail(
            berlin(2016, 9, 13, 14, 20, 44),
            FRANCOIS,
            me,
            encoded_words("Réunion de l'équipe : compte rendu", "ISO-8859-1", "Q"),
            text(
                "Bonjour à tous,\n\nvoici le compte rendu de la réunion de mardi : le budget est approuvé,\n"
                "la prochaine réunion aura lieu le 27 septembre.\n\nFrançois\n",
                charset="iso-8859-1",
            ),
        ),
    )
    add(
        "Inbox",
        mail(
            datetime(2018, 4, 10, 17, 5, 12, tzinfo=zone(9)),
            TAKESHI,
            me,
            encoded_words("会議の議事録（4月）", "ISO-2022-JP", "B"),
            text(
                "ロビンさん\n\n4月の会議の議事録を送ります。\nよろしくお願いします。\n\n森\n",
                charset="iso-2022-jp",
                cte="7bit",
            ),
        ),
    )
    add(
        "Inbox",
        mail(
            datetime(2017, 1, 23, 12, 31, 0, tzinfo=zone(3)),
            ("", OLGA[1]),
            me,
            encoded_words("Отчёт за квартал", "KOI8-R", "B"),
            text(
                "Добрый день, Робин!\n\nОтчёт за четвёртый квартал во вложении будет завтра.\n\nОльга\n",
                charset="koi8-r",
                cte="8bit",
            ),
        ),
        flags="RS",
    )
    add(
        "Inbox",
        mail(
            datetime(2019, 11, 29, 16, 2, 9, tzinfo=zone(-5)),
            BILLING,
            me,
            encoded_words("Invoice – “final” version, €120", "windows-1252", "Q"),
            text(
                "Dear customer,\n\nplease find the “final” invoice below.\n\n  Garden hose, 25 m   €120\n\n"
                "Example Shop – Billing\n",
                charset="windows-1252",
            ),
        ),
        flags="FS",
    )
    # A subject with a line break inside: a folded header whose encoded words hold CR LF.
    add(
        "Inbox",
        mail(
            berlin(2020, 8, 17, 9, 12, 40),
            SAM,
            me,
            "=?UTF-8?Q?Line_one=0D=0A?=\n =?UTF-8?Q?line_two?=",
            text("The subject of this mail has a line break in the middle.\n\nSam\n"),
        ),
    )
    add(
        "Inbox",
        mail(
            berlin(2021, 2, 2, 15, 30),
            PRIYA,
            me,
            'a/b: c? <x> "y" |z* and a back\\slash',
            text("Every character of the subject is one a file name on some system cannot hold.\n\nPriya\n"),
        ),
    )
    # Items that are no mail: the search must skip both.
    add("Inbox", calendar_request())
    add("Inbox", delivery_report())
    # Sent, received and delivered at midnight exactly: its latest time is 00:00:00.
    add(
        "Inbox",
        mail(
            berlin(2021, 5, 1, 0, 0, 0),
            BILLING,
            me,
            "Your subscription renews today",
            text("Your yearly subscription renews today, 1 May 2021.\n\nExample Shop\n"),
            hops=(0, 0),
        ),
    )
    # Sent before midnight, received after it.
    add(
        "Inbox",
        mail(
            berlin(2015, 12, 31, 23, 58, 0),
            PRIYA,
            me,
            "Happy New Year!",
            text("Happy New Year, Robin! All the best for 2016.\n\nPriya\n"),
            hops=(290, 22),
        ),
    )
    add(
        "Inbox",
        mail(
            berlin(2012, 10, 8, 19, 44, 2),
            SAM,
            me,
            "Old printer for sale",
            text("Anyone want my old laser printer? Free to a good home.\n\nSam\n"),
            date_header="sometime last week",
        ),
    )
    # Header text in raw UTF-8, not encoded, as some mailers send it.
    add(
        "Inbox",
        mail(
            berlin(2013, 6, 21, 20, 15, 9),
            JUERGEN,
            me,
            "Grüße aus Köln",
            text("Hallo Robin,\n\nschöne Grüße vom Rhein!\n\nJürgen\n", cte="8bit"),
        ),
    )
    # Stored with CR LF line ends instead of LF.
    add(
        "Inbox",
        mail(
            berlin(2011, 3, 14, 8, 5, 30),
            CLUB,
            me,
            "Minutes of the residents' meeting",
            text("The minutes of Thursday's meeting:\n\n1. Bins go out on Tuesdays.\n2. The gate is fixed.\n"),
        ),
        crlf=True,
    )
    add("Inbox", joint_statement())
    # A subject far longer than a file name may be, in two-byte characters.
    add(
        "Inbox",
        mail(
            berlin(2022, 12, 1, 13, 0, 0),
            JUERGEN,
            me,
            encoded_words("Überlänge: " + "Grüße und Küsse aus Düsseldorf, " * 8 + "Ende", "UTF-8", "B"),
            text("Ein Betreff, der für jeden Dateinamen zu lang ist.\n\nJürgen\n"),
        ),
    )
    # No subject, no Received header: the received time comes from the file name.
    add(
        "Inbox",
        mail(
            berlin(2014, 2, 3, 7, 45, 0),
            SAM,
            me,
            "",
            text("(sent without a subject)\n"),
            received=False,
        ),
        delivered=berlin(2014, 2, 3, 7, 45, 20),
    )

    # --- Projects --------------------------------------------------------------
    add(
        "Projects",
        mail(
            berlin(2018, 1, 15, 10, 0, 0),
            DANA,
            [OWNER, SAM],
            "Project kickoff notes",
            text("Notes from this morning:\n\n- scope agreed\n- Sam owns the importer\n- demo in March\n\nDana\n"),
        ),
    )
    add(
        "Projects",
        mail(
            berlin(2018, 6, 20, 16, 45, 0),
            PRIYA,
            me,
            "Office move",
            lambda: multipart(
                "alternative",
                [
                    text("We move to the second floor on 2 July. Pack your desk by Friday.\n\nPriya\n"),
                    text(
                        "<html><body><p>We move to the <u>second floor</u> on 2 July. "
                        "Pack your desk by Friday.</p><p>Priya</p></body></html>\n",
                        "html",
                    ),
                ],
            ),
        ),
    )
    add(
        "Projects",
        mail(
            berlin(2018, 12, 3, 9, 20, 0),
            SAM,
            me,
            "Budget 2019 draft",
            lambda: multipart(
                "mixed",
                [
                    text("The draft budget is attached, comments welcome.\n\nSam\n"),
                    attachment(
                        "text/csv",
                        b"item,quarter,amount\nlicences,Q1,1200\nhardware,Q2,3400\ntravel,Q3,800\n",
                        "budget-2019.csv",
                    ),
                ],
            ),
        ),
    )

    # --- Projects/Quillbox -----------------------------------------------------
    add(
        "Quillbox",
        mail(
            berlin(2019, 1, 7, 9, 30, 0),
            SAM,
            me,
            "Quillbox: naming ideas",
            text("Name template ideas: date first, then sender, then subject, cut to 50 characters.\n\nSam\n"),
        ),
    )
    add(
        "Quillbox",
        mail(
            berlin(2020, 3, 10, 14, 0, 0),
            PRIYA,
            me,
            "Files from the old server",
            lambda: multipart(
                "mixed",
                [
                    text("The file below came off the old server with its path still in the name.\n\nPriya\n"),
                    attachment("text/plain", b"This file must land inside the destination.\n", "../../escape.txt"),
                ],
            ),
        ),
    )
    add(
        "Quillbox",
        mail(
            berlin(2020, 6, 22, 8, 10, 0),
            SAM,
            me,
            "Scanner output",
            lambda: multipart(
                "mixed",
                [
                    text("The scanner sends its file without a name.\n"),
                    attachment("application/octet-stream", bytes(range(64))),
                ],
            ),
        ),
    )
    add(
        "Quillbox",
        mail(
            berlin(2021, 9, 30, 17, 25, 0),
            JUERGEN,
            me,
            "Einkaufsliste",
            lambda: multipart(
                "mixed",
                [
                    text("Die Liste für Samstag hängt an.\n\nJürgen\n"),
                    attachment(
                        "text/plain; charset=utf-8",
                        "Äpfel\nBrötchen\nKäse\nWürstchen\n".encode(),
                        params="; filename*=UTF-8''Einkaufsliste%20f%C3%BCr%20K%C3%B6ln.txt",
                    ),
                ],
            ),
        ),
    )
    add(
        "Quillbox",
        mail(
            berlin(2022, 4, 4, 12, 0, 0),
            DANA,
            me,
            "Fwd: Lease agreement",
            lambda: multipart(
                "mixed",
                [
                    text("Forwarding the landlord's mail for the new office.\n\nDana\n"),
                    (
                        [
                            ("Content-Type", 'message/rfc822; name="Lease agreement.eml"'),
                            ("Content-Disposition", 'attachment; filename="Lease agreement.eml"'),
                        ],
                        serialize(
                            [
                                ("Date", date(berlin(2022, 4, 1, 9, 0, 0))),
                                ("From", "Landlord <landlord@example.net>"),
                                ("To", address(DANA)),
                                ("Subject", "Lease agreement"),
                                ("Message-ID", "<lease-2022@example.net>"),
                                ("MIME-Version", "1.0"),
                                ("Content-Type", "text/plain; charset=us-ascii"),
                            ],
                            b"The lease is ready to sign. It starts on 1 May.\n",
                        ),
                    ),
                ],
            ),
        ),
    )

    # --- Projects/Quillbox/2019 ------------------------------------------------
    # Two different mails with the same subject and the same second.
    for who, words in ((SAM, "the importer is done"), (PRIYA, "the test plan is ready")):
        add(
            "2019",
            mail(
                berlin(2019, 10, 4, 9, 0, 0),
                who,
                me,
                "Weekly status",
                text("Hi all,\n\nthis week: %s.\n\n%s\n" % (words, who[0].split()[0])),
                hops=(0, 0),
            ),
        )
    add(
        "2019",
        mail(
            berlin(2019, 2, 11, 10, 0, 0),
            DANA,
            [OWNER, SAM, PRIYA],
            "Release plan",
            lambda: multipart(
                "mixed",
                [
                    multipart(
                        "alternative",
                        [
                            text("The release plan is in the agenda; see you on Thursday.\n\nDana\n"),
                            text(
                                "<html><body><p>The release plan is in the <b>agenda</b>; "
                                "see you on Thursday.</p><p>Dana</p></body></html>\n",
                                "html",
                            ),
                        ],
                    ),
                    attachment("application/pdf", pdf("Agenda: release plan"), "agenda.pdf"),
                ],
            ),
        ),
    )
    add(
        "2019",
        mail(
            berlin(2019, 7, 19, 15, 5, 0),
            SAM,
            [DANA],
            "Re: Release plan",
            text("> The release plan is in the agenda; see you on Thursday.\n\nCan we move it to Friday?\n\nSam\n"),
            cc=[OWNER, PRIYA],
            extra=[
                ("In-Reply-To", message_id("Release plan" + DANA[1] + berlin(2019, 2, 11, 10).isoformat(), "example.org")),
                ("References", message_id("Release plan" + DANA[1] + berlin(2019, 2, 11, 10).isoformat(), "example.org")),
            ],
        ),
    )
    add(
        "2019",
        mail(
            berlin(2019, 12, 20, 16, 0, 0),
            PRIYA,
            me,
            "Year-end review",
            lambda: multipart(
                "related",
                [
                    text(
                        "<html><body><p>Thanks for a good year!</p>"
                        '<p><img src="cid:chart@example.com" alt="chart"></p></body></html>\n',
                        "html",
                    ),
                    attachment(
                        "image/png",
                        png(30, 160, 60),
                        "chart.png",
                        disposition="inline",
                        extra=[("Content-ID", "<chart@example.com>")],
                    ),
                ],
                ' type="text/html";',
            ),
        ),
    )

    # --- Projects/Garden Club --------------------------------------------------
    add(
        "Garden",
        mail(
            berlin(2009, 4, 18, 9, 0, 0),
            CLUB,
            me,
            "Spring planting day",
            text("Planting day is Saturday from nine. Bring gloves.\n\nThe committee\n"),
        ),
    )
    add(
        "Garden",
        mail(
            berlin(2010, 9, 5, 18, 30, 0),
            CLUB,
            me,
            "Harvest fair: volunteers wanted",
            text("We need six people for the cake stall.\n\nThe committee\n"),
        ),
    )
    add(
        "Garden",
        mail(
            berlin(2011, 5, 14, 12, 0, 0),
            CLUB,
            me,
            "Seed swap list",
            lambda: multipart(
                "mixed",
                [
                    text("This year's swap list is attached.\n"),
                    attachment("text/csv", b"seed,owner\nsweet pea,Robin\nrunner bean,Sam\n", "seeds.csv"),
                ],
            ),
        ),
    )

    # --- Sent (written by the owner: no Received header) -----------------------
    def sent(when, to, subject, content, cc=(), **kw):
        data, _ = mail(when, OWNER, to, subject, content, cc=cc, received=False, **kw)
        s.add("Sent", when + timedelta(seconds=1), data, host=LAPTOP)

    sent(berlin(2024, 3, 4, 9, 2, 0), [DANA], "Re: Welcome to the sample mailbox", text("Thanks, Dana!\n\nRobin\n"))
    sent(
        berlin(2023, 11, 20, 19, 1, 0),
        [CHIARA],
        "Re: Dinner on Friday?",
        text("Sounds good, 19:30 it is.\n\nRobin\n"),
    )
    sent(
        berlin(2022, 1, 17, 17, 40, 0),
        [SAM],
        "Holiday cover",
        text("I'm away from 24 January to 4 February; Priya covers the importer.\n\nRobin\n"),
        cc=[PRIYA],
    )
    sent(
        berlin(2017, 2, 1, 9, 15, 0),
        [OLGA],
        "Re: " + encoded_words("Отчёт за квартал", "UTF-8", "B"),
        text("Спасибо, Ольга!\n\nRobin\n"),
    )
    sent(
        berlin(2014, 8, 8, 20, 0, 0),
        [FRANCOIS],
        "Photos from the trip",
        lambda: multipart(
            "mixed",
            [text("The sunset from the ferry.\n\nRobin\n"), attachment("image/png", png(250, 140, 30), "sunset.png")],
        ),
    )

    # --- Drafts ----------------------------------------------------------------
    data, _ = mail(
        berlin(2024, 2, 20, 21, 0, 0),
        OWNER,
        [CLUB],
        "Unfinished thoughts on the garden shed",
        text("Dear committee,\n\nabout the shed:\n"),
        received=False,
        date_header="",
    )
    s.add("Drafts", berlin(2024, 2, 20, 21, 0, 0), data, flags="D", host=LAPTOP)
    data, _ = mail(
        berlin(2023, 8, 1, 22, 10, 0),
        OWNER,
        None,
        "Letter to the landlord",
        text("Dear landlord,\n\nthe heating\n"),
        received=False,
    )
    s.add("Drafts", berlin(2023, 8, 1, 22, 10, 0), data, flags="DS", host=LAPTOP)

    # --- Archive ---------------------------------------------------------------
    add(
        "Archive",
        mail(
            berlin(2021, 11, 11, 8, 0, 0),
            ("Example Rail", "tickets@example.com"),
            me,
            "Your train tickets",
            lambda: multipart(
                "mixed",
                [
                    text("Your tickets for 19 November are attached.\n"),
                    attachment("application/pdf", pdf("Ticket 0042 - coach 7 seat 61"), "tickets.pdf"),
                ],
            ),
        ),
    )
    add(
        "Archive",
        mail(
            berlin(2022, 5, 5, 13, 13, 0),
            ("Example Events", "events@example.com"),
            me,
            "Your conference badge",
            text(
                "<html><body><h2>See you at ExampleConf</h2><p>Show this mail at the desk.</p></body></html>\n",
                "html",
            ),
        ),
    )
    add(
        "Archive",
        mail(
            berlin(2023, 2, 27, 6, 55, 0),
            ("Example Accounts", "no-reply@example.net"),
            me,
            "Password reset requested",
            lambda: multipart(
                "alternative",
                [
                    text("Someone asked to reset your password. If it was not you, ignore this mail.\n"),
                    text(
                        "<html><body><p>Someone asked to reset your password.</p>"
                        "<p>If it was not you, ignore this mail.</p></body></html>\n",
                        "html",
                    ),
                ],
            ),
        ),
    )

    # --- Archive/2012: imported in January 2013, so the file names carry that time.
    imported = berlin(2013, 1, 5, 16, 0, 0)
    for n, built in enumerate(
        (
            mail(
                berlin(2009, 11, 2, 8, 0, 0),
                ("Postmaster", "postmaster@example.org"),
                me,
                "Welcome to the new mail server",
                text("Your mailbox has moved to the new server.\n"),
            ),
            mail(
                berlin(2012, 2, 29, 12, 30, 0),
                SAM,
                me,
                "Leap day lunch",
                text("It's 29 February: lunch is on me.\n\nSam\n"),
            ),
            mail(
                berlin(2012, 7, 15, 10, 0, 0),
                ("Tax Office", "tax@example.org"),
                me,
                "Tax documents",
                lambda: multipart(
                    "mixed",
                    [
                        text("Your documents for 2011 are attached.\n"),
                        attachment("application/pdf", pdf("Tax statement 2011"), "statement-2011.pdf"),
                    ],
                ),
            ),
        )
    ):
        s.add("Archive2012", imported + timedelta(seconds=n), built[0])

    # --- Archive/2020: both ends of the night the clocks went back (02:30 twice).
    add(
        "Archive2020",
        mail(
            berlin(2020, 1, 2, 9, 0, 0),
            DANA,
            me,
            "New year, new calendar",
            text("The team calendar for 2020 is up.\n\nDana\n"),
        ),
    )
    add(
        "Archive2020",
        mail(
            datetime(2020, 10, 25, 2, 30, 0, tzinfo=zone(2)),
            ("Night Watch", "watch@example.net"),
            me,
            "Night shift report (summer time)",
            text("02:30 summer time: all quiet.\n"),
            hops=(0, 1),
        ),
    )
    add(
        "Archive2020",
        mail(
            datetime(2020, 10, 25, 2, 30, 0, tzinfo=zone(1)),
            ("Night Watch", "watch@example.net"),
            me,
            "Night shift report (winter time)",
            text("02:30 winter time: still quiet.\n"),
            hops=(0, 1),
        ),
    )
    add(
        "Archive2020",
        mail(
            berlin(2020, 3, 28, 22, 0, 0),
            CLUB,
            me,
            "Clocks go forward tonight",
            text("Remember: tonight at two the clocks go forward to three.\n"),
        ),
    )
    add(
        "Archive2020",
        mail(
            berlin(2020, 12, 24, 15, 0, 0),
            CHIARA,
            me,
            "Season's greetings",
            text("<html><body><p style=\"color: darkred\">Buone feste!</p></body></html>\n", "html"),
        ),
    )

    # --- Entwürfe (German drafts) ----------------------------------------------
    data, _ = mail(
        berlin(2024, 5, 10, 19, 0, 0),
        OWNER,
        [JUERGEN],
        encoded_words("Einladung zum Sommerfest", "UTF-8", "Q"),
        text("Lieber Jürgen,\n\nam 6. Juli feiern wir\n"),
        received=False,
    )
    s.add("Entwuerfe", berlin(2024, 5, 10, 19, 0, 5), data, flags="D", host=LAPTOP)
    data, _ = mail(
        berlin(2024, 6, 1, 8, 0, 0),
        OWNER,
        None,
        encoded_words("Notizen für das Gespräch", "UTF-8", "B"),
        text("- Gehalt\n- Urlaub im August\n"),
        received=False,
    )
    s.add("Entwuerfe", berlin(2024, 6, 1, 8, 0, 5), data, flags="DS", host=LAPTOP)

    # --- R&D -------------------------------------------------------------------
    add(
        "RD",
        mail(
            berlin(2016, 3, 3, 11, 0, 0),
            SAM,
            me,
            "Prototype measurements",
            lambda: multipart(
                "mixed",
                [
                    text("Measurements from the bench, in millimetres.\n\nSam\n"),
                    attachment("text/csv", b"sample,width,height\n1,20.1,5.0\n2,20.3,4.9\n", "measurements.csv"),
                ],
            ),
        ),
    )
    add(
        "RD",
        mail(
            berlin(2024, 12, 31, 23, 59, 50),
            DANA,
            me,
            "Last one of the year",
            text("The last mail of 2024.\n\nDana\n"),
            hops=(5, 4),
        ),
    )
    return s


def calendar_request():
    body = (
        "BEGIN:VCALENDAR\nPRODID:-//Example Org//Calendar 1.0//EN\nVERSION:2.0\nMETHOD:REQUEST\n"
        "BEGIN:VEVENT\nUID:quarterly-planning-2024q1@example.org\nDTSTAMP:20240108T091500Z\n"
        "DTSTART:20240115T090000Z\nDTEND:20240115T103000Z\nSUMMARY:Quarterly planning\n"
        "LOCATION:Room 2.14\nORGANIZER;CN=Dana Whitfield:mailto:dana.whitfield@example.org\n"
        "ATTENDEE;CN=Robin Hale;ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION;RSVP=TRUE:\n"
        " mailto:robin.hale@example.org\nSEQUENCE:0\nSTATUS:CONFIRMED\nEND:VEVENT\nEND:VCALENDAR\n"
    )
    content = (
        [("Content-Type", 'text/calendar; method=REQUEST; charset="utf-8"'), ("Content-Transfer-Encoding", "7bit")],
        body.encode(),
    )
    return mail(
        berlin(2024, 1, 8, 10, 15),
        DANA,
        [OWNER],
        "Invitation: Quarterly planning @ Mon 15 Jan 2024 10:00 - 11:30",
        content,
        extra=[("Content-Class", "urn:content-classes:calendarmessage")],
    )


def delivery_report():
    original = berlin(2023, 6, 30, 14, 2, 0)
    report = [
        (
            [("Content-Description", "Notification"), ("Content-Type", "text/plain; charset=us-ascii")],
            b"This is the mail system at host mail.example.org.\n\n"
            b"I'm sorry to have to inform you that your message could not\n"
            b"be delivered to one or more recipients.\n\n"
            b"<nobody@example.com>: host mx.example.com[192.0.2.40] said: 550 5.1.1\n"
            b"    <nobody@example.com>: Recipient address rejected: User unknown\n",
        ),
        (
            [("Content-Description", "Delivery report"), ("Content-Type", "message/delivery-status")],
            (
                "Reporting-MTA: dns; mail.example.org\nArrival-Date: %s\n\n"
                "Final-Recipient: rfc822; nobody@example.com\nOriginal-Recipient: rfc822;nobody@example.com\n"
                "Action: failed\nStatus: 5.1.1\nRemote-MTA: dns; mx.example.com\n"
                "Diagnostic-Code: smtp; 550 5.1.1 <nobody@example.com>: Recipient address\n"
                "    rejected: User unknown\n" % date(original)
            ).encode(),
        ),
        (
            [("Content-Description", "Undelivered Message Headers"), ("Content-Type", "text/rfc822-headers")],
            (
                "Return-Path: <robin.hale@example.org>\nDate: %s\nFrom: Robin Hale <robin.hale@example.org>\n"
                "To: nobody@example.com\nSubject: Are you still there?\n"
                "Message-ID: <still-there-2023@example.org>\n" % date(original)
            ).encode(),
        ),
    ]

    def content():
        return multipart("report", report, " report-type=delivery-status;")

    return mail(
        original + timedelta(seconds=3),
        ("Mail Delivery System", "MAILER-DAEMON@mail.example.org"),
        [OWNER],
        "Undelivered Mail Returned to Sender",
        content,
        extra=[("Auto-Submitted", "auto-replied")],
        hops=(0, 0),
    )


def joint_statement():
    """Two From addresses (the first is the sender's address) and no visible recipient."""
    return mail(
        berlin(2020, 11, 11, 11, 11, 11),
        CHIARA,
        [],
        "Joint statement on the bike shed",
        text("We both agree: the bike shed should be green.\n\nChiara and Priya\n"),
        more_from=[PRIYA],
    )


def main():
    parser = argparse.ArgumentParser(description="Writes the sample Maildir store.")
    parser.add_argument("outdir", nargs="?", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "Sample Mailbox"))
    parser.add_argument("--force", action="store_true", help="replace an existing store")
    args = parser.parse_args()
    if os.path.isdir(args.outdir) and os.listdir(args.outdir):
        if not args.force:
            sys.exit("%s exists and is not empty; --force replaces it" % args.outdir)
        if not os.path.isdir(os.path.join(args.outdir, "cur")):
            sys.exit("%s does not look like a Maildir store; not replacing it" % args.outdir)
        shutil.rmtree(args.outdir)
    build().write(args.outdir)


if __name__ == "__main__":
    main()
