"""A fake world server for tests and the demo.

  python3 world.py [--config FILE.json] [--json TEXT] [--port N] [--record FILE]

Prints "port N" first. Then, one line each: "accept C" for a new connection C, "login C HEX"
for the 8-byte login (sent without a length, first and again whenever the client's session
or avatar count changes), "frame C HEX" for every framed request (the
body after the length), "raw C HEX" for bytes after an old-protocol login, "bad C TEXT" for
a request that cannot be read, "eof C" when a connection ends. With --record every frame is
also appended to FILE as a JSON line.

The login is answered by a bare length L: 0 for a server of the current protocol, 1 and an
error byte for a refusal (12: imposter), or the world's attribute block (L > 1) for an
old-protocol server, which then owns the connection.

Configuration (JSON; --json is merged over --config):
  {"mode": "new",             "new", "old", "error", "imposter" or "mute" (never answers)
   "error": 7,                the error byte of mode "error"
   "attributes": [[0, "Demo"], [31, "N"]],   slot and text pairs, sent in this order as
                              reply 1 after a new login, or as the old login reply; a dict
                              {"0": "Demo"} is taken in key order
   "attribute_hex": "...",    a raw block sent in place of "attributes"
   "avatars": [{"session": 2, "name": "bob", "x": 0, "y": 0, "z": 0, "yaw": 0,
                "type": 0, "gesture": 0}],          sent after the attributes
   "chat": [{"session": 2, "text": "hi", "public": false}],   reply 12, or 5 when public
   "echo": {"session": 2, "prefix": "you said: "},   every chat request is said back by
                              that session as reply 12 (prefix + text)
   "cells": [{"x": 0, "z": 0, "objects": [{"number": 1, "owner": 101, "time": 0,
              "x": 500, "y": 0, "z": 500, "yaw": 0, "model": "tree.vxx",
              "description": "", "action": ""}]}],
   "sequences": {"0,0": 7},   sector sequence numbers ("sx,sz"); absent sectors have 1
   "push_cells": false,       send every cell after the login without a query
   "answer_queries": true,    answer request 9 with the changed sectors' cells, then 15
   "keepalive_ms": 0,         send reply 16 at this interval (0: never)
   "silent_after_logins": 0,  once this many logins were answered (counted over the run),
                              the server answers nothing more: no login, request or
                              keepalive gets a reply (0: never silent); commands still work
   "answer_old": false}       in mode "old", answer the old object protocol's requests
                              (below) instead of leaving them to standard input

The old object protocol (after an old-protocol login): requests are unframed, a code byte
and fixed fields (0 add, 1 eject, 2 delete, 3 query, 5 attribute query, 6 change attributes,
7 change); every reply is a 2-byte length and that many bytes. With "answer_old" a query
(code, 3 zeros, int16 sector x, z, nine 4-byte sequences, int32 citizen) is answered with
records for the sectors whose sequence differs (type 4: int16 sx, sz, 4-byte sequence; then
per cell type 0: int16 cx, cz, type 2 per object: byte number, int32 owner, int32 time,
int16 x, y, z, yaw, three length bytes and the texts, type 1: cell end), or with length 0
when none differs; an attribute query with the attribute block; every other request with
length 0 (done).

Sectors are blocks of 8 x 8 cells: cell c lies in sector (c - 3) / 8 for c < 0, else
(c + 4) / 8, dividing toward zero.

Standard input takes commands, one per line:
  send C HEX              write raw bytes to connection C
  reply C CODE [HEX]      a world reply with that code and body
  attributes C JSON       reply 1 with the pairs (or dict) given
  avatar C JSON           reply 2 for one avatar record
  chat C SESSION TEXT...  reply 12
  live_add C JSON         reply 7: {"session", "sequence", "cx", "cz", and an object's fields}
  live_delete C JSON      reply 8: {"session", "sequence", "cx", "cz", "number"}
  live_adds C JSON        "count" replies 7 in one write, as live_add, the object numbers
                          counting up from "number"
  cell C X Z              reply 6 for that configured cell
  drop C                  close connection C
  quit
"""

