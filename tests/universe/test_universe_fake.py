"""The fake universe on its own: its answers checked against hand-made bytes."""

import json
import socket
import subprocess
import sys
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE = os.path.join(HERE, "..", "fakes", "universe.py")
sys.path.insert(0, os.path.join(HERE, "..", "fakes"))
import universe  # noqa: E402


def frame(body_hex):
    body = bytes.fromhex(body_hex)
    return len(body).to_bytes(2, "big") + body


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.buf = b""

    def send(self, body_hex):
        self.sock.sendall(frame(body_hex))

    def reply(self):
        while len(self.buf) < 2 or len(self.buf) < 2 + int.from_bytes(self.buf[:2], "big"):
            data = self.sock.recv(4096)
            if not data:
                return None
            self.buf += data
        n = int.from_bytes(self.buf[:2], "big")
        body, self.buf = self.buf[2:2 + n], self.buf[2 + n:]
        return body.hex()

    def close(self):
        self.sock.close()


def login_hex(name, password):
    def s(t):
        b = t.encode()
        return "%02x" % len(b) + b.hex()
    return "2d" + "0000019c" + s(name) + s(password) + "00000000" + "00" + "00"


class FakeUniverseTest(unittest.TestCase):
    def start(self, *args):
        config = {"citizens": [{"name": "alice", "password": "secret", "number": 258}], "session": 0x1234}
        self.proc = subprocess.Popen([sys.executable, FAKE, "--json", json.dumps(config)] + list(args),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        self.assertTrue(first.startswith("port "), first)
        return int(first.split()[1])

    proc = None

    def tearDown(self):
        if self.proc is None:
            return
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()
        self.proc.stdin.close()

    def test_citizen_login_reply(self):
        c = Client(self.start())
        c.send(login_hex("alice", "secret"))
        # rc 0, code 20, sign-up 0, build echoed, int32 0, beta 0, session, number, empty text
        self.assertEqual(c.reply(), "00" "14" "00" "0000019c" "00000000" "00" "1234" "00000102" "00")
        c.close()

    def test_refusals(self):
        c = Client(self.start("--no-tourists"))
        c.send(login_hex("alice", "nope"))
        self.assertEqual(c.reply()[:4], "0d14")
        c.send(login_hex("nobody", "x"))
        self.assertEqual(c.reply()[:4], "0314")
        c.send(login_hex('"tour"', ""))
        self.assertEqual(c.reply()[:4], "1e14")
        c.close()

    def test_dropped_login(self):
        c = Client(self.start("--drop-login", "1"))
        c.send(login_hex("alice", "secret"))
        self.assertIsNone(c.reply())
        c.close()

    def test_requests(self):
        c = Client(self.start())
        c.send("24" "05616c696365")            # number of alice
        self.assertEqual(c.reply(), "000c" "05616c696365" "00000102")
        c.send("21" "00000102")                # name of 258
        self.assertEqual(c.reply(), "0008" "00000102" "05616c696365")
        c.send("18" "0464656d6f")              # unknown world
        self.assertEqual(c.reply(), "0600" "0464656d6f")
        c.close()

    def test_contact_states_follow_logins(self):
        port = self.start("--citizen", "bob:pw:300")
        alice = Client(port)
        alice.send(login_hex("alice", "secret"))
        alice.reply()
        alice.send("28" "0000012c")            # contact list: 300
        self.assertEqual(alice.reply(), "000f" "0000012c" "00" "03626f62")
        self.proc.stdin.write("world bob Hub\n")
        self.proc.stdin.flush()
        while not self.proc.stdout.readline().startswith("ok world"):
            pass
        bob = Client(port)
        bob.send(login_hex("bob", "pw"))
        bob.reply()
        self.assertEqual(alice.reply(), "000f" "0000012c" "01" "03626f62" "03487562")
        bob.close()
        self.assertEqual(alice.reply(), "000f" "0000012c" "00" "03626f62")
        alice.send("2a" "0000012c")            # deleted: no more news of bob
        alice.send("29" "00000999")            # added: unknown numbers are removed (state 2)
        self.assertEqual(alice.reply(), "000f" "00000999" "02")
        alice.close()

    def test_cipher_round_trip(self):
        plain = b"\x00\x05carol"
        sealed = universe.Cipher(universe.REGISTRATION_KEY).encrypt(plain)
        self.assertNotEqual(sealed, plain)
        self.assertEqual(universe.Cipher(universe.REGISTRATION_KEY).decrypt(sealed), plain)


if __name__ == "__main__":
    unittest.main()
