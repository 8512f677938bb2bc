#!/usr/bin/env python3
# Compares, in each STORE directory that scripts/msgconvert-compare.sh fills, every MSG/NAME.eml (msgconvert's
# reading of our NAME.msg) with EML/NAME.eml (our .eml of the same mail): the subject, the From address, the
# To and Cc addresses, the body text (the plain part, else the HTML's text; white space collapsed) and the
# attachments (file names and SHA-256 of the bytes). Prints the counts per store and in all.
#   compare-eml.py [-v] STORE...
import email
import email.policy
import hashlib
import html
import re
import sys
from email.utils import getaddresses
from pathlib import Path


def addresses(message, field):
    # The angle-bracketed addresses where there are any: msgconvert leaves display names such as
    # 'a.b@c' unquoted, which Python's address parser reads otherwise.
    values = [str(v) for v in message.get_all(field, [])]
    bracketed = [a for v in values for a in re.findall(r"<([^<>]*)>", v)]
    found = bracketed or [a for _, a in getaddresses(values)]
    return sorted(a.strip("'\"").lower() for a in found if a.strip("'\""))


def text_of(message):
    plain = message.get_body(("plain",))
    if plain is not None:
        return " ".join(plain.get_content().split())
    rich = message.get_body(("html",))
    if rich is None:
        return ""
    text = re.sub(r"(?is)<(script|style|head)\b.*?</\1>|<[^>]*>", " ", rich.get_content())
    return " ".join(html.unescape(text).split())


def attachments(message):
    found = []
    body = message.get_body(("plain", "html"))
    for part in message.walk():
        if part.is_multipart() or part is body or part.get_content_type() == "message/rfc822":
            continue
        if part.get_content_maintype() == "text" and part.get_filename() is None and part.get_content_disposition() != "attachment":
            continue
        # msgconvert adds the RTF body, where the .msg has one, as an unnamed application/rtf part.
        if part.get_content_type() in ("application/rtf", "text/rtf") and part.get_filename() is None:
            continue
        data = part.get_payload(decode=True) or b""
        found.append((part.get_filename() or "", hashlib.sha256(data).hexdigest()))
    return sorted(found)


def facts(path):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    return {
        "subject": " ".join(str(message.get("Subject", "")).split()),
        "from": addresses(message, "From"),
        "to": addresses(message, "To"),
        "cc": addresses(message, "Cc"),
        "body": text_of(message),
        "attachments": attachments(message),
    }


def main(args):
    verbose = "-v" in args
    stores = [Path(a) for a in args if a != "-v"]
    total = agree = 0
    for store in stores:
        ours = store / "EML"
        converted = sorted((store / "MSG").glob("*.eml"))
        msgs = sorted((store / "MSG").glob("*.msg"))
        n = ok = 0
        for msg in msgs:
            n += 1
            mine = ours / (msg.stem + ".eml")
            theirs = msg.with_suffix(".eml")
            if not theirs.exists() or not mine.exists():
                if verbose:
                    print(f"  {store.name}/{msg.name}: {'msgconvert wrote nothing' if not theirs.exists() else 'no .eml of ours'}")
                continue
            try:
                a, b = facts(mine), facts(theirs)
            except Exception as error:  # a file Python's reader cannot take counts as a disagreement
                if verbose:
                    print(f"  {store.name}/{msg.name}: {error}")
                continue
            differ = [key for key in a if a[key] != b[key]]
            if differ:
                if verbose:
                    print(f"  {store.name}/{msg.name}: " + "; ".join(f"{k}: {a[k]!r} / {b[k]!r}"[:300] for k in differ))
            else:
                ok += 1
        print(f"{store.name}: {ok} of {n} agree")
        total += n
        agree += ok
    print(f"all: {agree} of {total} .msg files agree with the source after msgconvert")


main(sys.argv[1:])
