#!/usr/bin/python3
"""Starts test FTP servers (ftpserver.py) for test programs that cannot start
them themselves: the Windows tests under Wine, which cannot run the Linux
python3.

Listens on 127.0.0.1 (a free port unless --port) and prints "HOST:PORT" as its
first line on standard output; the tests find it in QV_TEST_FTP_LAUNCHER.
Each connection asks for one server with one line: the arguments of
ftpserver.py separated by tabs, where "{root}" and "{tls-dir}" stand for
folders this launcher makes. It answers "OK<tab>PORT<tab>ROOT<tab>TLS-DIR" or
"ERROR<tab>TEXT", keeps the server while the connection stays open, and
ends it and removes its folders once the connection closes. Runs until it is
killed.
"""
import argparse
import os
import shutil
import socketserver
import subprocess
import sys
import tempfile

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ftpserver.py")


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline().decode("utf-8").rstrip("\r\n")
        if not line:
            return
        root = tempfile.mkdtemp(prefix="qvftp.")
        tls = tempfile.mkdtemp(prefix="qvftpca.")
        args = [root if a == "{root}" else tls if a == "{tls-dir}" else a for a in line.split("\t")]
        server = None
        try:
            server = subprocess.Popen([sys.executable, SERVER] + args, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE)
            port = server.stdout.readline().decode().strip()
            if not port.isdigit():
                self.reply("ERROR\tftpserver.py gave no port (exit status %s)" % server.poll())
                return
            self.reply("OK\t%s\t%s\t%s" % (port, root, tls))
            # The client's close (or its end) releases the server.
            while self.rfile.read(4096):
                pass
        finally:
            if server is not None:
                server.kill()
                server.wait()
            shutil.rmtree(root, ignore_errors=True)
            shutil.rmtree(tls, ignore_errors=True)

    def reply(self, text):
        self.wfile.write((text + "\n").encode("utf-8"))
        self.wfile.flush()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    with Server(("127.0.0.1", args.port), Handler) as server:
        print("127.0.0.1:%d" % server.server_address[1], flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
