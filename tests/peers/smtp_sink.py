"""aiosmtpd on a free loopback port for the e-mail tests: prints the port, then stores every message it accepts in
the folder given as the first argument: N.eml with the content as received, N.env with the lines "FROM sender" and
"TO recipient", and N.parsed as Python's email parser reads it ("subject", "text" as Latin-1 bytes in hex, "date"
as seconds since the epoch, "longest" line in octets). commands.log gets every HELO, MAIL, RCPT, DATA and QUIT.

Further arguments change the server: "greeting=LINE|LINE" replaces the greeting (one reply of several lines),
"HELO=REPLY", "MAIL=REPLY", "RCPT=REPLY" and "DATA=REPLY" (after the data) refuse, the first "refusals=N" times
(every time without it)."""
import email
import email.policy
import os
import socket
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP


class Sink:
    def __init__(self, folder, options):
        self.folder = folder
        self.options = options
        self.count = 0
        self.refusals = {}

    def log(self, text):
        with open(os.path.join(self.folder, "commands.log"), "a", encoding="latin-1") as out:
            out.write(text + "\n")

    def refusal(self, command):
        used = self.refusals.get(command, 0)
        limit = int(self.options.get("refusals", "-1"))
        if command not in self.options or used == limit:
            return MISSING
        self.refusals[command] = used + 1
        return self.options[command]

    async def handle_HELO(self, server, session, envelope, hostname):
        self.log("HELO " + hostname)
        return self.refusal("HELO")

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.log("MAIL " + address)
        return self.refusal("MAIL")

    async def handle_RCPT(self, server, session, envelope, address, options):
        self.log("RCPT " + address)
        return self.refusal("RCPT")

    async def handle_QUIT(self, server, session, envelope):
        self.log("QUIT")
        return MISSING

    async def handle_DATA(self, server, session, envelope):
        self.log("DATA")
        refused = self.refusal("DATA")
        if refused is not MISSING:
            return refused
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml", "wb") as out:
            out.write(envelope.original_content)
        with open(base + ".env", "w", encoding="latin-1") as out:
            out.write("FROM " + envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                out.write("TO " + rcpt + "\n")
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        lines = envelope.original_content.split(b"\r\n")
        with open(base + ".parsed", "w", encoding="ascii") as out:
            out.write("subject " + str(message["subject"] or "").encode("latin-1").hex() + "\n")
            out.write("text " + message.get_content().encode("latin-1").hex() + "\n")
            out.write("date %d\n" % message["date"].datetime.timestamp())
            out.write("longest %d\n" % max(len(line) for line in lines))
        return "250 Message accepted for delivery"


class Server(SMTP):
    greeting = None

    async def push(self, status):
        if Server.greeting and isinstance(status, str) and status.startswith("220 ") and not self.session.host_name:
            for line in Server.greeting.split("|"):
                await super().push(line)
            return
        await super().push(status)


class SinkController(Controller):
    def factory(self):
        return Server(self.handler, **self.SMTP_kwargs)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    options = dict(arg.split("=", 1) for arg in sys.argv[2:])
    Server.greeting = options.get("greeting")
    port = free_port()
    controller = SinkController(Sink(sys.argv[1], options), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    try:
        while True:
            time.sleep(1)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
