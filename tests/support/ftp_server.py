#!/usr/bin/env python3
"""Loopback FTP server for the engine's FTP login tests.

Usage: ftp_server.py LOGIN HOME PORT

Serves one user whose name and password are both LOGIN, with the existing
folder HOME as its read-only root, on 127.0.0.1:PORT. Prints one line per
login attempt: "LOGIN-OK <user>" or "LOGIN-FAILED <user>". Stops on
SIGTERM, and by itself when the test that started it is gone or after a hard
time limit, so it never outlives the test.
"""
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

HARD_LIMIT_SECONDS = 120


class ReportingHandler(FTPHandler):
    # A failed login is answered at once; the default delay only slows tests.
    auth_failed_timeout = 0

    def on_login(self, username):
        print(f"LOGIN-OK {username}", flush=True)

    def on_login_failed(self, username, password):
        print(f"LOGIN-FAILED {username}", flush=True)


def main():
    if len(sys.argv) != 4:
        print("usage: ftp_server.py LOGIN HOME PORT", file=sys.stderr)
        return 2
    login, home, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(login, login, home, perm="elr")
    ReportingHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", port), ReportingHandler)

    parent = os.getppid()
    deadline = time.monotonic() + HARD_LIMIT_SECONDS
    while time.monotonic() < deadline and os.getppid() == parent:
        server.serve_forever(timeout=0.05, blocking=False)
    server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