import json
import sys

import framing
import serving

# Request codes.
ADD, CHANGE, CHANGE_ATTRIBUTES, DELETE, EJECT, LOGIN, HEARTBEAT, MESSAGE, POSITION, QUERY = range(10)

# Reply codes.
R_RESULT, R_ATTRIBUTES, R_AVATAR_ADD, R_AVATAR_DELETE, R_AVATAR_POSITION, R_AVATAR_MESSAGE = 0, 1, 2, 3, 4, 5
R_CELL, R_LIVE_ADD, R_LIVE_DELETE, R_ERROR_215, R_ERROR_214, R_IMPOSTER, R_CHAT = 6, 7, 8, 9, 10, 11, 12
R_QUERY_RESTART, R_ERROR_207, R_QUERY_DONE, R_KEEPALIVE = 13, 14, 15, 16

IMPOSTER_BYTE = 12

# Old object protocol request codes, and the fixed size of each (texts and blocks aside).
OLD_ADD, OLD_EJECT, OLD_DELETE, OLD_QUERY, OLD_ATTRIBUTES, OLD_CHANGE_ATTRIBUTES, OLD_CHANGE = 0, 1, 2, 3, 5, 6, 7
OLD_FIXED = {OLD_ADD: 27, OLD_EJECT: 13, OLD_DELETE: 16, OLD_QUERY: 48, OLD_ATTRIBUTES: 8, OLD_CHANGE: 35}

say = framing.say


def div0(a, b):
    """Integer division truncating toward zero."""
    q = abs(a) // b
    return q if a >= 0 else -q


def sector_of(c):
    return div0(c - 3, 8) if c < 0 else div0(c + 4, 8)


def signed32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


def signed16(v):
    v &= 0xFFFF
    return v - (1 << 16) if v & 0x8000 else v


# ---- encoding of the replies ------------------------------------------------------------

def attribute_block(pairs):
    if isinstance(pairs, dict):
        pairs = list(pairs.items())
    out = b""
    for slot, value in pairs:
        data = framing._text_bytes(value)
        out += framing.byte(int(slot)) + framing.byte(len(data)) + data
    return out


def object_fields(o):
    return (framing.int32(o.get("number", 0)) + framing.int32(o.get("owner", 0)) + framing.int32(o.get("time", 0)) +
            framing.int16(o.get("x", 0)) + framing.int16(o.get("y", 0)) + framing.int16(o.get("z", 0)) +
            framing.int16(o.get("yaw", 0)) + framing.string(o.get("model", "")) +
            framing.string(o.get("description", "")) + framing.string(o.get("action", "")))


def old_object_record(o):
    texts = [framing._text_bytes(o.get(k, ""))[:255] for k in ("model", "description", "action")]
    return (framing.byte(2) + framing.byte(o.get("number", 0)) + framing.int32(o.get("owner", 0)) +
            framing.int32(o.get("time", 0)) + framing.int16(o.get("x", 0)) + framing.int16(o.get("y", 0)) +
            framing.int16(o.get("z", 0)) + framing.int16(o.get("yaw", 0)) +
            b"".join(framing.byte(len(t)) for t in texts) + b"".join(texts))


def old_request_size(buffer):
    """Bytes of the old-protocol request at the start of buffer, None when it is not all
    there yet, -1 when it cannot be read. A change of attributes has no length of its own:
    it takes what has come."""
    code = buffer[0]
    if code == OLD_CHANGE_ATTRIBUTES:
        return len(buffer) if len(buffer) >= 8 else None
    fixed = OLD_FIXED.get(code)
    if fixed is None:
        return -1
    if len(buffer) < fixed:
        return None
    if code in (OLD_ADD, OLD_CHANGE):
        fixed += sum(buffer[fixed - 3:fixed])
        if len(buffer) < fixed:
            return None
    return fixed


