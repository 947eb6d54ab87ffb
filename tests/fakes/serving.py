"""What the fake universe and world servers share: one thread that serves the listener, every
connection and standard input, and the command line both take.

One thread answers a request as soon as it has read it: no thread is started for a new
connection and none waits for another to hand over the interpreter, which on a busy machine
cost milliseconds per reply.
"""

import argparse
import heapq
import itertools
import json
import os
import selectors
import sys
import time
import traceback

import framing

say = framing.say


class Connection:
    """One accepted client. What it is sent is written at once; what the socket cannot take
    yet is kept and written when it can, so a client that does not read holds up no other."""

    def __init__(self, server, cid, sock):
        self.server = server
        self.cid = cid
        self.sock = sock
        self.pending = b""
        self.closed = False
        sock.setblocking(False)

    def send(self, data):
        if self.sock.fileno() < 0:
            return
        self.pending += bytes(data)
        self.flush()

    def flush(self):
        try:
            while self.pending:
                self.pending = self.pending[self.sock.send(self.pending):]
        except BlockingIOError:
            pass
        except OSError:
            self.pending = b""  # the client is gone: nothing more reaches it
        self.server._watch(self)

    def close(self):
        """Ends the connection after what was sent before; an end the client had not made
        first is reported as if it had."""
        if self.sock.fileno() < 0:
            return
        if self.pending:
            try:
                self.sock.settimeout(5.0)
                self.sock.sendall(self.pending)
            except OSError:
                pass
            self.pending = b""
        reading = not self.closed
        self.closed = True
        self.server._watch(self)  # nothing more is waited for
        framing.hang_up(self.sock)
        if reading:
            self.server.later(0, lambda: self.server.ended(self, None))


class Server:
    """Base of a fake: a loopback listener, the connections by number (from 1) and the loop.

    A subclass answers received(conn, data), ended(conn, error) (the client closed, or what
    it sent cannot be read: nothing more is read from it) and command(line), False to quit."""

    def __init__(self, port=0, record=None):
        self.listener = framing.Listener("127.0.0.1", port)
        self.port = self.listener.port
        self.conns = {}
        self.next_id = 1
        self.record = open(record, "a") if record else None
        self.selector = selectors.DefaultSelector()
        self.timers = []
        self.order = itertools.count()

    def connection(self, cid, sock):
        return Connection(self, cid, sock)

    def received(self, conn, data):
        pass

    def ended(self, conn, error):
        pass

    def command(self, line):
        return True

    def write_record(self, entry):
        if self.record:
            self.record.write(json.dumps(entry) + "\n")
            self.record.flush()

    def later(self, delay, action):
        """Runs action after delay seconds, on the loop."""
        heapq.heappush(self.timers, (time.monotonic() + delay, next(self.order), action))

    # the loop
    def _watch(self, conn):
        """Watches conn for what it waits for: bytes to read until it has closed, room to
        write while something is kept."""
        if conn.sock.fileno() < 0:
            return
        events = (0 if conn.closed else selectors.EVENT_READ) | (selectors.EVENT_WRITE if conn.pending else 0)
        key = self.selector.get_map().get(conn.sock.fileno())
        if key is None:
            if events:
                self.selector.register(conn.sock, events, conn)
        elif not events:
            self.selector.unregister(conn.sock)
        elif key.events != events:
            self.selector.modify(conn.sock, events, conn)

    def _stop_reading(self, conn):
        if not conn.closed:
            conn.closed = True
            if conn.sock.fileno() >= 0:
                self._watch(conn)

    def _accept(self):
        try:
            sock, _ = self.listener.sock.accept()
        except OSError:
            return
        cid = self.next_id
        self.next_id += 1
        conn = self.connection(cid, sock)
        self.conns[cid] = conn
        self._watch(conn)
        say("accept %d" % cid)

    def _readable(self, conn):
        try:
            data = conn.sock.recv(65536)
        except BlockingIOError:
            return
        except OSError as e:
            self._stop_reading(conn)
            self.ended(conn, e)
            return
        if not data:
            self._stop_reading(conn)
            self.ended(conn, None)
            return
        try:
            self.received(conn, data)
        except framing.FramingError as e:
            self._stop_reading(conn)
            self.ended(conn, e)
        except Exception:
            # A fault of the fake's own: that connection is no longer read, the others go on.
            traceback.print_exc()
            self._stop_reading(conn)

    def serve(self):
        """Reports the port and serves until "quit"; once standard input closes, until the
        process is ended."""
        say("port %d" % self.port)
        self.listener.sock.setblocking(False)
        self.selector.register(self.listener.sock, selectors.EVENT_READ, "listener")
        stdin = sys.stdin.fileno()
        lines = b""
        try:
            self.selector.register(stdin, selectors.EVENT_READ, "stdin")
        except OSError:
            # A file (or /dev/null) cannot be waited on, and never makes a read wait: its
            # commands are taken now.
            for line in sys.stdin.buffer:
                if not self.command(line.decode("utf-8", "replace")):
                    return 0
        while True:
            timeout = None
            if self.timers:
                timeout = max(0.0, self.timers[0][0] - time.monotonic())
            for key, events in self.selector.select(timeout):
                if key.data == "listener":
                    self._accept()
                elif key.data == "stdin":
                    chunk = os.read(stdin, 65536)
                    if not chunk:
                        self.selector.unregister(stdin)
                        chunk = b"\n" if lines else b""  # ends the last line
                    lines += chunk
                    while b"\n" in lines:
                        line, lines = lines.split(b"\n", 1)
                        if not self.command(line.decode("utf-8", "replace") + "\n"):
                            return 0
                else:
                    conn = key.data
                    if events & selectors.EVENT_WRITE:
                        conn.flush()
                    if events & selectors.EVENT_READ and not conn.closed:
                        self._readable(conn)
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                _, _, action = heapq.heappop(self.timers)
                action()


def main(argv, description, make, options=None):
    """The command line of a fake: --config FILE and --json TEXT (merged over it), --port,
    --record; options(parser) adds more and returns what folds them into the configuration.
    make(config, port, record) gives the server."""
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--config")
    p.add_argument("--json")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--record")
    fold = options(p) if options else None
    a = p.parse_args(argv)
    config = {}
    if a.config:
        with open(a.config) as fh:
            config = json.load(fh)
    if a.json:
        config.update(json.loads(a.json))
    if fold:
        fold(a, config)
    return make(config, a.port, a.record).serve()
