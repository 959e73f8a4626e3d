#!/usr/bin/python3
"""pyftpdlib for the tests: one user, one root folder, 127.0.0.1 and a free port.

Prints "PORT <n>" once it listens. --without drops a command, which the server then answers
with 500 as an unknown one. With --certfile and --keyfile it takes TLS ("AUTH TLS") and requires
it for the login and the data connections.

A bad link on demand, for files (STOR and RETR; listings are left alone): --drop-data-every N
breaks every Nth file's data connection after its first chunk, --cut-once-at BYTES breaks the
first file transfer that passes that many bytes, --stall-once-at BYTES stops taking the first
upload there (the client's time-out ends it), and --drop-control-after N drops the control
connection of the session that completes the Nth upload, before its 226. A broken connection
is reset, as a lost link is, and answered "426". With --log every command line is printed as
"C <line>".
"""
import argparse
import logging
import socket
import struct
import sys
import threading

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
parser.add_argument("--drop-data-every", type=int, default=0)
parser.add_argument("--cut-once-at", type=int, default=0)
parser.add_argument("--stall-once-at", type=int, default=0)
parser.add_argument("--drop-control-after", type=int, default=0)
parser.add_argument("--log", action="store_true")
args = parser.parse_args()

LOCK = threading.Lock()
STATE = {"files": 0, "stored": 0, "cut": False, "stalled": False}


def log(text):
    with LOCK:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()


def reset(sock):
    """Closes with RST, as a link that goes away leaves the other side."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass


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


class ChaosDTP(Handler.dtp_handler):
    """A data connection that breaks off as the options say."""

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        self.counted = False
        self.drop = False
        self.stalled = False

    def _count(self):
        # Known only once the transfer began: a file has a file object, a listing none.
        if not self.counted and self.file_obj is not None:
            self.counted = True
            STATE["files"] += 1
            self.drop = bool(args.drop_data_every) and STATE["files"] % args.drop_data_every == 0

    def _check(self, moved):
        self._count()
        if not self.counted:
            return
        if args.stall_once_at and self.receive and not STATE["stalled"] and \
                moved >= args.stall_once_at:
            STATE["stalled"] = True
            self.stalled = True
            return
        cut = args.cut_once_at and not STATE["cut"] and moved >= args.cut_once_at
        if self.drop or cut:
            STATE["cut"] = STATE["cut"] or bool(cut)
            log(f"CUT {moved}")
            reset(self.socket)
            self._resp = ("426 Connection closed; transfer aborted.", logging.info)
            self.close()

    def readable(self):
        return not self.stalled and super().readable()

    def handle_read(self):
        super().handle_read()
        if not self._closed:
            self._check(self.tot_bytes_received)

    # The base class calls its own handle_read under this name.
    handle_read_event = handle_read

    def initiate_send(self):
        super().initiate_send()
        if not self._closed and not self.receive:
            self._check(self.tot_bytes_sent)

logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")


class Chaos(Handler):
    dtp_handler = ChaosDTP

    def pre_process_command(self, line, cmd, arg):
        if args.log:
            log("C " + line)
        super().pre_process_command(line, cmd, arg)

    def on_file_received(self, file):
        STATE["stored"] += 1
        if args.drop_control_after and STATE["stored"] == args.drop_control_after:
            log("DROP")
            reset(self.socket)
            self.close()


Handler = Chaos
Handler.authorizer = authorizer
Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items() if k not in args.without}

server = FTPServer(("127.0.0.1", 0), Handler)
# One write for the whole line: with PYTHONUNBUFFERED, print() writes its parts one by one.
sys.stdout.write(f"PORT {server.address[1]}\n")
sys.stdout.flush()
server.serve_forever()
