"""A TLS front for a plain test server, on loopback (Python's own ssl module).

Usage: tls_relay.py CERT KEY TARGET_PORT

Accepts TLS connections with the certificate and key given and relays the decrypted bytes
both ways to 127.0.0.1:TARGET_PORT, so that the plain HTTP server of the tests answers
https requests. A client that fails the handshake is dropped. Prints "READY <port>" once
listening and stops when its standard input closes.
"""
import socket
import ssl
import sys
import threading


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(context, client, target_port):
    try:
        secure = context.wrap_socket(client, server_side=True)
    except (ssl.SSLError, OSError):
        client.close()
        return
    try:
        backend = socket.create_connection(("127.0.0.1", target_port))
    except OSError:
        secure.close()
        return
    other = threading.Thread(target=pump, args=(backend, secure), daemon=True)
    other.start()
    pump(secure, backend)
    other.join()
    secure.close()
    backend.close()


def main():
    cert, key, target_port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def accept():
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(context, client, target_port), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    print("READY %d" % listener.getsockname()[1], flush=True)
    sys.stdin.read()
    listener.close()


if __name__ == "__main__":
    main()
