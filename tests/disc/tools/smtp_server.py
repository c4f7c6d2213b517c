#!/usr/bin/python3
"""A real SMTP server on 127.0.0.1 for the submission tests (aiosmtpd, Debian's python3-aiosmtpd).

Prints the port it listens on as its first line, then serves until it is killed or its standard
input closes (the test that started it is gone). Every message it accepts is written to the
folder as one JSON file: the envelope (sender, recipients), the raw data as the server received
it, and the headers and body as Python's email package decodes them, an independent reading of
what the client sent.

Modes:
  smtp     a normal server; --refuse-rcpt CODE and --refuse-data CODE make it refuse.
  silent   accepts connections and never says anything.
  garbage  answers a connection with bytes that are no SMTP and closes it.
  huge     answers a connection with one endless line without a line end.
"""

import argparse
import asyncio
import email
import email.header
import email.policy
import json
import os
import sys
import threading

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, folder, refuse_rcpt, refuse_data):
        self.folder = folder
        self.refuse_rcpt = refuse_rcpt
        self.refuse_data = refuse_data
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_rcpt:
            return "%d 5.1.1 <%s>: Recipient address rejected: no such mailbox here" % (self.refuse_rcpt, address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.refuse_data:
            return "%d 5.7.1 Message refused: submissions are closed today" % self.refuse_data
        data = envelope.original_content or envelope.content
        message = email.message_from_bytes(data, policy=email.policy.compat32)
        headers = {}
        for name in ("Date", "From", "To", "Subject", "Message-ID", "MIME-Version", "Content-Type",
                     "Content-Transfer-Encoding"):
            value = message.get(name)
            if value is not None:
                headers[name] = str(email.header.make_header(email.header.decode_header(value)))
        payload = message.get_payload(decode=True) or b""
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "data": data.decode("latin-1"),
            "headers": headers,
            "charset": message.get_content_charset(),
            "body": payload.decode("latin-1"),
        }
        self.count += 1
        name = os.path.join(self.folder, "message%03d.json" % self.count)
        # Written whole, then renamed: a test never reads half a message.
        with open(name + ".part", "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False)
        os.rename(name + ".part", name)
        return "250 OK: queued as %d" % self.count


async def silent(reader, writer):
    await reader.read()
    writer.close()


async def garbage(reader, writer):
    writer.write(b"\x00\xff\xfe this is not a mail server \x01\x02\r\n\x7f\x80garbage\r\n")
    await writer.drain()
    writer.close()


async def huge(reader, writer):
    chunk = b"2" * 65536
    try:
        while True:
            writer.write(chunk)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    writer.close()


def exit_when_stdin_closes():
    try:
        while sys.stdin.buffer.read(4096):
            pass
    finally:
        os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", help="where accepted messages are written")
    parser.add_argument("--mode", choices=["smtp", "silent", "garbage", "huge"], default="smtp")
    parser.add_argument("--refuse-rcpt", type=int, default=0, metavar="CODE")
    parser.add_argument("--refuse-data", type=int, default=0, metavar="CODE")
    args = parser.parse_args()

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    if args.mode == "smtp":
        if not args.folder:
            parser.error("--folder is needed in smtp mode")
        handler = Handler(args.folder, args.refuse_rcpt, args.refuse_data)
        # A fixed host name: looking up this machine's name can take seconds.
        factory = lambda: SMTP(handler, hostname="smtp.test", ident="test SMTP server", loop=loop)
        server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
    else:
        serve = {"silent": silent, "garbage": garbage, "huge": huge}[args.mode]
        server = loop.run_until_complete(asyncio.start_server(serve, "127.0.0.1", 0))
    print(server.sockets[0].getsockname()[1], flush=True)
    threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
    loop.run_forever()


if __name__ == "__main__":
    main()
