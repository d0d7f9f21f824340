#!/usr/bin/python3
"""The demo's receiving partners on loopback: an FTP server and a web page that takes posted
documents.

Usage: demo-peers.py FTP_ROOT WEB_FOLDER FTP_USER FTP_PASSWORD

The FTP server has one user, whose home is FTP_ROOT. The web page (any path) stores the
"xml" (or "EOBIO") field of each form posted to it as WEB_FOLDER/<DocID>.xml and answers
with an XML text whose ERROR_NUMBER is 0; the first post it gets it answers with 503
Service Unavailable instead, as a busy server does, so that the demo shows a delivery tried
again. Prints "FTP <port>" and "HTTP <port>", then runs until its standard input closes.
"""
import http.server
import logging
import os
import sys
import threading
import urllib.parse

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ftp_root, web_folder, user, password = sys.argv[1:5]
    os.makedirs(ftp_root, exist_ok=True)
    os.makedirs(web_folder, exist_ok=True)
    logging.basicConfig(level=logging.ERROR)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, ftp_root, perm="elradfmw")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = None
    ftp = FTPServer(("127.0.0.1", 0), handler)

    posts = {"count": 0}

    class Page(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length") or 0)
            form = urllib.parse.parse_qs(self.rfile.read(length).decode("latin-1"))
            posts["count"] += 1
            if posts["count"] == 1:
                self.send_response(503, "Service Unavailable")
                self.end_headers()
                return
            doc = (form.get("DocID") or ["unknown"])[0]
            body = (form.get("xml") or form.get("EOBIO") or [""])[0]
            name = "".join(c for c in doc if c.isalnum()) or "unknown"
            with open(os.path.join(web_folder, name + ".xml"), "w", encoding="latin-1") as f:
                f.write(body)
            answer = b"<RESPONSE><ERROR_NUMBER>0</ERROR_NUMBER></RESPONSE>"
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *args):
            pass

    web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=ftp.serve_forever, kwargs={"handle_exit": False}, daemon=True).start()
    threading.Thread(target=web.serve_forever, daemon=True).start()
    print("FTP", ftp.address[1], flush=True)
    print("HTTP", web.server_address[1], flush=True)
    sys.stdin.read()
    web.shutdown()
    ftp.close_all()


if __name__ == "__main__":
    main()
