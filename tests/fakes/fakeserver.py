"""A scripted fake server on the framing module.

  python3 fakeserver.py '<json script>'

Prints "port N" first, then runs the script, one JSON object per step, printing
"done I" after step I. Frames the client sends are printed as they arrive:
"frame HEX" (or "login HEX" for a world login without length), and "eof" when the
client closes. Steps:
  {"op": "accept", "world_login": false}     wait for the next client
  {"op": "send", "hex": "..."}               one write
  {"op": "send_parts", "parts": ["..", ".."], "gap_ms": 50}   several writes
  {"op": "wait_frames", "count": N}          until N frames came on this connection
  {"op": "wait_closed"}                      until the client closed
  {"op": "sleep", "ms": N}
  {"op": "close"}                            close this connection
  {"op": "wait_stdin"}                       until a line arrives on standard input
Ends after the last step, or after 30 s of a step that does not finish.
"""

import json
import sys
import threading
import time

import framing

say = framing.say


class FakeServer:
    """Base for the fakes: a listener, the current connection, and frame printing."""

    def __init__(self, host="127.0.0.1", port=0):
        self.listener = framing.Listener(host, port)
        self.port = self.listener.port
        self.conn = None

    def _print_frame(self, kind, body):
        say("%s %s" % (kind, body.hex()))

    def accept(self, world_login=False, timeout=30.0):
        self.conn = self.listener.accept(timeout, world_login, self._print_frame)
        if self.conn is None:
            raise TimeoutError("no client")
        threading.Thread(target=self._watch_close, args=(self.conn,), daemon=True).start()
        return self.conn

    def _watch_close(self, conn):
        conn.wait_closed(timeout=3600)
        say("eof")

    def close(self):
        if self.conn:
            self.conn.close()

    def run_script(self, steps):
        for i, step in enumerate(steps):
            op = step["op"]
            if op == "accept":
                self.accept(step.get("world_login", False))
            elif op == "send":
                self.conn.send(bytes.fromhex(step["hex"]))
            elif op == "send_parts":
                parts = [bytes.fromhex(p) for p in step["parts"]]
                self.conn.send_parts(parts, step.get("gap_ms", 50) / 1000.0)
            elif op == "wait_frames":
                if not self.conn.wait_frames(step["count"], 30.0):
                    raise TimeoutError("frames")
            elif op == "wait_closed":
                if not self.conn.wait_closed(30.0):
                    raise TimeoutError("close")
            elif op == "sleep":
                time.sleep(step["ms"] / 1000.0)
            elif op == "close":
                self.conn.close()
            elif op == "wait_stdin":
                sys.stdin.readline()
            else:
                raise ValueError("unknown step %r" % op)
            say("done %d" % i)


def main():
    steps = json.loads(sys.argv[1]) if len(sys.argv) > 1 else []
    server = FakeServer()
    say("port %d" % server.port)
    try:
        server.run_script(steps)
    except Exception as e:  # reported to the test, which fails on it
        say("error %s" % e)
        return 1
    time.sleep(0.1)  # let the reader threads print what is still arriving
    return 0


if __name__ == "__main__":
    sys.exit(main())
