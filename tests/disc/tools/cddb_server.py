#!/usr/bin/python3
"""A CDDB server for the tests, over HTTP and over CDDBP, on loopback.

It serves a folder laid out as a CD database: ROOT/<category>/<disc ID> files holding xmcd
records. Both transports answer the same commands:

    cddb hello <user> <host> <client> <version>   200 (or the code of --hello)
    proto <n>                                     201 up to --max-proto (6), else 501
    cddb query <id> <n> <n offsets> <seconds>     200 one category / 210 several / 211 with
                                                  --inexact / 202 none; the list ends with "."
    cddb read <category> <id>                     210, the record, "." / 401
    quit                                          230, then the connection is closed (CDDBP)

HTTP requests are GET <cgi>?cmd=<command with "+" for blanks>&hello=...&proto=...; the answer
is the lines of the body, at the level of that request's proto (501 above --max-proto).

Records on disk are UTF-8 when they are valid UTF-8, else Windows-1252. Answers at level 6 are
UTF-8; below it Windows-1252, "?" for what it cannot hold. With --raw a record's bytes are
served unchanged at any level, as a server keeping records from before level 6 does.
--tls CERT KEY makes the HTTP listener speak HTTPS only, with that certificate. Both ports are free ones on 127.0.0.1; the first line printed is
"http=PORT cddbp=PORT". Every CDDBP line received is logged as "T <line>" and every HTTP request
target as "H <target>", one per line, to the --log file, before anything is answered.

Fault modes (--fault, at the command named by --fault-at, "query" by default):
    garbage   a line of binary junk instead of the answer
    longline  "200 " and --long-bytes more bytes without any line break
    endless   the start of a list (of matches, or of a record) that never ends
    list      such a list of --list-lines lines, ended by "."
    close     the connection closed without an answer
    silence   no answer at all; CDDBP lines are still read and logged
--fault-at banner applies garbage or silence to the CDDBP greeting; --banner gives the
greeting's code (201 fine, 432 refused and closed); --hello 431 refuses the handshake;
--query-code and --read-code force an error code; --http-status answers HTTP with another
status; a request under /moved/ is redirected to the same target without that prefix.

Standard library only, for /usr/bin/python3.
"""

import argparse
import codecs
import http.server
import os
import select
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

CGI = "/~cddb/cddb.cgi"
LIMIT_SECONDS = 60  # no fault keeps a connection busy longer than this
GARBAGE = b"\x00\xfe\xff\x07<html>\x1b[31m not a CDDB answer \x8f\x90\xff"

args = None
log_lock = threading.Lock()

# Bytes Windows-1252 leaves unassigned are read as the code of the same number.
codecs.register_error("same_code", lambda e: (e.object[e.start:e.end].decode("latin-1"), e.end))


def decode_record(data):
    if args.raw:
        return data.decode("latin-1")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp1252", "same_code")


def encode(text, level):
    """A text as sent at a protocol level."""
    if args.raw:
        return text.encode("latin-1", "replace")
    if level >= 6:
        return text.encode("utf-8")
    return text.encode("cp1252", "replace")


ILLEGAL_LEVEL = "501 Illegal protocol level."


def log(entry):
    with log_lock:
        with open(args.log, "a", encoding="utf-8", errors="replace") as f:
            f.write(entry + "\n")
            f.flush()


# ---------------------------------------------------------------------------------------------
# The database


def categories(disc_id):
    found = []
    if not all(c in "0123456789abcdef" for c in disc_id) or len(disc_id) != 8:
        return found
    for cat in sorted(os.listdir(args.root)):
        if os.path.isfile(os.path.join(args.root, cat, disc_id)):
            found.append(cat)
    return found


def record(cat, disc_id):
    if "/" in cat or cat.startswith(".") or "/" in disc_id or disc_id.startswith("."):
        return None
    path = os.path.join(args.root, cat, disc_id)
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return decode_record(f.read()).splitlines()


def disc_title(cat, disc_id):
    title = ""
    for line in record(cat, disc_id) or []:
        if line.startswith("DTITLE="):
            title += line[len("DTITLE="):]
    return title


def answer(words):
    """The lines answering one command (query or read)."""
    if len(words) >= 2 and words[0] == "cddb" and words[1] == "query":
        try:
            count = int(words[3])
            numbers = [int(w) for w in words[3:]]
        except (IndexError, ValueError):
            return ["500 Command syntax error: incorrect arguments."]
        if len(numbers) != count + 2:
            return ["500 Command syntax error: incorrect number of arguments."]
        if args.query_code:
            return ["%s Database entry is corrupt." % args.query_code]
        disc_id = words[2]
        found = categories(disc_id)
        if not found:
            return ["202 No match for disc ID %s." % disc_id]
        if len(found) == 1 and not args.inexact:
            return ["200 %s %s %s" % (found[0], disc_id, disc_title(found[0], disc_id))]
        head = ("211 Found inexact matches, list follows (until terminating `.')" if args.inexact
                else "210 Found exact matches, list follows (until terminating `.')")
        return [head] + ["%s %s %s" % (c, disc_id, disc_title(c, disc_id)) for c in found] + ["."]
    if len(words) == 4 and words[0] == "cddb" and words[1] == "read":
        cat, disc_id = words[2], words[3]
        lines = None if args.read_code else record(cat, disc_id)
        if lines is None:
            return ["%s %s %s No such CD entry in database." % (args.read_code or "401", cat, disc_id)]
        return ["210 %s %s CD database entry follows (until terminating `.')" % (cat, disc_id)] + lines + ["."]
    return ["500 Unrecognized command."]


