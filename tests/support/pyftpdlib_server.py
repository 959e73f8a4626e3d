#!/usr/bin/python3
"""pyftpdlib for the tests: one user, one root folder, 127.0.0.1 and a free port.

Prints "PORT <n>" once it listens. --without drops a command, which the server then answers
with 500 as an unknown one. With --certfile and --keyfile it takes TLS ("AUTH TLS") and requires
it for the login and the data connections.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--user", required=True)
parser.add_argument("--password", required=True)
parser.add_argument("--without", action="append", default=[])
parser.add_argument("--certfile")
parser.add_argument("--keyfile")
args = parser.parse_args()

logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")


if args.certfile:
    from pyftpdlib.handlers import TLS_FTPHandler

    class Handler(TLS_FTPHandler):
        certfile = args.certfile
        keyfile = args.keyfile
        tls_control_required = True
        tls_data_required = True
else:
    class Handler(FTPHandler):
        pass


Handler.authorizer = authorizer
Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items() if k not in args.without}

server = FTPServer(("127.0.0.1", 0), Handler)
# One write for the whole line: with PYTHONUNBUFFERED, print() writes its parts one by one.
sys.stdout.write(f"PORT {server.address[1]}\n")
sys.stdout.flush()
server.serve_forever()
