#!/usr/bin/env python3
"""A slow object server on loopback: files of a folder, sent in small pieces with a pause
between them, so that a transfer is seen running.

  throttled.py [--closed] DIR [CHUNK_BYTES [PAUSE_MS]]

With --closed it takes its port but refuses every connection until the line "open" comes on
stdin; it then listens and says "open".

It also answers requests that name a full address ("GET http://host:port/path"), as an HTTP
proxy receives them, serving the path from the same folder. GET /_requests gives the request
targets seen so far, one a line (that request itself not counted). The first line on stdout
is "PORT <n>".
"""
import http.server
import os
import sys
import threading
import time
import urllib.parse

CLOSED = "--closed" in sys.argv[1:]
ARGS = [a for a in sys.argv[1:] if a != "--closed"]
ROOT = os.path.abspath(ARGS[0]) if len(ARGS) > 0 else os.getcwd()
CHUNK = int(ARGS[1]) if len(ARGS) > 1 else 256
PAUSE = (int(ARGS[2]) if len(ARGS) > 2 else 100) / 1000.0
SEEN = []
SEEN_LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        target = self.path
        if target == "/_requests":
            with SEEN_LOCK:
                text = "".join(t + "\n" for t in SEEN).encode()
            self.reply(200, text)
            return
        with SEEN_LOCK:
            SEEN.append(target)
        path = urllib.parse.urlsplit(target).path if "://" in target else target.split("?")[0]
        local = os.path.abspath(os.path.join(ROOT, urllib.parse.unquote(path).lstrip("/")))
        # Nothing outside the folder is served.
        if not local.startswith(ROOT + os.sep) or not os.path.isfile(local):
            self.reply(404, b"not found")
            return
        with open(local, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Last-Modified", self.date_time_string(os.path.getmtime(local)))
        self.end_headers()
        try:
            for i in range(0, len(data), CHUNK):
                self.wfile.write(data[i:i + CHUNK])
                self.wfile.flush()
                time.sleep(PAUSE)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def reply(self, code, body):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler, bind_and_activate=not CLOSED)
    server.daemon_threads = True
    if CLOSED:
        # Bound but not listening: a connect to the port is refused.
        server.server_bind()
    print("PORT %d" % server.server_address[1], flush=True)
    if CLOSED:
        for line in sys.stdin:
            if line.strip() == "open":
                break
        else:
            return
        server.server_activate()
        print("open", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
