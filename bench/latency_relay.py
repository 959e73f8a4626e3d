#!/usr/bin/python3
"""An FTP-aware TCP relay that puts a distant server on loopback, for benchmarks.

Usage: latency_relay.py SERVER_PORT DELAY_MS [--drop-data-every N] [--cut-once-at BYTES]
                       [--address ADDRESS --ports LOW-HIGH] [--log FILE] [--plain].
Listens on 127.0.0.1 and a free port, prints "PORT <n>", and relays every control connection to
127.0.0.1:SERVER_PORT.

Over TLS the replies cannot be read, so a PASV cannot be rewritten: with --address and --ports
the relay listens on ADDRESS (another loopback address, 127.0.0.2) at SERVER_PORT and at every
port of the range, and relays each as it is to the same port on 127.0.0.1. The server announces
ADDRESS as its passive address and the range as its passive ports (vsftpd's pasv_address,
pasv_min_port and pasv_max_port). It then prints "PORT <SERVER_PORT>".

With --log, every chunk either way is written to FILE as it reaches the other side:
"<seconds> <connection> <c|d> <up|down|open|end> <bytes>", connection numbers counting from 1,
c for control and d for data connections. Round trips are counted from it: each time the
client's side speaks after a reply came down, one more.

Each byte, either way, on the control connection and on every passive data connection, arrives
DELAY_MS after it was sent; the end of a stream travels behind its bytes. A new connection
costs what a real link's handshake costs: the relay reaches the server one and a half round
trips after the client connected (when the server would see the handshake's last packet), so
its greeting or its accepting a data connection comes no sooner than there, and nothing the
client sends reaches the server before then. Replies to PASV (227) and EPSV (229) are rewritten
to name a one-shot data listener of the relay's own, which relays to the server's data port the
same way. At most 16 MiB are in flight each way, so the delay is paid once per exchange and
does not cap the throughput of a big transfer.

A bad link on demand: --drop-data-every N breaks every Nth data connection once its first bytes
went up, --cut-once-at BYTES the first one whose upload passes that many bytes; both ends get a
reset, as when a link goes away. Each data connection's bytes up are printed when it ends, as
"UP <bytes>".

With --plain the connection is relayed as bytes, for any protocol but FTP (SSH, say).

Runs until killed.
"""
import argparse
import asyncio
import re
import socket
import struct
import sys
import time

HOST = "127.0.0.1"
IN_FLIGHT = 16 * 1024 * 1024
CHUNK = 256 * 1024

PASV = re.compile(rb"^227 (.*?)(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)(.*)$", re.S)
EPSV = re.compile(rb"^229 (.*)\(\|\|\|(\d+)\|\)(.*)$", re.S)


class Chaos:
    """Which data connections the link breaks."""

    def __init__(self, every, cut_at):
        self.every = every
        self.cut_at = cut_at
        self.count = 0
        self.cut_done = False

    def new_connection(self):
        self.count += 1
        return bool(self.every) and self.count % self.every == 0


CHAOS = Chaos(0, 0)


class Log:
    """The chunks as they arrive, for counting round trips; off without --log."""

    def __init__(self):
        self.out = None
        self.count = 0
        self.start = time.monotonic()

    def connection(self):
        self.count += 1
        return self.count

    def write(self, number, kind, what, size):
        if self.out:
            self.out.write("%.4f %d %s %s %d\n" % (time.monotonic() - self.start, number, kind,
                                                    what, size))
            self.out.flush()


LOG = Log()


class Pipe:
    """One direction of a relayed connection: reads now, writes each chunk DELAY later."""

    def __init__(self, delay, reader, writer, not_before=0.0, rewrite=None, breaker=None,
                 tag=None):
        self.delay = delay
        self.tag = tag  # (connection, kind, direction) for the log
        self.reader = reader
        self.writer = writer
        self.not_before = not_before
        self.rewrite = rewrite
        self.breaker = breaker  # called with the bytes read so far; True breaks the link
        self.broken = False  # the link breaks once what was read so far has gone on
        self.total = 0
        self.on_break = None
        self.queue = asyncio.Queue()
        self.in_flight = 0
        self.room = asyncio.Event()
        self.room.set()

    async def read(self):
        pending = b""
        try:
            while True:
                data = await self.reader.read(CHUNK)
                if not data:
                    break
                self.total += len(data)
                if self.breaker and self.breaker(self.total):
                    self.broken = True
                    self.queue.put_nowait((time.monotonic() + self.delay, data))
                    break
                if self.rewrite:
                    pending += data
                    lines = pending.split(b"\n")
                    pending = lines.pop()
                    data = b"".join([await self.rewrite(line + b"\n") for line in lines])
                    if not data:
                        continue
                await self.room.wait()
                self.in_flight += len(data)
                if self.in_flight >= IN_FLIGHT:
                    self.room.clear()
                self.queue.put_nowait((time.monotonic() + self.delay, data))
        except (ConnectionError, OSError):
            pass
        if pending:
            self.queue.put_nowait((time.monotonic() + self.delay, pending))
        self.queue.put_nowait((time.monotonic() + self.delay, None))

    async def write(self):
        try:
            while True:
                due, data = await self.queue.get()
                wait = max(due, self.not_before) - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if self.tag:
                    LOG.write(*self.tag, 0 if data is None else len(data))
                if data is None:
                    # A link that broke ends with a reset both ways once the bytes before the
                    # break are through, never with an orderly end that would pass them for the
                    # whole.
                    if self.broken:
                        await asyncio.sleep(self.delay)
                        abort(self.writer)
                        if self.on_break:
                            self.on_break()
                        return
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    await self.writer.drain()
                    return
                self.writer.write(data)
                await self.writer.drain()
                self.in_flight -= len(data)
                if self.in_flight < IN_FLIGHT:
                    self.room.set()
        except (ConnectionError, OSError):
            pass


