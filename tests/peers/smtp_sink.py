"""aiosmtpd on a free loopback port for the e-mail tests: prints the port, then stores every message it accepts
in the folder given as the first argument: N.env with the lines "FROM sender" and "TO recipient", and N.eml
with the message content as received."""
import os
import socket
import sys
import time

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml", "wb") as out:
            out.write(envelope.original_content)
        with open(base + ".env", "w", encoding="latin-1") as out:
            out.write("FROM " + envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                out.write("TO " + rcpt + "\n")
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port = free_port()
    controller = Controller(Sink(sys.argv[1]), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    try:
        while True:
            time.sleep(1)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
