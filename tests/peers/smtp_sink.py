"""aiosmtpd on a free loopback port for the e-mail tests: prints the port, then stores every message it accepts in
the folder given as the first argument: N.eml as received, N.env ("FROM sender", "TO recipient"), N.subject and
N.text as Python's e-mail parser decodes them (Latin-1), N.parsed ("DATE LONGEST": epoch seconds, longest line).
commands.log gets every HELO, MAIL, RCPT, DATA and QUIT. "greeting=LINE|LINE" replaces the greeting; "HELO=REPLY",
"MAIL=...", "RCPT=...", "DATA=..." (after the data) refuse, the first "refusals=N" times (every time without it)."""
import email
import email.policy
import os
import socket
import sys
import threading
from pathlib import Path

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP

FOLDER = sys.argv[1]
OPTIONS = dict(arg.split("=", 1) for arg in sys.argv[2:])
refused = {}


def seen(command, *args):
    with open(os.path.join(FOLDER, "commands.log"), "a", encoding="latin-1") as out:
        out.write(" ".join([command] + [a for a in args[:1] if isinstance(a, str)]) + "\n")
    if command not in OPTIONS or refused.get(command, 0) == int(OPTIONS.get("refusals", "-1")):
        return MISSING
    refused[command] = refused.get(command, 0) + 1
    return OPTIONS[command]


def hook(command):
    async def handle(self, server, session, envelope, *args):
        return seen(command, *args)

    return handle


class Sink:
    count = 0
    handle_HELO, handle_MAIL, handle_RCPT, handle_QUIT = map(hook, ("HELO", "MAIL", "RCPT", "QUIT"))

    async def handle_DATA(self, server, session, envelope):
        if (reply := seen("DATA")) is not MISSING:
            return reply
        Sink.count += 1
        base, content = os.path.join(FOLDER, str(Sink.count)), envelope.original_content
        Path(base + ".eml").write_bytes(content)
        envelope_lines = ["FROM " + envelope.mail_from + "\n"] + ["TO " + r + "\n" for r in envelope.rcpt_tos]
        Path(base + ".env").write_text("".join(envelope_lines), encoding="latin-1")
        message = email.message_from_bytes(content, policy=email.policy.default)
        Path(base + ".subject").write_bytes(str(message["subject"] or "").encode("latin-1"))
        Path(base + ".text").write_bytes(message.get_content().encode("latin-1"))
        longest = max(len(line) for line in content.split(b"\r\n"))
        Path(base + ".parsed").write_text("%d %d\n" % (message["date"].datetime.timestamp(), longest))
        return "250 Message accepted for delivery"


class Server(SMTP):
    async def push(self, status):
        greeting = OPTIONS.get("greeting")
        if greeting and isinstance(status, str) and status.startswith("220 ") and not self.session.host_name:
            for line in greeting.split("|"):
                await super().push(line)
        else:
            await super().push(status)


class SinkController(Controller):
    def factory(self):
        return Server(self.handler, **self.SMTP_kwargs)


with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
SinkController(Sink(), hostname="127.0.0.1", port=port).start()
print(port, flush=True)
threading.Event().wait()
