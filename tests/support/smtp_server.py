#!/usr/bin/python3
"""A real SMTP server for the tests: aiosmtpd on a free loopback port.

Prints "PORT <n>" on stdout once it accepts connections, and stops on SIGTERM
or when its stdin is closed (so it never outlives the test that started it).
A starter that cannot hand it pipes (a Windows test under Wine, which starts
Linux programs without them) passes --port-file, where the same line appears
(by a rename, so never half-written), and --stop-file, whose creation stops
the server. Such a server cannot see its starter (Wine starts it detached),
so it also stops when the stop file's directory is removed or after
--max-seconds, and writes the stop file's name with ".stopped" appended once
it has stopped.

Each mail received is stored in --dir as <n>.eml (the DATA bytes) and <n>.txt,
a summary of the envelope and of the mail as Python's email package reads it,
one "key value" line per fact (bytes in hex):
    mail_from <address>            rcpt_to <address> (one per recipient)
    auth_login <user name>         header <Name>: <value> (every header)
    date_ok 1|0                    body_hex <decoded text body>
    attachment <filename> <name> <decoded bytes>   (hex of each field)
The summary is written last, by a rename, so a test that sees it sees both.

Authentication (--auth): "login" or "plain" offers that mechanism only,
"both" offers both, "none" offers none. Credentials: --user, --password.
TLS: --tls-cert and --tls-key give a certificate; with --starttls the server
offers STARTTLS and requires it before AUTH and MAIL; with --implicit-tls the
connection is TLS from its first byte.
With --silent the server accepts connections (and their TLS handshake, with
--implicit-tls) and then never sends a byte.
"""

import argparse
import asyncio
import email
import email.utils
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


def hexed(data):
    return (data or b"").hex()


def summarize(envelope, session, raw):
    lines = ["mail_from " + (envelope.mail_from or "")]
    lines += ["rcpt_to " + r for r in envelope.rcpt_tos]
    if session.auth_data is not None:
        lines.append("auth_login " + session.auth_data.login.decode("latin-1"))
    message = email.message_from_bytes(raw)
    for name, value in message.items():
        lines.append("header %s: %s" % (name, " ".join(str(value).split())))
    try:
        date_ok = email.utils.parsedate_to_datetime(message["Date"]).tzinfo is not None
    except (TypeError, ValueError):
        date_ok = False
    lines.append("date_ok %d" % date_ok)
    body = None
    for part in message.walk():
        if part.is_multipart():
            continue
        if part.get("Content-Disposition", "").startswith("attachment"):
            lines.append("attachment %s %s %s" % (
                hexed((part.get_filename() or "").encode("latin-1")),
                hexed((part.get_param("name") or "").encode("latin-1")),
                hexed(part.get_payload(decode=True))))
        elif body is None:
            body = part.get_payload(decode=True)
    lines.append("body_hex " + hexed(body))
    return "\n".join(lines) + "\n"


class Store:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "%04d" % self.count)
        with open(base + ".eml", "wb") as out:
            out.write(envelope.original_content)
        with open(base + ".tmp", "w", encoding="latin-1") as out:
            out.write(summarize(envelope, session, envelope.original_content))
        os.rename(base + ".tmp", base + ".txt")
        return "250 OK stored"


def main():
    # aiosmtpd warns about AUTH without TLS and deprecated fields: noise here.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--auth", choices=["login", "plain", "both", "none"], default="login")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--port-file")
    parser.add_argument("--stop-file")
    parser.add_argument("--max-seconds", type=float, default=600)
    args = parser.parse_args()
    if bool(args.port_file) != bool(args.stop_file):
        parser.error("--port-file and --stop-file go together")

    tls = None
    if args.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)

    excluded = {"login": ["PLAIN"], "plain": ["LOGIN"], "both": [], "none": ["LOGIN", "PLAIN"]}[args.auth]

    def authenticate(server, session, envelope, mechanism, auth_data):
        granted = (auth_data.login == args.user.encode("latin-1")
                   and auth_data.password == args.password.encode("latin-1"))
        # handled=False: aiosmtpd then answers a refusal with 535 itself.
        return AuthResult(success=granted, handled=False, auth_data=auth_data if granted else None)

    async def serve():
        loop = asyncio.get_running_loop()
        store = Store(args.dir)

        def protocol():
            if args.silent:
                return asyncio.Protocol()
            return SMTP(store, hostname="localhost", ident="vantrel-test-smtp",
                        authenticator=authenticate, auth_exclude_mechanism=excluded,
                        auth_required=args.auth != "none",
                        auth_require_tls=args.starttls,
                        tls_context=tls if args.starttls else None,
                        require_starttls=args.starttls)

        server = await loop.create_server(protocol, "127.0.0.1", 0,
                                          ssl=tls if args.implicit_tls else None)
        ready = "PORT %d" % server.sockets[0].getsockname()[1]
        stop = asyncio.Event()
        loop.add_signal_handler(signal.SIGTERM, stop.set)
        if args.port_file:
            with open(args.port_file + ".tmp", "w") as out:
                out.write(ready + "\n")
            os.rename(args.port_file + ".tmp", args.port_file)
            stop_dir = os.path.dirname(os.path.abspath(args.stop_file))
            deadline = loop.time() + args.max_seconds

            async def watch():
                while (not os.path.exists(args.stop_file) and os.path.isdir(stop_dir)
                       and loop.time() < deadline):
                    await asyncio.sleep(0.05)
                stop.set()

            watcher = asyncio.ensure_future(watch())
        else:
            print(ready, flush=True)

            def stdin_readable():
                if not os.read(sys.stdin.fileno(), 4096):
                    stop.set()

            loop.add_reader(sys.stdin.fileno(), stdin_readable)
        await stop.wait()
        server.close()
        await server.wait_closed()
        if args.port_file:
            watcher.cancel()
            open(args.stop_file + ".stopped", "w").close()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
