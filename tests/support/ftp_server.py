#!/usr/bin/python3
"""A loopback FTP server for the tests and the upload benchmark.

Serves one user on 127.0.0.1, port chosen by the system, printed as the first line of
standard output once the server listens. --refuse-active makes it answer PORT and EPRT with
425, as a server does that cannot reach a client behind NAT.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class RefusingActiveHandler(FTPHandler):
    def ftp_PORT(self, line):
        self.respond("425 Can't open data connection.")

    def ftp_EPRT(self, line):
        self.respond("425 Can't open data connection.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--refuse-active", action="store_true")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.home, perm="elradfmwMT")
    handler = RefusingActiveHandler if args.refuse_active else FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Test FTP server ready."
    handler.auth_failed_timeout = 0.1  # keeps the tests of wrong passwords quick

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