def cell_reply(cell, sequence):
    body = framing.int16(cell["x"]) + framing.int16(cell["z"]) + framing.int32(sequence)
    for o in cell.get("objects", []):
        body += object_fields(o)
    return framing.world_reply(R_CELL, body)


def avatar_reply(a):
    return framing.world_reply(R_AVATAR_ADD, framing.int16(a.get("session", 0)), framing.string(a.get("name", "")),
                               framing.int32(a.get("x", 0)), framing.int32(a.get("y", 0)),
                               framing.int32(a.get("z", 0)), framing.int16(a.get("yaw", 0)),
                               framing.byte(a.get("type", 0)), framing.byte(a.get("gesture", 0)))


def live_add_reply(d):
    return framing.world_reply(R_LIVE_ADD, framing.int16(d.get("session", 0)), framing.int32(d.get("sequence", 0)),
                               framing.int16(d.get("cx", 0)), framing.int16(d.get("cz", 0)), object_fields(d))


def live_delete_reply(d):
    return framing.world_reply(R_LIVE_DELETE, framing.int16(d.get("session", 0)), framing.int32(d.get("sequence", 0)),
                               framing.int16(d.get("cx", 0)), framing.int16(d.get("cz", 0)),
                               framing.int32(d.get("number", 0)))


# ---- one client ---------------------------------------------------------------------------

class WorldReader(framing.FrameReader):
    """Frames, and the 8-byte login wherever a frame could start: the client's frames are at
    most 1024 bytes long, so a first length byte of 5 (1280 bytes and more) is a login. The
    client sends the login again when its session or avatar count changes."""

    def __init__(self):
        super().__init__(world_login=True)

    def feed(self, data):
        self.buffer += data
        out = []
        while self.buffer:
            if self.buffer[0] == framing.WORLD_LOGIN_CODE:
                if len(self.buffer) < framing.WORLD_LOGIN_SIZE:
                    break
                out.append(("login", self.buffer[:framing.WORLD_LOGIN_SIZE]))
                self.buffer = self.buffer[framing.WORLD_LOGIN_SIZE:]
                continue
            if len(self.buffer) < 2:
                break
            length = int.from_bytes(self.buffer[:2], "big")
            if length > framing.MAX_MESSAGE:
                raise framing.FramingError("frame length %d above %d" % (length, framing.MAX_MESSAGE))
            if len(self.buffer) < 2 + length:
                break
            out.append(("frame", self.buffer[2:2 + length]))
            self.buffer = self.buffer[2 + length:]
        return out


class Client(serving.Connection):
    def __init__(self, world, cid, sock):
        super().__init__(world, cid, sock)
        self.reader = WorldReader()
        self.old = False
        self.old_buffer = b""


