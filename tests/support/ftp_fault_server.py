#!/usr/bin/python3
"""A scripted FTP server for the faults real servers won't produce on demand.

Usage: ftp_fault_server.py SCENARIO. Listens on 127.0.0.1 and a free port, prints "PORT <n>",
then serves every session in a thread of its own, behaving well except where the scenario says
otherwise.
Every command line received is printed as "C <hex of its bytes, line end included>", every
upload as "STORED <byte count>", and one the client broke off as "CUT <bytes so far>".

Scenarios of a server that never stops: "drip-greeting" and "drip-retr" send a byte every
0.2 s for 30 s, "endless-data" sends listing lines and "endless-line" one line without end for
as long as the client reads.
"""
import socket
import struct
import sys
import threading
import time

SCENARIO = sys.argv[1]
# What RETR sends: 1 MiB of every byte value.
RETR_DATA = bytes(range(256)) * 4096
LISTING = (b"drwxr-xr-x    2 0        0            4096 Dec 09 04:59 etc\r\n"
           b"-rw-r--r--    1 0        0              20 Dec 09 04:59 index.php\r\n")
# The commands every scenario answers alike, and their replies.
PLAIN_REPLIES = {
    "PASS": "230 Logged in.",
    "TYPE": "200 Binary it is.",
    "CWD": "250 Okay.",
    "DELE": "250 Deleted.",
    "RNFR": "350 Ready for RNTO.",
    "RNTO": "250 Renamed.",
}
# How long a dripping server keeps it up before it finishes what it sends, one byte a step.
DRIP_FOR = 30
DRIP_STEP = 0.2


LOG_LOCK = threading.Lock()


def log(text):
    """One whole line in one write: sessions run in threads, and print() writes its parts one by
    one under PYTHONUNBUFFERED, so lines of two sessions could run into each other."""
    with LOG_LOCK:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()


def listener(backlog):
    """A socket listening on 127.0.0.1 and a port the system picks."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(backlog)
    return sock


def drip(sock, payload):
    """Sends a byte at a time, never leaving the line quiet for long, for DRIP_FOR seconds."""
    end = time.monotonic() + DRIP_FOR
    i = 0
    while time.monotonic() < end:
        sock.sendall(payload[i % len(payload):i % len(payload) + 1])
        i += 1
        time.sleep(DRIP_STEP)


def endless(sock, chunk):
    """Sends for as long as the other side takes it."""
    while True:
        sock.sendall(chunk)


def reset(sock):
    """Closes with RST instead of FIN, as a crashed or killed peer does."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Session:
    def __init__(self, conn):
        self.conn = conn
        self.reader = conn.makefile("rb")
        self.listener = None

    def reply(self, *lines):
        self.conn.sendall(b"".join(line.encode("cp1251") + b"\r\n" for line in lines))

    def command(self):
        raw = self.reader.readline()
        if not raw:
            return None, ""
        log("C " + raw.hex())
        verb, _, arg = raw.decode("cp1251").rstrip("\r\n").partition(" ")
        return verb.upper(), arg

    def wait_for_client_to_leave(self):
        self.reader.read()

    def pasv(self, announced="127,0,0,1", parentheses=True):
        self.listener = listener(1)
        port = self.listener.getsockname()[1]
        numbers = f"{announced},{port >> 8},{port & 255}"
        if parentheses:
            return f"227 Entering Passive Mode ({numbers})."
        return f"227 Entering Passive Mode {numbers}"

    def accept_data(self):
        self.listener.settimeout(30)
        data, _ = self.listener.accept()
        self.listener.close()
        return data

    def end_transfer(self):
        if SCENARIO == "abort-426":
            self.reply("426 Connection closed; transfer aborted.", "226 Closing data connection.")
        elif SCENARIO == "silent-end":
            self.wait_for_client_to_leave()
            return False
        else:
            self.reply("226 Transfer complete.")
        return True


DROP_LOCK = threading.Lock()
DROPPED = []


def take_drop():
    """True the first time only, whichever session asks."""
    with DROP_LOCK:
        first = not DROPPED
        DROPPED.append(True)
        return first