def command_kind(words):
    if len(words) >= 2 and words[0] == "cddb" and words[1] in ("query", "read"):
        return words[1]
    return None


def endless_lines(kind, count=None):
    """A list of matches or a record that never ends, or ends with "." after count lines."""
    if kind == "read":
        yield "210 misc 00000000 CD database entry follows (until terminating `.')"
        line = "# padding line %d"
    else:
        yield "210 Found exact matches, list follows (until terminating `.')"
        line = "misc %08x Endless Artist / Endless Album"
    n = 0
    while count is None or n < count:
        yield line % n
        n += 1
    yield "."


# ---------------------------------------------------------------------------------------------
# CDDBP


class CddbpHandler(socketserver.BaseRequestHandler):
    def setup(self):
        self.buffer = b""
        self.silent = False
        self.closed = False
        self.level = 1

    def read_line(self, timeout=LIMIT_SECONDS):
        while b"\n" not in self.buffer:
            ready, _, _ = select.select([self.request], [], [], timeout)
            if not ready:
                return None
            try:
                data = self.request.recv(65536)
            except OSError:
                return None
            if not data:
                return None
            self.buffer += data
            if len(self.buffer) > 1024 * 1024:
                return None
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r").decode("latin-1")

    def send(self, lines):
        try:
            self.request.sendall(encode("".join(l + "\r\n" for l in lines), self.level))
        except OSError:
            self.closed = True

    def goodbye(self):
        self.send(["230 localhost Closing connection.  Goodbye."])
        self.closed = True

    def take_lines_while_sending(self):
        """Reads and logs what the client sent meanwhile; True once it said "quit"."""
        while b"\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\n", 1)
            line = line.rstrip(b"\r").decode("latin-1")
            log("T " + line)
            if line.strip().lower() == "quit":
                self.goodbye()
                return True
        return False

    def send_watched(self, chunks):
        """Sends chunk after chunk while still reading the client, so that a client that gives up
        and says "quit" is heard, however much is still to send."""
        deadline = time.monotonic() + LIMIT_SECONDS
        conn = self.request
        for chunk in chunks:
            while chunk:
                if time.monotonic() > deadline:
                    return
                readable, writable, _ = select.select([conn], [conn], [], 1.0)
                if readable:
                    try:
                        data = conn.recv(65536)
                    except OSError:
                        data = b""
                    if not data:
                        self.closed = True
                        return
                    self.buffer += data
                    if self.take_lines_while_sending():
                        return
                if writable:
                    try:
                        sent = conn.send(chunk, socket.MSG_DONTWAIT)
                    except BlockingIOError:
                        sent = 0
                    except OSError:
                        self.closed = True
                        return
                    chunk = chunk[sent:]

    def fault(self, kind):
        mode = args.fault
        if mode == "garbage":
            self.request.sendall(GARBAGE + b"\r\n")
        elif mode == "longline":
            piece = b"x" * 65536
            total = args.long_bytes
            self.send_watched([b"200 "] + [piece[:min(len(piece), total - i)] for i in range(0, total, len(piece))])
        elif mode in ("endless", "list"):
            count = args.list_lines if mode == "list" else None
            self.send_watched((line + "\r\n").encode("latin-1") for line in endless_lines(kind, count))
        elif mode == "close":
            self.closed = True
        elif mode == "silence":
            self.silent = True

    def handle(self):
        log("T-CONNECT")
        try:
            self.session()
        finally:
            log("T-END")

    def session(self):
        if args.fault_at == "banner" and args.fault == "silence":
            self.silent = True
        elif args.fault_at == "banner" and args.fault == "garbage":
            self.request.sendall(GARBAGE + b"\r\n")
        else:
            self.send(["%s localhost CDDBP server v1.5.2PL0 ready at %s" % (args.banner, time.ctime())])
            if args.banner.startswith("4"):
                return
        while not self.closed:
            line = self.read_line()
            if line is None:
                return
            log("T " + line)
            if self.silent:
                continue
            words = line.split()
            lower = [w.lower() for w in words]
            if lower[:1] == ["quit"]:
                self.goodbye()
            elif lower[:2] == ["cddb", "hello"]:
                if args.hello == "200":
                    self.send(["200 Hello and welcome %s running %s." % (" ".join(words[2:4]), " ".join(words[4:]))])
                else:
                    self.send(["%s Handshake not successful, closing connection." % args.hello])
            elif lower[:1] == ["proto"]:
                if len(words) == 1:
                    self.send(["200 CDDB protocol level: current %d, supported %d" % (self.level, args.max_proto)])
                elif words[1].isdigit() and 1 <= int(words[1]) <= args.max_proto:
                    self.level = int(words[1])
                    self.send(["201 OK, CDDB protocol level now: %d" % self.level])
                else:
                    self.send([ILLEGAL_LEVEL])
            else:
                kind = command_kind(lower)
                if kind and args.fault and args.fault_at == kind:
                    self.fault(kind)
                else:
                    self.send(answer(words))

    def finish(self):
        try:
            self.request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class CddbpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