class World(serving.Server):
    def __init__(self, config, port=0, record=None):
        super().__init__(port, record)
        self.config = config
        self.logins_answered = 0

    def silent(self):
        limit = self.config.get("silent_after_logins", 0)
        return bool(limit) and self.logins_answered >= limit

    def connection(self, cid, sock):
        return Client(self, cid, sock)

    def note(self, cid, kind, body):
        self.write_record({"conn": cid, "kind": kind, "hex": body.hex()})

    def received(self, client, data):
        if client.old:
            say("raw %d %s" % (client.cid, data.hex()))
            self.note(client.cid, "raw", data)
            self.old_requests(client, data)
            return
        for kind, body in client.reader.feed(data):
            say("%s %d %s" % (kind, client.cid, body.hex()))
            self.note(client.cid, kind, body)
            self.handle(client, kind, body)
            if client.old:
                # The rest belongs to the old object protocol.
                rest, client.reader.buffer = client.reader.buffer, b""
                if rest:
                    say("raw %d %s" % (client.cid, rest.hex()))
                    self.old_requests(client, rest)
                break

    def ended(self, client, error):
        # The socket stays open: commands may still write to it.
        if error is not None:
            say("bad %d %s" % (client.cid, error))
        say("eof %d" % client.cid)

    # what the world holds
    def attributes(self):
        if "attribute_hex" in self.config:
            return bytes.fromhex(self.config["attribute_hex"])
        return attribute_block(self.config.get("attributes", []))

    def sector_sequence(self, sx, sz):
        return int(self.config.get("sequences", {}).get("%d,%d" % (sx, sz), 1))

    def cells_in(self, sx, sz):
        return [c for c in self.config.get("cells", []) if sector_of(c["x"]) == sx and sector_of(c["z"]) == sz]

    def send_cell(self, client, cell):
        client.send(cell_reply(cell, self.sector_sequence(sector_of(cell["x"]), sector_of(cell["z"]))))

    # requests
    def handle(self, client, kind, body):
        if self.silent():
            return
        if kind == "login":
            self.login(client, body)
            return
        if not body:
            return
        code, f = body[0], framing.Fields(body[1:])
        try:
            if code == QUERY:
                self.query(client, f)
            elif code == CHANGE_ATTRIBUTES and self.config.get("echo_attributes", True):
                client.send(framing.world_reply(R_ATTRIBUTES, f.rest()))
            elif code == MESSAGE:
                text = f.string()
                say("chat %d %s" % (client.cid, text.decode("cp1252", "replace")))
                echo = self.config.get("echo")
                if echo:
                    # Another user says the same line back (reply 12: session, text).
                    said = echo.get("prefix", "").encode("cp1252") + text
                    client.send(framing.world_reply(R_CHAT, framing.int16(echo.get("session", 0)),
                                                    framing.string(said[:255])))
        except framing.FramingError as e:
            say("bad %d %s" % (client.cid, e))

    def login(self, client, body):
        mode = self.config.get("mode", "new")
        if mode == "mute":
            return
        self.logins_answered += 1
        if mode == "error":
            client.send(framing.int16(1) + framing.byte(self.config.get("error", 7)))
            return
        if mode == "imposter":
            client.send(framing.int16(1) + framing.byte(IMPOSTER_BYTE))
            return
        block = self.attributes()
        if mode == "old":
            if len(block) < 2:
                raise framing.FramingError("an old-protocol login reply needs a block of 2 bytes or more")
            client.send(framing.frame(block))
            client.old = True
            return
        client.send(framing.int16(0))
        client.send(framing.world_reply(R_ATTRIBUTES, block))
        for a in self.config.get("avatars", []):
            client.send(avatar_reply(a))
        for c in self.config.get("chat", []):
            code = R_AVATAR_MESSAGE if c.get("public") else R_CHAT
            client.send(framing.world_reply(code, framing.int16(c.get("session", 0)), framing.string(c.get("text", ""))))
        if self.config.get("push_cells"):
            for cell in self.config.get("cells", []):
                self.send_cell(client, cell)
        interval = self.config.get("keepalive_ms", 0)
        if interval:
            self.keepalive(client, interval / 1000.0)

    def query(self, client, f):
        sx, sz = signed16(f.int16()), signed16(f.int16())
        sent = [signed32(f.int32()) for _ in range(9)]
        say("query %d %d %d %s" % (client.cid, sx, sz, ",".join(str(s) for s in sent)))
        if not self.config.get("answer_queries", True):
            return
        i = 0
        for dz in (-1, 0, 1):
            for dx in (-1, 0, 1):
                x, z = sx + dx, sz + dz
                if sent[i] != self.sector_sequence(x, z):
                    for cell in self.cells_in(x, z):
                        self.send_cell(client, cell)
                i += 1
        client.send(framing.world_reply(R_QUERY_DONE))

    # the old object protocol
    def old_requests(self, client, data):
        if not self.config.get("answer_old"):
            return
        client.old_buffer += data
        while client.old_buffer:
            size = old_request_size(client.old_buffer)
            if size is None:
                break
            if size < 0:
                say("bad %d old request %s" % (client.cid, client.old_buffer.hex()))
                client.old_buffer = b""
                break
            request, client.old_buffer = client.old_buffer[:size], client.old_buffer[size:]
            code = request[0]
            if code == OLD_QUERY:
                client.send(framing.frame(self.old_query(client, request)))
            elif code == OLD_ATTRIBUTES:
                client.send(framing.frame(self.attributes()))
            else:
                say("old %d %d" % (client.cid, code))
                client.send(framing.int16(0))

    def old_query(self, client, request):
        sx, sz = signed16(int.from_bytes(request[4:6], "big")), signed16(int.from_bytes(request[6:8], "big"))
        sent = [signed32(int.from_bytes(request[8 + 4 * i:12 + 4 * i], "big")) for i in range(9)]
        say("oldquery %d %d %d %s" % (client.cid, sx, sz, ",".join(str(s) for s in sent)))
        out = b""
        i = 0
        for dz in (-1, 0, 1):
            for dx in (-1, 0, 1):
                x, z = sx + dx, sz + dz
                sequence = self.sector_sequence(x, z)
                if sent[i] != sequence:
                    out += framing.byte(4) + framing.int16(x) + framing.int16(z) + framing.int32(sequence)
                    for cell in self.cells_in(x, z):
                        out += framing.byte(0) + framing.int16(cell["x"]) + framing.int16(cell["z"])
                        for o in cell.get("objects", []):
                            out += old_object_record(o)
                        out += framing.byte(1)
                i += 1
        return out

    def keepalive(self, client, interval):
        def beat():
            if not client.closed and not self.silent():
                client.send(framing.world_reply(R_KEEPALIVE))
                self.keepalive(client, interval)
        self.later(interval, beat)

    # commands from standard input
    def command(self, line):
        words = line.split(None, 2)
        if not words:
            return True
        op = words[0]
        if op == "quit":
            return False
        client = self.conns.get(int(words[1])) if len(words) > 1 and words[1].isdigit() else None
        rest = words[2] if len(words) > 2 else ""
        try:
            if client is None:
                say("what %s" % line.strip())
                return True
            if op == "send":
                client.send(bytes.fromhex(rest.strip()))
            elif op == "reply":
                parts = rest.split()
                client.send(framing.world_reply(int(parts[0]), bytes.fromhex(parts[1]) if len(parts) > 1 else b""))
            elif op == "attributes":
                client.send(framing.world_reply(R_ATTRIBUTES, attribute_block(json.loads(rest))))
            elif op == "avatar":
                client.send(avatar_reply(json.loads(rest)))
            elif op == "chat":
                session, _, text = rest.partition(" ")
                client.send(framing.world_reply(R_CHAT, framing.int16(int(session)), framing.string(text.strip())))
            elif op == "live_add":
                client.send(live_add_reply(json.loads(rest)))
            elif op == "live_delete":
                client.send(live_delete_reply(json.loads(rest)))
            elif op == "live_adds":
                d = json.loads(rest)
                first = d.get("number", 0)
                client.send(b"".join(live_add_reply(dict(d, number=first + i)) for i in range(d.get("count", 0))))
            elif op == "cell":
                x, z = (int(v) for v in rest.split()[:2])
                for cell in self.config.get("cells", []):
                    if cell["x"] == x and cell["z"] == z:
                        self.send_cell(client, cell)
            elif op == "drop":
                client.close()
            else:
                say("what %s" % line.strip())
                return True
        except (ValueError, KeyError, framing.FramingError) as e:
            say("what %s (%s)" % (line.strip(), e))
            return True
        say("ok %s" % op)
        return True


def main(argv):
    return serving.main(argv, "fake world server", World)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
