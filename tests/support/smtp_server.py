"""A real SMTP server on loopback for the tests: aiosmtpd, storing every message it accepts.

Usage: smtp_server.py STORE_DIR [--user HEX --password HEX] [--reject-recipient]
                     [--reject-message] [--refuse-greeting] [--silent] [--stall-data]
Prints the port it listens on (a free one on 127.0.0.1) as one line once it accepts connections.
Every connection accepted adds one line to STORE_DIR/connections.log.
Each message is stored as STORE_DIR/NNNNNN.msg: the envelope sender, a line with the number of
recipients, one line per recipient, then the DATA bytes exactly as received (dot-unstuffed).
"""
import argparse
import asyncio
import logging
import os
import signal
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


class StoringHandler:
    def __init__(self, store, reject_recipient, reject_message, stall_data):
        self.store = store
        self.reject_recipient = reject_recipient
        self.reject_message = reject_message
        self.stall_data = stall_data
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject_recipient:
            return "550 5.1.1 Recipient rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.reject_message:
            return "554 5.6.0 Message rejected"
        if self.stall_data:
            await asyncio.Event().wait()  # takes the whole message and never answers
        self.count += 1
        name = os.path.join(self.store, "%06d.msg" % self.count)
        head = "%s\n%d\n%s" % (envelope.mail_from, len(envelope.rcpt_tos),
                               "".join(r + "\n" for r in envelope.rcpt_tos))
        with open(name + ".tmp", "wb") as f:
            f.write(head.encode("utf-8", "surrogateescape"))
            f.write(envelope.original_content or envelope.content)
            f.flush()
            os.fsync(f.fileno())
        os.rename(name + ".tmp", name)
        return "250 OK stored"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = getattr(auth_data, "login", None) == user and auth_data.password == password
        return AuthResult(success=ok, handled=False)  # handled=False: the server answers 535
    return authenticate


def log_connection(store):
    with open(os.path.join(store, "connections.log"), "a") as f:
        f.write("connection\n")


class Silent(asyncio.Protocol):
    """Accepts the connection and never says a word."""


class RefuseGreeting(asyncio.Protocol):
    def connection_made(self, transport):
        transport.write(b"554 5.3.2 No service here\r\n")
        transport.close()


async def main():
    # Plain-text AUTH on loopback is what the tests want; keep aiosmtpd quiet about it.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser()
    parser.add_argument("store")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--reject-recipient", action="store_true")
    parser.add_argument("--reject-message", action="store_true")
    parser.add_argument("--refuse-greeting", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--stall-data", action="store_true")
    args = parser.parse_args()

    handler = StoringHandler(args.store, args.reject_recipient, args.reject_message,
                             args.stall_data)
    kwargs = {}
    if args.user is not None:
        kwargs = dict(authenticator=make_authenticator(bytes.fromhex(args.user),
                                                       bytes.fromhex(args.password)),
                      auth_required=True, auth_require_tls=False)

    def factory():
        log_connection(args.store)
        if args.refuse_greeting:
            return RefuseGreeting()
        if args.silent:
            return Silent()
        return SMTP(handler, hostname="relay-test.invalid", **kwargs)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, "127.0.0.1", 0)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    print(server.sockets[0].getsockname()[1], flush=True)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
