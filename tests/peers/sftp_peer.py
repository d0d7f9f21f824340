"""A real SFTP server for the tests, on loopback (Debian's python3-asyncssh).

Usage: sftp_peer.py ROOT WORKDIR USER PASSWORD [--no-rename]

One user, who may log in with PASSWORD or with the key WORKDIR/client_key, and who sees
ROOT as "/" (also as the home folder). At start it writes into WORKDIR: the server's host
key, "known_hosts" naming it for [127.0.0.1]:<port>, "other_known_hosts" naming another
key for the same host, and the client key pair "client_key", "client_key.pub". Prints
"READY <port>" once listening (with "--no-rename" it refuses every rename) and stops when its standard input closes.
"""
import asyncio
import os
import socket
import sys
import warnings

warnings.simplefilter("ignore")
import asyncssh  # noqa: E402


def main():
    root, workdir, user, password = sys.argv[1:5]
    refuse_rename = "--no-rename" in sys.argv[5:]
    host_key = asyncssh.generate_private_key("ssh-ed25519")
    other_key = asyncssh.generate_private_key("ssh-ed25519")
    client_key = asyncssh.generate_private_key("ssh-ed25519")
    client_key.write_private_key(os.path.join(workdir, "client_key"), "openssh")
    client_key.write_public_key(os.path.join(workdir, "client_key.pub"), "openssh")

    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()

    def known_hosts(key):
        return "[127.0.0.1]:%d %s\n" % (port, key.export_public_key("openssh").decode().strip())

    with open(os.path.join(workdir, "known_hosts"), "w") as out:
        out.write(known_hosts(host_key))
    with open(os.path.join(workdir, "other_known_hosts"), "w") as out:
        out.write(known_hosts(other_key))

    class Server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, given):
            return username == user and given == password

        def public_key_auth_supported(self):
            return True

        def validate_public_key(self, username, key):
            return username == user and key.public_data == client_key.public_data

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, chan):
            super().__init__(chan, chroot=root.encode())

        def rename(self, oldpath, newpath):
            if refuse_rename:
                raise asyncssh.SFTPError(asyncssh.FX_PERMISSION_DENIED, "Renaming is not allowed here")
            return super().rename(oldpath, newpath)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(asyncssh.listen(
        "127.0.0.1", port, server_host_keys=[host_key], server_factory=Server,
        sftp_factory=Sftp, allow_scp=False))
    print("READY %d" % port, flush=True)
    loop.run_until_complete(loop.run_in_executor(None, sys.stdin.read))
    server.close()


if __name__ == "__main__":
    main()