def abort(*writers):
    """Resets the connections: a close alone would be an orderly end, which a server takes for
    the end of the file."""
    for w in writers:
        if w is not None:
            sock = w.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            w.transport.abort()


async def relay(delay, client_reader, client_writer, server_port, rewrite=None, data=False):
    """Relays one accepted client connection to the server's port, both ways delayed."""
    number = LOG.connection()
    kind = "d" if data else "c"
    LOG.write(number, kind, "open", 0)
    # The server takes the connection when the client's last handshake packet would reach it;
    # what the client sends meanwhile is on its way and arrives no sooner than that.
    opened = time.monotonic() + 3 * delay
    breaker = None
    if data:
        drop = CHAOS.new_connection()

        def breaker(total):
            cut = CHAOS.cut_at and not CHAOS.cut_done and total >= CHAOS.cut_at
            if drop or cut:
                CHAOS.cut_done = CHAOS.cut_done or bool(cut)
                return True
            return False
    up = Pipe(delay, client_reader, None, not_before=opened, breaker=breaker,
              tag=(number, kind, "up"))
    up.on_break = lambda: abort(client_writer)
    reading = asyncio.ensure_future(up.read())
    await asyncio.sleep(max(0.0, opened - time.monotonic()))
    try:
        server_reader, server_writer = await asyncio.open_connection(HOST, server_port)
    except OSError:
        reading.cancel()
        client_writer.close()
        return
    up.writer = server_writer
    down = Pipe(delay, server_reader, client_writer, rewrite=rewrite, tag=(number, kind, "down"))
    await asyncio.gather(reading, up.write(), down.read(), down.write())
    for w in (server_writer, client_writer):
        w.close()
    if data:
        sys.stdout.write("UP %d\n" % up.total)
        sys.stdout.flush()


async def data_listener(delay, server_port):
    """A listener for one data connection; returns its port."""
    done = asyncio.Event()
    server = None

    async def accept(reader, writer):
        server.close()
        await relay(delay, reader, writer, server_port, data=True)
        done.set()

    server = await asyncio.start_server(accept, HOST, 0)
    port = server.sockets[0].getsockname()[1]

    async def expire():
        # A data connection nobody opened is given up after a while.
        try:
            await asyncio.wait_for(done.wait(), 120)
        except asyncio.TimeoutError:
            server.close()

    asyncio.ensure_future(expire())
    return port


async def control(delay, server_port, reader, writer):
    async def rewrite(line):
        m = PASV.match(line)
        if m:
            port = await data_listener(delay, int(m.group(6)) * 256 + int(m.group(7)))
            return b"227 %s127,0,0,1,%d,%d%s" % (m.group(1), port // 256, port % 256, m.group(8))
        m = EPSV.match(line)
        if m:
            port = await data_listener(delay, int(m.group(2)))
            return b"229 %s(|||%d|)%s" % (m.group(1), port, m.group(3))
        return line

    await relay(delay, reader, writer, server_port, rewrite)


async def main():
    global CHAOS
    parser = argparse.ArgumentParser()
    parser.add_argument("server_port", type=int)
    parser.add_argument("delay_ms", type=float)
    parser.add_argument("--drop-data-every", type=int, default=0)
    parser.add_argument("--cut-once-at", type=int, default=0)
    # Any protocol but FTP (SSH, say): bytes pass as they are, nothing is read as a reply.
    parser.add_argument("--plain", action="store_true")
    parser.add_argument("--address")
    parser.add_argument("--ports")
    parser.add_argument("--log")
    args = parser.parse_args()
    CHAOS = Chaos(args.drop_data_every, args.cut_once_at)
    if args.log:
        LOG.out = open(args.log, "w")
    server_port = args.server_port
    delay = args.delay_ms / 1000.0
    if args.address:
        low, high = (int(p) for p in args.ports.split("-"))
        servers = [await asyncio.start_server(
            lambda r, w: relay(delay, r, w, server_port), args.address, server_port)]
        for port in range(low, high + 1):
            servers.append(await asyncio.start_server(
                lambda r, w, port=port: relay(delay, r, w, port, data=True), args.address, port))
        sys.stdout.write("PORT %d\n" % server_port)
        sys.stdout.flush()
        await asyncio.gather(*(s.serve_forever() for s in servers))
        return
    if args.plain:
        server = await asyncio.start_server(
            lambda r, w: relay(delay, r, w, server_port), HOST, 0)
    else:
        server = await asyncio.start_server(
            lambda r, w: control(delay, server_port, r, w), HOST, 0)
    # One write for the whole line, which print() would split under PYTHONUNBUFFERED.
    sys.stdout.write("PORT %d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
