#!/usr/bin/env python3
"""A local SMTP sink for tests and benchmarks.

Listens on a free port of 127.0.0.1 and prints that port as its first line on stdout. Every
accepted message is written to the output folder as NNNN.eml (the raw bytes of DATA) and
NNNN.json (envelope and the credentials seen); the .json appears last, so its presence means
the message is complete. With --user and --password, AUTH LOGIN is required with exactly
those credentials. With --tls starttls the server offers STARTTLS and refuses everything but
EHLO, NOOP and QUIT before it (AUTH included); with --tls implicit it speaks TLS from the first
byte. Its certificate, for --cert-host (default localhost), comes from a throw-away authority whose
certificate is written to the output folder as ca.pem before the port is printed.
Stops when stdin closes, or on SIGTERM or SIGINT.
"""

import argparse
import asyncio
import json
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        auth = getattr(session, "auth_data", None)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "login": auth.login.decode("latin-1") if isinstance(auth, LoginPassword) else None,
            "password": auth.password.decode("latin-1") if isinstance(auth, LoginPassword) else None,
        }
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.rename(base + ".json.tmp", base + ".json")
        return "250 OK"


def main():
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--tls", choices=("none", "starttls", "implicit"), default="none")
    parser.add_argument("--cert-host", default="localhost")
    args = parser.parse_args()

    context = None
    if args.tls != "none":
        import trustme  # only the TLS runs need it

        authority = trustme.CA()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        authority.issue_cert(args.cert_host).configure_cert(context)
        authority.cert_pem.write_to_path(os.path.join(args.dir, "ca.pem"))

    wanted = None
    if args.user is not None and args.password is not None:
        wanted = (args.user.encode("latin-1"), args.password.encode("latin-1"))

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and wanted == (auth_data.login, auth_data.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    handler = Sink(args.dir)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def factory():
        starttls = args.tls == "starttls"
        return SMTP(handler, decode_data=False, hostname="sink.local", authenticator=authenticate,
                    auth_required=wanted is not None, auth_require_tls=starttls,
                    tls_context=context if starttls else None, require_starttls=starttls, loop=loop)

    implicit = context if args.tls == "implicit" else None
    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0, ssl=implicit))
    print(server.sockets[0].getsockname()[1], flush=True)

    stop = loop.stop
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop)

    def on_stdin():
        if not os.read(sys.stdin.fileno(), 4096):
            loop.remove_reader(sys.stdin.fileno())
            stop()

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    try:
        loop.run_forever()
    finally:
        server.close()
        pending = asyncio.all_tasks(loop)
        for task in pending:
            task.cancel()
        loop.run_until_complete(asyncio.gather(*pending, return_exceptions=True))
        loop.close()


if __name__ == "__main__":
    main()
