"""A fake universe server for tests and the demo.

  python3 universe.py [--config FILE.json] [--json TEXT] [--port N] [--record FILE]
                      [--citizen NAME:PASSWORD[:NUMBER]]... [--no-tourists]
                      [--drop-login N]... [--drop-mode close|partial]

Prints "port N" first. Then, one line each: "accept C" for a new connection C, "frame C HEX"
for every frame a client sends (the body after the length), "login C RC NAME" after a
login was answered, "drop C" when a login is dropped on purpose, "eof C" when a connection
ends. With --record every frame is also appended to FILE as a JSON line.

Configuration (JSON; command-line options add to it):
  {"citizens": [{"name": "alice", "password": "pw", "number": 101, "email": "a@x",
                 "privilege_password": ""}],
   "tourists": true,                 accept tourist (quoted or empty) names
   "session": 4660,                  session word of the login reply
   "signup": 0, "beta": 0,           flags of the login reply
   "attributes": {"0": "100", ...},  universe attributes, sent after every accepted login
   "attributes_once": {"1": "413"},  merged over them for the run's first accepted login only
                                     (a newer build announced until an upgrade went through)
   "worlds": [{"name": "demo", "host": "127.0.0.1", "port": 6670, "status": 1, "users": 0}],
   "telegrams": {"alice": [{"from": "bob", "text": "hi", "age": 60}]},
   "drop_logins": [1],               logins (counted from 1 over the run) not answered: the
   "drop_mode": "close",             connection is closed ("partial": half a reply first)
   "silent_after_logins": 0,         once this many logins were answered, nothing more is
                                     answered (frames are still printed; 0: never silent)
   "whos_at": {"127.0.0.2": "bob"}}  who is at an address without a connection here (a
                                     peer known to the world's datagram channel only)

Standard input takes commands, one per line:
  telegram NAME FROM TEXT...   queue a telegram for NAME and tell NAME's connections
  contact C NUMBER STATE [NAME [WORLD]]   push a contact state (reply 15) to connection C
  world NAME WORLD             the world citizen NAME is in (reported to those who list them)
  present NAME WORLD X Y Z YAW citizen NAME is online in WORLD at X, Y, Z (millimetres), YAW
                               (tenths of a degree) without a connection here: listed as
                               online, and a join request for them is answered at once there

Contact lists (message 40) and additions (41) are kept per connection, deletions (42) taken
off; a citizen's login and the end of their last connection are pushed (reply 15, online or
offline) to every connection that lists them.
  reconnect C                  send the reconnect order (reply 18) to connection C
  drop C                       close connection C
  send C HEX                   write raw bytes to connection C
  quit
"""

import json
import socket
import sys

import framing
import serving

# Request codes.
SET_ATTRIBUTES, LOOKUP_WORLD, IMMIGRATE, SET_CITIZEN_ATTRIBUTES = 23, 24, 25, 26
GET_CITIZEN_ATTRIBUTES, SEND_PASSWORD, HEARTBEAT, GET_CITIZEN_NAME = 27, 28, 32, 33
GET_TELEGRAM, SEND_TELEGRAM, GET_CITIZEN_NUMBER, WHOS_AT, GET_WORLDS = 34, 35, 36, 37, 38
CONTACT_LIST, ADD_CONTACT, DELETE_CONTACT, GET_CITIZEN_LOCATION = 40, 41, 42, 43
LOCATION, LOGIN, REGISTRATION = 44, 45, 46

# Reply codes.
R_WORLD_ADDRESS, R_IMMIGRATE, R_CHANGE, R_CITIZEN_ATTRIBUTES, R_PASSWORD_SENT = 0, 1, 2, 3, 4
R_CITIZEN_NAME, R_TELEGRAM_WAITING, R_TELEGRAM, R_CITIZEN_NUMBER, R_WHOS_AT = 8, 9, 10, 12, 13
R_WORLDS, R_CONTACTS, R_JOIN_REQUEST, R_JOIN_LOCATION, R_RECONNECT = 14, 15, 16, 17, 18
R_REGISTER, R_LOGIN, R_ATTRIBUTES = 19, 20, 21

