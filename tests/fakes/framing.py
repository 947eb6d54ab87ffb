"""Wire framing of the client's TCP and datagram messages, for the fake servers.

Field encoding, big-endian throughout:
  byte    1 byte
  int16   2 bytes
  int32   4 bytes
  string  1 length byte n (0-255), then n bytes, no terminator
  tagged  1 tag byte, then a string
  raw     the bytes as given

A TCP frame is a 2-byte length L of the bytes that follow (L at most 8096), then L bytes.
Requests from the client: code byte, fields. Universe replies: result byte, code byte,
fields. World replies: code byte, fields. The world login request (code 5) is sent without
the length: byte 5, int16 session, byte avatars, int32 citizen number (8 bytes).
"""

import socket
import struct
import sys
import threading
import time

MAX_MESSAGE = 8096
WORLD_LOGIN_CODE = 5
WORLD_LOGIN_SIZE = 8


class FramingError(ValueError):
    pass


# ---- encoding -------------------------------------------------------------------------

def byte(value):
    return struct.pack(">B", value & 0xFF)


def int16(value):
    return struct.pack(">H", value & 0xFFFF)


def int32(value):
    return struct.pack(">I", value & 0xFFFFFFFF)


def _text_bytes(text):
    if text is None:
        return b""
    if isinstance(text, str):
        return text.encode("cp1252")
    return bytes(text)


def string(text):
    data = _text_bytes(text)
    if len(data) > 255:
        raise FramingError("string of %d bytes has no wire form" % len(data))
    return byte(len(data)) + data


def tagged(tag, text):
    return byte(tag) + string(text)


def raw(data):
    return bytes(data)


def frame(body, check=True):
    """Length-prefixed frame. check=False allows lengths the client must refuse."""
    body = bytes(body)
    if check and len(body) > MAX_MESSAGE:
        raise FramingError("frame body of %d bytes is above %d" % (len(body), MAX_MESSAGE))
    if len(body) > 0xFFFF:
        raise FramingError("frame body does not fit a 16-bit length")
    return int16(len(body)) + body


def request(code, *fields):
    return frame(byte(code) + b"".join(fields))


def universe_reply(rc, code, *fields):
    return frame(byte(rc) + byte(code) + b"".join(fields))


def world_reply(code, *fields):
    return frame(byte(code) + b"".join(fields))


def world_login(session, avatars, citizen):
    return byte(WORLD_LOGIN_CODE) + int16(session) + byte(avatars) + int32(citizen)


def split(data, sizes):
    """Cuts data into pieces of the given sizes; the rest is the last piece."""
    parts, pos = [], 0
    for n in sizes:
        parts.append(data[pos:pos + n])
        pos += n
    if pos < len(data):
        parts.append(data[pos:])
    return [p for p in parts if p]


# ---- decoding -------------------------------------------------------------------------

class Fields:
    """Reads fields off a message body; a read past the end raises FramingError."""

    def __init__(self, body):
        self.body = bytes(body)
        self.pos = 0

    def left(self):
        return len(self.body) - self.pos

    def at_end(self):
        return self.pos == len(self.body)

    def raw(self, n):
        if n > self.left():
            raise FramingError("read of %d bytes with %d left" % (n, self.left()))
        data = self.body[self.pos:self.pos + n]
        self.pos += n
        return data

    def byte(self):
        return self.raw(1)[0]

    def int16(self):
        return struct.unpack(">H", self.raw(2))[0]

    def int32(self):
        return struct.unpack(">I", self.raw(4))[0]

    def string(self):
        return self.raw(self.byte())

    def tagged(self):
        tag = self.byte()
        return tag, self.string()

    def rest(self):
        return self.raw(self.left())


class FrameReader:
    """Cuts a byte stream into frame bodies. With world_login set, a stream whose first
    byte is 5 starts with the 8-byte login that has no length."""

    def __init__(self, world_login=False):
        self.buffer = b""
        self.expect_login = world_login

    def feed(self, data):
        self.buffer += data
        out = []
        while True:
            if self.expect_login:
                if not self.buffer:
                    break
                if self.buffer[0] == WORLD_LOGIN_CODE:
                    if len(self.buffer) < WORLD_LOGIN_SIZE:
                        break
                    out.append(("login", self.buffer[:WORLD_LOGIN_SIZE]))
                    self.buffer = self.buffer[WORLD_LOGIN_SIZE:]
                self.expect_login = False
                continue
            if len(self.buffer) < 2:
                break
            length = struct.unpack(">H", self.buffer[:2])[0]
            if length > MAX_MESSAGE:
                raise FramingError("frame length %d above %d" % (length, MAX_MESSAGE))
            if len(self.buffer) < 2 + length:
                break
            out.append(("frame", self.buffer[2:2 + length]))
            self.buffer = self.buffer[2 + length:]
        return out


# ---- output shared by the fake servers ------------------------------------------------

_say_lock = threading.Lock()


def say(line):
    """One whole line on stdout; the C++ test reads it as soon as it is flushed."""
    with _say_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def serve_until_stdin_closes(server):
    """Reports the port, serves in the background and runs stdin lines as commands.

    Once stdin closes the server keeps running until it is killed."""
    say("port %d" % server.port)
    threading.Thread(target=server.serve, daemon=True).start()
    for line in sys.stdin:
        if not server.command(line):
            break
    else:
        threading.Event().wait()
    return 0


# ---- a listening peer -----------------------------------------------------------------

class Connection:
    """One accepted client. Every frame it sends is recorded in order."""

    def __init__(self, sock, world_login=False, on_frame=None):
        self.sock = sock
        self.reader = FrameReader(world_login)
        self.frames = []
        self.closed = False
        self.error = None
        self.cond = threading.Condition()
        self.on_frame = on_frame
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    break
                for kind, body in self.reader.feed(data):
                    # Reported before waiters wake, so a frame's line always precedes what
                    # a waiter prints next.
                    if self.on_frame:
                        self.on_frame(kind, body)
                    with self.cond:
                        self.frames.append((kind, body))
                        self.cond.notify_all()
        except (OSError, FramingError) as e:
            self.error = e
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def wait_frames(self, count, timeout=5.0):
        end = time.monotonic() + timeout
        with self.cond:
            while len(self.frames) < count and not self.closed:
                left = end - time.monotonic()
                if left <= 0:
                    break
                self.cond.wait(left)
            return len(self.frames) >= count

    def wait_closed(self, timeout=5.0):
        end = time.monotonic() + timeout
        with self.cond:
            while not self.closed:
                left = end - time.monotonic()
                if left <= 0:
                    break
                self.cond.wait(left)
            return self.closed

    def send(self, data):
        self.sock.sendall(bytes(data))

    def send_parts(self, parts, gap=0.05):
        """Each part in its own write, with a pause so the client sees them apart."""
        for i, part in enumerate(parts):
            if i:
                time.sleep(gap)
            self.sock.sendall(bytes(part))

    def close(self):
        hang_up(self.sock)


def hang_up(sock):
    """Ends a connection both ways, so the client sees its end at once, and closes it."""
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()


class Listener:
    """Listens on an ephemeral loopback port."""

    def __init__(self, host="127.0.0.1", port=0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]

    def accept(self, timeout=10.0, world_login=False, on_frame=None):
        self.sock.settimeout(timeout)
        try:
            sock, _ = self.sock.accept()
        except socket.timeout:
            return None
        sock.settimeout(None)
        return Connection(sock, world_login, on_frame)

    def close(self):
        self.sock.close()
