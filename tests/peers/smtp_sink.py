"""A real SMTP server for the tests, on loopback.

Every message it accepts is written whole into the folder given, as <n>.eml, with its
envelope sender and recipients in the first lines ("X-Mail-From:", "X-Rcpt-To:"). The mode
decides how it answers: "accept" takes every message, "refuse" answers 550 to every
recipient, "stall" never answers the DATA command. It prints "READY <port>" once listening
and stops when its standard input closes.
"""
import asyncio
import os
import socket
import sys

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, folder, mode):
        self.folder = folder
        self.mode = mode
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "refuse":
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "stall":
            await asyncio.sleep(3600)
        self.count += 1
        path = os.path.join(self.folder, "%d.eml" % self.count)
        tmp = path + ".tmp"
        with open(tmp, "wb") as out:
            out.write(("X-Mail-From: %s\r\n" % envelope.mail_from).encode())
            for rcpt in envelope.rcpt_tos:
                out.write(("X-Rcpt-To: %s\r\n" % rcpt).encode())
            out.write(envelope.original_content)
        os.rename(tmp, path)
        return "250 Message accepted"


def main():
    folder, mode = sys.argv[1], sys.argv[2]
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    controller = Controller(Sink(folder, mode), hostname="127.0.0.1", port=port)
    controller.start()
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
