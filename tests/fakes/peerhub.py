"""A fake peer hub: the datagram side of an old-protocol world server, for tests and the demo.

  python3 peerhub.py [--host 127.0.0.1] [--port N] [--interval MS]

Binds a datagram socket where clients send their state (the world server's address and
port; a TCP world server may share the port number) and prints "port N" first. Then, one
line each: "user NAME A:P" when a hosted user is made, "client A:P" when a client is first
heard, "state A:P X Y Z YAW TYPE GESTURE" when its state changes, "relay A:P SEQ TEXT" for a
public-speaker line it relays, "leave A:P", "gone A:P" after 5 s of silence, "heard NAME A:P
TEXT" for a line a hosted user got, "acked NAME A:P" when a client acknowledged a hosted
user's line.

Datagrams: big-endian, no length, the first byte is the type.
  client to hub:   0 own state: int32 x, y, z, int16 yaw, byte type, byte 0, byte gesture
                   2 public-speaker line: byte sequence, text (acknowledged, relayed)
                   3 leave
                   1 acknowledgement: byte sequence (of a relayed line)
  hub to client:   2 state list, every interval: int32 base x, y, z (the client's own
                     position), then 17-byte records of the others: int32 IPv4 address,
                     int16 port, int16 dx, dy, dz (from the base), int16 yaw, byte type,
                     byte 0, byte gesture; at most 29, others out of int16 reach left out
                   3 relayed line: byte sequence, int32 address, int16 port, text
                   1 acknowledgement: byte sequence
  peer to peer:    0 line: byte sequence, text "NAME: TEXT"; answered by 1, byte sequence
Positions are thousandths of a world unit, yaw tenths of a degree. Lines the hub or its
users send are sent again every second until acknowledged, ten times at most.

Hosted users are users the hub plays itself, each on a datagram socket of its own (their
address and port in the state lists), so that clients' lines and acknowledgements reach
them as they would reach another user's client.

Standard input takes commands, one per line:
  user NAME ADDRESS                        a hosted user bound at ADDRESS (e.g. 127.0.0.2)
  move NAME X Y Z YAW [TYPE [GESTURE]]     its state
  say NAME TEXT...                         the line "NAME: TEXT" to every client
  quit
"""

import argparse
import socket
import struct
import sys
import threading
import time

import framing

say = framing.say

STATE, ACK, LIST, LEAVE = 0, 1, 2, 3
LINE, RELAYED = 0, 3
RECORD = struct.Struct(">4sHhhhhBBB")
MAX_RECORDS = 29
SILENCE = 5.0
RESEND = 1.0
RESENDS = 10


def where(address):
    return "%s:%d" % address


class Outgoing:
    """A line waiting for each client's acknowledgement."""

    def __init__(self, sequence, data):
        self.sequence = sequence
        self.data = data
        self.waiting = {}  # client address -> (last send time, sends)


