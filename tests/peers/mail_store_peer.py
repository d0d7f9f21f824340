"""A real IMAP or POP3 server for the tests, on loopback: Debian's dovecot (dovecot-imapd,
dovecot-pop3d) with a configuration of its own in the work folder given, one user with a
plain password and a Maildir of its own, nothing shared with a system installation.

Arguments: WORK PROTOCOL USER PASSWORD MAILDIR [CERT KEY] (PROTOCOL is imap or pop3; with a
certificate and its key the server offers STARTTLS; it counts loopback as secure and takes
a plain login from there all the same). It prints
"READY <port>" once the server answers and stops the server when its standard input closes.
Run as root, the mail is read as the user "nobody" (the server refuses root), so the Maildir
is handed to that user; run as anyone else, the server runs as that user.
"""
import os
import pwd
import signal
import socket
import subprocess
import sys
import time


def free_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def stop(server):
    """Stops the server's whole process group: quicker than the master's own shutdown."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(server.pid, sig)
        except ProcessLookupError:
            break
        try:
            server.wait(timeout=0.5)
            break
        except subprocess.TimeoutExpired:
            continue
    try:
        server.wait(timeout=1)
    except subprocess.TimeoutExpired:
        pass


def main():
    work, protocol, user, password, maildir = sys.argv[1:6]
    tls = ""
    if len(sys.argv) >= 8:
        tls = "ssl = required\nssl_cert = <%s\nssl_key = <%s\n" % (sys.argv[6], sys.argv[7])
    port = free_port()
    work = os.path.abspath(work)
    maildir = os.path.abspath(maildir)
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)

    me = pwd.getpwuid(os.getuid())
    if os.getuid() == 0:
        reader = pwd.getpwnam("nobody")
        internal = ""
        # The reader must reach the Maildir: every folder above it is opened for passing.
        folder = maildir
        while folder not in ("/", ""):
            mode = os.stat(folder).st_mode
            os.chmod(folder, mode | 0o111)
            folder = os.path.dirname(folder)
        for root, dirs, files in os.walk(maildir):
            os.chown(root, reader.pw_uid, reader.pw_gid)
            for name in files:
                os.chown(os.path.join(root, name), reader.pw_uid, reader.pw_gid)
    else:
        reader = me
        internal = ("default_internal_user = %s\ndefault_login_user = %s\n"
                    "default_internal_group = %s\n" % (me.pw_name, me.pw_name, me.pw_name))

    with open(os.path.join(work, "users"), "w") as out:
        out.write("%s:{PLAIN}%s\n" % (user, password))
    listener = "imap" if protocol == "imap" else "pop3"
    config = os.path.join(work, "dovecot.conf")
    with open(config, "w") as out:
        out.write(f"""base_dir = {work}/run
state_dir = {work}/state
instance_name = kestrix-test-{port}
log_path = {work}/dovecot.log
{internal}protocols = {protocol}
listen = 127.0.0.1
{tls or "ssl = no"}
disable_plaintext_auth = {"yes" if tls else "no"}
auth_mechanisms = plain login
auth_failure_delay = 0
mail_location = maildir:{maildir}:INDEX={work}/index
first_valid_uid = 1
pop3_uidl_format = %08Xv%08Xu
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {work}/users
}}
userdb {{
  driver = static
  args = uid={reader.pw_uid} gid={reader.pw_gid} home={work}/home
}}
service {listener}-login {{
  inet_listener {listener} {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener {listener}s {{
    port = 0
  }}
}}
service anvil {{
  chroot =
}}
""")
    os.makedirs(os.path.join(work, "index"), exist_ok=True)
    os.makedirs(os.path.join(work, "home"), exist_ok=True)
    if os.getuid() == 0:
        for sub in ("index", "home"):
            os.chown(os.path.join(work, sub), reader.pw_uid, reader.pw_gid)
    # The server and all its processes in a group of their own, stopped together.
    server = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", config], start_new_session=True,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while True:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as probe:
                if probe.recv(64).startswith(b"+OK" if protocol == "pop3" else b"* OK"):
                    break
        except OSError:
            pass
        if server.poll() is not None or time.time() > deadline:
            stop(server)
            sys.exit(1)
        time.sleep(0.05)
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        stop(server)


if __name__ == "__main__":
    main()
