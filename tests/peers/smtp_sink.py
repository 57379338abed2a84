"""aiosmtpd on a free loopback port for the e-mail tests: prints the port, then stores every message it accepts in
the folder given as the first argument: N.eml as received, N.env ("FROM sender", "TO recipient" lines) and N.parsed
as Python's e-mail parser reads it ("subject" and "text" as Latin-1 in hex, "date" in seconds since the epoch,
"longest" line in octets). commands.log gets every HELO, MAIL, RCPT, DATA and QUIT. Further arguments:
"greeting=LINE|LINE" replaces the greeting, "HELO=REPLY", "MAIL=REPLY", "RCPT=REPLY", "DATA=REPLY" (after the
data) refuse, the first "refusals=N" times (every time without it)."""
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
        self.folder, self.options, self.count, self.refusals = folder, options, 0, {}

    def seen(self, command, *args):
        with open(os.path.join(self.folder, "commands.log"), "a", encoding="latin-1") as out:
            out.write(" ".join([command] + [a for a in args[:1] if isinstance(a, str)]) + "\n")
        used, limit = self.refusals.get(command, 0), int(self.options.get("refusals", "-1"))
        if command not in self.options or used == limit:
            return MISSING
        self.refusals[command] = used + 1
        return self.options[command]

    async def handle_HELO(self, server, session, envelope, *args):
        return self.seen("HELO", *args)

    async def handle_MAIL(self, server, session, envelope, *args):
        return self.seen("MAIL", *args)

    async def handle_RCPT(self, server, session, envelope, *args):
        return self.seen("RCPT", *args)

    async def handle_QUIT(self, server, session, envelope):
        return self.seen("QUIT")

    async def handle_DATA(self, server, session, envelope):
        refused = self.seen("DATA")
        if refused is not MISSING:
            return refused
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        content = envelope.original_content
        with open(base + ".eml", "wb") as out:
            out.write(content)
        with open(base + ".env", "w", encoding="latin-1") as out:
            out.write("".join(["FROM " + envelope.mail_from + "\n"] + ["TO " + r + "\n" for r in envelope.rcpt_tos]))
        message = email.message_from_bytes(content, policy=email.policy.default)
        with open(base + ".parsed", "w", encoding="ascii") as out:
            out.write("subject " + str(message["subject"] or "").encode("latin-1").hex() + "\n")
            out.write("text " + message.get_content().encode("latin-1").hex() + "\n")
            out.write("date %d\n" % message["date"].datetime.timestamp())
            out.write("longest %d\n" % max(len(line) for line in content.split(b"\r\n")))
        return "250 Message accepted for delivery"


class Server(SMTP):
    greeting = None

    async def push(self, status):
        if Server.greeting and isinstance(status, str) and status.startswith("220 ") and not self.session.host_name:
            for line in Server.greeting.split("|"):
                await super().push(line)
        else:
            await super().push(status)


class SinkController(Controller):
    def factory(self):
        return Server(self.handler, **self.SMTP_kwargs)


def main():
    options = dict(arg.split("=", 1) for arg in sys.argv[2:])
    Server.greeting = options.get("greeting")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
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
