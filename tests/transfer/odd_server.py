#!/usr/bin/env python3
"""A small HTTP server on loopback that misbehaves on purpose, for the transfer tests.

Paths:
  /length/N          N body bytes with a correct Content-Length and a fixed Last-Modified
  /nolength/N        N bytes, no Content-Length, ended by closing the connection
  /chunked/N         N bytes in chunks of varying size, no Content-Length
  /short/A/N         announces A bytes, sends N < A, closes
  /long/A/N          announces A bytes, sends N > A, closes
  /stall-headers     reads the request and sends nothing
  /stall-body/A/N    announces A bytes, sends N, then nothing
  /slow/MS/N         waits MS milliseconds, then N bytes with a Content-Length
  /status/CODE       replies with that status and a short body
  /badlength         a Content-Length that is not a number
  /redirect/N        302 to /length/N
  /echo              the request's header lines as the body
  /flaky/K/N/...     the first K requests of this exact path stall, later ones get N bytes
  /trickle/MS/N/...  announces N bytes and sends one every MS milliseconds
  /drip/FIRST/CHUNK/MS/N/...  sends FIRST bytes at once, then CHUNK bytes every MS
                     milliseconds, N in all (announced); N of 0: no Content-Length, no end
  /down/CODE/N/...   says "asked PATH", replies CODE ("503r": 503 with Retry-After) until
                     "up" comes on stdin (said back), then N bytes
  /w/FOLDER/KIND_A_B.EXT  a file of an object tree, served as /KIND/A/B
Body byte i is i % 251. The first line on stdout is "PORT <n>", once it listens; then
"held PATH" for each flaky request it holds and "trickle PATH" for each trickle request.
"""
import socket
import socketserver
import sys
import threading
import time

LAST_MODIFIED = "Sat, 01 Jan 2022 10:00:00 GMT"
COUNTS = {}
COUNT_LOCK = threading.Lock()
UP = threading.Event()


def body(n):
    return bytes(i % 251 for i in range(n))


BLOCK = body(251 * 300)


def body_from(start, n):
    """Body bytes start .. start + n - 1."""
    out = b""
    while n > 0:
        at = start % 251
        piece = BLOCK[at:at + min(n, len(BLOCK) - 251)]
        out += piece
        start += len(piece)
        n -= len(piece)
    return out


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        self.request.settimeout(10)
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return None, []
            data += chunk
        head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        return (parts[1] if len(parts) > 1 else "/"), lines[1:]

    def send(self, data):
        try:
            self.request.sendall(data)
        except OSError:
            pass

    def reply(self, code, payload, length=None, extra=""):
        head = "HTTP/1.1 %d X\r\nConnection: close\r\n" % code
        if length is not None:
            head += "Content-Length: %s\r\n" % length
        head += extra + "\r\n"
        self.send(head.encode("latin-1") + payload)

    def hold(self, seconds=30):
        # Keeps the connection open without sending, until the client gives up.
        self.request.settimeout(seconds)
        try:
            while self.request.recv(1024):
                pass
        except OSError:
            pass

    def handle(self):
        path, headers = self.read_request()
        if path is None:
            return
        if path.startswith("http://"):
            # Asked as a proxy: the path follows the host.
            rest = path[len("http://"):]
            path = rest[rest.find("/"):] if "/" in rest else "/"
        p = path.strip("/").split("/")
        kind, args = p[0], [a for a in p[1:]]
        if kind == "w" and len(args) >= 2:
            spec = args[-1].split(".")[0].split("_")
            kind, args = spec[0], spec[1:]
        lm = "Last-Modified: %s\r\n" % LAST_MODIFIED
        if kind == "length":
            n = int(args[0])
            self.reply(200, body(n), n, lm)
        elif kind == "nolength":
            self.reply(200, body(int(args[0])), None, lm)
        elif kind == "chunked":
            n = int(args[0])
            data = body(n)
            out = b""
            i, step = 0, 1
            while i < n:
                piece = data[i:i + step]
                out += b"%x\r\n" % len(piece) + piece + b"\r\n"
                i += len(piece)
                step = step * 3 + 7
            out += b"0\r\n\r\n"
            self.reply(200, out, None, "Transfer-Encoding: chunked\r\n" + lm)
        elif kind == "short" or kind == "long":
            self.reply(200, body(int(args[1])), int(args[0]), lm)
        elif kind == "stall-headers":
            self.hold()
        elif kind == "stall-body":
            self.reply(200, body(int(args[1])), int(args[0]), lm)
            self.hold()
        elif kind == "slow":
            time.sleep(int(args[0]) / 1000.0)
            n = int(args[1])
            self.reply(200, body(n), n, lm)
        elif kind == "status":
            self.reply(int(args[0]), b"status body", 11)
        elif kind == "badlength":
            self.reply(200, b"abc", "abc")
        elif kind == "redirect":
            self.reply(302, b"", 0, "Location: /length/%s\r\n" % args[0])
        elif kind == "flaky":
            with COUNT_LOCK:
                COUNTS[path] = COUNTS.get(path, 0) + 1
                seen = COUNTS[path]
            if seen <= int(args[0]):
                print("held %s" % path, flush=True)
                self.hold()
            else:
                n = int(args[1])
                self.reply(200, body(n), n, lm)
        elif kind == "trickle":
            ms, n = int(args[0]), int(args[1])
            print("trickle %s" % path, flush=True)
            head = "HTTP/1.1 200 X\r\nConnection: close\r\nContent-Length: %d\r\n%s\r\n" % (n, lm)
            try:
                self.request.sendall(head.encode("latin-1"))
                for i in range(n):
                    time.sleep(ms / 1000.0)
                    self.request.sendall(bytes([i % 251]))
            except OSError:
                pass
        elif kind == "drip":
            first, chunk, ms, n = (int(a) for a in args[:4])
            head = "HTTP/1.1 200 X\r\nConnection: close\r\n"
            if n:
                head += "Content-Length: %d\r\n" % n
            head += lm + "\r\n"
            sent = min(first, n) if n else first
            try:
                self.request.sendall(head.encode("latin-1") + body_from(0, sent))
                while not n or sent < n:
                    time.sleep(ms / 1000.0)
                    piece = min(chunk, n - sent) if n else chunk
                    self.request.sendall(body_from(sent, piece))
                    sent += piece
            except OSError:
                pass
        elif kind == "down":
            with COUNT_LOCK:  # one whole line per request, whatever runs at once
                print("asked %s" % path, flush=True)
            up, later = UP.is_set(), "Retry-After: 1\r\n" if args[0].endswith("r") else ""
            self.reply(*((200, body(int(args[1])), int(args[1]), lm) if up else (int(args[0][:3]), b"down", 4, later)))
        elif kind == "echo":
            text = "\r\n".join(headers).encode("latin-1")
            self.reply(200, text, len(text))
        else:
            self.reply(404, b"none", 4)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Ends when the test closes our stdin (or dies).
    try:
        for line in sys.stdin:
            if line.strip() == "up":
                UP.set()
                print("up", flush=True)
    except KeyboardInterrupt:
        pass
    server.shutdown()


if __name__ == "__main__":
    main()
