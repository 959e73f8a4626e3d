#!/usr/bin/python3
"""A scripted FTP server for the faults real servers won't produce on demand.

Usage: ftp_fault_server.py SCENARIO [CERT KEY [OTHER_CERT OTHER_KEY]]. Listens on 127.0.0.1 and
a free port, prints "PORT <n>", then serves every session in a thread of its own, behaving well
except where the scenario says otherwise. With a certificate and its key it answers "AUTH TLS"
and protects the data connections after "PROT P"; the other certificate is the one a
"tls-renegotiate" server switches to in the middle of a session.
Every command line received is printed as "C <hex of its bytes, line end included>", every
upload as "STORED <byte count>", and one the client broke off as "CUT <bytes so far>".

Scenarios of a server that never stops: "drip-greeting" and "drip-retr" send a byte every
0.2 s for 30 s, "endless-data" sends listing lines and "endless-line" one line without end for
as long as the client reads. "trickle-greeting" and "tls-trickle-handshake" send a byte every
4 ms, "tls-drip-handshake" one every 0.7 s; "tls-endless-after-stor" keeps sending on the data
connection of an upload, 1 KiB every 5 ms, after the client has ended it.

"garbled-further-sessions" greets every session but the first in words that are no FTP,
"drop-further-sessions" hangs up on them. "stor-550" refuses every upload for good.

"pasv-breaks-stor" answers a NOOP only after an upload, yet a PASV that has come by the end of
the file breaks the file off with 426, as a server that closes the data connection for a new
passive port may.

Transfers that end otherwise: "end-426" (a lone 426), "end-451", "end-225", "abort-426" (426,
then 226); "tls-cut-data" cuts the data connection half way without the TLS close notice.
"""
import select
import socket
import struct
import sys
import threading
import time

try:
    from OpenSSL import SSL
except ImportError:  # only the TLS scenarios need it
    SSL = None

SCENARIO = sys.argv[1]
CERT = sys.argv[2:4] if len(sys.argv) >= 4 else None
OTHER_CERT = sys.argv[4:6] if len(sys.argv) >= 6 else None
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
# Steps of the servers that trickle: faster than any poll the client makes, and slow enough that
# a handshake takes minutes.
TRICKLE_STEP = 0.004
HANDSHAKE_DRIP_STEP = 0.7


LOG_LOCK = threading.Lock()


def log(text):
    """One whole line in one write: sessions run in threads, and print() writes its parts one by
    one under PYTHONUNBUFFERED, so lines of two sessions could run into each other."""
    with LOG_LOCK:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()


