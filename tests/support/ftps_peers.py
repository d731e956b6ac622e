#!/usr/bin/python3
"""The FTP servers the core's TLS tests (tests/upload/ftps_test.cpp) talk to.

  ftps_peers.py start DIR   starts them on 127.0.0.1 and returns once each
                            listens; DIR/NAME/port holds each one's port
  ftps_peers.py stop DIR    ends them

Each serves DIR/NAME/root to the user "qv" (password "#(test)#") and appends
the verb of every command it receives to DIR/NAME/commands.log, so a test can
tell that a refused server never saw USER. The TLS ones make their
certificates in DIR/NAME/tls, each signed by an authority of its own
(DIR/NAME/tls/ca.pem):

  trusted    for localhost, 127.0.0.1 and ::1; TLS required for the login and
             the data; the tests trust its authority
  tls12      as trusted, but offers TLS 1.2 at most
  stranger   as trusted, but no test trusts its authority, which bears the
             same name as trusted's
  misnamed   for ftp.example.org, by an authority of another name
  plain      no TLS at all
"""
import os
import selectors
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = {
    "trusted": ["--tls-cert", "localhost", "--tls-required"],
    "tls12": ["--tls-cert", "localhost", "--tls-required", "--tls-max", "1.2"],
    "stranger": ["--tls-cert", "localhost", "--tls-required"],
    "misnamed": ["--tls-cert", "ftp.example.org", "--ca-name", "qv other authority"],
    "plain": [],
}


def options(folder, settings):
    out = []
    it = iter(settings)
    for item in it:
        if item == "--tls-cert":
            out += ["--tls-dir", os.path.join(folder, "tls"), "--cert-name", next(it)]
        else:
            out.append(item)
    return out


def start(top):
    started = []
    for name, settings in PEERS.items():
        folder = os.path.join(top, name)
        os.makedirs(os.path.join(folder, "tls"), exist_ok=True)
        command = [sys.executable, os.path.join(HERE, "ftpserver.py"), "--root", os.path.join(folder, "root"),
                   "--password", "#(test)#", "--host", "127.0.0.1", "--port", "0",
                   "--command-log", os.path.join(folder, "commands.log")] + options(folder, settings)
        # A session of its own: the caller's end (a test runner's group) does not end it.
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, start_new_session=True)
        started.append((name, folder, process))
        with open(os.path.join(folder, "pid"), "w") as f:
            f.write("%d\n" % process.pid)
    for name, folder, process in started:
        selector = selectors.DefaultSelector()
        selector.register(process.stdout, selectors.EVENT_READ)
        line = process.stdout.readline() if selector.select(timeout=30) else b""
        if not line.strip().isdigit():
            stop(top)
            sys.exit("ftps_peers: %s did not start (python3-pyftpdlib, python3-openssl and "
                     "python3-cryptography are needed)" % name)
        with open(os.path.join(folder, "port"), "w") as f:
            f.write(line.decode().strip() + "\n")


def stop(top):
    for name in PEERS:
        try:
            with open(os.path.join(top, name, "pid")) as f:
                pid = int(f.read())
        except (OSError, ValueError):
            continue
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    (start if sys.argv[1] == "start" else stop)(os.path.abspath(sys.argv[2]))


if __name__ == "__main__":
    main()
