#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""An IMAP server that misbehaves, for the tests of what Quillbox does with a bad server.

Usage: fakeimap.py FAULT [STEP]
Listens on 127.0.0.1 on a free port, writes the port as the first line of its output and serves every
connection alike until it is killed. It offers one folder (INBOX) with one message and answers the
commands a search and a save send, but at STEP (greeting, capability, login, list, examine, search,
heads, sizes, body) it does what FAULT says:
  close     closes the connection instead of answering
  silent    never answers (the connection stays open)
  garbage   answers with bytes that are no IMAP
  refuse    answers NO with a reason
  huge      (body) announces a literal of 100 MB, sends 1 MB of it and closes
  names     (list) lists folders whose names hold "/", "..", NUL and modified UTF-7 that is not valid
"""
import os
import re
import socket
import sys
import threading

MESSAGE = (b"From: Sender <sender@example.org>\r\nTo: bob@example.org\r\nSubject: fake\r\n"
           b"Date: Fri, 01 Jan 2021 10:00:00 +0000\r\nMessage-ID: <1@example.org>\r\n\r\nThe body.\r\n")
UID = 5
GARBAGE = b"\x00\xff\xfe)(* garbage {99999999999999999999}\r\n\x00\r\n"

NAMES = [
    b'* LIST () "." INBOX',
    b'* LIST () "." "a/b"',
    b'* LIST () "/" "../../escape"',
    b'* LIST () "." ".."',
    b'* LIST () "." "INBOX...x"',
    b'* LIST () NIL {5}\r\nx\x00y/z',
    b'* LIST () "." "&bad"',
    b'* LIST () "." "&AAA-nul"',
    b'* LIST () "." "&2D3cAA-"',
]


class Client:
    def __init__(self, conn, fault, step):
        self.conn, self.fault, self.step = conn, fault, step
        self.buffer = b""

    def line(self):
        while b"\r\n" not in self.buffer:
            data = self.conn.recv(65536)
            if not data:
                return None
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        # A literal the client sends (a name or a password): read it whole and the rest of the line.
        literal = re.search(rb"\{(\d+)\+?\}$", line)
        if literal:
            size = int(literal.group(1))
            while len(self.buffer) < size:
                data = self.conn.recv(65536)
                if not data:
                    return None
                self.buffer += data
            line += self.buffer[:size]
            self.buffer = self.buffer[size:]
            rest = self.line()
            return None if rest is None else line + rest
        return line

    def send(self, *lines):
        self.conn.sendall(b"".join(l + b"\r\n" for l in lines))

    # Does what the fault says at `step`; True when the command is answered that way and the normal answer
    # is not to follow.
    def misbehaves(self, step, tag):
        if step != self.step:
            return False
        if self.fault == "close":
            raise ConnectionAbortedError
        if self.fault == "silent":
            while self.conn.recv(65536):
                pass
            raise ConnectionAbortedError
        if self.fault == "garbage":
            self.conn.sendall(GARBAGE)
            return True
        if self.fault == "refuse":
            self.send(tag + b" NO [UNAVAILABLE] the storage is offline")
            return True
        return False

    def fetch(self, tag, command):
        section = re.search(rb"BODY\.PEEK\[([^\]]*)\](?:<(\d+)\.(\d+)>)?", command)
        step = "sizes" if not section else ("body" if section.group(1) == b"" else "heads")
        if self.misbehaves(step, tag):
            return
        items = b'UID %d INTERNALDATE "01-Jan-2021 10:00:00 +0000" RFC822.SIZE %d FLAGS ()' % (UID, len(MESSAGE))
        if step == "body" and self.fault == "huge":
            self.conn.sendall(b"* 1 FETCH (" + items + b" BODY[] {104857600}\r\n")
            chunk = b"x" * 65536
            for _ in range(16):
                self.conn.sendall(chunk)
            raise ConnectionAbortedError
        if section:
            data = MESSAGE
            if step == "heads":
                data = MESSAGE.split(b"\r\n\r\n", 1)[0] + b"\r\n\r\n"
            origin = b""
            if section.group(2):
                offset, length = int(section.group(2)), int(section.group(3))
                data = data[offset:offset + length]
                origin = b"<%d>" % offset
            items += b" BODY[" + section.group(1) + b"]" + origin + b" {%d}\r\n" % len(data) + data
        self.send(b"* 1 FETCH (" + items + b")", tag + b" OK done")

    def serve(self):
        if self.misbehaves("greeting", b"*"):
            pass
        else:
            self.send(b"* OK fake server ready")
        while True:
            line = self.line()
            if line is None:
                return
            parts = line.split(b" ", 2)
            tag = parts[0]
            verb = parts[1].upper() if len(parts) > 1 else b""
            if verb == b"UID" and len(parts) > 2:
                verb = parts[2].split(b" ", 1)[0].upper()
            step = {b"CAPABILITY": "capability", b"LOGIN": "login", b"AUTHENTICATE": "login", b"LIST": "list",
                    b"EXAMINE": "examine", b"SEARCH": "search"}.get(verb)
            if verb == b"FETCH":
                self.fetch(tag, line)
            elif step and self.misbehaves(step, tag):
                continue
            elif verb == b"CAPABILITY":
                self.send(b"* CAPABILITY IMAP4rev1 AUTH=PLAIN", tag + b" OK done")
            elif verb in (b"LOGIN", b"AUTHENTICATE"):
                self.send(tag + b" OK logged in")
            elif verb == b"LIST":
                self.send(*(NAMES if self.fault == "names" else NAMES[:1]), tag + b" OK done")
            elif verb == b"EXAMINE":
                self.send(b"* 1 EXISTS", b"* OK [UIDVALIDITY 7] ok", tag + b" OK [READ-ONLY] done")
            elif verb == b"SEARCH":
                self.send(b"* SEARCH %d" % UID, tag + b" OK done")
            elif verb == b"LOGOUT":
                self.send(b"* BYE", tag + b" OK done")
                return
            else:
                self.send(tag + b" BAD unknown command")


def serve(conn, fault, step):
    try:
        Client(conn, fault, step).serve()
    except (ConnectionError, OSError):
        pass
    finally:
        conn.close()


def end_with_input():
    # The test holds standard input open: when it ends, even by a crash, so does the server.
    sys.stdin.buffer.read()
    os._exit(0)


def main():
    threading.Thread(target=end_with_input, daemon=True).start()
    fault = sys.argv[1]
    step = sys.argv[2] if len(sys.argv) > 2 else {"huge": "body", "names": "list"}.get(fault, "")
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, fault, step), daemon=True).start()


if __name__ == "__main__":
    main()
