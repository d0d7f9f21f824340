"""A real FTP server for the tests, on loopback (Debian's python3-pyftpdlib).

Usage: ftp_peer.py ROOT USER PASSWORD LOG [--tls explicit|implicit --cert FILE --key FILE]
       [--throttle BYTES_PER_SECOND] [--no-rename]

One user, whose home is ROOT, with every right. Each file stored is recorded as a line of
LOG: the transfer type in force ("a" ASCII, "i" binary), how the data connection was made
("passive" or "active") and its path under ROOT, separated by blanks. "explicit" secures the connection after
AUTH TLS and refuses to log in without it; "implicit" speaks TLS from the first byte.
"--throttle" reads uploads at that rate (for time-outs in the middle of a transfer);
"--no-rename" refuses RNFR. Prints "READY <port>" once listening and stops when its
standard input closes.
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


class SecureDataChannel(TLS_DTPHandler):
    def readable(self):
        # The library takes a data channel that is polled before its transfer began for a
        # dropped one and closes it; with TLS it is polled for the handshake.
        if not self.receive and not self._initialized:
            return self._ssl_want_read
        return super().readable()


def handler_class(args):
    if args.tls == "none":
        base = FTPHandler
    else:
        base = TLS_FTPHandler

    class Handler(base):
        data_mode = "passive"

        def ftp_PORT(self, line):
            self.data_mode = "active"
            return super().ftp_PORT(line)

        def ftp_EPRT(self, line):
            self.data_mode = "active"
            return super().ftp_EPRT(line)

        def ftp_PASV(self, line):
            self.data_mode = "passive"
            return super().ftp_PASV(line)

        def ftp_EPSV(self, line):
            self.data_mode = "passive"
            return super().ftp_EPSV(line)

        def on_file_received(self, file):
            with open(args.log, "a") as log:
                log.write("%s %s %s\n" % (self._current_type, self.data_mode,
                                           os.path.relpath(file, args.root)))

        def ftp_RNFR(self, path):
            if args.no_rename:
                self.respond("550 Renaming is not allowed here.")
                return
            return super().ftp_RNFR(path)

        if args.tls == "implicit":
            def __init__(self, conn, server, ioloop=None):
                super().__init__(conn, server, ioloop)
                if self.connected:
                    self.secure_connection(self.ssl_context)

    if args.tls != "none":
        Handler.certfile = args.cert
        Handler.keyfile = args.key
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        Handler.dtp_handler = SecureDataChannel
    if args.throttle:
        class Slow(ThrottledDTPHandler):
            read_limit = args.throttle
        Handler.dtp_handler = Slow
    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("user")
    parser.add_argument("password")
    parser.add_argument("log")
    parser.add_argument("--tls", default="none", choices=["none", "explicit", "implicit"])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--throttle", type=int, default=0)
    parser.add_argument("--no-rename", action="store_true")
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = handler_class(args)
    handler.authorizer = authorizer
    handler.passive_ports = None
    handler.auth_failed_timeout = 0.1
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]
    thread = threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.1}, daemon=True)
    thread.start()
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
