#!/usr/bin/env python3
"""A local SMTP sink for tests: aiosmtpd on a free port of 127.0.0.1, printed as the first line on stdout. Each
message goes to --dir as NNNN.eml (the DATA bytes), then NNNN.json (envelope, credentials, client port); --tls first
writes the authority of a certificate for --cert-host to ca.pem. --token takes AUTH XOAUTH2 for --user with that token
only; --plain-only offers PLAIN but not LOGIN. A recipient of abgelehnt.example gets 550; auflegen.example: hung up
before the message's reply; kurz.example: the next RSET gets 421. Stops when stdin closes."""

import argparse, asyncio, base64, json, logging, os, pathlib, ssl, sys, warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().endswith("@abgelehnt.example"):
            return "550 5.1.1 Empfaenger unbekannt"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_RSET(self, server, session, envelope):
        if not getattr(session, "closing", False):
            return "250 OK"
        asyncio.get_running_loop().call_soon(server.transport.close)  # once the reply is written
        return "421 4.3.2 Verbindung wird beendet"

    async def handle_DATA(self, server, session, envelope):
        if any(address.lower().endswith("@auflegen.example") for address in envelope.rcpt_tos):
            server.transport.abort()
            return "250 OK"  # never reaches the client
        session.closing = any(address.lower().endswith("@kurz.example") for address in envelope.rcpt_tos)
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        pathlib.Path(base + ".eml").write_bytes(envelope.original_content or envelope.content)
        auth = session.auth_data if isinstance(getattr(session, "auth_data", None), LoginPassword) else None
        record = {"mail_from": envelope.mail_from, "rcpt_tos": "\n".join(envelope.rcpt_tos),
                  "login": auth and auth.login.decode("latin-1"), "password": auth and auth.password.decode("latin-1"),
                  "mechanism": getattr(session, "mechanism", None), "peer": str(session.peer[1])}
        pathlib.Path(base + ".json.tmp").write_text(json.dumps(record), encoding="utf-8")
        os.rename(base + ".json.tmp", base + ".json")  # the .json shows the message is complete
        return "250 OK"


class OAuthSink(Sink):
    """XOAUTH2 as big providers speak it: a wrong token gets a 334 with a Base64 JSON error, after the reply a 535."""

    def __init__(self, folder, user, token):
        super().__init__(folder)
        self.wanted = b"user=" + user + b"\x01auth=Bearer " + token + b"\x01\x01"
        self.user, self.token = user, token

    async def auth_XOAUTH2(self, server, args):
        try:
            response = base64.b64decode(args[1].encode(), validate=True) if len(args) == 2 else None
        except ValueError:
            response = None
        if response == self.wanted:
            server.session.mechanism = "XOAUTH2"
            return AuthResult(success=True, auth_data=LoginPassword(self.user, self.token))
        challenge = json.dumps({"status": "401", "schemes": "bearer", "scope": "mail"})
        await server.challenge_auth(challenge)
        if response and b"nochmal" in response:  # a server that asks once more than the exchange allows
            await server.challenge_auth(challenge)
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")


def main():
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    for option in ("--dir", "--user", "--password", "--cert-host", "--token"):
        parser.add_argument(option)
    for flag in ("--plain-only", "--smtputf8"):
        parser.add_argument(flag, action="store_true")
    parser.add_argument("--tls", choices=("none", "starttls", "implicit"), default="none")
    args = parser.parse_args()

    context = None
    if args.tls != "none":
        import trustme  # only the TLS runs need it

        authority = trustme.CA()
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        authority.issue_cert(args.cert_host).configure_cert(context)
        authority.cert_pem.write_to_path(os.path.join(args.dir, "ca.pem"))

    wanted = None if args.user is None or args.password is None else (args.user.encode("latin-1"),
                                                                       args.password.encode("latin-1"))

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and wanted == (auth_data.login, auth_data.password)
        session.mechanism = mechanism
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    handler = Sink(args.dir) if args.token is None else OAuthSink(args.dir, args.user.encode("latin-1"),
                                                                  args.token.encode("latin-1"))
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    starttls = args.tls == "starttls"

    def factory():
        return SMTP(handler, decode_data=False, hostname="sink.local", authenticator=authenticate,
                    enable_SMTPUTF8=args.smtputf8,
                    data_size_limit=128 * 1024 * 1024,  # mails at the store's file limit
                    auth_exclude_mechanism=["LOGIN"] if args.plain_only else None,
                    auth_required=args.user is not None, auth_require_tls=starttls,
                    tls_context=context if starttls else None, require_starttls=starttls, loop=loop)

    implicit = context if args.tls == "implicit" else None
    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0, ssl=implicit))
    print(server.sockets[0].getsockname()[1], flush=True)

    loop.add_reader(sys.stdin.fileno(), loop.stop)  # nothing is written to stdin: readable means closed
    loop.run_forever()
    os._exit(0)  # every message is on disk by now, and open connections need no goodbye


if __name__ == "__main__":
    main()