# ---------------------------------------------------------------------------------------------
# HTTP


class HttpHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *unused):
        pass

    def reply(self, status, body, length=True, charset="ISO-8859-1"):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=" + charset)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def wait_for_client_to_go(self):
        deadline = time.monotonic() + LIMIT_SECONDS
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.connection], [], [], 1.0)
            if ready:
                try:
                    if not self.connection.recv(65536):
                        return
                except OSError:
                    return

    def do_GET(self):
        log("H " + self.path)
        target = urllib.parse.urlsplit(self.path)
        if target.path.startswith("/moved/"):
            self.send_response(301)
            self.send_header("Location", self.path[len("/moved"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if target.path != CGI:
            self.reply(404, b"Not Found\n")
            return
        if args.http_status:
            self.reply(int(args.http_status), b"Service Unavailable\n")
            return
        query = urllib.parse.parse_qs(target.query, keep_blank_values=True)
        words = query.get("cmd", [""])[0].split()
        if not query.get("hello") or not query.get("proto"):
            self.reply(200, b"409 No handshake.\n")
            return
        level = query["proto"][0]
        level = int(level) if level.isdigit() else 0
        if not 1 <= level <= args.max_proto:
            self.reply(200, (ILLEGAL_LEVEL + "\n").encode("ascii"))
            return
        kind = command_kind([w.lower() for w in words])
        if kind and args.fault and args.fault_at == kind:
            self.fault(kind)
            return
        self.reply(200, encode("".join(l + "\n" for l in answer(words)), level),
                   charset="UTF-8" if level >= 6 and not args.raw else "ISO-8859-1")

    def fault(self, kind):
        mode = args.fault
        if mode == "garbage":
            self.reply(200, GARBAGE + b"\n")
        elif mode == "longline":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            piece = b"x" * 65536
            try:
                self.wfile.write(b"200 ")
                for i in range(0, args.long_bytes, len(piece)):
                    self.wfile.write(piece[:min(len(piece), args.long_bytes - i)])
            except OSError:
                pass
        elif mode in ("endless", "list"):
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            deadline = time.monotonic() + LIMIT_SECONDS
            try:
                for line in endless_lines(kind, args.list_lines if mode == "list" else None):
                    self.wfile.write((line + "\n").encode("latin-1"))
                    if time.monotonic() > deadline:
                        break
            except OSError:
                pass
        elif mode == "close":
            self.close_connection = True
        elif mode == "silence":
            self.wait_for_client_to_go()
        self.close_connection = True


class HttpServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class HttpsServer(HttpServer):
    """The handshake is made on the connection's own thread, so that a client that fails it (or
    never starts it) holds up nobody else."""

    context = None

    def finish_request(self, request, client_address):
        request.settimeout(LIMIT_SECONDS)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            log("H-TLS-FAILED %s" % e)
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            try:
                tls.settimeout(2)
                tls.unwrap()
            except (ssl.SSLError, OSError):
                pass
            tls.close()


# ---------------------------------------------------------------------------------------------


def main():
    global args
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--banner", default="201")
    parser.add_argument("--hello", default="200")
    parser.add_argument("--inexact", action="store_true")
    parser.add_argument("--query-code")
    parser.add_argument("--read-code")
    parser.add_argument("--http-status")
    parser.add_argument("--fault", choices=["garbage", "longline", "endless", "list", "close", "silence"])
    parser.add_argument("--fault-at", choices=["banner", "query", "read"], default="query")
    parser.add_argument("--long-bytes", type=int, default=6 * 1024 * 1024)
    parser.add_argument("--list-lines", type=int, default=1001)
    parser.add_argument("--max-proto", type=int, default=6)
    parser.add_argument("--raw", action="store_true")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    open(args.log, "a").close()

    cddbp = CddbpServer(("127.0.0.1", 0), CddbpHandler)
    if args.tls:
        HttpsServer.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        HttpsServer.context.load_cert_chain(args.tls[0], args.tls[1])
        web = HttpsServer(("127.0.0.1", 0), HttpHandler)
    else:
        web = HttpServer(("127.0.0.1", 0), HttpHandler)
    for server in (cddbp, web):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("http=%d cddbp=%d" % (web.server_address[1], cddbp.server_address[1]), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