def serve(s):
    """Runs one session; returns when it is over."""
    if SCENARIO == "silent":
        s.wait_for_client_to_leave()
        return
    if SCENARIO == "slow-greeting":
        time.sleep(1.5)
    if SCENARIO == "drip-greeting":
        s.conn.sendall(b"220 ")
        drip(s.conn, b"Welcome, slowly. ")
    if SCENARIO == "multiline-greeting":
        s.reply("220-Добро пожаловать", "  an indented line", "Other text with 220 inside",
                "220-still the greeting", "220 Ready.")
    else:
        s.reply("220 Fault server ready.")
    if SCENARIO == "drop-after-greeting":
        return
    while True:
        verb, arg = s.command()
        if verb is None:
            return
        if verb == "USER":
            if SCENARIO == "drop-after-user":
                return
            s.reply("230 Logged in, no password needed." if SCENARIO == "user-230"
                    else "331 Password, please.")
        elif verb in PLAIN_REPLIES:
            s.reply(PLAIN_REPLIES[verb])
        elif verb == "SYST":
            s.reply({"syst-500": "500 SYST not understood.",
                     "syst-502": "502 SYST not implemented."}.get(SCENARIO, "215 UNIX Type: L8"))
        elif verb == "PASV":
            if SCENARIO == "pasv-bare":
                s.reply(s.pasv(parentheses=False))
            elif SCENARIO == "pasv-elsewhere":
                # Not the address the client talks to; the listener is on 127.0.0.1 only.
                s.reply(s.pasv(announced="127,0,0,2"))
            else:
                s.reply(s.pasv())
            if SCENARIO == "drop-after-pasv":
                return
        elif verb in ("LIST", "RETR"):
            data = s.accept_data()
            s.reply("150 Here it comes.")
            payload = LISTING if verb == "LIST" else RETR_DATA
            if SCENARIO == "drip-retr":
                drip(data, payload)
            if SCENARIO == "endless-data":
                endless(data, LISTING * 1024)
            if SCENARIO == "endless-line":
                endless(data, b"x" * 65536)
            if SCENARIO in ("drop-mid-retr", "stall-mid-retr"):
                data.sendall(payload[:len(payload) // 4])
                if SCENARIO == "stall-mid-retr":
                    s.wait_for_client_to_leave()
                data.close()
                return
            data.sendall(payload)
            data.close()
            if not s.end_transfer():
                return
        elif verb == "STOR":
            data = s.accept_data()
            s.reply("150 Send it.")
            # "drop-once-stor" drops the session that first sends a file named "drop...".
            dropping = SCENARIO == "drop-once-stor" and "/drop" in arg and take_drop()
            if SCENARIO in ("drop-mid-stor", "reset-mid-stor") or dropping:
                got = 0
                while got < 65536:
                    chunk = data.recv(65536 - got)
                    if not chunk:
                        break
                    got += len(chunk)
                reset(data)
                if SCENARIO == "drop-mid-stor" or dropping:
                    return
                s.reply("426 Connection reset by peer; transfer aborted.",
                        "226 Closing data connection.")
                continue
            size = 0
            # "slow-stor" takes the file at a trickle, so the client has to wait for it.
            step = 16384 if SCENARIO == "slow-stor" else 1 << 20
            try:
                while chunk := data.recv(step):
                    size += len(chunk)
                    if SCENARIO == "slow-stor":
                        time.sleep(0.01)
            except ConnectionResetError:
                # The client broke the transfer off: a cut file, not a stored one.
                data.close()
                log(f"CUT {size}")
                continue
            data.close()
            log(f"STORED {size}")
            if not s.end_transfer():
                return
        elif verb == "MKD":
            s.reply(f'257 "{arg}" created.')
        elif verb == "QUIT":
            s.reply("221 Goodbye.")
            return
        else:
            s.reply(f'500 Command "{verb}" not understood.')


def session(conn):
    try:
        serve(Session(conn))
    except OSError as e:
        log(f"SESSION ENDED {e!r}")
    finally:
        conn.close()


def main():
    server = listener(8)
    log(f"PORT {server.getsockname()[1]}")
    while True:
        conn, _ = server.accept()
        threading.Thread(target=session, args=(conn,), daemon=True).start()


main()