# Result codes of this fake.
RC_OK = 0
RC_NO_SUCH_CITIZEN = 3
RC_NO_SUCH_WORLD = 6
RC_NO_TELEGRAM = 7
RC_WRONG_PASSWORD = 13
RC_NO_TOURISTS = 30
RC_NAME_TAKEN = 100
RC_NAME_TOO_LONG = 108
RC_NAME_TOO_SHORT = 113

REGISTRATION_KEY = bytes.fromhex("A4E07B19C25D83")
REGISTRATION_TAGS = [0, 1, 2, 13, 4, 5, 14, 6, 7, 8, 9, 10, 11, 16]

say = framing.say


# ---- the traditional archive cipher, for message 46 ---------------------------------------

def _crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


_CRC = _crc_table()


class Cipher:
    def __init__(self, key):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for b in key:
            self._update(b)

    def _crc(self, c, b):
        return (c >> 8) ^ _CRC[(c ^ b) & 0xFF]

    def _update(self, b):
        self.k[0] = self._crc(self.k[0], b)
        self.k[1] = ((self.k[1] + (self.k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        self.k[2] = self._crc(self.k[2], (self.k[1] >> 24) & 0xFF)

    def _stream(self):
        t = (self.k[2] | 2) & 0xFFFF
        return ((t * (t ^ 1)) >> 8) & 0xFF

    def decrypt(self, data):
        out = bytearray()
        for c in data:
            p = c ^ self._stream()
            self._update(p)
            out.append(p)
        return bytes(out)

    def encrypt(self, data):
        out = bytearray()
        for p in data:
            out.append(p ^ self._stream())
            self._update(p)
        return bytes(out)


# ---- the server -----------------------------------------------------------------------------

def text(b):
    return b.decode("cp1252", "replace")


class Universe(serving.Server):
    def __init__(self, config, port=0, record=None):
        super().__init__(port, record)
        self.config = config
        self.citizens = []
        for c in config.get("citizens", []):
            self.add_citizen(c.get("name", ""), c.get("password", ""), c.get("number"), c.get("email", ""),
                             c.get("privilege_password", ""))
        self.tourists = config.get("tourists", True)
        self.attributes = {int(k): str(v) for k, v in config.get("attributes", {}).items()}
        self.attributes_once = {int(k): str(v) for k, v in config.get("attributes_once", {}).items()}
        self.worlds = config.get("worlds", [])
        self.telegrams = {k.lower(): list(v) for k, v in config.get("telegrams", {}).items()}
        self.drop_logins = set(config.get("drop_logins", []))
        self.drop_mode = config.get("drop_mode", "close")
        self.logins = 0
        self.logins_answered = 0
        self.who = {}        # id -> (name, number)
        self.pending_joins = {}  # asked number -> asking connection id
        self.contacts = {}   # id -> set of citizen numbers the connection listed
        self.places = {}     # citizen number -> world name
        self.present = {}    # citizen number -> (world, x, y, z, yaw) of one online elsewhere

    # citizens
    def add_citizen(self, name, password, number=None, email="", privilege_password=""):
        if number is None:
            number = 100 + len(self.citizens) + 1
        c = {"name": name, "password": password, "number": int(number), "email": email,
             "privilege_password": privilege_password, "immigrated": 946684800, "expires": 0}
        self.citizens.append(c)
        return c

    def by_name(self, name):
        for c in self.citizens:
            if c["name"].lower() == name.lower():
                return c
        return None

    def by_number(self, number):
        for c in self.citizens:
            if c["number"] == number:
                return c
        return None

    def online(self, number):
        return [cid for cid, (_, n) in self.who.items() if n == number and number]

    # connections
    def connection(self, cid, sock):
        conn = serving.Connection(self, cid, sock)
        conn.reader = framing.FrameReader(False)
        return conn

    def received(self, conn, data):
        for _, body in conn.reader.feed(data):
            self.on_frame(conn.cid, body)

    def ended(self, conn, error):
        cid = conn.cid
        _, number = self.who.pop(cid, ("", 0))
        self.conns.pop(cid, None)
        self.contacts.pop(cid, None)
        conn.close()
        if number and not self.online(number):
            self.push_state(number)
        say("eof %d" % cid)

    def send(self, cid, data):
        conn = self.conns.get(cid)
        if conn is None:
            return
        try:
            conn.send(data)
        except OSError:
            pass

    def reply(self, cid, rc, code, *fields):
        self.send(cid, framing.universe_reply(rc, code, *fields))

    def drop(self, cid):
        conn = self.conns.get(cid)
        if conn:
            conn.close()

    def on_frame(self, cid, body):
        say("frame %d %s" % (cid, body.hex()))
        self.write_record({"conn": cid, "hex": body.hex()})
        if not body:
            return
        silent = self.config.get("silent_after_logins", 0)
        if silent and self.logins_answered >= silent:
            return
        try:
            self.handle(cid, body[0], framing.Fields(body[1:]))
        except framing.FramingError as e:
            say("bad %d %s" % (cid, e))

    # requests
    def handle(self, cid, code, f):
        handler = {
            SET_ATTRIBUTES: self.set_attributes, LOOKUP_WORLD: self.lookup_world, IMMIGRATE: self.immigrate,
            SET_CITIZEN_ATTRIBUTES: self.set_citizen_attributes,
            GET_CITIZEN_ATTRIBUTES: self.get_citizen_attributes, SEND_PASSWORD: self.send_password,
            HEARTBEAT: lambda cid, f: None, GET_CITIZEN_NAME: self.get_citizen_name,
            GET_TELEGRAM: self.get_telegram, SEND_TELEGRAM: self.send_telegram,
            GET_CITIZEN_NUMBER: self.get_citizen_number, WHOS_AT: self.whos_at, GET_WORLDS: self.get_worlds,
            CONTACT_LIST: self.contact_list, ADD_CONTACT: self.add_contact,
            DELETE_CONTACT: self.delete_contact, GET_CITIZEN_LOCATION: self.get_citizen_location,
            LOCATION: self.location, LOGIN: self.login, REGISTRATION: self.registration,
        }.get(code)
        if handler is None:
            say("unknown %d %d" % (cid, code))
            return
        handler(cid, f)

    def login(self, cid, f):
        build = f.int32()
        name = text(f.string())
        password = text(f.string())
        privilege = f.int32()
        privilege_password = text(f.string())
        hide = f.byte()
        self.logins += 1
        if self.logins in self.drop_logins:
            say("drop %d" % cid)
            if self.drop_mode == "partial":
                self.send(cid, framing.int16(12) + bytes([0, R_LOGIN]))
            self.drop(cid)
            return
        number, rc, note = 0, RC_OK, b""
        if name == "" or name.startswith('"'):
            inner = name.strip('"')
            if not self.tourists:
                rc = RC_NO_TOURISTS
            elif name and len(inner) < 2:
                rc = RC_NAME_TOO_SHORT
            elif len(inner) > 15:
                rc = RC_NAME_TOO_LONG
        else:
            c = self.by_name(name)
            if c is None:
                rc = RC_NO_SUCH_CITIZEN
            elif c["password"] != password:
                rc = RC_WRONG_PASSWORD
            else:
                number = c["number"]
                if privilege:
                    holder = self.by_number(privilege)
                    if holder is None or holder["privilege_password"] != privilege_password:
                        rc = ord("*")
                    note = holder["name"].encode("cp1252") if holder else b""
        if rc in (RC_OK, ord("*"), ord("+")):
            self.who[cid] = (name, number)
            if number:
                self.push_state(number, cid)
        say("login %d %d %s" % (cid, rc, name))
        self.logins_answered += 1
        self.reply(cid, rc, R_LOGIN,
                   framing.byte(self.config.get("signup", 0)), framing.int32(build),
                   framing.int32(0), framing.byte(self.config.get("beta", 0)),
                   framing.int16(self.config.get("session", 0x1234)), framing.int32(number),
                   framing.string(note))
        once, self.attributes_once = (self.attributes_once, {}) if rc == RC_OK else ({}, self.attributes_once)
        if rc == RC_OK and (self.attributes or once):
            self.send_attributes(cid, once)

    def send_attributes(self, cid, extra=None):
        merged = dict(self.attributes)
        merged.update(extra or {})
        fields = [framing.tagged(t, v) for t, v in sorted(merged.items())]
        self.reply(cid, RC_OK, R_ATTRIBUTES, *fields)

    def set_attributes(self, cid, f):
        while not f.at_end():
            tag, value = f.tagged()
            self.attributes[tag] = text(value)
        self.send_attributes(cid)

    def lookup_world(self, cid, f):
        name = text(f.string())
        for w in self.worlds:
            if w["name"].lower() == name.lower():
                address = socket.inet_aton(w.get("host", "127.0.0.1"))
                self.reply(cid, RC_OK, R_WORLD_ADDRESS, framing.string(name), framing.raw(address),
                           framing.int16(w.get("port", 0)))
                return
        self.reply(cid, RC_NO_SUCH_WORLD, R_WORLD_ADDRESS, framing.string(name))

    def immigrate(self, cid, f):
        name, password = text(f.string()), text(f.string())
        tag, email = f.tagged()
        if self.by_name(name):
            self.reply(cid, RC_NAME_TAKEN, R_IMMIGRATE)
            return
        self.add_citizen(name, password, email=text(email))
        self.reply(cid, RC_OK, R_IMMIGRATE)

    def authenticate(self, name, password):
        c = self.by_name(name)
        if c is None:
            return None, RC_NO_SUCH_CITIZEN
        if c["password"] != password:
            return None, RC_WRONG_PASSWORD
        return c, RC_OK

    def set_citizen_attributes(self, cid, f):
        c, rc = self.authenticate(text(f.string()), text(f.string()))
        values = {}
        while not f.at_end():
            tag, value = f.tagged()
            values[tag] = text(value)
        if c is None:
            self.reply(cid, rc, R_CHANGE)
            return
        for tag, key in ((0, "name"), (1, "password"), (2, "email"), (3, "privilege_password")):
            if tag in values and (values[tag] or tag >= 2):
                c[key] = values[tag]
        self.reply(cid, RC_OK, R_CHANGE, framing.int16(self.config.get("session", 0x1234)))

    def get_citizen_attributes(self, cid, f):
        c, rc = self.authenticate(text(f.string()), text(f.string()))
        if c is None:
            self.reply(cid, rc, R_CITIZEN_ATTRIBUTES)
            return
        self.reply(cid, RC_OK, R_CITIZEN_ATTRIBUTES, framing.tagged(2, c["email"]),
                   framing.tagged(3, c["privilege_password"]), framing.tagged(17, str(c["immigrated"])),
                   framing.tagged(18, str(c["expires"])))

    def send_password(self, cid, f):
        name, _ = text(f.string()), f.string()
        self.reply(cid, RC_OK if self.by_name(name) else RC_NO_SUCH_CITIZEN, R_PASSWORD_SENT)

    def get_citizen_name(self, cid, f):
        number = f.int32()
        c = self.by_number(number)
        if c is None:
            self.reply(cid, RC_NO_SUCH_CITIZEN, R_CITIZEN_NAME, framing.int32(number))
        else:
            self.reply(cid, RC_OK, R_CITIZEN_NAME, framing.int32(number), framing.string(c["name"]))

    def get_citizen_number(self, cid, f):
        name = text(f.string())
        c = self.by_name(name)
        if c is None:
            self.reply(cid, RC_NO_SUCH_CITIZEN, R_CITIZEN_NUMBER, framing.string(name))
        else:
            self.reply(cid, RC_OK, R_CITIZEN_NUMBER, framing.string(name), framing.int32(c["number"]))

    def own_name(self, cid):
        return self.who.get(cid, ("", 0))[0]

    def get_telegram(self, cid, f):
        queue = self.telegrams.get(self.own_name(cid).lower(), [])
        if not queue:
            self.reply(cid, RC_NO_TELEGRAM, R_TELEGRAM)
            return
        t = queue.pop(0)
        self.reply(cid, RC_OK, R_TELEGRAM, framing.int32(t.get("age", 0)), framing.string(t.get("from", "")),
                   framing.string(t.get("text", "")), framing.byte(1 if queue else 0))

    def queue_telegram(self, name, sender, body):
        self.telegrams.setdefault(name.lower(), []).append({"from": sender, "text": body, "age": 0})
        c = self.by_name(name)
        for other in self.online(c["number"] if c else -1):
            self.reply(other, RC_OK, R_TELEGRAM_WAITING)

    def send_telegram(self, cid, f):
        number, body = f.int32(), text(f.string())
        c = self.by_number(number)
        if c is not None:
            self.queue_telegram(c["name"], self.own_name(cid), body)

    def whos_at(self, cid, f):
        address = f.raw(4)
        for other, (name, _) in self.who.items():
            conn = self.conns.get(other)
            try:
                peer = conn.sock.getpeername()[0] if conn else None
            except OSError:
                peer = None
            if peer and socket.inet_aton(peer) == address:
                self.reply(cid, RC_OK, R_WHOS_AT, framing.raw(address), framing.string(name))
                return
        for at, name in self.config.get("whos_at", {}).items():
            try:
                known = socket.inet_aton(at) == address
            except OSError:
                known = False
            if known:
                self.reply(cid, RC_OK, R_WHOS_AT, framing.raw(address), framing.string(name))
                return
        self.reply(cid, RC_NO_SUCH_CITIZEN, R_WHOS_AT, framing.raw(address))

    def get_worlds(self, cid, f):
        fields = []
        for w in self.worlds:
            fields += [framing.string(w["name"]), framing.byte(w.get("status", 1)), framing.int16(w.get("users", 0))]
        self.reply(cid, RC_OK, R_WORLDS, *fields)

    def contact_state(self, number):
        c = self.by_number(number)
        if c is None:
            return framing.int32(number) + framing.byte(2)
        if self.online(number) or number in self.present:
            return framing.int32(number) + framing.byte(1) + framing.string(c["name"]) + \
                framing.string(self.places.get(number, ""))
        return framing.int32(number) + framing.byte(0) + framing.string(c["name"])

    def push_state(self, number, skip=None):
        for other, listed in self.contacts.items():
            if other != skip and number in listed:
                self.reply(other, RC_OK, R_CONTACTS, self.contact_state(number))

    def contact_list(self, cid, f):
        numbers = []
        while not f.at_end():
            numbers.append(f.int32())
        self.contacts[cid] = set(numbers)
        self.reply(cid, RC_OK, R_CONTACTS, *[self.contact_state(n) for n in numbers])

    def add_contact(self, cid, f):
        number = f.int32()
        self.contacts.setdefault(cid, set()).add(number)
        self.reply(cid, RC_OK, R_CONTACTS, self.contact_state(number))

    def delete_contact(self, cid, f):
        self.contacts.setdefault(cid, set()).discard(f.int32())

    def get_citizen_location(self, cid, f):
        number = f.int32()
        if number in self.present:
            world, x, y, z, yaw = self.present[number]
            self.reply(cid, RC_OK, R_JOIN_LOCATION, framing.int32(number), framing.string(world),
                       framing.int32(x), framing.int32(y), framing.int32(z), framing.int16(yaw))
            return
        targets = self.online(number)
        if not targets:
            self.reply(cid, RC_NO_SUCH_CITIZEN, R_JOIN_LOCATION, framing.int32(number))
            return
        name, asking = self.who.get(cid, ("", 0))
        self.pending_joins[number] = cid
        self.reply(targets[0], RC_OK, R_JOIN_REQUEST, framing.int32(asking), framing.string(name))

    def location(self, cid, f):
        rc, requester = f.byte(), f.int32()
        answering = self.who.get(cid, ("", 0))[1]
        asking = self.pending_joins.pop(answering, None)
        if asking is None:
            asking = next(iter(self.online(requester)), None)
        if asking is None:
            return
        if rc:
            self.reply(asking, rc, R_JOIN_LOCATION, framing.int32(answering))
        else:
            self.reply(asking, RC_OK, R_JOIN_LOCATION, framing.int32(answering), f.rest())

    def registration(self, cid, f):
        plain = Cipher(REGISTRATION_KEY).decrypt(f.rest())
        g = framing.Fields(plain)
        values = {}
        tags = []
        while not g.at_end():
            tag, value = g.tagged()
            tags.append(tag)
            values[tag] = text(value)
        say("registration %d %s" % (cid, json.dumps({"tags": tags, "values": {str(k): v for k, v in values.items()}})))
        name = values.get(0, "")
        if not name or self.by_name(name):
            self.reply(cid, RC_NAME_TAKEN, R_REGISTER, framing.raw(b"name taken"))
            return
        self.add_citizen(name, values.get(1, ""), email=values.get(2, ""))
        self.reply(cid, RC_OK, R_REGISTER)

    # commands from standard input
    def command(self, line):
        words = line.split()
        if not words:
            return True
        op = words[0]
        if op == "quit":
            return False
        if op == "telegram" and len(words) >= 3:
            self.queue_telegram(words[1], words[2], " ".join(words[3:]))
        elif op == "contact" and len(words) >= 4:
            cid, number, state = int(words[1]), int(words[2]), int(words[3])
            record = framing.int32(number) + framing.byte(state)
            if state in (0, 1):
                record += framing.string(words[4] if len(words) > 4 else "")
            if state == 1:
                record += framing.string(words[5] if len(words) > 5 else "")
            self.reply(cid, RC_OK, R_CONTACTS, record)
        elif op == "world" and len(words) >= 3:
            c = self.by_name(words[1])
            if c is not None:
                self.places[c["number"]] = words[2]
        elif op == "present" and len(words) >= 7:
            c = self.by_name(words[1])
            if c is not None:
                self.present[c["number"]] = (words[2],) + tuple(int(w) for w in words[3:7])
                self.places[c["number"]] = words[2]
                self.push_state(c["number"])
        elif op == "reconnect" and len(words) >= 2:
            self.reply(int(words[1]), RC_OK, R_RECONNECT, framing.raw(bytes(6)))
        elif op == "drop" and len(words) >= 2:
            self.drop(int(words[1]))
        elif op == "send" and len(words) >= 3:
            self.send(int(words[1]), bytes.fromhex(words[2]))
        else:
            say("what %s" % line.strip())
            return True
        say("ok %s" % op)
        return True


def main(argv):
    def options(p):
        p.add_argument("--citizen", action="append", default=[])
        p.add_argument("--no-tourists", action="store_true")
        p.add_argument("--drop-login", type=int, action="append", default=[])
        p.add_argument("--drop-mode", choices=["close", "partial"])
        return fold

    def fold(a, config):
        for spec in a.citizen:
            parts = spec.split(":")
            c = {"name": parts[0], "password": parts[1] if len(parts) > 1 else ""}
            if len(parts) > 2:
                c["number"] = int(parts[2])
            config.setdefault("citizens", []).append(c)
        if a.no_tourists:
            config["tourists"] = False
        if a.drop_login:
            config["drop_logins"] = config.get("drop_logins", []) + a.drop_login
        if a.drop_mode:
            config["drop_mode"] = a.drop_mode

    return serving.main(argv, "fake universe server", Universe, options)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
