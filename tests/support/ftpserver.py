#!/usr/bin/python3
"""A local FTP server for the upload tests.

Serves --root to one user on 127.0.0.1, with a writable "dane" folder, and
prints the port it listens on (a free one with --port 0) as its first line on
standard output. Runs until it is killed.
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="qv")
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    os.makedirs(os.path.join(args.root, "dane"), exist_ok=True)

    authorizer = DummyAuthorizer()
    # enter, list, read, and store (no delete, rename or folder creation)
    authorizer.add_user(args.user, args.password, args.root, perm="elrw")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "Test server ready."
    # Refused logins answer at once instead of after the usual pause.
    Handler.auth_failed_timeout = 0

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer(("127.0.0.1", args.port), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
