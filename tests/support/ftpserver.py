#!/usr/bin/python3
"""A local FTP server for the upload tests.

Serves --root to one user on 127.0.0.1 (or --host ::1), with a writable "dane"
folder, and prints the port it listens on (a free one with --port 0) as its
first line on standard output. Runs until it is killed.

Options make it misbehave the ways an office network or a poor server does:
refused commands, an active mode that never connects or says it cannot, silence, a data
connection dropped half-way, a wrong SIZE, no right to delete, and explicit
TLS with a certificate made here (its authority in DIR/ca.pem for the client),
up to a given TLS version. --command-log keeps the verbs it received, and whether each protected data
connection resumed the control connection's TLS session.
"""
import argparse
import datetime
import ipaddress
import logging
import os
import socket
import struct
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def make_certificates(folder, name, authority):
    """An authority called `authority` (ca.pem) and a server certificate for
    `name` signed by it (server.pem, with its key). For "localhost" the
    certificate also names 127.0.0.1 and ::1."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import NameOID

    now = datetime.datetime.now(datetime.timezone.utc)
    start, end = now - datetime.timedelta(days=1), now + datetime.timedelta(days=2)

    # RSA, not ECDSA: Wine's check of an ECDSA signature fails now and then
    # (seen on one certificate in a few dozen), and the tests are not about it.
    ca_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    ca_name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, authority)])
    ca = (x509.CertificateBuilder().subject_name(ca_name).issuer_name(ca_name)
          .public_key(ca_key.public_key()).serial_number(x509.random_serial_number())
          .not_valid_before(start).not_valid_after(end)
          .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
          .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                       crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
          .sign(ca_key, hashes.SHA256()))

    names = [x509.DNSName(name)]
    if name == "localhost":
        names += [x509.IPAddress(ipaddress.ip_address("127.0.0.1")), x509.IPAddress(ipaddress.ip_address("::1"))]
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    cert = (x509.CertificateBuilder()
            .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)]))
            .issuer_name(ca_name).public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(start).not_valid_after(end)
            .add_extension(x509.SubjectAlternativeName(names), critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .sign(ca_key, hashes.SHA256()))

    pem = serialization.Encoding.PEM
    with open(os.path.join(folder, "ca.pem"), "wb") as f:
        f.write(ca.public_bytes(pem))
    server = os.path.join(folder, "server.pem")
    with open(server, "wb") as f:
        f.write(cert.public_bytes(pem))
        f.write(key.private_bytes(pem, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
    return server


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="qv")
    parser.add_argument("--password", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--refuse", default="", help="commands answered 502, comma-separated (PORT,EPRT,EPSV,...)")
    parser.add_argument("--silent-active", action="store_true",
                        help="PORT/EPRT accepted, but the server never connects; ABOR forgets the waiting store")
    parser.add_argument("--connect-back-fails", action="store_true",
                        help="PORT/EPRT accepted, but the store that would use it is answered 425, "
                             "as by a server behind a router that cannot reach the client")
    parser.add_argument("--mute-from", choices=["greeting", "final"],
                        help="no reply at all from the greeting on, or from the final reply of a store on")
    parser.add_argument("--drop-after", type=int, default=0,
                        help="reset the data connection after this many bytes received")
    parser.add_argument("--size-lie", type=int, default=0, help="SIZE answers this many bytes more")
    parser.add_argument("--abort-reply", action="store_true",
                        help="a whole store is answered 426, as one the server gave up at its end")
    parser.add_argument("--no-delete", action="store_true", help="the user may not delete files")
    parser.add_argument("--tls-dir", help="explicit TLS with a certificate made in this folder")
    parser.add_argument("--cert-name", default="localhost", help="the name the certificate is made for")
    parser.add_argument("--ca-name", default="qv test authority", help="the name of the authority that signs it")
    parser.add_argument("--tls-required", action="store_true", help="login and data connections need TLS")
    parser.add_argument("--tls-max", choices=["1.2", "1.3"], help="the highest TLS version offered")
    parser.add_argument("--command-log", help="append the verb of every command received to this file, and "
                        "'DATA-TLS resumed NAME' (or 'new') for each protected data connection")
    args = parser.parse_args()

    os.makedirs(os.path.join(args.root, "dane"), exist_ok=True)

    authorizer = DummyAuthorizer()
    # enter, list, read, store and (unless refused) delete
    authorizer.add_user(args.user, args.password, args.root, perm="elrw" if args.no_delete else "elrwd")

    base = FTPHandler
    if args.tls_dir:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    refused = {c.strip().upper() for c in args.refuse.split(",") if c.strip()}

    class DroppingDTP(base.dtp_handler):
        def handle_read(self):
            super().handle_read()
            if args.drop_after and self.tot_bytes_received >= args.drop_after and not self._closed:
                # A reset, as a crashing server or a broken line gives.
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self._resp = ("426 Connection dropped; transfer aborted.", logging.getLogger().warning)
                self.close()

        handle_read_event = handle_read  # the loop calls this name

        tls_logged = False

        def close(self):
            # Whether the data connection took up the control connection's
            # TLS session (OpenSSL does this handshake inside its reads, so
            # it is told at the end).
            if args.command_log and not self.tls_logged and hasattr(self.socket, "get_session"):
                from OpenSSL.SSL import _lib
                self.tls_logged = True
                reused = _lib.SSL_session_reused(self.socket._ssl)
                name = os.path.basename(self.file_obj.name) if self.file_obj else "-"
                with open(args.command_log, "a") as log:
                    log.write("DATA-TLS %s %s\n" % ("resumed" if reused else "new", name))
            super().close()

    class Handler(base):
        muted = args.mute_from == "greeting"

        def respond(self, resp, logfun=logging.debug):
            if args.mute_from == "final" and resp[:3] in ("226", "426"):
                self.muted = True
            if self.muted:
                return
            if args.abort_reply and resp.startswith("226 Transfer complete"):
                resp = "426 Transfer aborted."
            super().respond(resp, logfun)

        def process_command(self, cmd, *a, **kw):
            if args.command_log:
                with open(args.command_log, "a") as log:
                    log.write(cmd + "\n")
            if cmd in refused:
                self.respond("502 Command not implemented.")
                return
            super().process_command(cmd, *a, **kw)

        connect_back_pending = False

        def ftp_PORT(self, line):
            if args.silent_active or args.connect_back_fails:
                self.connect_back_pending = True
                self.respond("200 PORT command successful.")
            else:
                super().ftp_PORT(line)

        def ftp_EPRT(self, line):
            if args.silent_active or args.connect_back_fails:
                self.connect_back_pending = True
                self.respond("200 EPRT command successful.")
            else:
                super().ftp_EPRT(line)

        def ftp_STOR(self, file, mode="w"):
            if args.connect_back_fails and self.connect_back_pending:
                self.connect_back_pending = False
                self.respond("425 Failed to establish connection.")
                return None
            return super().ftp_STOR(file, mode)

        def ftp_ABOR(self, line):
            if args.silent_active and self._in_dtp_queue is not None:
                self._in_dtp_queue[0].close()
                self._in_dtp_queue = None
                self.respond("425 Can't open data connection.")
                self.respond("226 ABOR command successful.")
            else:
                super().ftp_ABOR(line)

        def ftp_SIZE(self, path):
            if args.size_lie:
                self.respond("213 %d" % (os.path.getsize(path) + args.size_lie))
            else:
                super().ftp_SIZE(path)

    Handler.authorizer = authorizer
    Handler.banner = "Test server ready."
    # Refused logins answer at once instead of after the usual pause.
    Handler.auth_failed_timeout = 0
    Handler.dtp_handler = DroppingDTP
    if args.tls_dir:
        Handler.certfile = make_certificates(args.tls_dir, args.cert_name, args.ca_name)
        Handler.tls_control_required = args.tls_required
        Handler.tls_data_required = args.tls_required
        if args.tls_max:
            from OpenSSL import SSL
            context = Handler.get_ssl_context()
            context.set_max_proto_version(SSL.TLS1_2_VERSION if args.tls_max == "1.2" else SSL.TLS1_3_VERSION)

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer((args.host, args.port), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