class Hub:
    def __init__(self, host, port, interval):
        self.lock = threading.RLock()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((host, port))
        self.port = self.sock.getsockname()[1]
        self.interval = interval
        self.clients = {}   # address -> {"state": tuple, "seen": time}
        self.users = {}     # name -> {"sock", "state", "sequence", "line"}
        self.sequence = 0   # of relayed lines
        self.relayed = []   # Outgoing relayed lines

    # ---- sending ---------------------------------------------------------------------------

    def send(self, sock, data, address):
        try:
            sock.sendto(data, address)
        except OSError:
            pass

    def state_list(self, to):
        base = self.clients[to]["state"][:3]
        out = struct.pack(">Biii", LIST, *base)
        others = [(a, c["state"]) for a, c in self.clients.items() if a != to]
        others += [(u["sock"].getsockname(), u["state"]) for u in self.users.values()]
        n = 0
        for (host, port), (x, y, z, yaw, kind, gesture) in others:
            d = (x - base[0], y - base[1], z - base[2])
            if n == MAX_RECORDS or any(not -32768 <= v <= 32767 for v in d):
                continue
            out += RECORD.pack(socket.inet_aton(host), port, d[0], d[1], d[2], yaw, kind, 0, gesture)
            n += 1
        return out

    def resend(self, sock, line, now):
        for to, (last, sends) in list(line.waiting.items()):
            if to not in self.clients or sends > RESENDS:
                del line.waiting[to]
            elif now - last >= RESEND:
                self.send(sock, line.data, to)
                line.waiting[to] = (now, sends + 1)

    def tick(self):
        while True:
            time.sleep(self.interval)
            now = time.monotonic()
            with self.lock:
                for a, c in list(self.clients.items()):
                    if now - c["seen"] > SILENCE:
                        del self.clients[a]
                        say("gone %s" % where(a))
                for a in self.clients:
                    self.send(self.sock, self.state_list(a), a)
                for line in self.relayed:
                    self.resend(self.sock, line, now)
                self.relayed = [line for line in self.relayed if line.waiting]
                for u in self.users.values():
                    if u["line"]:
                        self.resend(u["sock"], u["line"], now)

    # ---- receiving -------------------------------------------------------------------------

    def serve(self):
        threading.Thread(target=self.tick, daemon=True).start()
        while True:
            try:
                data, sender = self.sock.recvfrom(2048)
            except OSError:
                return
            if data:
                with self.lock:
                    self.from_client(data, sender)

    def from_client(self, data, sender):
        kind = data[0]
        if kind == STATE and len(data) >= 18:
            x, y, z, yaw, own_type, _, gesture = struct.unpack(">iiihBBB", data[1:18])
            state = (x, y, z, yaw, own_type, gesture)
            known = self.clients.get(sender)
            if known is None:
                say("client %s" % where(sender))
            if known is None or known["state"] != state:
                say("state %s %d %d %d %d %d %d" % ((where(sender),) + state))
            self.clients[sender] = {"state": state, "seen": time.monotonic()}
        elif kind == LEAVE:
            if self.clients.pop(sender, None) is not None:
                say("leave %s" % where(sender))
        elif kind == LIST and len(data) >= 2:
            # A public speaker's line: acknowledged, then relayed to everyone else.
            self.send(self.sock, bytes([ACK, data[1]]), sender)
            text = data[2:]
            say("relay %s %d %s" % (where(sender), data[1], text.decode("cp1252", "replace")))
            self.sequence = (self.sequence + 1) & 0xFF
            line = Outgoing(self.sequence, struct.pack(">BB4sH", RELAYED, self.sequence,
                                                       socket.inet_aton(sender[0]), sender[1]) + text)
            now = time.monotonic()
            for a in self.clients:
                if a != sender:
                    self.send(self.sock, line.data, a)
                    line.waiting[a] = (now, 1)
            self.relayed.append(line)
        elif kind == ACK and len(data) >= 2:
            for line in self.relayed:
                if line.sequence == data[1]:
                    line.waiting.pop(sender, None)

    def user_serve(self, name, sock):
        while True:
            try:
                data, sender = sock.recvfrom(2048)
            except OSError:
                return
            with self.lock:
                user = self.users.get(name)
                if not data or user is None:
                    continue
                if data[0] == LINE and len(data) >= 2:
                    self.send(sock, bytes([ACK, data[1]]), sender)
                    say("heard %s %s %s" % (name, where(sender), data[2:].decode("cp1252", "replace")))
                elif data[0] == ACK and len(data) >= 2:
                    line = user["line"]
                    if line and line.sequence == data[1] and line.waiting.pop(sender, None) is not None:
                        say("acked %s %s" % (name, where(sender)))

    # ---- commands --------------------------------------------------------------------------

    def command(self, text):
        words = text.split()
        if not words:
            return True
        op = words[0]
        if op == "quit":
            return False
        try:
            with self.lock:
                if op == "user" and len(words) == 3:
                    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    sock.bind((words[2], 0))
                    self.users[words[1]] = {"sock": sock, "state": (0, 0, 0, 0, 0, 0), "sequence": 0, "line": None}
                    say("user %s %s" % (words[1], where(sock.getsockname())))
                    threading.Thread(target=self.user_serve, args=(words[1], sock), daemon=True).start()
                elif op == "move" and len(words) >= 6 and words[1] in self.users:
                    v = [int(w) for w in words[2:9]] + [0, 0]
                    self.users[words[1]]["state"] = (v[0], v[1], v[2], v[3] % 3600, v[4] & 0xFF, v[5] & 0xFF)
                elif op == "say" and len(words) >= 3 and words[1] in self.users:
                    user = self.users[words[1]]
                    user["sequence"] = (user["sequence"] + 1) & 0xFF
                    body = ("%s: %s" % (words[1], text.split(None, 2)[2].strip())).encode("cp1252", "replace")
                    line = Outgoing(user["sequence"], bytes([LINE, user["sequence"]]) + body[:255])
                    now = time.monotonic()
                    for a in self.clients:
                        self.send(user["sock"], line.data, a)
                        line.waiting[a] = (now, 1)
                    user["line"] = line
                else:
                    say("what %s" % text.strip())
                    return True
        except (ValueError, OSError) as e:
            say("what %s (%s)" % (text.strip(), e))
            return True
        say("ok %s" % op)
        return True


def main(argv):
    p = argparse.ArgumentParser(description="fake peer hub")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--interval", type=int, default=200, help="ms between state lists")
    a = p.parse_args(argv)
    return framing.serve_until_stdin_closes(Hub(a.host, a.port, a.interval / 1000.0))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