def listener(backlog, receive_buffer=0):
    """A socket listening on 127.0.0.1 and a port the system picks. A receive buffer set here,
    before listening, holds for the connections it accepts and bounds their window."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if receive_buffer:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
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


def tls_context(certificate, max_tls12=False):
    context = SSL.Context(SSL.TLS_SERVER_METHOD)
    context.use_certificate_chain_file(certificate[0])
    context.use_privatekey_file(certificate[1])
    # Data connections resume the control connection's session.
    context.set_session_id(b"zorod-fault")
    if max_tls12:
        # Renegotiation exists up to TLS 1.2 only.
        context.set_max_proto_version(SSL.TLS1_2_VERSION)
    return context


CONTEXT = tls_context(CERT, SCENARIO == "tls-renegotiate") if CERT else None


def secured(sock):
    """The server side of a TLS connection over `sock`, its handshake done."""
    tls = SSL.Connection(CONTEXT, sock)
    tls.set_accept_state()
    tls.do_handshake()
    return tls


def trickled_handshake(sock, step):
    """Runs the server's side of a handshake through memory, sending what it says a byte per
    step, until the client leaves or DRIP_FOR is over."""
    tls = SSL.Connection(CONTEXT, None)
    tls.set_accept_state()
    sock.setblocking(False)
    pending = b""
    end = time.monotonic() + DRIP_FOR
    while time.monotonic() < end:
        try:
            got = sock.recv(65536)
            if not got:
                return
            tls.bio_write(got)
        except BlockingIOError:
            pass
        try:
            tls.do_handshake()
        except SSL.WantReadError:
            pass
        try:
            pending += tls.bio_read(65536)
        except SSL.WantReadError:
            pass
        if pending:
            sock.send(pending[:1])
            pending = pending[1:]
        time.sleep(step)


class Session:
    def __init__(self, conn):
        self.raw = conn
        self.conn = conn  # the control connection as replies go: plain, or its TLS side
        self.buffer = b""
        self.listener = None
        self.protected = False  # "PROT P": data connections over TLS
        self.renegotiating = False

    def reply(self, *lines):
        self.conn.sendall(b"".join(line.encode("cp1251") + b"\r\n" for line in lines))

    def receive(self):
        try:
            return self.conn.recv(65536)
        except Exception as e:  # a TLS end of either kind ends the session as EOF does
            if SSL and isinstance(e, (SSL.ZeroReturnError, SSL.SysCallError)):
                return b""
            raise

    def command(self):
        while b"\n" not in self.buffer:
            got = self.receive()
            if not got:
                return None, ""
            self.buffer += got
        raw, _, self.buffer = self.buffer.partition(b"\n")
        raw += b"\n"
        if self.renegotiating and not self.conn.renegotiate_pending():
            self.renegotiating = False
            log("RENEGOTIATED")
        log("C " + raw.hex())
        verb, _, arg = raw.decode("cp1251").rstrip("\r\n").partition(" ")
        return verb.upper(), arg

    def wait_for_client_to_leave(self):
        while self.receive():
            pass

    def pasv(self, announced="127,0,0,1", parentheses=True):
        # A slow server's small window keeps the file out of the system's buffers: the client
        # cannot get ahead of what the server has read by more than its own send buffer.
        self.listener = listener(1, 16384 if SCENARIO == "slow-stor" else 0)
        port = self.listener.getsockname()[1]
        numbers = f"{announced},{port >> 8},{port & 255}"
        if parentheses:
            return f"227 Entering Passive Mode ({numbers})."
        return f"227 Entering Passive Mode {numbers}"

    def accept_data(self, start_reply):
        """The data connection, after the start reply; over TLS when protected."""
        self.listener.settimeout(30)
        data, _ = self.listener.accept()
        self.listener.close()
        self.reply(start_reply)
        return secured(data) if self.protected else data

    def end_transfer(self):
        if SCENARIO == "silent-end":
            self.wait_for_client_to_leave()
            return False
        self.reply(*END_REPLIES.get(SCENARIO, ["226 Transfer complete."]))
        return True


# How the scenarios that end a transfer otherwise end it.
END_REPLIES = {
    "abort-426": ["426 Connection closed; transfer aborted.", "226 Closing data connection."],
    "end-426": ["426 Failure writing network stream."],
    "end-451": ["451 Local error in processing."],
    "end-225": ["225 Data connection open; no transfer in progress."],
}


def close_data(data, cut=False):
    """Ends a data connection: over TLS with the close notice, unless cut short."""
    if SSL and isinstance(data, SSL.Connection):
        if not cut:
            try:
                data.shutdown()
            except SSL.Error:
                pass
        data.sock_shutdown(socket.SHUT_RDWR)
    data.close()


def send_after_end(data):
    """Takes an upload until the client ends it, answers for it, and goes on sending 1 KiB every
    5 ms for a minute or until the client is gone."""
    data.setblocking(False)
    size, ended = 0, False
    end = time.monotonic() + 60
    while time.monotonic() < end:
        try:
            while chunk := data.recv(65536):
                size += len(chunk)
        except SSL.WantReadError:
            pass
        except SSL.ZeroReturnError:
            if not ended:
                ended = True
                yield size
        except (SSL.Error, OSError):
            return
        if not ended:
            time.sleep(0.005)
            continue
        try:
            data.send(b"z" * 1024)
        except SSL.WantWriteError:
            pass
        except (SSL.Error, OSError):
            return
        time.sleep(0.005)


DROP_LOCK = threading.Lock()
DROPPED = []
SESSIONS = []  # one entry a session begun


def broken_by_pasv(s, data):
    """Takes an upload, then looks at the control connection before it answers, as a server
    that handles its connections in any order may: a PASV there breaks the file off (True);
    any other command waits for its turn."""
    size = 0
    while chunk := data.recv(1 << 20):
        size += len(chunk)
    # The command may have come with the one before it, or still be on its way.
    waiting = s.buffer
    if not waiting and select.select([s.raw], [], [], 0.5)[0]:
        waiting = s.raw.recv(16, socket.MSG_PEEK)
    if waiting.upper().startswith(b"PASV"):
        data.close()
        log(f"CUT {size}")
        return True
    data.close()
    log(f"STORED {size}")
    return False


def take_drop():
    """True the first time only, whichever session asks."""
    with DROP_LOCK:
        first = not DROPPED
        DROPPED.append(True)
        return first


def serve(s):
    """Runs one session; returns when it is over."""
    with DROP_LOCK:
        SESSIONS.append(True)
        further = len(SESSIONS) > 1
    if SCENARIO == "garbled-further-sessions" and further:
        # Not an FTP server's words: a session that fails for no reason of their number.
        s.conn.sendall(b"HTTP/1.1 400 Bad Request\r\n\r\n")
        return
    if SCENARIO == "drop-further-sessions" and further:
        return  # hung up at once, as a server full of sessions may
    if SCENARIO == "silent":
        s.wait_for_client_to_leave()
        return
    if SCENARIO == "slow-greeting":
        time.sleep(1.5)
    if SCENARIO == "drip-greeting":
        s.conn.sendall(b"220 ")
        drip(s.conn, b"Welcome, slowly. ")
    if SCENARIO == "trickle-greeting":
        for c in b"220 " + b"Welcome, at a trickle. " * 400:
            s.conn.sendall(bytes([c]))
            time.sleep(TRICKLE_STEP)
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
        elif verb == "AUTH" and CERT:
            s.reply("234 Proceed with negotiation.")
            if SCENARIO in ("tls-trickle-handshake", "tls-drip-handshake"):
                step = TRICKLE_STEP if SCENARIO == "tls-trickle-handshake" else HANDSHAKE_DRIP_STEP
                trickled_handshake(s.raw, step)
                return
            s.conn = secured(s.raw)
        elif verb == "PBSZ" and CERT:
            s.reply("200 PBSZ=0")
        elif verb == "PROT" and CERT:
            s.protected = arg.upper() == "P"
            s.reply("200 Protection level set.")
        elif verb == "SIZE":
            s.reply(f"213 {len(RETR_DATA)}")
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
            if SCENARIO == "tls-renegotiate" and OTHER_CERT and not s.renegotiating:
                # Another certificate in the middle of the session, as a server taken over
                # would show.
                s.conn.set_context(tls_context(OTHER_CERT, True))
                s.conn.renegotiate()
                s.conn.do_handshake()
                s.renegotiating = True
            data = s.accept_data("150 Here it comes.")
            payload = LISTING if verb == "LIST" else RETR_DATA
            if SCENARIO == "tls-cut-data":
                data.sendall(payload[:len(payload) // 2])
                close_data(data, cut=True)
                s.reply("226 Transfer complete.")
                continue
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
            close_data(data)
            if not s.end_transfer():
                return
        elif verb == "STOR" and SCENARIO == "stor-550":
            # Refused before the data connection is taken, as a server that checks the
            # permission first does.
            s.reply("550 Permission denied.")
        elif verb == "STOR":
            data = s.accept_data("150 Send it.")
            if SCENARIO == "tls-endless-after-stor":
                for size in send_after_end(data):
                    log(f"STORED {size}")
                    s.reply("226 Transfer complete.")
                close_data(data, cut=True)
                continue
            if SCENARIO == "pasv-breaks-stor":
                s.reply("426 Transfer aborted." if broken_by_pasv(s, data)
                        else "226 Transfer complete.")
                continue
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
            except Exception as e:
                if not (SSL and isinstance(e, SSL.ZeroReturnError)):
                    if SSL and isinstance(e, SSL.Error):
                        data.close()
                        log(f"CUT {size}")
                        continue
                    raise
            close_data(data)
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
