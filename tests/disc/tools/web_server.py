#!/usr/bin/python3
"""A web server for the tests, on loopback: answers GET requests from files, by path.

    web_server.py --log LOG --routes ROUTES [--tls CERT KEY] [--delay S] [--silence]

ROUTES holds one route per line, "PATH STATUS FILE [CONTENT-TYPE]": a request whose path (the
query left aside) is PATH is answered with STATUS and the bytes of FILE; for a redirect status
(301, 302, 303, 307, 308) FILE is the address the Location header names. A path of no route gets
404 with the FILE of the route "*" when there is one, else an empty body. Blank lines and lines
starting with "#" are skipped. The first line printed is "http=PORT" (a free port on 127.0.0.1).

Every request is logged before it is answered, one line each: the seconds since the server
started (monotonic, 3 decimals), the request target as sent, and the User-Agent header, separated
by tabs.

--tls serves HTTPS with the certificate and key. --delay waits S seconds before answering each
request. --trickle sends the body one byte every S seconds. --silence reads every request and never answers (nor closes) until the client goes.

Standard library only, for /usr/bin/python3.
"""

import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

args = None
routes = {}
REDIRECTS = (301, 302, 303, 307, 308)
started = time.monotonic()
log_lock = threading.Lock()


def log(target, agent):
    with log_lock:
        with open(args.log, "a", encoding="utf-8", errors="replace") as f:
            f.write("%.3f\t%s\t%s\n" % (time.monotonic() - started, target, agent or ""))


def load_routes(path):
    base = os.path.dirname(os.path.abspath(path))
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split()
            route, status, file = parts[0], int(parts[1]), parts[2]
            ctype = parts[3] if len(parts) > 3 else None
            if status in REDIRECTS:
                routes[route] = (status, file, ctype)
                continue
            if not os.path.isabs(file):
                file = os.path.join(base, file)
            routes[route] = (status, file, ctype)


def guess_type(file):
    if file.endswith(".json"):
        return "application/json; charset=utf-8"
    if file.endswith(".xml"):
        return "application/xml; charset=utf-8"
    if file.endswith(".jpg"):
        return "image/jpeg"
    if file.endswith(".png"):
        return "image/png"
    return "application/octet-stream"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def do_GET(self):
        log(self.path, self.headers.get("User-Agent"))
        if args.silence:
            # Hold the connection open without a word until the client gives up.
            try:
                while self.rfile.read(1):
                    pass
            except OSError:
                pass
            return
        if args.delay:
            time.sleep(args.delay)
        path = urllib.parse.urlsplit(self.path).path
        route = routes.get(path)
        status = 404
        body = b""
        ctype = "text/plain"
        if route is None and "*" in routes:
            route = (404,) + routes["*"][1:]
        if route is not None and route[0] in REDIRECTS:
            self.send_response(route[0])
            self.send_header("Location", route[1])
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return
        if route is not None:
            status, file, ctype = route
            with open(file, "rb") as f:
                body = f.read()
            ctype = ctype or guess_type(file)
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if args.trickle:
            try:
                for i in range(len(body)):
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(args.trickle)
            except OSError:
                pass
        else:
            self.wfile.write(body)
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global args
    p = argparse.ArgumentParser()
    p.add_argument("--log", required=True)
    p.add_argument("--routes", required=True)
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    p.add_argument("--delay", type=float, default=0)
    p.add_argument("--silence", action="store_true")
    p.add_argument("--trickle", type=float, default=0)
    args = p.parse_args()
    load_routes(args.routes)
    open(args.log, "a").close()
    server = Server(("127.0.0.1", 0), Handler)
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("http=%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
