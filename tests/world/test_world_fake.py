"""The fake world server on its own, over a real loopback socket, against bytes worked out by
hand from the wire tables."""

import json
import os
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE = os.path.join(HERE, "..", "fakes", "world.py")

# byte 5, session 0x1234, avatars 20, citizen 101: no length in front.
LOGIN = bytes([0x05, 0x12, 0x34, 0x14, 0x00, 0x00, 0x00, 0x65])


class Fake:
    def __init__(self, config):
        self.proc = subprocess.Popen([sys.executable, FAKE, "--json", json.dumps(config)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().split()
        self.port = int(first[1])

    def lines_until(self, prefix):
        got = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                return got
            got.append(line.strip())
            if line.startswith(prefix):
                return got

    def close(self):
        self.proc.stdin.close()
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()


def recv_exactly(sock, n, timeout=5.0):
    sock.settimeout(timeout)
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    return data


class WorldFake(unittest.TestCase):
    def connect(self, config):
        fake = Fake(config)
        self.addCleanup(fake.close)
        sock = socket.create_connection(("127.0.0.1", fake.port))
        self.addCleanup(sock.close)
        return fake, sock

    def test_new_protocol_login_then_attributes(self):
        fake, sock = self.connect({"mode": "new", "attributes": [[0, "Demo"], [31, "N"]]})
        sock.sendall(LOGIN)
        # Empty frame, then reply 1 with {0, 4, "Demo"} {31, 1, "N"}.
        expected = bytes([0x00, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x04]) + b"Demo" + bytes([0x1F, 0x01]) + b"N"
        self.assertEqual(expected, recv_exactly(sock, len(expected)))
        self.assertIn("login 1 " + LOGIN.hex(), fake.lines_until("login"))

    def test_error_and_imposter_bytes(self):
        _, sock = self.connect({"mode": "error", "error": 7})
        sock.sendall(LOGIN)
        self.assertEqual(bytes([0x00, 0x01, 0x07]), recv_exactly(sock, 3))
        _, sock2 = self.connect({"mode": "imposter"})
        sock2.sendall(LOGIN)
        self.assertEqual(bytes([0x00, 0x01, 0x0C]), recv_exactly(sock2, 3))

    def test_old_protocol_reply_is_the_block(self):
        fake, sock = self.connect({"mode": "old", "attributes": {"0": "Old"}})
        sock.sendall(LOGIN)
        self.assertEqual(bytes([0x00, 0x05, 0x00, 0x03]) + b"Old", recv_exactly(sock, 7))
        sock.sendall(bytes([0x03, 0x00, 0x00, 0x00]))
        self.assertIn("raw 1 03000000", fake.lines_until("raw"))

    def test_query_sends_changed_sectors_then_done(self):
        cells = [{"x": -5, "z": 0, "objects": [{"number": 9, "owner": 101, "time": 3, "x": 1, "y": 2, "z": 3,
                                                "yaw": 900, "model": "m", "description": "", "action": "a"}]},
                 {"x": 3, "z": 3, "objects": []},
                 {"x": 40, "z": 40, "objects": []}]
        fake, sock = self.connect({"mode": "new", "cells": cells, "sequences": {"-1,0": 5, "0,0": 8}})
        sock.sendall(LOGIN)
        recv_exactly(sock, 5)  # empty frame and an empty attribute reply
        # Query around sector (0, 0); the client already holds sequence 8 of sector (0, 0).
        seqs = [0, 0, 0, 0, 8, 0, 0, 0, 0]
        body = bytes([0x09, 0x00, 0x00, 0x00, 0x00]) + b"".join(s.to_bytes(4, "big") for s in seqs)
        sock.sendall(len(body).to_bytes(2, "big") + body)
        # Cell (-5, 0) is in sector (-1, 0): sequence 5, one object.
        cell = (bytes([0x00, 0x22, 0x06, 0xFF, 0xFB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
                       0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x65, 0x00, 0x00, 0x00, 0x03,
                       0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x03, 0x84, 0x01]) + b"m" + bytes([0x00, 0x01]) + b"a")
        done = bytes([0x00, 0x01, 0x0F])
        self.assertEqual(cell + done, recv_exactly(sock, len(cell) + len(done)))
        lines = fake.lines_until("query")
        self.assertIn("query 1 0 0 0,0,0,0,8,0,0,0,0", lines)

    def test_a_second_login_between_frames(self):
        sys.path.insert(0, os.path.join(HERE, "..", "fakes"))
        import world
        r = world.WorldReader()
        got = r.feed(LOGIN + bytes([0x00, 0x01, 0x06]) + LOGIN[:5])
        self.assertEqual([("login", LOGIN), ("frame", bytes([0x06]))], got)
        self.assertEqual([("login", LOGIN)], r.feed(LOGIN[5:]))

    def test_sector_rule(self):
        sys.path.insert(0, os.path.join(HERE, "..", "fakes"))
        import world
        self.assertEqual([(-5, -1), (-4, 0), (3, 0), (4, 1), (-12, -1), (-13, -2)],
                         [(c, world.sector_of(c)) for c in (-5, -4, 3, 4, -12, -13)])


if __name__ == "__main__":
    unittest.main()
